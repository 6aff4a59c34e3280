// Oracle test against libmdb (mdbtools), linked only into this test.
//
// 1. libmdb's index cursor (mdb_index_find_next) yields the same
//    (page, row) sequence as our walk, index by index. After the tree,
//    libmdb follows the last leaf's next pointer at the Jet 3 offset; on
//    Jet 4 that is the prev pointer, so it stops before leaves named only
//    by a tail pointer: there its sequence must be the start of ours and
//    the rest must sit on tail leaves.
// 2. Every file: for every table, the (page, row) pointers of each index
//    that records nulls equal the set of live rows libmdb's table scan
//    visits; indexes that ignore nulls point at a subset of them.
#include <glib.h>
#include <gtest/gtest.h>
#include <mdbtools.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <set>
#include <vector>

#include "jet/data_page.h"
#include "jet/index_walk.h"
#include "jet/page_file.h"
#include "jet/table_def.h"
#include "jet/testdata/index_corpus.h"

namespace hvq::jet {
namespace {

using RowId = std::pair<uint32_t, uint32_t>;  // data page, row

std::vector<RowId> OurRows(const IndexPageSource& source, uint32_t root) {
  std::vector<RowId> rows;
  Status s = WalkIndex(source, root, [&](const IndexWalkEntry& e) {
    rows.emplace_back(e.entry->data_page, e.entry->data_row);
    return Status::Ok();
  });
  EXPECT_TRUE(s.ok()) << s.ToString();
  return rows;
}

// libmdb reports a row reached through an overflow pointer at the place its
// bytes are; indexes name the slot holding the pointer. Maps a slot to where
// its bytes are (one hop, as libmdb follows).
RowId BytesLocation(PageFile& file, RowId slot) {
  auto page = file.GetPage(slot.first);
  if (!page.ok()) return slot;
  auto dp = ParseDataPage(file.format(), slot.first, **page);
  if (!dp.ok() || slot.second >= dp->rows.size()) return slot;
  if (!dp->rows[slot.second].overflow_pointer()) return slot;
  auto bytes = dp->RowBytes(**page, slot.second);
  if (!bytes.ok() || bytes->size() < 4) return slot;
  return {LoadU24Le(bytes->data() + 1), (*bytes)[0]};
}

TEST(IndexLibmdbOracle, WalksAgreeWithLibmdb) {
  if (!testdata::HaveCorpus()) {
    GTEST_SKIP() << "corpus not found at " << testdata::CorpusDir()
                 << " (set HVQ_CORPUS_DIR)";
  }
  size_t sequence_checked = 0, set_checked = 0, subset_checked = 0;
  size_t prefix_checked = 0;
  size_t tables_checked = 0;
  for (const auto& cf : testdata::CorpusFiles()) {
    const std::string path = (testdata::CorpusDir() / cf.path).string();
    auto file = PageFile::Open(path);
    ASSERT_TRUE(file.ok()) << cf.path << ": " << file.status().ToString();
    IndexPageSource source = PageSourceFor(**file);
    const bool jet3 = (*file)->format().version == JetVersion::kJet3;

    MdbHandle* mdb = mdb_open(path.c_str(), MDB_NOFLAGS);
    ASSERT_NE(mdb, nullptr) << cf.path;
    ASSERT_NE(mdb_read_catalog(mdb, MDB_TABLE), nullptr) << cf.path;
    for (unsigned i = 0; i < mdb->num_catalog; ++i) {
      auto* entry =
          static_cast<MdbCatalogEntry*>(g_ptr_array_index(mdb->catalog, i));
      if (entry->object_type != MDB_TABLE) continue;
      auto tdef = ReadTableDef(**file, static_cast<uint32_t>(entry->table_pg));
      ASSERT_TRUE(tdef.ok()) << cf.path << " " << entry->object_name << ": "
                             << tdef.status().ToString();
      MdbTableDef* table = mdb_read_table(entry);
      ASSERT_NE(table, nullptr);
      mdb_read_columns(table);
      mdb_read_indices(table);

      // Live rows as libmdb's scan sees them.
      std::set<RowId> live;
      mdb_rewind_table(table);
      while (mdb_fetch_row(table)) {
        live.emplace(table->cur_phys_pg, table->cur_row - 1);
      }
      ++tables_checked;

      for (const RealIndexDef& index : tdef->real_indexes) {
        std::vector<RowId> ours = OurRows(source, index.first_page);
        std::vector<RowId> sorted = ours;
        std::sort(sorted.begin(), sorted.end());
        EXPECT_TRUE(std::adjacent_find(sorted.begin(), sorted.end()) ==
                    sorted.end())
            << cf.path << " " << entry->object_name
            << ": a row appears twice in index at " << index.first_page;
        std::set<RowId> ours_set;
        for (const RowId& r : sorted) {
          ours_set.insert(BytesLocation(**file, r));
        }
        if (index.ignore_nulls()) {
          EXPECT_TRUE(std::includes(live.begin(), live.end(), ours_set.begin(),
                                    ours_set.end()))
              << cf.path << " " << entry->object_name << " index root "
              << index.first_page;
          ++subset_checked;
        } else {
          EXPECT_EQ(ours_set, live) << cf.path << " " << entry->object_name
                                    << " index root " << index.first_page;
          ++set_checked;
        }
      }

      if (table->indices) {
        for (unsigned k = 0; k < table->indices->len; ++k) {
          auto* idx =
              static_cast<MdbIndex*>(g_ptr_array_index(table->indices, k));
          if (idx->index_type == 2 || idx->num_keys == 0 ||
              idx->first_pg == 0) {
            continue;  // foreign-key entries share another index's pages
          }
          // libmdb looks up the first key column by position; skip tables
          // where that would run past its column list.
          if (static_cast<unsigned>(idx->key_col_num[0]) > table->num_cols) {
            continue;
          }
          std::vector<RowId> theirs;
          MdbIndexChain* chain = g_new0(MdbIndexChain, 1);
          guint32 pg = 0;
          guint16 row = 0;
          while (theirs.size() < 1000000 &&
                 mdb_index_find_next(mdb, idx, chain, &pg, &row)) {
            theirs.emplace_back(pg, row);
          }
          g_free(chain);
          // Our entries with the leaf page each sits on.
          std::vector<RowId> ours_seq;
          std::vector<uint32_t> leaf_of;
          std::set<uint32_t> tails;  // pages named by tail pointers
          IndexWalkStats stats;
          ASSERT_TRUE(WalkIndex(
                          source, idx->first_pg,
                          [&](const IndexWalkEntry& e) {
                            ours_seq.emplace_back(e.entry->data_page,
                                                  e.entry->data_row);
                            leaf_of.push_back(e.leaf_page);
                            return Status::Ok();
                          },
                          nullptr, &stats)
                          .ok());
          for (uint32_t p : stats.pages) {
            std::vector<uint8_t> buf;
            ASSERT_TRUE(source.read(p, &buf).ok());
            auto page = ParseIndexPage((*file)->format(), buf, p);
            ASSERT_TRUE(page.ok());
            if (!page->leaf && page->tail_page) tails.insert(page->tail_page);
          }
          const std::string where =
              cf.path + " " + entry->object_name + " index " + idx->name;
          if (jet3) {
            EXPECT_EQ(ours_seq, theirs) << where;
            ++sequence_checked;
          } else {
            // libmdb follows the leaf chain after the tree with the Jet 3
            // next-pointer offset, so on Jet 4 it stops before leaves that
            // only a tail pointer names. Everything it yields must be our
            // sequence's start; the rest must sit on tail leaves.
            ASSERT_LE(theirs.size(), ours_seq.size()) << where;
            EXPECT_TRUE(
                std::equal(theirs.begin(), theirs.end(), ours_seq.begin()))
                << where;
            for (size_t k = theirs.size(); k < ours_seq.size(); ++k) {
              EXPECT_TRUE(tails.count(leaf_of[k]))
                  << where << ": entry " << k << " on leaf " << leaf_of[k];
            }
            if (theirs.size() == ours_seq.size()) {
              ++sequence_checked;
            } else {
              ++prefix_checked;
            }
          }
        }
      }
      mdb_free_tabledef(table);
    }
    mdb_close(mdb);
  }
  EXPECT_GT(tables_checked, 500u);
  EXPECT_GT(set_checked, 500u);
  EXPECT_GT(sequence_checked, 1000u);
  std::printf(
      "libmdb oracle: %zu tables; %zu indexes equal to the live row set, %zu "
      "ignore-nulls indexes within it; %zu index sequences equal, %zu Jet 4 "
      "sequences where libmdb stops before the tail leaves\n",
      tables_checked, set_checked, subset_checked, sequence_checked,
      prefix_checked);
}

}  // namespace
}  // namespace hvq::jet
