// Bounded-memory index building: the sorter spills and merges runs into the
// entry order, and the streaming writer's pages parse back into the same
// entries, chained and rooted as a tree.
#include "jet/streaming_index_writer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>

namespace hvq::jet {
namespace {

std::vector<IndexEntry> RandomEntries(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<IndexEntry> out;
  for (size_t i = 0; i < n; ++i) {
    IndexEntry e;
    e.key.resize(1 + rng() % 12);
    for (auto& b : e.key) b = static_cast<uint8_t>(rng() % 4);  // many ties
    e.data_page = 1 + static_cast<uint32_t>(i / 100);
    e.data_row = static_cast<uint8_t>(i % 100);
    out.push_back(std::move(e));
  }
  return out;
}

struct SortCase {
  size_t entries;
  size_t budget;  // small budgets force several spilled runs
};

class SorterTest : public ::testing::TestWithParam<SortCase> {};

TEST_P(SorterTest, DrainsInEntryOrder) {
  std::vector<IndexEntry> in = RandomEntries(GetParam().entries, 3);
  IndexEntrySorter sorter(GetParam().budget);
  for (const auto& e : in) {
    ASSERT_TRUE(sorter.Add(e.key, e.data_page, e.data_row).ok());
  }
  std::vector<IndexEntry> out;
  ASSERT_TRUE(sorter
                  .Drain([&](const IndexEntry& e) {
                    out.push_back(e);
                    return Status::Ok();
                  })
                  .ok());
  std::sort(in.begin(), in.end(), [](const auto& a, const auto& b) {
    return CompareIndexEntries(a, b) < 0;
  });
  ASSERT_EQ(out.size(), in.size());
  for (size_t i = 0; i < in.size(); ++i) ASSERT_EQ(out[i], in[i]) << i;
}

INSTANTIATE_TEST_SUITE_P(Budgets, SorterTest,
                         ::testing::Values(SortCase{0, 1 << 20},
                                           SortCase{5000, 1 << 20},
                                           SortCase{5000, 4096}));

class StreamingWriterTest : public ::testing::TestWithParam<JetVersion> {};

TEST_P(StreamingWriterTest, PagesFormAChainedTreeHoldingEveryEntry) {
  const Format& f = FormatFor(GetParam());
  for (size_t n : {size_t{0}, size_t{3}, size_t{20000}}) {
    SCOPED_TRACE(n);
    std::vector<IndexEntry> in = RandomEntries(n, 5);
    std::sort(in.begin(), in.end(), [](const auto& a, const auto& b) {
      return CompareIndexEntries(a, b) < 0;
    });
    std::map<uint32_t, std::vector<uint8_t>> pages;
    uint32_t next = 100;
    StreamingIndexWriter w(
        f, 7, [&]() -> Result<uint32_t> { return next++; },
        [&](uint32_t p, Bytes b) {
          pages[p].assign(b.begin(), b.end());
          return Status::Ok();
        });
    for (const auto& e : in) ASSERT_TRUE(w.Add(e).ok());
    auto root = w.Finish();
    ASSERT_TRUE(root.ok()) << root.status().ToString();
    // Descend the leftmost path to the first leaf.
    uint32_t page = *root;
    int depth = 0;
    while (true) {
      auto parsed = ParseIndexPage(f, pages.at(page), page);
      ASSERT_TRUE(parsed.ok()) << parsed.status().ToString();
      EXPECT_EQ(parsed->parent_page, 7u);
      if (parsed->leaf) break;
      ASSERT_LT(++depth, 10);
      page = parsed->entries.empty() ? parsed->tail_page
                                     : parsed->entries[0].child_page;
    }
    if (n == 20000) {
      EXPECT_GE(depth, 1);
    }
    // Follow the leaf chain and collect every entry.
    std::vector<IndexEntry> got;
    uint32_t prev = 0;
    for (int hops = 0; page != 0 && hops < 100000; ++hops) {
      auto parsed = ParseIndexPage(f, pages.at(page), page);
      ASSERT_TRUE(parsed.ok());
      EXPECT_EQ(parsed->prev_page, prev);
      for (auto& e : parsed->entries) {
        e.child_page = 0;
        got.push_back(e);
      }
      prev = page;
      page = parsed->next_page;
    }
    ASSERT_EQ(got.size(), in.size());
    for (size_t i = 0; i < in.size(); ++i) ASSERT_EQ(got[i], in[i]) << i;
    // Out-of-order input is refused.
    if (n >= 2) {
      StreamingIndexWriter bad(
          f, 7, [&]() -> Result<uint32_t> { return next++; },
          [&](uint32_t, Bytes) { return Status::Ok(); });
      ASSERT_TRUE(bad.Add(in[1]).ok());
      EXPECT_FALSE(bad.Add(in[0]).ok());
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Versions, StreamingWriterTest,
                         ::testing::Values(JetVersion::kJet3,
                                           JetVersion::kJet4),
                         [](const auto& info) {
                           return std::string(FormatFor(info.param).name);
                         });

}  // namespace
}  // namespace hvq::jet
