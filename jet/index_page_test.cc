// Index page codec: corpus pages parse and rebuild byte for byte, built
// pages parse back, damaged pages give clean errors, tree packing.
#include "jet/index_page.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <map>
#include <ostream>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "jet/testdata/index_corpus.h"

namespace hvq::jet {
namespace {

IndexEntry Leaf(std::vector<uint8_t> key, uint32_t page, uint8_t row) {
  IndexEntry e;
  e.key = std::move(key);
  e.data_page = page;
  e.data_row = row;
  return e;
}

// Every index page of every unencrypted corpus file parses; rebuilding it
// from the parsed header and entries with the stored prefix length gives
// back the stored header, mask and entry bytes; the number of index pages
// per file matches MANIFEST.
TEST(IndexPageCorpus, EveryPageParsesAndRebuildsIdentically) {
  if (!testdata::HaveCorpus()) {
    GTEST_SKIP() << "corpus not found at " << testdata::CorpusDir()
                 << " (set HVQ_CORPUS_DIR)";
  }
  size_t files = 0, pages = 0, node_pages = 0, prefixed = 0;
  for (const auto& row : testdata::ReadManifest()) {
    if (row.at("encrypted") == "yes") continue;  // pages need the RC4 key
    const auto bytes =
        testdata::ReadWholeFile(testdata::CorpusDir() / row.at("path"));
    ASSERT_GT(bytes.size(), 0x15u) << row.at("path");
    const Format& format =
        FormatFor(bytes[0x14] == 0 ? JetVersion::kJet3 : JetVersion::kJet4);
    ++files;
    size_t file_index_pages = 0;
    for (size_t off = 0; off + format.page_size <= bytes.size();
         off += format.page_size) {
      const uint8_t type = bytes[off];
      if (type != 0x03 && type != 0x04) continue;
      ++file_index_pages;
      Bytes page(bytes.data() + off, format.page_size);
      const uint32_t number = static_cast<uint32_t>(off / format.page_size);
      auto parsed = ParseIndexPage(format, page, number);
      ASSERT_TRUE(parsed.ok()) << row.at("path") << " page " << number << ": "
                               << parsed.status().ToString();
      ++pages;
      if (!parsed->leaf) ++node_pages;
      if (parsed->prefix_length) ++prefixed;
      EXPECT_EQ(parsed->node_flag, parsed->leaf ? 0 : 1);
      auto rebuilt = BuildIndexPage(format, *parsed, parsed->prefix_length);
      ASSERT_TRUE(rebuilt.ok()) << rebuilt.status().ToString();
      const size_t used = format.page_size - parsed->free_space;
      ASSERT_LE(used, rebuilt->size());
      EXPECT_TRUE(
          std::equal(page.begin(), page.begin() + used, rebuilt->begin()))
          << row.at("path") << " page " << number;
    }
    // MANIFEST counts index pages the files' tables still use; a few files
    // hold more pages with an index page type.
    EXPECT_GE(file_index_pages, std::stoul(row.at("index_pages")))
        << row.at("path");
  }
  EXPECT_GT(files, 90u);
  EXPECT_GT(node_pages, 20u);
  EXPECT_GT(prefixed, 10u);
  std::printf("parsed %zu index pages (%zu intermediate) in %zu files\n", pages,
              node_pages, files);
}

struct RoundTripCase {
  const char* name;
  JetVersion version;
  bool leaf;
  int prefix;  // kAutoPrefix or explicit
  size_t count;
  size_t expected_prefix;
  bool same_key = false;  // all keys equal; rows differ only in pointers
  friend void PrintTo(const RoundTripCase& c, std::ostream* os) {
    *os << c.name;
  }
};

class IndexPageRoundTrip : public ::testing::TestWithParam<RoundTripCase> {};

TEST_P(IndexPageRoundTrip, BuildThenParse) {
  const RoundTripCase& c = GetParam();
  const Format& format = FormatFor(c.version);
  IndexPage page;
  page.leaf = c.leaf;
  page.parent_page = 77;
  page.prev_page = 5;
  page.next_page = 9;
  page.tail_page = c.leaf ? 0 : 1234;
  page.node_flag = c.leaf ? 0 : 1;
  for (size_t i = 0; i < c.count; ++i) {
    // Keys share "7f 00 00" and differ afterwards; page numbers use all
    // three bytes.
    IndexEntry e =
        c.same_key ? Leaf({0x7f, 0x01}, 0x010200 + static_cast<uint32_t>(i), 7)
                   : Leaf({0x7f, 0x00, 0x00, static_cast<uint8_t>(i >> 8),
                           static_cast<uint8_t>(i)},
                          0x010203 + static_cast<uint32_t>(i),
                          static_cast<uint8_t>(i % 200));
    if (!c.leaf) e.child_page = 0x0A0B0C00 + static_cast<uint32_t>(i);
    page.entries.push_back(e);
  }
  auto bytes = BuildIndexPage(format, page, c.prefix);
  ASSERT_TRUE(bytes.ok()) << bytes.status().ToString();
  ASSERT_EQ(bytes->size(), format.page_size);
  auto parsed = ParseIndexPage(format, *bytes, 42);
  ASSERT_TRUE(parsed.ok()) << parsed.status().ToString();
  EXPECT_EQ(parsed->leaf, c.leaf);
  EXPECT_EQ(parsed->parent_page, 77u);
  EXPECT_EQ(parsed->prev_page, 5u);
  EXPECT_EQ(parsed->next_page, 9u);
  EXPECT_EQ(parsed->tail_page, page.tail_page);
  EXPECT_EQ(parsed->node_flag, page.node_flag);
  EXPECT_EQ(parsed->prefix_length, c.expected_prefix);
  EXPECT_EQ(parsed->entries, page.entries);
  EXPECT_EQ(parsed->entry_offsets.size(), c.count);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, IndexPageRoundTrip,
    ::testing::Values(
        RoundTripCase{"jet4_leaf_auto", JetVersion::kJet4, true, kAutoPrefix,
                      300, 3},
        RoundTripCase{"jet3_leaf_auto", JetVersion::kJet3, true, kAutoPrefix,
                      150, 4},
        RoundTripCase{"jet4_node_auto", JetVersion::kJet4, false, kAutoPrefix,
                      200, 4},
        RoundTripCase{"jet3_node_none", JetVersion::kJet3, false, 0, 60, 0},
        // A prefix reaching into the page-number bytes: equal keys, pages
        // 0x0102xx share two more bytes.
        RoundTripCase{"jet4_leaf_into_pointer", JetVersion::kJet4, true, 4, 200,
                      4, true},
        RoundTripCase{"jet4_empty", JetVersion::kJet4, true, kAutoPrefix, 0, 0},
        RoundTripCase{"jet3_single", JetVersion::kJet3, true, kAutoPrefix, 1,
                      0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(IndexPageBuild, RejectsBadInput) {
  const Format& f = FormatFor(JetVersion::kJet4);
  struct Case {
    const char* what;
    IndexPage page;
    int prefix;
  };
  IndexPage unsorted;
  unsorted.entries = {Leaf({0x7f, 2}, 1, 0), Leaf({0x7f, 1}, 1, 1)};
  IndexPage duplicate;
  duplicate.entries = {Leaf({0x7f, 1}, 1, 0), Leaf({0x7f, 1}, 1, 0)};
  IndexPage empty_key;
  empty_key.entries = {Leaf({}, 1, 0)};
  IndexPage big_page;
  big_page.entries = {Leaf({0x7f}, 0x1000000, 0)};
  IndexPage too_full;
  for (uint32_t i = 0; i < 400; ++i) {
    too_full.entries.push_back(
        Leaf({0x7f, uint8_t(i >> 8), uint8_t(i), 1, 2, 3, 4, 5}, i, 0));
  }
  IndexPage wrong_prefix;
  wrong_prefix.entries = {Leaf({0x7f, 1}, 1, 0), Leaf({0x7f, 2}, 1, 0)};
  const Case cases[] = {
      {"unsorted", unsorted, kAutoPrefix},
      {"duplicate", duplicate, kAutoPrefix},
      {"empty key", empty_key, kAutoPrefix},
      {"page beyond 3 bytes", big_page, kAutoPrefix},
      {"does not fit", too_full, kAutoPrefix},
      {"prefix not shared", wrong_prefix, 2},
  };
  for (const Case& c : cases) {
    auto r = BuildIndexPage(f, c.page, c.prefix);
    EXPECT_FALSE(r.ok()) << c.what;
    EXPECT_EQ(r.status().code(), StatusCode::kInvalidArgument) << c.what;
  }
}

// Damaged pages: each mutation of a valid page yields Corruption naming the
// page and the offset of the damaged field.
TEST(IndexPageDamage, FlippedBytesGiveCleanErrors) {
  for (JetVersion v : {JetVersion::kJet3, JetVersion::kJet4}) {
    const Format& f = FormatFor(v);
    IndexPage page;
    page.leaf = true;
    for (uint32_t i = 0; i < 20; ++i) {
      page.entries.push_back(Leaf({0x7f, 0x10, uint8_t(i)}, 300 + i, 1));
    }
    auto good = BuildIndexPage(f, page);
    ASSERT_TRUE(good.ok());
    ASSERT_TRUE(ParseIndexPage(f, *good, 3).ok());
    const uint32_t mask = f.index_entry_mask_offset;
    // Entries are 7 bytes (3 key + 4 pointer); later ones share "7f 10".
    constexpr uint32_t kLastEnd = 7 + 19 * 5;
    struct Mutation {
      const char* what;
      uint32_t offset;  // byte changed; also the offset expected in the error
      uint8_t xor_value;
      uint32_t expected_offset;
    };
    const Mutation mutations[] = {
        {"page type", 0, 0x0C, 0},
        {"marker", 1, 0x01, 1},
        {"free space", f.index_free_space_offset, 0x01,
         f.index_free_space_offset},
        {"prefix longer than first entry", f.index_prefix_length_offset, 0x40,
         f.index_prefix_length_offset},
        // Clearing the end bit of the last entry changes the free space.
        {"last end bit cleared", mask + kLastEnd / 8,
         uint8_t(1u << (kLastEnd % 8)), f.index_free_space_offset},
        // A bit right after the first entry's end makes a 1-byte entry.
        {"entry too short", mask + 8 / 8, uint8_t(1u << (8 % 8)),
         f.index_entries_offset + 7},
        // A bit past the end of the page area.
        {"mask past page end", mask + f.index_entry_mask_size - 1, 0x80,
         mask + f.index_entry_mask_size - 1},
    };
    for (const Mutation& m : mutations) {
      auto bytes = *good;
      bytes[m.offset] ^= m.xor_value;
      auto r = ParseIndexPage(f, bytes, 3);
      ASSERT_FALSE(r.ok()) << f.name << " " << m.what;
      EXPECT_EQ(r.status().code(), StatusCode::kCorruption) << m.what;
      EXPECT_EQ(r.status().page(), 3u) << m.what;
      EXPECT_EQ(r.status().offset(), m.expected_offset)
          << f.name << " " << m.what << ": " << r.status().ToString();
    }
    auto shorter = *good;
    shorter.pop_back();
    EXPECT_EQ(ParseIndexPage(f, shorter, 3).status().code(),
              StatusCode::kCorruption);
  }
}

// Random bytes behind a valid page type and marker: parsing ends in OK or
// Corruption, and whatever parses rebuilds into a page that parses back to
// the same entries.
TEST(IndexPageDamage, RandomPagesParseOrFailCleanly) {
  std::mt19937 rng(20261211);
  for (JetVersion v : {JetVersion::kJet3, JetVersion::kJet4}) {
    const Format& f = FormatFor(v);
    size_t parsed_ok = 0;
    for (int i = 0; i < 3000; ++i) {
      std::vector<uint8_t> page(f.page_size);
      for (auto& b : page) b = static_cast<uint8_t>(rng());
      page[0] = (i % 2) ? 0x03 : 0x04;
      page[1] = 0x01;
      // Entry ends every 6..25 bytes, a small prefix and a free-space field
      // that agrees, so that most pages get past the header checks; every
      // tenth page keeps its random mask.
      const uint32_t area = f.page_size - f.index_entries_offset;
      if (i % 10 != 0) {
        std::fill_n(page.begin() + f.index_entry_mask_offset,
                    f.index_entry_mask_size, 0);
        uint32_t end = 0;
        const uint32_t limit = 1 + rng() % area;
        while (true) {
          const uint32_t next = end + 6 + rng() % 20;
          if (next > limit) break;
          end = next;
          page[f.index_entry_mask_offset + end / 8] |=
              static_cast<uint8_t>(1u << (end % 8));
        }
        StoreU16Le(&page[f.index_free_space_offset],
                   static_cast<uint16_t>(area - end));
      }
      page[f.index_prefix_length_offset] %= 4;
      if (f.index_prefix_length_size == 2) {
        page[f.index_prefix_length_offset + 1] = 0;
      }
      auto r = ParseIndexPage(f, page, 9);
      if (!r.ok()) {
        ASSERT_EQ(r.status().code(), StatusCode::kCorruption);
        continue;
      }
      ++parsed_ok;
      auto rebuilt = BuildIndexPage(f, *r, r->prefix_length);
      if (!rebuilt.ok()) {
        // Unsorted or duplicate entries are refused by the builder.
        EXPECT_EQ(rebuilt.status().code(), StatusCode::kInvalidArgument);
        continue;
      }
      auto again = ParseIndexPage(f, *rebuilt, 9);
      ASSERT_TRUE(again.ok()) << again.status().ToString();
      EXPECT_EQ(again->entries, r->entries);
    }
    std::printf("%s: %zu of 3000 random pages parsed\n", f.name.data(),
                parsed_ok);
    EXPECT_GT(parsed_ok, 100u);
  }
}

// Every page of a built tree parses; leaves hold all entries in order and
// are chained; each intermediate page stores the last entry of every child
// but its tail.
TEST(IndexTreeBuild, PacksLevelsAndLinksPages) {
  struct Case {
    JetVersion version;
    size_t count;
    size_t key_len;
    int fill;
    bool expect_two_levels;
  };
  const Case cases[] = {
      {JetVersion::kJet4, 0, 4, 100, false},
      {JetVersion::kJet4, 100, 4, 100, false},
      {JetVersion::kJet4, 20000, 6, 100, false},
      {JetVersion::kJet3, 20000, 40, 80, true},
      {JetVersion::kJet3, 300, 200, 100, false},
  };
  for (const Case& c : cases) {
    const Format& f = FormatFor(c.version);
    std::vector<IndexEntry> entries;
    for (size_t i = 0; i < c.count; ++i) {
      std::vector<uint8_t> key(c.key_len, 0x41);
      key[0] = 0x7f;
      key[1] = uint8_t(i >> 16);
      key[2] = uint8_t(i >> 8);
      key[3] = uint8_t(i);
      entries.push_back(Leaf(key, 100 + uint32_t(i / 50), uint8_t(i % 50)));
    }
    uint32_t next = 1000;
    auto tree = BuildIndexTree(
        f, 7, entries, [&]() -> Result<uint32_t> { return next++; }, c.fill);
    ASSERT_TRUE(tree.ok()) << tree.status().ToString();
    std::map<uint32_t, IndexPage> pages;
    for (const auto& p : tree->pages) {
      auto parsed = ParseIndexPage(f, p.bytes, p.page_number);
      ASSERT_TRUE(parsed.ok()) << parsed.status().ToString();
      EXPECT_EQ(parsed->parent_page, 7u);
      if (parsed->leaf) {
        EXPECT_LE(f.page_size - parsed->free_space - f.index_entries_offset,
                  IndexPageCapacity(f) * c.fill / 100);
      }
      pages[p.page_number] = *parsed;
    }
    ASSERT_TRUE(pages.count(tree->root_page));
    // Depth-first descent through stored children and tails.
    std::vector<IndexEntry> seen;
    size_t depth_max = 0;
    std::function<void(uint32_t, size_t)> descend = [&](uint32_t n,
                                                        size_t depth) {
      ASSERT_TRUE(pages.count(n)) << n;
      depth_max = std::max(depth_max, depth);
      const IndexPage& p = pages[n];
      if (p.leaf) {
        seen.insert(seen.end(), p.entries.begin(), p.entries.end());
        return;
      }
      for (const auto& e : p.entries) {
        const size_t before = seen.size();
        descend(e.child_page, depth + 1);
        ASSERT_GT(seen.size(), before);
        IndexEntry last = seen.back();
        last.child_page = e.child_page;
        EXPECT_EQ(last, e);
      }
      if (p.tail_page) descend(p.tail_page, depth + 1);
    };
    descend(tree->root_page, 0);
    EXPECT_EQ(seen, entries);
    if (c.expect_two_levels) {
      EXPECT_GE(depth_max, 2u);
    }
    // Leaf chain from the leftmost leaf visits every entry in order.
    uint32_t n = tree->root_page;
    while (!pages[n].leaf) {
      n = pages[n].entries.empty() ? pages[n].tail_page
                                   : pages[n].entries[0].child_page;
    }
    std::vector<IndexEntry> chained;
    uint32_t prev = 0;
    for (size_t guard = 0; n != 0 && guard < pages.size(); ++guard) {
      EXPECT_EQ(pages[n].prev_page, prev);
      chained.insert(chained.end(), pages[n].entries.begin(),
                     pages[n].entries.end());
      prev = n;
      n = pages[n].next_page;
    }
    EXPECT_EQ(chained, entries);
  }
}

TEST(IndexTreeBuild, RejectsUnsortedAndPassesAllocatorErrors) {
  const Format& f = FormatFor(JetVersion::kJet4);
  std::vector<IndexEntry> unsorted = {Leaf({0x7f, 2}, 1, 0),
                                      Leaf({0x7f, 1}, 1, 0)};
  auto alloc = []() -> Result<uint32_t> { return 10u; };
  EXPECT_EQ(BuildIndexTree(f, 2, unsorted, alloc).status().code(),
            StatusCode::kInvalidArgument);
  auto full = []() -> Result<uint32_t> {
    return Status::IoError("no more pages");
  };
  EXPECT_EQ(BuildIndexTree(f, 2, {}, full).status().code(),
            StatusCode::kIoError);
  std::vector<IndexEntry> huge = {Leaf(std::vector<uint8_t>(4000, 1), 1, 0)};
  EXPECT_EQ(BuildIndexTree(f, 2, huge, alloc).status().code(),
            StatusCode::kInvalidArgument);
}

}  // namespace
}  // namespace hvq::jet
