// Compaction of every corpus file: the copy opens, holds the same rows in
// every table (as our reader and as mdbtools see them), is no larger than
// the source, and a second compaction reproduces it byte for byte.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "jet/compact.h"
#include "jet/compactor_pages.h"
#include "jet/data_page.h"
#include "jet/database.h"
#include "jet/generate.h"
#include "jet/index_walk.h"
#include "jet/usage_map.h"

namespace hvq::jet {
namespace {

std::filesystem::path CorpusDir() {
  const char* env = std::getenv("HVQ_CORPUS_DIR");
  return (env != nullptr && *env != '\0') ? env : HVQ_DEFAULT_CORPUS_DIR;
}

struct CorpusFile {
  std::string path;
  std::string password;
};

std::vector<CorpusFile> CorpusFiles() {
  std::vector<CorpusFile> out;
  std::ifstream in(CorpusDir() / "MANIFEST.tsv");
  std::string line;
  std::getline(in, line);  // column names
  while (std::getline(in, line)) {
    CorpusFile f;
    f.path = (CorpusDir() / line.substr(0, line.find('\t'))).string();
    const std::string marker = "database password set ('";
    auto at = line.find(marker);
    if (at != std::string::npos) {
      at += marker.size();
      f.password = line.substr(at, line.find('\'', at) - at);
    }
    out.push_back(f);
  }
  return out;
}

class TempFolder {
 public:
  TempFolder() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "hvq-compact-XXXXXX")
            .string();
    path_ = ::mkdtemp(pattern.data()) != nullptr ? pattern : "";
  }
  ~TempFolder() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

std::string Slurp(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), {});
}

