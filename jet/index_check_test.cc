// Index check: every corpus file checks clean; damaged copies (changed key
// bytes, row pointers, child pointers, page types) are reported as
// problems at the damaged page and offset, never as crashes.
#include "jet/index_check.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>

#include "jet/database.h"
#include "jet/index_walk.h"
#include "jet/testdata/index_corpus.h"

namespace hvq::jet {
namespace {

TEST(IndexCheckCorpus, EveryFileChecksClean) {
  if (!testdata::HaveCorpus()) {
    GTEST_SKIP() << "corpus not found at " << testdata::CorpusDir()
                 << " (set HVQ_CORPUS_DIR)";
  }
  IndexCheckStats stats;
  size_t files = 0;
  for (const auto& cf : testdata::CorpusFiles()) {
    OpenOptions options;
    options.password = testdata::CorpusPassword(cf.row);
    auto db =
        Database::Open((testdata::CorpusDir() / cf.path).string(), options);
    ASSERT_TRUE(db.ok()) << cf.path << ": " << db.status().ToString();
    std::vector<IndexProblem> problems;
    ASSERT_TRUE(CheckAllIndexes(**db, &problems, &stats).ok());
    for (const auto& p : problems) {
      ADD_FAILURE() << cf.path << ": " << FormatIndexProblem(p);
    }
    ++files;
  }
  EXPECT_EQ(files, 101u);
  EXPECT_GT(stats.indexes, 1500u);
  EXPECT_GT(stats.keys_compared, 25000u);
  std::printf(
      "checked %u indexes, %llu entries; %llu keys regenerated and "
      "equal, %llu not encodable\n",
      stats.indexes, static_cast<unsigned long long>(stats.entries),
      static_cast<unsigned long long>(stats.keys_compared),
      static_cast<unsigned long long>(stats.keys_not_encodable));
}

// Where things are in a corpus file, found by walking its indexes.
struct Landmarks {
  uint32_t page_size = 0;
  // A leaf entry (not the first on its page) of an index with two levels.
  uint32_t leaf_page = 0, leaf_offset = 0;
  IndexEntry leaf_entry;
  uint32_t leaf_prefix = 0;
  // The first stored entry of that index's intermediate root.
  uint32_t node_page = 0, node_offset = 0, node_entry_size = 0;
};

Landmarks Find(const std::string& path) {
  Landmarks m;
  auto db = Database::Open(path, {});
  EXPECT_TRUE(db.ok()) << db.status().ToString();
  if (!db.ok()) return m;
  m.page_size = (*db)->format().page_size;
  IndexPageSource source = PageSourceFor((*db)->pages());
  for (const TableInfo& t : (*db)->Tables(true)) {
    auto def = (*db)->ReadTableDef(t.tdef_page);
    if (!def.ok()) continue;
    for (const RealIndexDef& index : def->real_indexes) {
      IndexWalkStats stats;
      std::vector<IndexWalkEntry> on_page;
      uint32_t count = 0;
      IndexWalkEntry pick;
      IndexEntry picked;
      Status s = WalkIndex(
          source, index.first_page,
          [&](const IndexWalkEntry& e) {
            if (++count == 5) {
              pick = e;
              picked = *e.entry;
            }
            return Status::Ok();
          },
          nullptr, &stats);
      if (!s.ok() || stats.depth < 2 || count < 10) continue;
      std::vector<uint8_t> buf;
      EXPECT_TRUE(source.read(index.first_page, &buf).ok());
      auto root = ParseIndexPage((*db)->format(), buf, index.first_page);
      EXPECT_TRUE(root.ok());
      std::vector<uint8_t> leaf_buf;
      EXPECT_TRUE(source.read(pick.leaf_page, &leaf_buf).ok());
      auto leaf = ParseIndexPage((*db)->format(), leaf_buf, pick.leaf_page);
      EXPECT_TRUE(leaf.ok());
      m.leaf_page = pick.leaf_page;
      m.leaf_offset = pick.offset;
      m.leaf_entry = picked;
      m.leaf_prefix = leaf->prefix_length;
      m.node_page = index.first_page;
      m.node_offset = root->entry_offsets[0];
      m.node_entry_size =
          static_cast<uint32_t>(root->entries[0].key.size() + 8);
      return m;
    }
  }
  ADD_FAILURE() << "no two-level index in " << path;
  return m;
}

TEST(IndexCheckDamage, DamageIsReportedAtItsPlace) {
  if (!testdata::HaveCorpus()) {
    GTEST_SKIP() << "corpus not found at " << testdata::CorpusDir();
  }
  for (const char* name :
       {"jackcess/compIndexTestV2000.mdb", "jackcess/compIndexTestV1997.mdb"}) {
    const std::string path = (testdata::CorpusDir() / name).string();
    const Landmarks m = Find(path);
    ASSERT_NE(m.leaf_page, 0u) << name;
    ASSERT_LT(m.leaf_prefix, m.leaf_entry.key.size());
    const auto original = testdata::ReadWholeFile(path);
    const size_t leaf_at = size_t{m.leaf_page} * m.page_size + m.leaf_offset;
    const size_t stored_key = m.leaf_entry.key.size() - m.leaf_prefix;
    struct Case {
      const char* what;
      std::function<void(std::vector<uint8_t>&)> damage;
      uint32_t page, offset;
      const char* says;
    };
    const Case cases[] = {
        {"last key byte changed",
         [&](std::vector<uint8_t>& b) { b[leaf_at + stored_key - 1] ^= 0x01; },
         m.leaf_page, m.leaf_offset, "differs"},
        {"row number changed to a missing row",
         [&](std::vector<uint8_t>& b) { b[leaf_at + stored_key + 3] = 0xEE; },
         m.leaf_page, m.leaf_offset, "not a live row"},
        {"row points at another table's page",
         [&](std::vector<uint8_t>& b) {
           b[leaf_at + stored_key] = 0;
           b[leaf_at + stored_key + 1] = 0;
           b[leaf_at + stored_key + 2] = 2;  // the catalog's tdef page
         },
         m.leaf_page, m.leaf_offset, "not a live row"},
        {"child pointer past the end",
         [&](std::vector<uint8_t>& b) {
           const size_t at = size_t{m.node_page} * m.page_size + m.node_offset +
                             m.node_entry_size - 4;
           b[at] = 0x7F;
         },
         m.node_page, m.node_offset, "cannot be walked"},
        {"leaf page type changed",
         [&](std::vector<uint8_t>& b) {
           b[size_t{m.leaf_page} * m.page_size] = 0x01;
         },
         m.leaf_page, 0, "cannot be walked"},
    };
    for (const Case& c : cases) {
      auto bytes = original;
      c.damage(bytes);
      auto db = Database::OpenBytes(std::move(bytes), {});
      ASSERT_TRUE(db.ok()) << db.status().ToString();
      std::vector<IndexProblem> problems;
      ASSERT_TRUE(CheckAllIndexes(**db, &problems).ok()) << c.what;
      bool found = false;
      for (const auto& p : problems) {
        if (p.page == c.page && p.offset == c.offset &&
            p.what.find(c.says) != std::string::npos) {
          found = true;
        }
      }
      EXPECT_TRUE(found) << name << " " << c.what << ": "
                         << (problems.empty()
                                 ? std::string("no problems")
                                 : FormatIndexProblem(problems[0]));
    }
  }
}

}  // namespace
}  // namespace hvq::jet
