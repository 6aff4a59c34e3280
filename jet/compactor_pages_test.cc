#include "jet/compactor_pages.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "jet/data_page.h"
#include "jet/page_file.h"

namespace hvq::jet {
namespace {

std::filesystem::path CorpusDir() {
  const char* env = std::getenv("HVQ_CORPUS_DIR");
  return (env != nullptr && *env != '\0') ? env : HVQ_DEFAULT_CORPUS_DIR;
}

std::vector<std::string> CorpusFiles() {
  std::vector<std::string> out;
  std::ifstream in(CorpusDir() / "MANIFEST.tsv");
  std::string line;
  std::getline(in, line);  // column names
  while (std::getline(in, line)) {
    out.push_back((CorpusDir() / line.substr(0, line.find('\t'))).string());
  }
  return out;
}

// A Jet 4 data page with three rows, the middle one deleted.
std::vector<uint8_t> SamplePage(const Format& f) {
  std::vector<uint8_t> page(f.page_size, 0);
  page[0] = 0x01;
  page[1] = 0x01;
  StoreU32Le(page.data() + f.data_tdef_offset, 77);
  StoreU16Le(page.data() + f.data_row_count_offset, 3);
  const uint16_t starts[3] = {static_cast<uint16_t>(f.page_size - 5),
                              static_cast<uint16_t>(f.page_size - 12),
                              static_cast<uint16_t>(f.page_size - 15)};
  std::memset(page.data() + starts[0], 0xAA, 5);
  std::memset(page.data() + starts[1], 0xBB, 7);  // deleted row's bytes
  std::memset(page.data() + starts[2], 0xCC, 3);
  StoreU16Le(page.data() + f.data_row_table_offset, starts[0]);
  StoreU16Le(page.data() + f.data_row_table_offset + 2,
             static_cast<uint16_t>(starts[1] | kRowDeletedMask));
  StoreU16Le(page.data() + f.data_row_table_offset + 4,
             static_cast<uint16_t>(starts[2] | kRowOverflowTargetFlag));
  const uint16_t table_end = static_cast<uint16_t>(f.data_row_table_offset + 6);
  StoreU16Le(page.data() + f.data_free_space_offset,
             static_cast<uint16_t>(starts[2] - table_end));
  return page;
}

TEST(RepackDataPage, DropsDeletedBytesAndKeepsRowNumbers) {
  for (JetVersion v : {JetVersion::kJet3, JetVersion::kJet4}) {
    const Format& f = FormatFor(v);
    SCOPED_TRACE(std::string(f.name));
    std::vector<uint8_t> page = SamplePage(f);
    auto r = RepackDataPage(f, 9, page);
    ASSERT_TRUE(r.ok()) << r.status().ToString();
    EXPECT_EQ(r->live_rows, 1u);  // row 2 is an overflow target
    EXPECT_EQ(r->deleted_rows, 1u);
    EXPECT_EQ(r->bytes_reclaimed, 7u);
    // Parse the result back: same slots, same flags, same live bytes.
    auto dp = ParseDataPage(f, 9, r->bytes);
    ASSERT_TRUE(dp.ok()) << dp.status().ToString();
    ASSERT_EQ(dp->rows.size(), 3u);
    EXPECT_EQ(dp->tdef_page, 77u);
    EXPECT_TRUE(dp->rows[1].deleted());
    EXPECT_TRUE(dp->rows[2].overflow_target());
    auto row0 = dp->RowBytes(r->bytes, 0);
    auto row2 = dp->RowBytes(r->bytes, 2);
    ASSERT_TRUE(row0.ok() && row2.ok());
    EXPECT_EQ(std::vector<uint8_t>(row0->begin(), row0->end()),
              std::vector<uint8_t>(5, 0xAA));
    EXPECT_EQ(std::vector<uint8_t>(row2->begin(), row2->end()),
              std::vector<uint8_t>(3, 0xCC));
    EXPECT_EQ(dp->free_space, f.page_size - 8 - (f.data_row_table_offset + 6));
    for (uint8_t b : r->bytes) ASSERT_NE(b, 0xBB) << "deleted bytes remain";
    // Repacking is idempotent.
    auto again = RepackDataPage(f, 9, r->bytes);
    ASSERT_TRUE(again.ok());
    EXPECT_EQ(again->bytes, r->bytes);
    EXPECT_EQ(again->bytes_reclaimed, 0u);
  }
}

TEST(RepackDataPage, DropsTrailingDeletedSlotsAndAppliesEdits) {
  const Format& f = FormatFor(JetVersion::kJet4);
  std::vector<uint8_t> page = SamplePage(f);
  // Bring row 2 (an overflow target) into row 0's slot, delete row 2: only
  // slot 0 remains, holding row 2's bytes.
  std::vector<RowEdit> edits(2);
  edits[0].row = 0;
  edits[0].bytes = {1, 2, 3, 4, 5, 6, 7, 8, 9};
  edits[1].row = 2;
  edits[1].kind = RowEdit::Kind::kDelete;
  auto r = RepackDataPage(f, 9, page, edits);
  ASSERT_TRUE(r.ok()) << r.status().ToString();
  EXPECT_EQ(r->deleted_rows, 2u);
  auto dp = ParseDataPage(f, 9, r->bytes);
  ASSERT_TRUE(dp.ok()) << dp.status().ToString();
  ASSERT_EQ(dp->rows.size(), 1u);
  auto row0 = dp->RowBytes(r->bytes, 0);
  ASSERT_TRUE(row0.ok());
  EXPECT_EQ(std::vector<uint8_t>(row0->begin(), row0->end()), edits[0].bytes);
  EXPECT_EQ(dp->free_space, f.page_size - 9 - (f.data_row_table_offset + 2));
  // Edits of deleted or missing rows, twice the same row, or rows that do
  // not fit are refused.
  const std::vector<std::vector<RowEdit>> bad = {
      {RowEdit{1, RowEdit::Kind::kDelete, {}}},
      {RowEdit{7, RowEdit::Kind::kDelete, {}}},
      {RowEdit{0, RowEdit::Kind::kDelete, {}},
       RowEdit{0, RowEdit::Kind::kDelete, {}}},
      {RowEdit{0, RowEdit::Kind::kReplace,
               std::vector<uint8_t>(f.page_size, 1)}},
  };
  for (const auto& e : bad) {
    EXPECT_EQ(RepackDataPage(f, 9, page, e).status().code(),
              StatusCode::kInvalidArgument);
  }
}

TEST(RepackDataPage, DamageIsAnError) {
  const Format& f = FormatFor(JetVersion::kJet4);
  struct Case {
    const char* name;
    size_t offset;
    uint8_t value;
  };
  const Case cases[] = {
      {"row count past the page", f.data_row_count_offset + 1, 0x40},
      {"row offset before the offset table", f.data_row_table_offset + 1, 0},
      {"row offset past the page end", f.data_row_table_offset + 1, 0x1F},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<uint8_t> page = SamplePage(f);
    page[c.offset] = c.value;
    auto r = RepackDataPage(f, 9, page);
    EXPECT_EQ(r.status().code(), StatusCode::kCorruption)
        << r.status().ToString();
  }
  EXPECT_EQ(RepackDataPage(f, 9, std::vector<uint8_t>(100)).status().code(),
            StatusCode::kInvalidArgument);
}

// On real files, a page whose rows already lie back to back from the page
// end repacks to the same header, offset table and rows; its stored free
// space is what the repacker computes.
TEST(RepackDataPage, PackedCorpusPagesAreFixedPoints) {
  if (!std::filesystem::exists(CorpusDir() / "MANIFEST.tsv")) {
    GTEST_SKIP() << "corpus not found at " << CorpusDir()
                 << " (set HVQ_CORPUS_DIR)";
  }
  int compared = 0;
  for (const std::string& path : CorpusFiles()) {
    auto file = PageFile::Open(path);
    ASSERT_TRUE(file.ok()) << path << ": " << file.status().ToString();
    const Format& f = (*file)->format();
    std::vector<uint8_t> page(f.page_size);
    for (uint32_t p = 1; p < (*file)->page_count(); ++p) {
      ASSERT_TRUE((*file)->ReadPage(p, page).ok());
      if (page[0] != 0x01) continue;
      auto dp = ParseDataPage(f, p, page);
      if (!dp.ok()) continue;  // free pages may hold anything
      bool packed = true;
      uint32_t expect_end = f.page_size;
      for (const RowSlot& s : dp->rows) {
        if (s.deleted() || s.end != expect_end) packed = false;
        expect_end = s.start;
      }
      if (!packed || dp->rows.empty()) continue;
      auto r = RepackDataPage(f, p, page);
      ASSERT_TRUE(r.ok()) << path << " page " << p;
      const size_t table_end = f.data_row_table_offset + 2 * dp->rows.size();
      const size_t low = dp->rows.back().start;
      ASSERT_EQ(
          std::vector<uint8_t>(page.begin(), page.begin() + table_end),
          std::vector<uint8_t>(r->bytes.begin(), r->bytes.begin() + table_end))
          << path << " page " << p;
      ASSERT_EQ(std::vector<uint8_t>(page.begin() + low, page.end()),
                std::vector<uint8_t>(r->bytes.begin() + low, r->bytes.end()))
          << path << " page " << p;
      ++compared;
    }
  }
  EXPECT_GT(compared, 100);
}

}  // namespace
}  // namespace hvq::jet