Status CompactTo(const std::string& src, const std::string& dst,
                 const std::string& password, CompactStats* stats) {
  int fd = ::open(dst.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return Status::FromErrno("create " + dst, errno);
  CompactOptions options;
  options.source_path = src;
  options.password = password;
  Status st = CompactDatabase(options, fd, stats);
  ::close(fd);
  return st;
}

// Every table's rows, decoded, in scan order.
Result<std::vector<std::string>> AllRows(const std::string& path,
                                         const std::string& password) {
  OpenOptions options;
  options.password = password;
  HVQ_ASSIGN_OR_RETURN(auto db, Database::Open(path, options));
  std::vector<std::string> out;
  for (const TableInfo& t : db->Tables(/*include_system=*/true)) {
    HVQ_ASSIGN_OR_RETURN(TableDef def, db->ReadTableDef(t.tdef_page));
    out.push_back("table " + t.name);
    std::vector<std::string> rows;
    Status st = db->ScanRows(
        def, [&](const RowLocation&, const std::vector<Value>& values) {
          std::string row;
          for (const Value& v : values) row += "|" + FormatValue(v);
          rows.push_back(row);
          return true;
        });
    // Rows are compared as sets: pages that move change the scan order.
    std::sort(rows.begin(), rows.end());
    out.insert(out.end(), rows.begin(), rows.end());
    // Tables whose values we cannot decode are compared by mdbtools only.
    if (!st.ok()) out.push_back("undecodable: " + st.ToString());
  }
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
  if (!std::filesystem::exists(CorpusDir() / "MANIFEST.tsv")) {
    GTEST_SKIP() << "corpus not found at " << CorpusDir()
                 << " (set HVQ_CORPUS_DIR)";
  }
  const bool mdbtools = HaveMdbTools();
  uint64_t source_bytes = 0, output_bytes = 0;
  int files = 0, mdb_compared = 0;
  uint32_t overflow_resolved = 0;
  uint32_t data_pages_moved = 0;
  uint32_t long_values_rewritten = 0, orphan_pages_freed = 0;
  for (const CorpusFile& cf : CorpusFiles()) {
    SCOPED_TRACE(cf.path);
    TempFolder tmp;
    const std::string out1 = tmp.path() + "/one.mdb";
    const std::string out2 = tmp.path() + "/two.mdb";
    CompactStats stats;
    Status st = CompactTo(cf.path, out1, cf.password, &stats);
    ASSERT_TRUE(st.ok()) << st.ToString();
    const auto src_size = std::filesystem::file_size(cf.path);
    const auto out_size = std::filesystem::file_size(out1);
    EXPECT_LE(out_size, src_size);
    overflow_resolved += stats.overflow_rows_resolved;
    EXPECT_EQ(out_size %
                  (stats.output_pages == 0 ? 1 : out_size / stats.output_pages),
              0u);
    source_bytes += src_size;
    output_bytes += out_size;

    auto before = AllRows(cf.path, cf.password);
    auto after = AllRows(out1, cf.password);
    ASSERT_TRUE(before.ok()) << before.status().ToString();
    ASSERT_TRUE(after.ok()) << after.status().ToString();
    // (Booleans: a failure must not print whole tables.)
    EXPECT_TRUE(*before == *after) << "rows differ after compaction";

    // No deleted row keeps bytes; no page the global map calls free holds
    // anything.
    OpenOptions open;
    open.password = cf.password;
    auto db = Database::Open(out1, open);
    ASSERT_TRUE(db.ok());
    PageFile& pf = (*db)->pages();
    const Format& f = pf.format();
    auto global = ReadGlobalUsage(pf);
    ASSERT_TRUE(global.ok()) << global.status().ToString();
    std::vector<uint8_t> page(f.page_size);
    uint32_t emptied_seen = 0;
    for (uint32_t p = 1; p < pf.page_count(); ++p) {
      ASSERT_TRUE(pf.ReadPage(p, page).ok());
      if (std::all_of(page.begin(), page.end(),
                      [](uint8_t b) { return b == 0; })) {
        ++emptied_seen;
        continue;
      }
      if (page[0] != 0x01) continue;
      auto dp = ParseDataPage(f, p, page);
      if (!dp.ok()) continue;
      for (const RowSlot& s : dp->rows) {
        if (s.deleted()) {
          EXPECT_EQ(s.start, s.end) << "page " << p;
        }
      }
    }
    EXPECT_GE(emptied_seen, stats.pages_emptied);
    for (uint32_t p : global->free_pages) {
      ASSERT_TRUE(pf.ReadPage(p, page).ok());
      EXPECT_TRUE(std::all_of(page.begin(), page.end(),
                              [](uint8_t b) { return b == 0; }))
          << "free page " << p << " holds data";
    }
    // Long-value usage maps name LVAL pages only (they were rewritten to
    // the fresh pages).
    for (const TableInfo& t : (*db)->Tables(true)) {
      auto def = (*db)->ReadTableDef(t.tdef_page);
      ASSERT_TRUE(def.ok()) << def.status().ToString();
      for (const VarColumnUsage& u : def->var_column_usage) {
        if (u.used_pages.page == 0) continue;
        auto pages = ReadUsageMap(pf, u.used_pages);
        ASSERT_TRUE(pages.ok()) << pages.status().ToString();
        for (uint32_t lp : *pages) {
          ASSERT_TRUE(pf.ReadPage(lp, page).ok());
          auto dp = ParseDataPage(f, lp, page);
          EXPECT_TRUE(dp.ok() && dp->long_value)
              << t.name << ": long-value map names page " << lp;
        }
      }
    }
    long_values_rewritten += stats.long_values_rewritten;
    orphan_pages_freed += stats.orphan_pages_freed;

    // A second compaction has nothing left to do.
    CompactStats again;
    st = CompactTo(out1, out2, cf.password, &again);
    ASSERT_TRUE(st.ok()) << st.ToString();
    EXPECT_TRUE(Slurp(out1) == Slurp(out2))
        << "a second compaction changed the file";
    EXPECT_EQ(again.row_counts_corrected, 0u);
    EXPECT_EQ(again.autonumber_seeds_reset, 0u);
    EXPECT_EQ(again.bytes_reclaimed, 0u);
    EXPECT_EQ(again.overflow_rows_resolved, 0u);
    EXPECT_EQ(again.data_pages_moved, 0u);
    EXPECT_EQ(again.long_values_rewritten, 0u);
    EXPECT_EQ(again.orphan_pages_freed, 0u);
    data_pages_moved += stats.data_pages_moved;

    // mdbtools sees the same user tables and rows.
    if (mdbtools && cf.password.empty()) {
      auto tables = RunCommand("mdb-tables -1 " + Quote(cf.path));
      if (tables.has_value()) {
        std::istringstream names(*tables);
        std::string name;
        while (std::getline(names, name)) {
          if (name.empty()) continue;
          auto a =
              RunCommand("mdb-export " + Quote(cf.path) + " " + Quote(name));
          if (!a.has_value()) continue;
          auto b = RunCommand("mdb-export " + Quote(out1) + " " + Quote(name));
          ASSERT_TRUE(b.has_value()) << "mdb-export failed on " << name;
          // mdbtools lists rows in storage order, which changes where an
          // overflow row moved home: compare the lines as multisets.
          EXPECT_TRUE(SortedLines(*a) == SortedLines(*b))
              << "mdb-export differs on table " << name;
          ++mdb_compared;
        }
      }
    }
    ++files;
  }
  EXPECT_GT(files, 100);
  // MANIFEST lists overflow rows in several files; several files have data
  // pages above free ones.
  EXPECT_GT(overflow_resolved, 5u);
  EXPECT_GT(data_pages_moved, 10u);
  // Several files hold dead long values and pages nothing reaches.
  EXPECT_GT(long_values_rewritten, 0u);
  EXPECT_GT(orphan_pages_freed, 100u);
  if (mdbtools) {
    EXPECT_GT(mdb_compared, 100);
  }
  std::printf(
      "compacted %d files: %llu -> %llu bytes; %u overflow rows brought "
      "home; %u data pages moved down; %d tables compared with mdb-export\n",
      files, static_cast<unsigned long long>(source_bytes),
      static_cast<unsigned long long>(output_bytes), overflow_resolved,
      data_pages_moved, mdb_compared);
}

TEST(CompactDatabase, RefusesWhatItCannotCopy) {
  if (!std::filesystem::exists(CorpusDir() / "MANIFEST.tsv")) {
    GTEST_SKIP() << "corpus not found at " << CorpusDir();
  }
  TempFolder tmp;
  const std::string junk = tmp.path() + "/junk.mdb";
  std::ofstream(junk) << std::string(8192, 'j');
  const std::string out = tmp.path() + "/out.mdb";
  struct Case {
    const char* name;
    std::string source;
    std::string password;
    bool encrypt;
    StatusCode code;
  };
  const std::string protected_file =
      (CorpusDir() / "ucanaccess/password.mdb").string();
  const std::string plain =
      (CorpusDir() / "mdb-reader/V2003_no-password.mdb").string();
  const Case cases[] = {
      {"missing", tmp.path() + "/none.mdb", "", false, StatusCode::kNotFound},
      {"not a database", junk, "", false, StatusCode::kCorruption},
      {"wrong password", protected_file, "nope", false,
       StatusCode::kPermissionDenied},
      {"encrypt a plain file", plain, "", true, StatusCode::kNotSupported},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    int fd = ::open(out.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0);
    CompactOptions options;
    options.source_path = c.source;
    options.password = c.password;
    options.encrypt = c.encrypt;
    Status st = CompactDatabase(options, fd);
    ::close(fd);
    EXPECT_EQ(st.code(), c.code) << st.ToString();
    EXPECT_FALSE(st.message().empty());
  }
}

}  // namespace
}  // namespace hvq::jet

