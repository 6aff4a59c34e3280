// Index walk: every index of every corpus table walks cleanly in key order
// and visits each index page once; built trees walk back to their entries;
// damaged trees (cycles, pointers past the end, too deep, wrong page types)
// give clean errors naming page and offset.
#include "jet/index_walk.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <set>

#include "jet/byte_order.h"
#include "jet/page_file.h"
#include "jet/table_def.h"
#include "jet/testdata/index_corpus.h"

namespace hvq::jet {
namespace {

// In-memory pages for synthetic trees.
struct MemoryPages {
  const Format* format;
  uint32_t page_count = 5000;
  std::map<uint32_t, std::vector<uint8_t>> pages;

  IndexPageSource Source() {
    IndexPageSource s;
    s.format = format;
    s.page_count = page_count;
    s.read = [this](uint32_t p, std::vector<uint8_t>* out) -> Status {
      auto it = pages.find(p);
      if (it == pages.end()) {
        out->assign(format->page_size, 0);  // a never-used page
        out->at(0) = 0x01;
        return Status::Ok();
      }
      *out = it->second;
      return Status::Ok();
    };
    return s;
  }
  IndexPage Get(uint32_t p) { return *ParseIndexPage(*format, pages[p], p); }
  void Put(uint32_t p, const IndexPage& page) {
    pages[p] = *BuildIndexPage(*format, page, page.prefix_length);
  }
};

TEST(IndexWalkCorpus, EveryIndexWalksInOrderAndOwnsItsPages) {
  if (!testdata::HaveCorpus()) {
    GTEST_SKIP() << "corpus not found at " << testdata::CorpusDir()
                 << " (set HVQ_CORPUS_DIR)";
  }
  size_t indexes = 0, entries = 0, multi_level = 0, files = 0;
  size_t unreached = 0, unreached_nodes = 0;
  for (const auto& cf : testdata::CorpusFiles()) {
    auto file = PageFile::Open((testdata::CorpusDir() / cf.path).string());
    ASSERT_TRUE(file.ok()) << cf.path << ": " << file.status().ToString();
    ++files;
    IndexPageSource source = PageSourceFor(**file);
    std::map<uint32_t, std::string> owner;  // index page -> index name
    for (uint32_t tdef_page : testdata::TableDefPages(**file)) {
      auto tdef = ReadTableDef(**file, tdef_page);
      if (!tdef.ok()) continue;  // not a first page after all
      for (size_t r = 0; r < tdef->real_indexes.size(); ++r) {
        const RealIndexDef& index = tdef->real_indexes[r];
        const std::string name = cf.path + " tdef " +
                                 std::to_string(tdef_page) + " index " +
                                 std::to_string(r);
        std::vector<IndexProblem> problems;
        IndexWalkStats stats;
        std::vector<uint8_t> prev;
        bool first = true;
        Status s = WalkIndex(
            source, index.first_page,
            [&](const IndexWalkEntry& e) {
              auto bytes = e.entry->SortBytes();
              EXPECT_TRUE(first || prev < bytes)
                  << name << " leaf " << e.leaf_page << " offset " << e.offset;
              prev = std::move(bytes);
              first = false;
              return Status::Ok();
            },
            &problems, &stats);
        ASSERT_TRUE(s.ok()) << name << ": " << s.ToString();
        for (const auto& p : problems) {
          ADD_FAILURE() << name << ": page " << p.page << " offset " << p.offset
                        << ": " << p.what;
        }
        for (uint32_t p : stats.pages) {
          EXPECT_TRUE(owner.emplace(p, name).second)
              << "page " << p << " walked by " << owner[p] << " and " << name;
        }
        // Packing the same entries afresh (full and 60% full leaves) walks
        // back to them.
        auto original = ReadIndexEntries(source, index.first_page);
        ASSERT_TRUE(original.ok());
        for (int fill : {100, 60}) {
          MemoryPages mem{&(*file)->format()};
          uint32_t next = 1;
          auto tree = BuildIndexTree(
              *mem.format, tdef_page, *original,
              [&]() -> Result<uint32_t> { return next++; }, fill);
          ASSERT_TRUE(tree.ok()) << name << ": " << tree.status().ToString();
          for (auto& p : tree->pages) mem.pages[p.page_number] = p.bytes;
          std::vector<IndexProblem> rebuilt_problems;
          auto rebuilt = ReadIndexEntries(mem.Source(), tree->root_page,
                                          &rebuilt_problems);
          ASSERT_TRUE(rebuilt.ok()) << rebuilt.status().ToString();
          EXPECT_EQ(*rebuilt, *original) << name;
          EXPECT_TRUE(rebuilt_problems.empty()) << name;
        }
        ++indexes;
        entries += stats.entries;
        if (stats.depth > 1) ++multi_level;
      }
    }
    std::vector<uint8_t> page((*file)->page_size());
    for (uint32_t p = 1; p < (*file)->page_count(); ++p) {
      ASSERT_TRUE((*file)->ReadPage(p, page).ok());
      if ((page[0] == 3 || page[0] == 4) && !owner.count(p)) {
        ++unreached;
        if (page[0] == 3) ++unreached_nodes;
      }
    }
  }
  EXPECT_EQ(files, 101u);
  EXPECT_GT(indexes, 1000u);
  EXPECT_GE(multi_level, 15u);
  std::printf(
      "walked %zu indexes, %zu entries, %zu with intermediate pages; %zu index "
      "pages not reached from any index (%zu intermediate)\n",
      indexes, entries, multi_level, unreached, unreached_nodes);
}

std::vector<IndexEntry> MakeEntries(size_t n, size_t key_len) {
  std::vector<IndexEntry> out;
  for (size_t i = 0; i < n; ++i) {
    IndexEntry e;
    e.key.assign(key_len, 0x55);
    e.key[0] = 0x7f;
    e.key[1] = uint8_t(i >> 8);
    e.key[2] = uint8_t(i);
    e.data_page = 200 + uint32_t(i / 30);
    e.data_row = uint8_t(i % 30);
    out.push_back(e);
  }
  return out;
}

// Builds a tree of `n` entries at pages 1000.. and returns its root.
uint32_t BuildInto(MemoryPages& mem, const std::vector<IndexEntry>& entries) {
  uint32_t next = 1000;
  auto tree = BuildIndexTree(*mem.format, 9, entries,
                             [&]() -> Result<uint32_t> { return next++; });
  EXPECT_TRUE(tree.ok()) << tree.status().ToString();
  for (auto& p : tree->pages) mem.pages[p.page_number] = p.bytes;
  return tree->root_page;
}

TEST(IndexWalk, BuiltTreesWalkBackToTheirEntries) {
  for (JetVersion v : {JetVersion::kJet3, JetVersion::kJet4}) {
    for (size_t n : {0, 1, 500, 30000}) {
      MemoryPages mem{&FormatFor(v)};
      auto entries = MakeEntries(n, 30);
      uint32_t root = BuildInto(mem, entries);
      std::vector<IndexProblem> problems;
      auto walked = ReadIndexEntries(mem.Source(), root, &problems);
      ASSERT_TRUE(walked.ok()) << walked.status().ToString();
      EXPECT_EQ(*walked, entries) << n;
      EXPECT_TRUE(problems.empty()) << problems[0].what;
    }
  }
}

// A leaf appended after the last leaf, reachable only through next
// pointers, is still walked (as a tail leaf not yet linked into the tree).
TEST(IndexWalk, FollowsLeavesChainedAfterTheTree) {
  MemoryPages mem{&FormatFor(JetVersion::kJet4)};
  auto entries = MakeEntries(2000, 20);
  std::vector<IndexEntry> head(entries.begin(), entries.end() - 10);
  uint32_t root = BuildInto(mem, head);
  // Find the last leaf and chain a new leaf after it.
  uint32_t last = 0;
  for (auto& [p, bytes] : mem.pages) {
    IndexPage page = mem.Get(p);
    if (page.leaf && page.next_page == 0) last = p;
  }
  ASSERT_NE(last, 0u);
  IndexPage extra;
  extra.leaf = true;
  extra.prev_page = last;
  extra.entries.assign(entries.end() - 10, entries.end());
  extra.prefix_length = 0;
  mem.Put(4000, extra);
  IndexPage tail = mem.Get(last);
  tail.next_page = 4000;
  mem.Put(last, tail);
  std::vector<IndexProblem> problems;
  auto walked = ReadIndexEntries(mem.Source(), root, &problems);
  ASSERT_TRUE(walked.ok()) << walked.status().ToString();
  EXPECT_EQ(*walked, entries);
  EXPECT_TRUE(problems.empty());
}

TEST(IndexWalkDamage, BrokenTreesGiveCleanErrors) {
  const Format& f = FormatFor(JetVersion::kJet4);
  struct Case {
    const char* what;
    // Damages a built two-level tree; returns the expected (page, offset)
    // of the error, or page 0 when a non-fatal problem is expected.
    std::function<std::pair<uint32_t, uint32_t>(MemoryPages&, uint32_t)> damage;
    bool fatal;
  };
  const Case cases[] = {
      {"child pointer past the end",
       [&](MemoryPages& m, uint32_t root) {
         IndexPage p = m.Get(root);
         p.entries[0].child_page = 999999;
         m.Put(root, p);
         return std::make_pair(root, m.Get(root).entry_offsets[0]);
       },
       true},
      {"child pointer to page 0",
       [&](MemoryPages& m, uint32_t root) {
         IndexPage p = m.Get(root);
         p.entries[1].child_page = 0;
         m.Put(root, p);
         return std::make_pair(root, m.Get(root).entry_offsets[1]);
       },
       true},
      {"tail pointer past the end",
       [&](MemoryPages& m, uint32_t root) {
         IndexPage p = m.Get(root);
         p.tail_page = m.page_count;
         m.Put(root, p);
         return std::make_pair(root, f.index_tail_offset);
       },
       true},
      {"cycle: child points back at the root",
       [&](MemoryPages& m, uint32_t root) {
         IndexPage p = m.Get(root);
         p.entries[2].child_page = root;
         m.Put(root, p);
         return std::make_pair(root, m.Get(root).entry_offsets[2]);
       },
       true},
      {"cycle: two entries share a child",
       [&](MemoryPages& m, uint32_t root) {
         IndexPage p = m.Get(root);
         p.entries[3].child_page = p.entries[2].child_page;
         m.Put(root, p);
         return std::make_pair(root, m.Get(root).entry_offsets[3]);
       },
       true},
      {"child is not an index page",
       [&](MemoryPages& m, uint32_t root) {
         IndexPage p = m.Get(root);
         p.entries[0].child_page = 3000;  // unused page, type 0x01
         m.Put(root, p);
         return std::make_pair(3000u, 0u);
       },
       true},
      {"leaf next pointer loops back",
       [&](MemoryPages& m, uint32_t root) {
         IndexPage r = m.Get(root);
         const uint32_t last_leaf = r.tail_page;
         IndexPage leaf = m.Get(last_leaf);
         leaf.next_page = r.entries[0].child_page;
         m.Put(last_leaf, leaf);
         return std::make_pair(last_leaf, f.index_next_offset);
       },
       false},
      {"leaf prev pointer wrong",
       [&](MemoryPages& m, uint32_t root) {
         IndexPage r = m.Get(root);
         const uint32_t leaf_page = r.entries[1].child_page;
         IndexPage leaf = m.Get(leaf_page);
         leaf.prev_page = 77;
         m.Put(leaf_page, leaf);
         return std::make_pair(leaf_page, f.index_prev_offset);
       },
       false},
      {"intermediate entry does not repeat the child's last entry",
       [&](MemoryPages& m, uint32_t root) {
         IndexPage p = m.Get(root);
         p.entries[1].data_row ^= 1;
         m.Put(root, p);
         return std::make_pair(root, m.Get(root).entry_offsets[1]);
       },
       false},
  };
  for (const Case& c : cases) {
    MemoryPages mem{&f};
    uint32_t root = BuildInto(mem, MakeEntries(3000, 12));
    ASSERT_FALSE(mem.Get(root).leaf);
    ASSERT_GE(mem.Get(root).entries.size(), 4u);
    auto [page, offset] = c.damage(mem, root);
    std::vector<IndexProblem> problems;
    auto walked = ReadIndexEntries(mem.Source(), root, &problems);
    if (c.fatal) {
      ASSERT_FALSE(walked.ok()) << c.what;
      EXPECT_EQ(walked.status().code(), StatusCode::kCorruption) << c.what;
      EXPECT_EQ(walked.status().page(), page) << c.what;
      EXPECT_EQ(walked.status().offset(), offset)
          << c.what << ": " << walked.status().ToString();
    } else {
      ASSERT_TRUE(walked.ok()) << c.what << walked.status().ToString();
      ASSERT_FALSE(problems.empty()) << c.what;
      EXPECT_EQ(problems[0].page, page) << c.what << ": " << problems[0].what;
      EXPECT_EQ(problems[0].offset, offset)
          << c.what << ": " << problems[0].what;
    }
  }
}

TEST(IndexWalkDamage, DepthIsBounded) {
  // A chain of intermediate pages, each with only a tail pointer to the
  // next, ending in a leaf: deeper than the limit is an error.
  const Format& f = FormatFor(JetVersion::kJet3);
  MemoryPages mem{&f};
  const uint32_t levels = 40;
  for (uint32_t i = 0; i < levels; ++i) {
    IndexPage p;
    p.leaf = false;
    p.node_flag = 1;
    p.tail_page = 101 + i;
    mem.Put(100 + i, p);
  }
  IndexPage leaf;
  leaf.entries = MakeEntries(3, 5);
  mem.Put(100 + levels, leaf);
  IndexWalkOptions options;
  options.max_depth = 16;
  Status s = WalkIndex(
      mem.Source(), 100, [](const IndexWalkEntry&) { return Status::Ok(); },
      nullptr, nullptr, options);
  ASSERT_EQ(s.code(), StatusCode::kCorruption) << s.ToString();
  EXPECT_EQ(s.page(), 100u + 15);
  options.max_depth = 64;
  IndexWalkStats stats;
  s = WalkIndex(
      mem.Source(), 100, [](const IndexWalkEntry&) { return Status::Ok(); },
      nullptr, &stats, options);
  EXPECT_TRUE(s.ok()) << s.ToString();
  EXPECT_EQ(stats.entries, 3u);
  EXPECT_EQ(stats.depth, levels + 1);
}

// Every byte of the index pages of a real file, inverted in turn: the walk
// ends with OK or a Corruption status, never anything else (and, in the
// sanitizer build, without a report).
TEST(IndexWalkDamage, EveryFlippedByteOfCorpusIndexPagesIsHandled) {
  if (!testdata::HaveCorpus()) {
    GTEST_SKIP() << "corpus not found at " << testdata::CorpusDir();
  }
  for (const char* name :
       {"jackcess/compIndexTestV2000.mdb", "jackcess/compIndexTestV1997.mdb"}) {
    auto file = PageFile::Open((testdata::CorpusDir() / name).string());
    ASSERT_TRUE(file.ok());
    const Format& f = (*file)->format();
    std::vector<std::vector<uint8_t>> pages((*file)->page_count());
    std::vector<uint32_t> index_pages;
    for (uint32_t p = 0; p < pages.size(); ++p) {
      pages[p].resize(f.page_size);
      ASSERT_TRUE((*file)->ReadPage(p, pages[p]).ok());
      if (pages[p][0] == 0x03 || pages[p][0] == 0x04) index_pages.push_back(p);
    }
    // Roots of every index of every table.
    std::vector<uint32_t> roots;
    for (uint32_t tdef : testdata::TableDefPages(**file)) {
      auto def = ReadTableDef(**file, tdef);
      if (!def.ok()) continue;
      for (const auto& index : def->real_indexes) {
        roots.push_back(index.first_page);
      }
    }
    ASSERT_FALSE(roots.empty());
    IndexPageSource source;
    source.format = &f;
    source.page_count = static_cast<uint32_t>(pages.size());
    source.read = [&](uint32_t p, std::vector<uint8_t>* out) {
      *out = pages[p];
      return Status::Ok();
    };
    // The roots whose walk reaches each page.
    std::map<uint32_t, std::vector<uint32_t>> roots_of;
    for (uint32_t root : roots) {
      IndexWalkStats stats;
      ASSERT_TRUE(WalkIndex(
                      source, root,
                      [](const IndexWalkEntry&) { return Status::Ok(); },
                      nullptr, &stats)
                      .ok());
      for (uint32_t p : stats.pages) roots_of[p].push_back(root);
    }
    size_t walks = 0, corrupt = 0;
    for (uint32_t p : index_pages) {
      // Header and mask bytes all; entry bytes every third.
      const uint32_t used = f.page_size - LoadU16Le(&pages[p][2]);
      for (uint32_t off = 0; off < std::min(used, f.page_size); ++off) {
        if (off >= f.index_entries_offset && off % 3 != 0) continue;
        pages[p][off] ^= 0xFF;
        for (uint32_t root : roots_of[p]) {
          std::vector<IndexProblem> problems;
          Status s = WalkIndex(
              source, root, [](const IndexWalkEntry&) { return Status::Ok(); },
              &problems);
          ++walks;
          if (!s.ok()) {
            ++corrupt;
            ASSERT_EQ(s.code(), StatusCode::kCorruption) << s.ToString();
            ASSERT_TRUE(s.page().has_value());
          }
        }
        pages[p][off] ^= 0xFF;
      }
    }
    EXPECT_GT(corrupt, 100u) << name;
    std::printf("%s: %zu walks over damaged pages, %zu ended in Corruption\n",
                name, walks, corrupt);
  }
}

}  // namespace
}  // namespace hvq::jet
