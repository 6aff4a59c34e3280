// Index check: every corpus file checks clean; damaged copies (changed key
// bytes, row pointers, child pointers, page types) are reported as
// problems at the damaged page and offset, never as crashes; a table whose
// rows cannot be read fails as a whole.
#include "jet/index_check.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>

#include "jet/data_page.h"
#include "jet/database.h"
#include "jet/index_key.h"
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
  IndexEntry before_leaf_entry;  // the entry walked just before it
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
      IndexEntry picked, before;
      Status s = WalkIndex(
          source, index.first_page,
          [&](const IndexWalkEntry& e) {
            if (++count == 4) before = *e.entry;
            if (count == 5) {
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
      m.before_leaf_entry = before;
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

// Writes the row pointer of an index entry (3-byte big-endian page, row).
void SetRowPointer(std::vector<uint8_t>& bytes, size_t at, uint32_t page,
                   uint8_t row) {
  bytes[at] = static_cast<uint8_t>(page >> 16);
  bytes[at + 1] = static_cast<uint8_t>(page >> 8);
  bytes[at + 2] = static_cast<uint8_t>(page);
  bytes[at + 3] = row;
}

std::string RowText(uint32_t page, uint8_t row) {
  return "page " + std::to_string(page) + " row " + std::to_string(row);
}

struct Expect {
  uint32_t page, offset;
  std::string says;
};

// How many of `problems` sit at the expected place and contain its text.
size_t CountMatching(const std::vector<IndexProblem>& problems,
                     const Expect& e) {
  size_t n = 0;
  for (const auto& p : problems) {
    if (p.page == e.page && p.offset == e.offset &&
        p.what.find(e.says) != std::string::npos) {
      ++n;
    }
  }
  return n;
}

std::string Describe(const std::vector<IndexProblem>& problems) {
  if (problems.empty()) return "no problems";
  std::string out;
  for (const auto& p : problems) out += "\n  " + FormatIndexProblem(p);
  return out;
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
    const IndexEntry& before = m.before_leaf_entry;
    ASSERT_FALSE(before.data_page == m.leaf_entry.data_page &&
                 before.data_row == m.leaf_entry.data_row);
    struct Case {
      const char* what;
      std::function<void(std::vector<uint8_t>&)> damage;
      std::vector<Expect> expect;
    };
    const Case cases[] = {
        {"last key byte changed",
         [&](std::vector<uint8_t>& b) { b[leaf_at + stored_key - 1] ^= 0x01; },
         {{m.leaf_page, m.leaf_offset, "differs"}}},
        {"row number changed to a missing row",
         [&](std::vector<uint8_t>& b) { b[leaf_at + stored_key + 3] = 0xEE; },
         {{m.leaf_page, m.leaf_offset, "not a live row"}}},
        {"row points at another table's page",
         [&](std::vector<uint8_t>& b) {
           b[leaf_at + stored_key] = 0;
           b[leaf_at + stored_key + 1] = 0;
           b[leaf_at + stored_key + 2] = 2;  // the catalog's tdef page
         },
         {{m.leaf_page, m.leaf_offset, "not a live row"}}},
        {"row pointer copied from the entry before",
         [&](std::vector<uint8_t>& b) {
           SetRowPointer(b, leaf_at + stored_key, before.data_page,
                         before.data_row);
         },
         {{m.leaf_page, m.leaf_offset,
           "second entry for " + RowText(before.data_page, before.data_row)},
          {m.leaf_entry.data_page, 0,
           RowText(m.leaf_entry.data_page, m.leaf_entry.data_row) +
               " has no entry in the index"}}},
        {"child pointer past the end",
         [&](std::vector<uint8_t>& b) {
           const size_t at = size_t{m.node_page} * m.page_size + m.node_offset +
                             m.node_entry_size - 4;
           b[at] = 0x7F;
         },
         {{m.node_page, m.node_offset, "cannot be walked"}}},
        {"leaf page type changed",
         [&](std::vector<uint8_t>& b) {
           b[size_t{m.leaf_page} * m.page_size] = 0x01;
         },
         {{m.leaf_page, 0, "cannot be walked"}}},
    };
    for (const Case& c : cases) {
      auto bytes = original;
      c.damage(bytes);
      auto db = Database::OpenBytes(std::move(bytes), {});
      ASSERT_TRUE(db.ok()) << db.status().ToString();
      std::vector<IndexProblem> problems;
      ASSERT_TRUE(CheckAllIndexes(**db, &problems).ok()) << c.what;
      for (const Expect& e : c.expect) {
        EXPECT_EQ(CountMatching(problems, e), 1u)
            << name << " " << c.what << ": expected '" << e.says << "' at page "
            << e.page << ", got" << Describe(problems);
      }
    }
  }
}

// An index that ignores nulls has no entries for rows whose indexed columns
// are all null. Pointing an entry at such a row is reported at the entry,
// the row it left is reported as missing, and the other all-null rows are
// still not missing.
TEST(IndexCheckDamage, IgnoreNullsIndex) {
  if (!testdata::HaveCorpus()) {
    GTEST_SKIP() << "corpus not found at " << testdata::CorpusDir();
  }
  for (const char* name : {"jackcess/testIndexPropertiesV2000.mdb",
                           "jackcess/testIndexPropertiesV2003.mdb"}) {
    const std::string path = (testdata::CorpusDir() / name).string();
    auto bytes = testdata::ReadWholeFile(path);
    auto db = Database::Open(path, {});
    ASSERT_TRUE(db.ok()) << db.status().ToString();
    auto def = (*db)->ReadTableDef("TableIgnoreNulls1");
    ASSERT_TRUE(def.ok()) << def.status().ToString();
    IndexPageSource source = PageSourceFor((*db)->pages());
    const uint32_t page_size = (*db)->format().page_size;

    // The ignore-nulls index, its first entry, and an all-null row.
    bool found = false;
    IndexWalkEntry first;
    IndexEntry first_entry;
    RowLocation null_row;
    size_t null_rows = 0;
    for (const RealIndexDef& index : def->real_indexes) {
      if (!index.ignore_nulls()) continue;
      null_rows = 0;
      ASSERT_TRUE((*db)
                      ->ScanRows(*def,
                                 [&](const RowLocation& loc,
                                     const std::vector<Value>& values) {
                                   if (!IndexCoversRow(*def, index, values)) {
                                     if (null_rows++ == 0) null_row = loc;
                                   }
                                   return true;
                                 })
                      .ok());
      if (null_rows < 2) continue;
      bool have_first = false;
      ASSERT_TRUE(
          WalkIndex(source, index.first_page, [&](const IndexWalkEntry& e) {
            if (!have_first) {
              first = e;
              first_entry = *e.entry;
              have_first = true;
            }
            return Status::Ok();
          }).ok());
      ASSERT_TRUE(have_first) << name;
      found = true;
      break;
    }
    ASSERT_TRUE(found) << name << ": no ignore-nulls index with null rows";

    std::vector<uint8_t> leaf_buf;
    ASSERT_TRUE(source.read(first.leaf_page, &leaf_buf).ok());
    auto leaf = ParseIndexPage((*db)->format(), leaf_buf, first.leaf_page);
    ASSERT_TRUE(leaf.ok());
    ASSERT_EQ(leaf->entry_offsets[0], first.offset);  // stored whole
    SetRowPointer(bytes,
                  size_t{first.leaf_page} * page_size + first.offset +
                      first_entry.key.size(),
                  null_row.page, null_row.row);

    auto damaged = Database::OpenBytes(std::move(bytes), {});
    ASSERT_TRUE(damaged.ok()) << damaged.status().ToString();
    auto ddef = (*damaged)->ReadTableDef("TableIgnoreNulls1");
    ASSERT_TRUE(ddef.ok());
    std::vector<IndexProblem> problems;
    ASSERT_TRUE(CheckTableIndexes(**damaged, *ddef, &problems).ok());
    const Expect expect[] = {
        {first.leaf_page, first.offset,
         "entry for " + RowText(null_row.page, null_row.row) +
             ", whose indexed columns are all null"},
        {first_entry.data_page, 0,
         RowText(first_entry.data_page, first_entry.data_row) +
             " has no entry in the index"},
    };
    for (const Expect& e : expect) {
      EXPECT_EQ(CountMatching(problems, e), 1u)
          << name << ": expected '" << e.says << "', got" << Describe(problems);
    }
    size_t missing = 0;
    for (const auto& p : problems) {
      if (p.what.find("has no entry") != std::string::npos) ++missing;
    }
    EXPECT_EQ(missing, 1u) << name << Describe(problems);
  }
}

// A row slot whose extent is damaged makes the table's rows unreadable: the
// check of that table fails naming the data page and reports nothing about
// its indexes; checking all tables turns that into one problem.
TEST(IndexCheckDamage, UnreadableRowsFailTheTable) {
  if (!testdata::HaveCorpus()) {
    GTEST_SKIP() << "corpus not found at " << testdata::CorpusDir();
  }
  for (const char* name :
       {"jackcess/compIndexTestV2000.mdb", "jackcess/compIndexTestV1997.mdb"}) {
    const std::string path = (testdata::CorpusDir() / name).string();
    auto bytes = testdata::ReadWholeFile(path);
    auto db = Database::Open(path, {});
    ASSERT_TRUE(db.ok()) << db.status().ToString();
    const Format& format = (*db)->format();
    // A user table with an index and a row.
    uint32_t tdef = 0;
    RowLocation row;
    for (const TableInfo& t : (*db)->Tables(/*include_system=*/false)) {
      auto def = (*db)->ReadTableDef(t.tdef_page);
      ASSERT_TRUE(def.ok());
      if (def->real_indexes.empty()) continue;
      bool any = false;
      ASSERT_TRUE((*db)
                      ->ScanRawRows(*def,
                                    [&](const RowLocation& loc, Bytes) {
                                      row = loc;
                                      any = true;
                                      return false;
                                    })
                      .ok());
      if (!any) continue;
      tdef = t.tdef_page;
      break;
    }
    ASSERT_NE(tdef, 0u) << name;
    // Row start inside the page header.
    const uint32_t slot_offset =
        format.data_row_table_offset + 2 * uint32_t{row.row};
    const size_t slot = size_t{row.page} * format.page_size + slot_offset;
    bytes[slot] = 0x01;
    bytes[slot + 1] = 0x00;

    auto damaged = Database::OpenBytes(std::move(bytes), {});
    ASSERT_TRUE(damaged.ok()) << damaged.status().ToString();
    auto def = (*damaged)->ReadTableDef(tdef);
    ASSERT_TRUE(def.ok());
    std::vector<IndexProblem> problems;
    IndexCheckStats stats;
    Status s = CheckTableIndexes(**damaged, *def, &problems, &stats);
    EXPECT_EQ(s.code(), StatusCode::kCorruption) << name << s.ToString();
    EXPECT_EQ(s.page().value_or(0), row.page) << name << s.ToString();
    EXPECT_EQ(s.offset().value_or(0), slot_offset) << name << s.ToString();
    EXPECT_TRUE(problems.empty()) << name << Describe(problems);
    EXPECT_EQ(stats.entries, 0u) << name;

    problems.clear();
    ASSERT_TRUE(CheckAllIndexes(**damaged, &problems).ok());
    EXPECT_EQ(
        CountMatching(problems, {row.page, slot_offset, "rows unreadable"}), 1u)
        << name << Describe(problems);
  }
}

}  // namespace
}  // namespace hvq::jet