namespace hvq::jet {
namespace {

// Where in a real file a structure sits, found through the reader.
struct Landmarks {
  uint32_t page_size = 0;
  uint32_t user_data_page = 0;  // a data page of a user table with rows
  uint32_t index_root = 0;      // root page of some index
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

// Damaged copies of a real file: each is refused with a clean error (never
// a crash, never a silent success that drops data).
TEST(CompactDatabase, RefusesDamagedSources) {
  if (!std::filesystem::exists(CorpusDir() / "MANIFEST.tsv")) {
    GTEST_SKIP() << "corpus not found at " << CorpusDir();
  }
  const std::string source =
      (CorpusDir() / "mdb-reader/V2003_no-password.mdb").string();
  const Landmarks l = FindLandmarks(source);
  ASSERT_NE(l.user_data_page, 0u);
  ASSERT_NE(l.index_root, 0u);
  const std::string original = Slurp(source);
  struct Case {
    const char* name;
    size_t offset;  // absolute file offset to overwrite
    std::string bytes;
    size_t truncate_to = 0;  // non-zero: cut the file here instead
  };
  const Format& f = FormatFor(JetVersion::kJet4);
  const size_t data = size_t{l.user_data_page} * l.page_size;
  const size_t index = size_t{l.index_root} * l.page_size;
  const size_t tdef = size_t{l.user_tdef} * l.page_size;
  const Case cases[] = {
      {"truncated inside the tables", 0, "", data + 100},
      {"header version byte", kHeaderVersionOffset, "\x07"},
      {"catalog definition page type", size_t{kCatalogTdefPage} * l.page_size,
       "\x01"},
      {"row count of a data page", data + f.data_row_count_offset, "\xFF\x00"},
      {"row offset past the page", data + f.data_row_table_offset, "\xFF\x1F"},
      {"index root page type", index, "\x01"},
      {"index page pointer past the file", index + f.index_next_offset,
       "\xFF\xFF\xFF\x00"},
      {"table definition chain past the file", tdef + f.tdef_next_page_offset,
       "\xFF\xFF\xFF\x00"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempFolder tmp;
    const std::string damaged = tmp.path() + "/damaged.mdb";
    std::string bytes = original;
    if (c.truncate_to != 0) {
      bytes.resize(c.truncate_to);
    } else {
      bytes.replace(c.offset, c.bytes.size(), c.bytes);
    }
    std::ofstream(damaged, std::ios::binary) << bytes;
    Status st = CompactTo(damaged, tmp.path() + "/out.mdb", "", nullptr);
    EXPECT_FALSE(st.ok());
    EXPECT_TRUE(st.code() == StatusCode::kCorruption ||
                st.code() == StatusCode::kNotSupported)
        << st.ToString();
  }
}

}  // namespace
}  // namespace hvq::jet

namespace hvq::jet {
namespace {

// A generated file with many deleted rows: its sparse index trees are
// rebuilt into fewer pages, the pages left over become free (zero bytes,
// marked free in the global usage map), and the rows stay the same. Jet 3
// and Jet 4, plain and encrypted.
TEST(CompactDatabase, RebuildsSparseIndexesAndFreesTheirPages) {
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
    const std::string source = tmp.path() + "/gen.mdb";
    GenerateOptions g;
    g.rows = 8000;
    g.indexes = 2;
    g.deleted = 0.7;
    g.seed = 5;
    g.version = c.version;
    g.database_key = c.key;
    ASSERT_TRUE(Generate(source, g).ok());
    CompactStats stats;
    const std::string out = tmp.path() + "/out.mdb";
    Status st = CompactTo(source, out, "", &stats);
    ASSERT_TRUE(st.ok()) << st.ToString();
    EXPECT_GT(stats.indexes_rebuilt, 0u);
    EXPECT_GT(stats.index_pages_freed, 0u);
    // The deleted rows' memo values leave LVAL pages nothing reaches.
    EXPECT_GT(stats.orphan_pages_freed, 0u);
    auto before = AllRows(source, "");
    auto after = AllRows(out, "");
    ASSERT_TRUE(before.ok() && after.ok());
    EXPECT_TRUE(*before == *after) << "rows differ after compaction";

    auto db = Database::Open(out, {});
    ASSERT_TRUE(db.ok());
    auto global = ReadGlobalUsage((*db)->pages());
    ASSERT_TRUE(global.ok());
    std::vector<uint8_t> page((*db)->format().page_size);
    for (uint32_t p : global->free_pages) {
      ASSERT_TRUE((*db)->pages().ReadPage(p, page).ok());
      EXPECT_TRUE(std::all_of(page.begin(), page.end(),
                              [](uint8_t b) { return b == 0; }))
          << "free page " << p << " holds data";
    }
    // Every index names exactly the rows the table holds.
    for (const TableInfo& t : (*db)->Tables(false)) {
      auto def = (*db)->ReadTableDef(t.tdef_page);
      ASSERT_TRUE(def.ok());
      uint64_t rows = 0;
      ASSERT_TRUE((*db)
                      ->ScanRawRows(*def,
                                    [&](const RowLocation&, Bytes) {
                                      ++rows;
                                      return true;
                                    })
                      .ok());
      for (const RealIndexDef& r : def->real_indexes) {
        auto entries =
            ReadIndexEntries(PageSourceFor((*db)->pages()), r.first_page);
        ASSERT_TRUE(entries.ok()) << entries.status().ToString();
        EXPECT_EQ(entries->size(), rows) << t.name;
      }
    }
    CompactStats again;
    ASSERT_TRUE(CompactTo(out, tmp.path() + "/again.mdb", "", &again).ok());
    EXPECT_EQ(again.index_pages_freed, 0u);
    EXPECT_EQ(again.orphan_pages_freed, 0u);
    EXPECT_TRUE(Slurp(out) == Slurp(tmp.path() + "/again.mdb"));
  }
}

}  // namespace
}  // namespace hvq::jet
