// Compaction into a fresh file: the copy holds the same objects and rows
// (as our reader and as mdbtools see them), is sound (indexes, row counts,
// no free pages, rows in key order), is no larger than the source, and a
// second compaction reproduces it byte for byte. Corpus files where
// present; generated files always.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "jet/compact.h"
#include "jet/data_page.h"
#include "jet/database.h"
#include "jet/database_builder.h"
#include "jet/generate.h"
#include "jet/index_check.h"
#include "jet/index_walk.h"
#include "jet/testdata/core_corpus.h"
#include "jet/usage_map.h"
#include "platform/testing/temp_dir.h"

namespace hvq::jet {
namespace {

using testing::CorpusDir;
using testing::CorpusFile;
using testing::CorpusFiles;
using testing::HaveCorpus;
using TempFolder = ::hvq::testing::TempDir;  // path() ends with '/'

std::string Slurp(const std::string& path) {
  return ::hvq::testing::ReadFile(path).value_or("");
}

Status CompactTo(const std::string& src, const std::string& dst,
                 const std::string& password, CompactStats* stats,
                 bool encrypt = false) {
  int fd = ::open(dst.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return Status::FromErrno("create " + dst, errno);
  CompactOptions options;
  options.source_path = src;
  options.password = password;
  options.encrypt = encrypt;
  Status st = CompactDatabase(options, fd, stats);
  ::close(fd);
  return st;
}

// Columns that hold catalog object Ids, which change when a table's
// definition moves.
bool HoldsObjectId(const std::string& table, const std::string& column) {
  static const std::pair<const char*, const char*> kColumns[] = {
      {"MSysObjects", "Id"},
      {"MSysObjects", "ParentId"},
      {"MSysACEs", "ObjectId"},
      {"MSysNavPaneObjectIDs", "Id"},
      {"MSysNavPaneGroupToObjects", "ObjectID"},
  };
  for (const auto& [t, c] : kColumns) {
    if (table == t && column == c) return true;
  }
  return false;
}

// What a file holds, as sorted text lines: every table's rows (object Ids
// replaced by the object's name, so that renumbered tables compare equal),
// every foreign key's related table by name, the password.
Result<std::vector<std::string>> Contents(const std::string& path,
                                          const std::string& password) {
  OpenOptions options;
  options.password = password;
  HVQ_ASSIGN_OR_RETURN(auto db, Database::Open(path, options));
  std::map<int64_t, std::string> names;
  for (const CatalogEntry& e : db->catalog()) names[e.id] = e.name;
  std::vector<std::string> out = {"password " + db->header().password};
  for (const TableInfo& t : db->Tables(/*include_system=*/true)) {
    HVQ_ASSIGN_OR_RETURN(TableDef def, db->ReadTableDef(t.tdef_page));
    out.push_back("table " + t.name);
    for (const LogicalIndexDef& li : def.logical_indexes) {
      if (!li.is_foreign()) continue;
      auto it = names.find(li.related_table_page);
      out.push_back("fk " + t.name + "." + li.name + " -> " +
                    (it == names.end() ? "?" : it->second));
    }
    std::vector<std::string> rows;
    Status st = db->ScanRows(
        def, [&](const RowLocation&, const std::vector<Value>& values) {
          std::string row = t.name;
          for (size_t i = 0; i < values.size(); ++i) {
            const Value& v = values[i];
            if (v.kind == Value::Kind::kInt && v.i > 0 &&
                HoldsObjectId(t.name, def.columns[i].name)) {
              // Ids of no object (left by deleted tables) must stay so.
              auto it = names.find(v.i);
              row += "|" + (it != names.end() ? "@" + it->second
                                              : std::string("@(none)"));
            } else {
              row += "|" + FormatValue(v);
            }
          }
          rows.push_back(row);
          return true;
        });
    std::sort(rows.begin(), rows.end());
    out.insert(out.end(), rows.begin(), rows.end());
    if (!st.ok()) out.push_back("undecodable: " + st.ToString());
  }
  return out;
}

// Soundness of a compacted file; returns what is wrong.
std::vector<std::string> CheckCompacted(const std::string& path,
                                        const std::string& password) {
  std::vector<std::string> wrong;
  OpenOptions options;
  options.password = password;
  auto opened = Database::Open(path, options);
  if (!opened.ok()) return {"open: " + opened.status().ToString()};
  Database& db = **opened;
  PageFile& pf = db.pages();
  const Format& f = pf.format();
  if (std::filesystem::file_size(path) !=
      uint64_t{pf.page_count()} * f.page_size) {
    wrong.push_back("file is not a whole number of pages");
  }
  auto global = ReadGlobalUsage(pf);
  if (!global.ok()) {
    wrong.push_back("global map: " + global.status().ToString());
  } else if (!global->free_pages.empty()) {
    wrong.push_back(std::to_string(global->free_pages.size()) +
                    " free pages, first " +
                    std::to_string(global->free_pages.front()));
  }
  std::vector<uint8_t> page(f.page_size);
  for (uint32_t p = 1; p < pf.page_count(); ++p) {
    if (!pf.ReadPage(p, page).ok()) {
      wrong.push_back("page " + std::to_string(p) + " unreadable");
      continue;
    }
    if (page[0] != static_cast<uint8_t>(PageType::kData)) continue;
    auto dp = ParseDataPage(f, p, page);
    if (!dp.ok()) {
      wrong.push_back(dp.status().ToString());
      continue;
    }
    for (const RowSlot& s : dp->rows) {
      if (s.deleted())
        wrong.push_back("deleted row on page " + std::to_string(p));
    }
  }
  for (const TableInfo& t : db.Tables(true)) {
    auto def = db.ReadTableDef(t.tdef_page);
    if (!def.ok()) {
      wrong.push_back(t.name + ": " + def.status().ToString());
      continue;
    }
    std::vector<RowPointer> scanned;
    Status st = db.ScanRawRows(*def, [&](const RowLocation& loc, Bytes) {
      scanned.push_back({loc.page, loc.row});
      return true;
    });
    if (!st.ok()) wrong.push_back(t.name + ": " + st.ToString());
    if (def->row_count != scanned.size()) {
      wrong.push_back(t.name + ": row count " + std::to_string(def->row_count) +
                      " for " + std::to_string(scanned.size()) + " rows");
    }
    std::vector<IndexProblem> problems;
    st = CheckTableIndexes(db, *def, &problems);
    if (!st.ok()) wrong.push_back(t.name + ": " + st.ToString());
    for (const IndexProblem& p : problems) {
      wrong.push_back(t.name + ": index: " + p.what);
    }
    // Rows lie in primary-key order.
    for (const LogicalIndexDef& li : def->logical_indexes) {
      if (!li.is_primary()) continue;
      std::vector<RowPointer> walked;
      st = WalkIndex(
          PageSourceFor(pf), def->real_indexes[li.real_index].first_page,
          [&](const IndexWalkEntry& w) {
            walked.push_back({w.entry->data_page, w.entry->data_row});
            return Status::Ok();
          });
      if (!st.ok() || walked != scanned) {
        wrong.push_back(t.name + ": rows not in primary-key order");
      }
    }
  }
  return wrong;
}

// The first line where two contents differ (for failure messages).
std::string FirstDifference(const std::vector<std::string>& a,
                            const std::vector<std::string>& b) {
  auto [ia, ib] = std::mismatch(a.begin(), a.end(), b.begin(), b.end());
  return "source: " + (ia == a.end() ? "(end)" : ia->substr(0, 200)) +
         "\ncopy:   " + (ib == b.end() ? "(end)" : ib->substr(0, 200));
}

std::string Join(const std::vector<std::string>& lines) {
  std::string out;
  for (size_t i = 0; i < lines.size() && i < 10; ++i) out += lines[i] + "\n";
  return out;
}

// Output of a command (stdout), or nullopt when it fails.
std::optional<std::string> RunCommand(const std::string& command) {
  FILE* p = ::popen(command.c_str(), "r");
  if (p == nullptr) return std::nullopt;
  std::string out;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  int rc = ::pclose(p);
  if (rc != 0) return std::nullopt;
  return out;
}

std::string Quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

std::vector<std::string> SortedLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) lines.push_back(line);
  std::sort(lines.begin(), lines.end());
  return lines;
}

bool HaveMdbTools() { return RunCommand("command -v mdb-export").has_value(); }

TEST(CompactDatabase, EveryCorpusFileCompactsFaithfully) {
  if (!HaveCorpus()) {
    GTEST_SKIP() << "corpus not found at " << CorpusDir()
                 << " (set HVQ_CORPUS_DIR)";
  }
  const bool mdbtools = HaveMdbTools();
  uint64_t source_bytes = 0, output_bytes = 0;
  int files = 0, mdb_compared = 0;
  CompactStats sum;
  std::vector<std::pair<int64_t, std::string>> reductions;
  for (const CorpusFile& cf : CorpusFiles()) {
    SCOPED_TRACE(cf.full_path);
    TempFolder tmp;
    const std::string out1 = tmp.path() + "one.mdb";
    const std::string out2 = tmp.path() + "two.mdb";
    CompactStats stats;
    Status st = CompactTo(cf.full_path, out1, cf.password, &stats);
    ASSERT_TRUE(st.ok()) << st.ToString();
    const auto src_size = std::filesystem::file_size(cf.full_path);
    const auto out_size = std::filesystem::file_size(out1);
    EXPECT_LE(out_size, src_size);
    source_bytes += src_size;
    output_bytes += out_size;
    reductions.emplace_back(static_cast<int64_t>(src_size - out_size),
                            cf.path + ": " + std::to_string(src_size) + " -> " +
                                std::to_string(out_size));
    sum.tables_renumbered += stats.tables_renumbered;
    sum.tables_in_key_order += stats.tables_in_key_order;
    sum.overflow_rows_resolved += stats.overflow_rows_resolved;
    sum.indexes_carried += stats.indexes_carried;
    sum.ids_rewritten += stats.ids_rewritten;
    sum.long_values_rewritten += stats.long_values_rewritten;

    auto before = Contents(cf.full_path, cf.password);
    auto after = Contents(out1, cf.password);
    ASSERT_TRUE(before.ok()) << before.status().ToString();
    ASSERT_TRUE(after.ok()) << after.status().ToString();
    // (Booleans: a failure must not print whole tables.)
    EXPECT_TRUE(*before == *after) << FirstDifference(*before, *after);
    const std::vector<std::string> wrong = CheckCompacted(out1, cf.password);
    EXPECT_TRUE(wrong.empty()) << Join(wrong);
    if (!cf.password.empty()) {
      OpenOptions bad;
      bad.password = cf.password + "x";
      EXPECT_EQ(Database::Open(out1, bad).status().code(),
                StatusCode::kPermissionDenied);
    }

    // A second compaction has nothing left to do.
    CompactStats again;
    st = CompactTo(out1, out2, cf.password, &again);
    ASSERT_TRUE(st.ok()) << st.ToString();
    EXPECT_TRUE(Slurp(out1) == Slurp(out2))
        << "a second compaction changed the file";
    EXPECT_EQ(again.row_counts_corrected, 0u);
    EXPECT_EQ(again.autonumber_seeds_reset, 0u);
    EXPECT_EQ(again.overflow_rows_resolved, 0u);
    EXPECT_EQ(again.tables_renumbered, 0u);
    EXPECT_EQ(again.ids_rewritten, 0u);

    // mdbtools sees the same user tables and rows.
    if (mdbtools && cf.password.empty()) {
      auto tables = RunCommand("mdb-tables -1 " + Quote(cf.full_path));
      if (tables.has_value()) {
        std::istringstream names(*tables);
        std::string name;
        while (std::getline(names, name)) {
          if (name.empty()) continue;
          auto a = RunCommand("mdb-export " + Quote(cf.full_path) + " " +
                              Quote(name));
          if (!a.has_value()) continue;
          auto b = RunCommand("mdb-export " + Quote(out1) + " " + Quote(name));
          ASSERT_TRUE(b.has_value()) << "mdb-export failed on " << name;
          // Rows now follow the primary key: compare them as multisets.
          EXPECT_TRUE(SortedLines(*a) == SortedLines(*b))
              << "mdb-export differs on table " << name;
          ++mdb_compared;
        }
      }
    }
    ++files;
  }
  EXPECT_GT(files, 100);
  // Most files keep free pages or tables defined above them: the corpus
  // loses more than half its bytes.
  EXPECT_LT(output_bytes * 2, source_bytes);
  EXPECT_GT(sum.tables_renumbered, 100u);
  EXPECT_GT(sum.ids_rewritten, 100u);
  EXPECT_GT(sum.tables_in_key_order, 100u);
  EXPECT_GT(sum.overflow_rows_resolved, 5u);
  EXPECT_GT(sum.long_values_rewritten, 100u);
  // Files in collations we do not encode carry their text keys.
  EXPECT_GT(sum.indexes_carried, 0u);
  if (mdbtools) {
    EXPECT_GT(mdb_compared, 100);
  }
  std::sort(reductions.rbegin(), reductions.rend());
  std::printf(
      "compacted %d files: %llu -> %llu bytes; %d tables compared "
      "with mdb-export; largest reductions:\n",
      files, static_cast<unsigned long long>(source_bytes),
      static_cast<unsigned long long>(output_bytes), mdb_compared);
  for (size_t i = 0; i < reductions.size() && i < 5; ++i) {
    std::printf("  %s\n", reductions[i].second.c_str());
  }
}

TEST(CompactDatabase, RefusesWhatItCannotCopy) {
  if (!HaveCorpus()) GTEST_SKIP() << "corpus not found at " << CorpusDir();
  TempFolder tmp;
  const std::string junk = tmp.path() + "junk.mdb";
  std::ofstream(junk) << std::string(8192, 'j');
  const std::string out = tmp.path() + "out.mdb";
  struct Case {
    const char* name;
    std::string source;
    std::string password;
    StatusCode code;
  };
  const std::string protected_file = CorpusDir() + "/ucanaccess/password.mdb";
  const Case cases[] = {
      {"missing", tmp.path() + "none.mdb", "", StatusCode::kNotFound},
      {"not a database", junk, "", StatusCode::kCorruption},
      {"wrong password", protected_file, "nope", StatusCode::kPermissionDenied},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Status st = CompactTo(c.source, out, c.password, nullptr);
    EXPECT_EQ(st.code(), c.code) << st.ToString();
    EXPECT_FALSE(st.message().empty());
  }
}

// Where in a real file a structure sits, found through the reader.
struct Landmarks {
  uint32_t page_size = 0;
  uint32_t user_data_page = 0;  // a data page of a user table with rows
  uint32_t index_root = 0;      // root page of an index of that table
  uint32_t user_tdef = 0;
};

Landmarks FindLandmarks(const std::string& path) {
  Landmarks l;
  auto db = Database::Open(path, {});
  if (!db.ok()) return l;
  l.page_size = (*db)->format().page_size;
  for (const TableInfo& t : (*db)->Tables(false)) {
    auto def = (*db)->ReadTableDef(t.tdef_page);
    if (!def.ok()) continue;
    (*db)->ScanRawRows(*def, [&](const RowLocation& loc, Bytes) {
      l.user_data_page = loc.page;
      return false;
    });
    if (l.user_data_page == 0) continue;
    l.user_tdef = t.tdef_page;
    for (const RealIndexDef& r : def->real_indexes) {
      if (r.first_page != 0) l.index_root = r.first_page;
    }
    if (l.index_root != 0) break;
  }
  return l;
}

// Damaged copies of a real file. Damage to rows, definitions or the catalog
// is refused with a clean error (never a crash, never a silent success
// that drops data); damage to an index whose keys can be regenerated is
// repaired: the copy holds every row and sound indexes.
TEST(CompactDatabase, RefusesDamagedDataAndRepairsDamagedIndexes) {
  if (!HaveCorpus()) GTEST_SKIP() << "corpus not found at " << CorpusDir();
  const std::string source = CorpusDir() + "/mdb-reader/V2003_no-password.mdb";
  const Landmarks l = FindLandmarks(source);
  ASSERT_NE(l.user_data_page, 0u);
  ASSERT_NE(l.index_root, 0u);
  const std::string original = Slurp(source);
  auto expected = Contents(source, "");
  ASSERT_TRUE(expected.ok());
  struct Case {
    const char* name;
    size_t offset;  // absolute file offset to overwrite
    std::string bytes;
    size_t truncate_to;  // non-zero: cut the file here instead
    bool repaired;
  };
  const Format& f = FormatFor(JetVersion::kJet4);
  const size_t data = size_t{l.user_data_page} * l.page_size;
  const size_t index = size_t{l.index_root} * l.page_size;
  const size_t tdef = size_t{l.user_tdef} * l.page_size;
  const Case cases[] = {
      {"truncated inside the tables", 0, "", data + 100, false},
      {"header version byte", kHeaderVersionOffset, "\x07", 0, false},
      {"catalog definition page type", size_t{kCatalogTdefPage} * l.page_size,
       "\x01", 0, false},
      {"row count of a data page", data + f.data_row_count_offset, "\xFF\x00",
       0, false},
      {"row offset past the page", data + f.data_row_table_offset, "\xFF\x1F",
       0, false},
      {"table definition chain past the file", tdef + f.tdef_next_page_offset,
       "\xFF\xFF\xFF\x00", 0, false},
      {"index root page type", index, "\x01", 0, true},
      {"index page pointer past the file", index + f.index_next_offset,
       "\xFF\xFF\xFF\x00", 0, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempFolder tmp;
    const std::string damaged = tmp.path() + "damaged.mdb";
    std::string bytes = original;
    if (c.truncate_to != 0) {
      bytes.resize(c.truncate_to);
    } else {
      bytes.replace(c.offset, c.bytes.size(), c.bytes);
    }
    std::ofstream(damaged, std::ios::binary) << bytes;
    const std::string out = tmp.path() + "out.mdb";
    Status st = CompactTo(damaged, out, "", nullptr);
    if (c.repaired) {
      ASSERT_TRUE(st.ok()) << st.ToString();
      auto got = Contents(out, "");
      ASSERT_TRUE(got.ok()) << got.status().ToString();
      EXPECT_TRUE(*got == *expected);
      const std::vector<std::string> wrong = CheckCompacted(out, "");
      EXPECT_TRUE(wrong.empty()) << Join(wrong);
    } else {
      EXPECT_FALSE(st.ok());
      EXPECT_TRUE(st.code() == StatusCode::kCorruption ||
                  st.code() == StatusCode::kNotSupported)
          << st.ToString();
    }
  }
}

// Bytes flipped anywhere in a real file: the compaction either refuses
// with a clean error or writes a sound copy (whatever the damage did to
// the values, the copy's structure is built afresh). Never a crash.
TEST(CompactDatabase, FlippedBytesGiveACleanErrorOrASoundCopy) {
  if (!HaveCorpus()) GTEST_SKIP() << "corpus not found at " << CorpusDir();
  const std::string source = CorpusDir() + "/mdb-reader/V2003_no-password.mdb";
  const std::string original = Slurp(source);
  const size_t page_size = 4096;
  ASSERT_EQ(original.size() % page_size, 0u);
  TempFolder tmp;
  const std::string damaged = tmp.path() + "damaged.mdb";
  const std::string out = tmp.path() + "out.mdb";
  uint64_t state = 0x9E3779B97F4A7C15ull;
  auto next = [&]() {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return state;
  };
  int copies = 0, refusals = 0;
  for (int i = 0; i < 300; ++i) {
    std::string bytes = original;
    // Past the header page (its damage is the reader's concern).
    const size_t at = page_size + next() % (bytes.size() - page_size);
    bytes[at] = static_cast<char>(bytes[at] ^ (1 + next() % 255));
    std::ofstream(damaged, std::ios::binary | std::ios::trunc) << bytes;
    Status st = CompactTo(damaged, out, "", nullptr);
    if (!st.ok()) {
      EXPECT_TRUE(st.code() == StatusCode::kCorruption ||
                  st.code() == StatusCode::kNotSupported)
          << "byte " << at << ": " << st.ToString();
      ++refusals;
      continue;
    }
    ++copies;
    const std::vector<std::string> wrong = CheckCompacted(out, "");
    EXPECT_TRUE(wrong.empty()) << "byte " << at << ":\n" << Join(wrong);
  }
  std::printf("300 flipped bytes: %d sound copies, %d clean refusals\n", copies,
              refusals);
  // Most bytes of a file are slack or values; some are structure.
  EXPECT_GT(copies, 0);
  EXPECT_GT(refusals, 0);
}

// Generated files with and without half their rows deleted: the copy of
// the half-deleted file is about half the copy of the full one, holds
// exactly the live rows, and is sound. Jet 4, Jet 3, encrypted.
TEST(CompactDatabase, FilesShrinkWithTheirDeletedRows) {
  struct Case {
    const char* name;
    JetVersion version;
    uint32_t key;
  };
  const Case cases[] = {{"Jet 4", JetVersion::kJet4, 0},
                        {"Jet 3", JetVersion::kJet3, 0},
                        {"Jet 4 encrypted", JetVersion::kJet4, 0x5eed1234}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempFolder tmp;
    GenerateOptions g;
    g.rows = 6000;
    g.indexes = 3;
    g.seed = 5;
    g.version = c.version;
    g.database_key = c.key;
    const std::string full = tmp.path() + "full.mdb";
    const std::string half = tmp.path() + "half.mdb";
    ASSERT_TRUE(Generate(full, g).ok());
    g.deleted = 0.5;
    auto summary = Generate(half, g);
    ASSERT_TRUE(summary.ok());
    ASSERT_GT(summary->rows_deleted, 2500u);

    CompactStats full_stats, half_stats;
    const std::string full_out = tmp.path() + "full-out.mdb";
    const std::string half_out = tmp.path() + "half-out.mdb";
    ASSERT_TRUE(CompactTo(full, full_out, "", &full_stats).ok());
    Status st = CompactTo(half, half_out, "", &half_stats);
    ASSERT_TRUE(st.ok()) << st.ToString();
    const double ratio =
        static_cast<double>(half_stats.output_pages) / full_stats.output_pages;
    std::printf("%s: all rows %u -> %u pages; half deleted %u -> %u pages\n",
                c.name, full_stats.source_pages, full_stats.output_pages,
                half_stats.source_pages, half_stats.output_pages);
    EXPECT_GT(ratio, 0.4);
    EXPECT_LT(ratio, 0.6);
    EXPECT_LT(half_stats.output_pages * 10, half_stats.source_pages * 6);
    EXPECT_EQ(half_stats.rows, summary->rows_inserted - summary->rows_deleted +
                                   (full_stats.rows - g.rows));

    auto before = Contents(half, "");
    auto after = Contents(half_out, "");
    ASSERT_TRUE(before.ok() && after.ok());
    EXPECT_TRUE(*before == *after) << "contents differ after compaction";
    const std::vector<std::string> wrong = CheckCompacted(half_out, "");
    EXPECT_TRUE(wrong.empty()) << Join(wrong);

    CompactStats again;
    ASSERT_TRUE(CompactTo(half_out, tmp.path() + "again.mdb", "", &again).ok());
    EXPECT_TRUE(Slurp(half_out) == Slurp(tmp.path() + "again.mdb"));
  }
}

// Rows inserted out of key order, a table dropped below the others: the
// copy lists rows in primary-key order, the tables above the dropped one
// move down with new Ids, and the catalog (Id-keyed indexes included)
// follows them.
TEST(CompactDatabase, RowsFollowTheKeyAndTablesMoveDown) {
  TempFolder tmp;
  const std::string source = tmp.path() + "src.mdb";
  {
    auto b = DatabaseBuilder::Create(source, {});
    ASSERT_TRUE(b.ok());
    TableSpec scratch{"Scratch", {{"N", ColumnType::kLong}}, {}};
    TableSpec keyed{"Keyed",
                    {{"K", ColumnType::kLong}, {"Label", ColumnType::kText}},
                    {{"PrimaryKey", {"K"}, true, true},
                     {"ByLabel", {"Label"}, false, false}}};
    TableSpec other{"Other", {{"V", ColumnType::kLong}}, {}};
    auto s = (*b)->AddTable(scratch);
    ASSERT_TRUE(s.ok());
    for (int i = 0; i < 3000; ++i) {
      const Value v[] = {Value::Int(i)};
      ASSERT_TRUE((*b)->InsertRow(*s, v).ok());
    }
    auto k = (*b)->AddTable(keyed);
    auto o = (*b)->AddTable(other);
    ASSERT_TRUE(k.ok() && o.ok());
    std::vector<RowId> ids;
    for (int i = 0; i < 1500; ++i) {
      const int key = (i * 7919) % 1500;  // a permutation of 0..1499
      const Value v[] = {Value::Int(key),
                         Value::Text("row " + std::to_string(i))};
      auto id = (*b)->InsertRow(*k, v);
      ASSERT_TRUE(id.ok());
      ids.push_back(*id);
      const Value w[] = {Value::Int(i)};
      ASSERT_TRUE((*b)->InsertRow(*o, w).ok());
    }
    for (size_t i = 0; i < ids.size(); i += 3) {
      ASSERT_TRUE((*b)->DeleteRow(*k, ids[i]).ok());
    }
    ASSERT_TRUE((*b)->DropTable(*s).ok());
    ASSERT_TRUE((*b)->Finish().ok());
  }
  const std::string out = tmp.path() + "out.mdb";
  CompactStats stats;
  Status st = CompactTo(source, out, "", &stats);
  ASSERT_TRUE(st.ok()) << st.ToString();
  EXPECT_GE(stats.tables_renumbered, 2u);
  EXPECT_GE(stats.ids_rewritten, 2u);
  EXPECT_EQ(stats.indexes_carried, 0u);
  auto before = Contents(source, "");
  auto after = Contents(out, "");
  ASSERT_TRUE(before.ok() && after.ok());
  EXPECT_TRUE(*before == *after) << "contents differ after compaction";
  const std::vector<std::string> wrong = CheckCompacted(out, "");
  EXPECT_TRUE(wrong.empty()) << Join(wrong);

  auto db = Database::Open(out, {});
  ASSERT_TRUE(db.ok());
  auto def = (*db)->ReadTableDef("Keyed");
  ASSERT_TRUE(def.ok());
  std::vector<int64_t> keys;
  ASSERT_TRUE(
      (*db)
          ->ScanRows(*def,
                     [&](const RowLocation&, const std::vector<Value>& v) {
                       keys.push_back(v[0].i);
                       return true;
                     })
          .ok());
  EXPECT_EQ(keys.size(), 1000u);
  EXPECT_TRUE(std::is_sorted(keys.begin(), keys.end()));
  // Every catalog Id of a table is its definition page, below the file end.
  for (const TableInfo& t : (*db)->Tables(true)) {
    EXPECT_LT(t.tdef_page, (*db)->pages().page_count()) << t.name;
  }
}

// ENCRYPT on an unencrypted source gives an encrypted copy with the same
// rows; the copy's copy keeps the key.
TEST(CompactDatabase, EncryptsOnRequest) {
  TempFolder tmp;
  GenerateOptions g;
  g.rows = 500;
  g.indexes = 2;
  g.deleted = 0.2;
  const std::string source = tmp.path() + "plain.mdb";
  ASSERT_TRUE(Generate(source, g).ok());
  const std::string out = tmp.path() + "enc.mdb";
  ASSERT_TRUE(CompactTo(source, out, "", nullptr, /*encrypt=*/true).ok());
  auto db = Database::Open(out, {});
  ASSERT_TRUE(db.ok());
  const uint32_t key = (*db)->header().database_key;
  EXPECT_NE(key, 0u);
  // The catalog's definition page is not stored in the clear.
  const std::string raw = Slurp(out);
  const uint32_t ps = (*db)->format().page_size;
  std::vector<uint8_t> plain(ps);
  ASSERT_TRUE((*db)->pages().ReadPage(kCatalogTdefPage, plain).ok());
  EXPECT_NE(raw.substr(size_t{kCatalogTdefPage} * ps, ps),
            std::string(plain.begin(), plain.end()));
  auto before = Contents(source, "");
  auto after = Contents(out, "");
  ASSERT_TRUE(before.ok() && after.ok());
  EXPECT_TRUE(*before == *after);
  EXPECT_TRUE(CheckCompacted(out, "").empty());

  const std::string again = tmp.path() + "again.mdb";
  ASSERT_TRUE(CompactTo(out, again, "", nullptr).ok());
  auto db2 = Database::Open(again, {});
  ASSERT_TRUE(db2.ok());
  EXPECT_EQ((*db2)->header().database_key, key);
  EXPECT_TRUE(Slurp(out) == Slurp(again));
}

}  // namespace
}  // namespace hvq::jet
