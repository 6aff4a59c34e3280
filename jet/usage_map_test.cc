#include "jet/usage_map.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <vector>

#include "jet/page_file.h"
#include "jet/testdata/core_corpus.h"

namespace hvq::jet {
namespace {

using testing::MakeImage;

// A synthetic file of `pages` pages to decode maps against.
std::unique_ptr<PageFile> MakeFile(JetVersion v, uint32_t pages,
                                   std::vector<uint8_t>* image = nullptr) {
  std::vector<uint8_t> bytes = image ? *image : MakeImage(v, pages);
  auto f = PageFile::FromBytes(std::move(bytes));
  EXPECT_TRUE(f.ok()) << f.status().ToString();
  return std::move(*f);
}

TEST(UsageMapTest, InlineRoundTrip) {
  for (JetVersion v : {JetVersion::kJet3, JetVersion::kJet4}) {
    const Format& f = FormatFor(v);
    auto file = MakeFile(v, 600);
    const std::vector<std::vector<uint32_t>> sets = {
        {}, {100}, {100, 101, 107, 108, 355}, {100, 100 + 8 * 59 - 1}};
    for (const auto& pages : sets) {
      auto rec = BuildInlineUsageMap(pages, 100, f.usage_map_table_bytes);
      ASSERT_TRUE(rec.ok()) << rec.status().ToString();
      EXPECT_EQ(rec->size(), f.usage_map_table_bytes);
      auto back = DecodeUsageMap(*file, *rec, RowPointer{});
      ASSERT_TRUE(back.ok());
      EXPECT_EQ(*back, pages);
    }
    // Out of range pages are refused by the builder.
    EXPECT_FALSE(BuildInlineUsageMap({99}, 100, 64).ok());
    EXPECT_FALSE(BuildInlineUsageMap({100 + 59 * 8}, 100, 64).ok());
  }
}

TEST(UsageMapTest, ReferenceRoundTrip) {
  for (JetVersion v : {JetVersion::kJet3, JetVersion::kJet4}) {
    const Format& f = FormatFor(v);
    const uint32_t per = PagesPerMapPage(f);
    // Pages spread over three map-page ranges; map pages go at the end.
    const uint32_t total = 2 * per + 40;
    std::vector<uint32_t> pages = {5, 6, per - 1, 2 * per, 2 * per + 30};
    uint32_t next = total;
    auto built = BuildReferenceUsageMap(f, pages, f.usage_map_table_bytes,
                                        [&] { return next++; });
    ASSERT_TRUE(built.ok()) << built.status().ToString();
    EXPECT_EQ(built->map_pages.size(), 2u);  // range 1 is empty
    // The file spans tens of MiB: write it sparse, only the pages we need.
    std::string path = ::testing::TempDir() + "/usage_map_ref.mdb";
    {
      std::ofstream out(path, std::ios::binary | std::ios::trunc);
      std::vector<uint8_t> head = MakeImage(v, 1);
      out.write(reinterpret_cast<const char*>(head.data()), head.size());
      for (const auto& [num, bytes] : built->map_pages) {
        out.seekp(static_cast<std::streamoff>(num) * f.page_size);
        out.write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
      }
    }
    std::filesystem::resize_file(path, uint64_t{next} * f.page_size);
    auto opened = PageFile::Open(path);
    ASSERT_TRUE(opened.ok()) << opened.status().ToString();
    auto file = std::move(*opened);
    EXPECT_EQ(file->page_count(), next);
    auto back = DecodeUsageMap(*file, built->record, RowPointer{});
    ASSERT_TRUE(back.ok()) << back.status().ToString();
    EXPECT_EQ(*back, pages);

    // A map page of the wrong type, or past the end, is Corruption.
    std::vector<uint8_t> bad = built->record;
    StoreU32Le(bad.data() + 1, 3);  // page 3 is zero-filled: type 0x00
    EXPECT_EQ(DecodeUsageMap(*file, bad, RowPointer{}).status().code(),
              StatusCode::kCorruption);
    StoreU32Le(bad.data() + 1, next + 10);
    EXPECT_EQ(DecodeUsageMap(*file, bad, RowPointer{}).status().code(),
              StatusCode::kCorruption);
    std::filesystem::remove(path);
  }
}

TEST(UsageMapTest, BadRecords) {
  auto file = MakeFile(JetVersion::kJet4, 10);
  const std::vector<std::vector<uint8_t>> bad = {
      {}, {0x00, 1, 0}, {0x07, 0, 0, 0, 0, 0xFF}};
  for (const auto& rec : bad) {
    EXPECT_EQ(DecodeUsageMap(*file, rec, RowPointer{}).status().code(),
              StatusCode::kCorruption);
  }
  // Bits past the file's end: damage for table maps (a truncated file),
  // dropped for the global map.
  auto rec = BuildInlineUsageMap({2, 9, 40}, 0, 64);
  ASSERT_TRUE(rec.ok());
  EXPECT_EQ(DecodeUsageMap(*file, *rec, RowPointer{}).status().code(),
            StatusCode::kCorruption);
  EXPECT_EQ(*DecodeUsageMap(*file, *rec, RowPointer{}, true),
            (std::vector<uint32_t>{2, 9}));
}

}  // namespace
}  // namespace hvq::jet
