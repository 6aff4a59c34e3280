// The setup library through the real installer: unixODBC's
// SQLConfigDataSource finds the library in an odbcinst.ini written for the
// test, loads it and calls its ConfigDSN. unixODBC reads ODBCSYSINI once per
// process, so every call runs in a child process of its own.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <odbcinst.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "jet/database.h"
#include "platform/testing/temp_dir.h"

namespace {

using hvq::testing::ReadFile;
using hvq::testing::TempDir;
using hvq::testing::WriteFile;
using namespace std::string_literals;

constexpr char kDriverName[] = "Microsoft Access Driver (*.mdb)";
constexpr char kToolPassword[] = "pinrok36248153xuvqz";

std::string CorpusDir() {
  const char* env = std::getenv("HVQ_CORPUS_DIR");
  return env != nullptr ? env : HVQ_DEFAULT_CORPUS_DIR;
}

struct CallResult {
  int returned = -1;    // the installer's BOOL
  std::string message;  // first installer error, if any
};

// Calls SQLConfigDataSource in a child whose ODBCSYSINI is `ini_dir`. A
// non-zero `file_size_limit` makes the child's writes past that size fail
// as on a full disk.
CallResult CallInstaller(const std::string& ini_dir,
                         const std::string& attributes,
                         rlim_t file_size_limit = 0) {
  int pipe_fds[2];
  if (::pipe(pipe_fds) != 0) return {};
  pid_t pid = ::fork();
  if (pid == 0) {
    ::close(pipe_fds[0]);
    ::setenv("ODBCSYSINI", ini_dir.c_str(), 1);
    ::unsetenv("ODBCINSTINI");
    if (file_size_limit != 0) {
      ::signal(SIGXFSZ, SIG_IGN);
      struct rlimit lim = {file_size_limit, file_size_limit};
      ::setrlimit(RLIMIT_FSIZE, &lim);
    }
    BOOL ok = SQLConfigDataSource(nullptr, ODBC_ADD_DSN, kDriverName,
                                  attributes.data());
    char msg[1024] = {};
    DWORD code = 0;
    WORD len = 0;
    std::string out(1, ok ? '1' : '0');
    if (SQLInstallerError(1, &code, msg, sizeof msg - 1, &len) == SQL_SUCCESS) {
      out += msg;
    }
    ssize_t unused = ::write(pipe_fds[1], out.data(), out.size());
    (void)unused;
    ::_exit(0);
  }
  ::close(pipe_fds[1]);
  std::string got;
  char buf[512];
  ssize_t n;
  while ((n = ::read(pipe_fds[0], buf, sizeof buf)) > 0) got.append(buf, n);
  ::close(pipe_fds[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  CallResult r;
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0 && !got.empty()) {
    r.returned = got[0] - '0';
    r.message = got.substr(1);
  }
  return r;
}

std::vector<std::string> Listing(const std::string& dir) {
  std::vector<std::string> out;
  for (const auto& e : std::filesystem::directory_iterator(dir)) {
    out.push_back(e.path().filename().string());
  }
  std::sort(out.begin(), out.end());
  return out;
}

// The tool's attribute text for a program folder ending in '/'.
std::string ToolAttributes(const std::string& folder,
                           const std::string& password = kToolPassword) {
  return "COMPACT_DB=" + folder + "data.mdb " + folder +
         "data_repair.mdb General;PWD=" + password +
         ";DataDirectory=" + folder + ";MaxScanRows=20\0\0"s;
}

class ConfigDsnTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteFile(ini_.path() + "odbcinst.ini",
              "[Microsoft Access Driver (*.mdb)]\n"
              "Description=Access databases\n"
              "Driver=" HVQ_ACCESS_SETUP_LIBRARY
              "\n"
              "Setup=" HVQ_ACCESS_SETUP_LIBRARY "\n");
  }
  TempDir ini_;
};

TEST_F(ConfigDsnTest, RefusalsLeaveNoDestinationAndTheSourceUnchanged) {
  const std::string corpus = CorpusDir();
  if (!std::filesystem::exists(corpus + "/MANIFEST.tsv")) {
    GTEST_SKIP() << "corpus not found at " << corpus << " (set HVQ_CORPUS_DIR)";
  }
  struct Case {
    const char* name;
    std::string source;  // corpus file copied to data.mdb; "" = none
    std::string text;    // raw content for data.mdb when source is ""
    std::string password = kToolPassword;
    // Setup of the folder before the call; returns a descriptor to keep
    // open during the call (or -1).
    int (*prepare)(const std::string& folder) = nullptr;
    std::string want;  // text the installer's message must hold
    rlim_t file_size_limit = 0;
  };
  auto lock_db = [](const std::string& f) {
    int fd = ::open((f + "data.mdb").c_str(), O_RDONLY | O_CLOEXEC);
    ::flock(fd, LOCK_EX);
    return fd;
  };
  auto lock_ldb = [](const std::string& f) {
    int fd =
        ::open((f + "data.ldb").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    struct flock fl = {};
    fl.l_type = F_WRLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = 0x10000000;
    fl.l_len = 1;
    ::fcntl(fd, F_OFD_SETLK, &fl);
    return fd;
  };
  auto existing_dst = [](const std::string& f) {
    WriteFile(f + "data_repair.mdb", "someone else's file");
    return -1;
  };
  auto read_only = [](const std::string& f) {
    ::chmod(f.c_str(), 0555);
    return -1;
  };
  const std::string jet4 = corpus + "/mdb-reader/V2003_no-password.mdb";
  const std::string jet3 = corpus + "/jackcess/testV1997.mdb";
  std::vector<Case> cases = {
      {"source missing", "", "", kToolPassword, nullptr, "does not exist"},
      {"not a database", "", std::string(4096, 'x'), kToolPassword, nullptr,
       "not a database"},
      {"empty file", "", "", kToolPassword,
       [](const std::string& f) {
         WriteFile(f + "data.mdb", "");
         return -1;
       },
       ""},
      {"destination exists", jet4, "", kToolPassword, existing_dst,
       "already exists"},
      {"locked by another program", jet4, "", kToolPassword, lock_db, "in use"},
      {"lock file held", jet3, "", kToolPassword, lock_ldb, "in use"},
      {"wrong password", corpus + "/ucanaccess/password.mdb", "", "wrong",
       nullptr, "wrong password"},
      {"write fails", jet4, "", kToolPassword, nullptr, "File too large", 8192},
  };
  if (::geteuid() != 0) {  // root writes into read-only folders
    cases.push_back({"read-only folder", jet4, "", kToolPassword, read_only});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir work;
    // A folder name with blanks and Big5 bytes whose trail byte is '\'.
    const std::string folder = work.MakeSubdir("HVQ \xa5\x5c\xaf\xe0 x");
    if (!c.source.empty()) {
      std::filesystem::copy_file(c.source, folder + "data.mdb");
    } else if (!c.text.empty()) {
      WriteFile(folder + "data.mdb", c.text);
    }
    int held = c.prepare != nullptr ? c.prepare(folder) : -1;
    const auto before = ReadFile(folder + "data.mdb");
    const auto dst_before = ReadFile(folder + "data_repair.mdb");
    const auto listing_before = Listing(folder);

    CallResult r = CallInstaller(
        ini_.path(), ToolAttributes(folder, c.password), c.file_size_limit);

    if (held >= 0) ::close(held);
    ::chmod(folder.c_str(), 0755);
    EXPECT_EQ(r.returned, 0);
    EXPECT_FALSE(r.message.empty());
    EXPECT_NE(r.message.find(c.want), std::string::npos) << r.message;
    // (Compared as booleans: a failure must not print whole databases.)
    EXPECT_TRUE(ReadFile(folder + "data.mdb") == before)
        << "the source changed";
    EXPECT_TRUE(ReadFile(folder + "data_repair.mdb") == dst_before)
        << "the destination was created or changed";
    EXPECT_EQ(Listing(folder), listing_before);
  }
}

// Every user table's rows as our reader decodes them, and the row count of
// every system table (whose object Ids change when tables move; the
// compactor's own tests follow them).
std::vector<std::string> Rows(const std::string& path,
                              const std::string& password) {
  hvq::jet::OpenOptions options;
  options.password = password;
  auto db = hvq::jet::Database::Open(path, options);
  if (!db.ok()) return {"cannot open: " + db.status().ToString()};
  std::vector<std::string> out;
  for (const auto& t : (*db)->Tables(/*include_system=*/true)) {
    auto def = (*db)->ReadTableDef(t.tdef_page);
    if (!def.ok()) return {"bad table " + t.name};
    out.push_back(t.name);
    if (t.system) {
      uint64_t count = 0;
      hvq::Status st = (*db)->ScanRawRows(
          *def, [&](const hvq::jet::RowLocation&, hvq::jet::Bytes) {
            ++count;
            return true;
          });
      out.push_back(st.ok() ? "rows " + std::to_string(count)
                            : "scan failed: " + st.ToString());
      continue;
    }
    std::vector<std::string> rows;
    hvq::Status st =
        (*db)->ScanRows(*def, [&](const hvq::jet::RowLocation&,
                                  const std::vector<hvq::jet::Value>& values) {
          std::string row;
          for (const auto& v : values) row += hvq::jet::FormatValue(v) + "|";
          rows.push_back(row);
          return true;
        });
    if (!st.ok()) out.push_back("scan failed: " + st.ToString());
    // Compared as sets: the copy stores rows in primary-key order.
    std::sort(rows.begin(), rows.end());
    out.insert(out.end(), rows.begin(), rows.end());
  }
  return out;
}

TEST_F(ConfigDsnTest, CompactsThroughTheInstaller) {
  const std::string corpus = CorpusDir();
  if (!std::filesystem::exists(corpus + "/MANIFEST.tsv")) {
    GTEST_SKIP() << "corpus not found at " << corpus << " (set HVQ_CORPUS_DIR)";
  }
  struct Case {
    const char* name;
    std::string source;
    std::string password;    // the database's; "" = none set
    bool repair = false;     // REPAIR_DB instead of the tool's COMPACT_DB
    bool stale_ldb = false;  // an unlocked lock file lies beside
  };
  const std::vector<Case> cases = {
      {"tool request, Jet 4", corpus + "/activemdb/multi_line.mdb", ""},
      {"tool request, Jet 3, stale lock file",
       corpus + "/jackcess/testV1997.mdb", "", false, true},
      {"password-protected", corpus + "/ucanaccess/password.mdb", "ucanaccess"},
      {"RC4-encrypted Jet 3", corpus + "/jackcessencrypt/db97-enc.mdb", ""},
      {"repair in place", corpus + "/mdb-reader/V2003_no-password.mdb", "",
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir work;
    const std::string folder = work.MakeSubdir("HVQ \xa5\x5c\xaf\xe0 x");
    std::filesystem::copy_file(c.source, folder + "data.mdb");
    if (c.stale_ldb) WriteFile(folder + "data.ldb", "left over");
    const auto before = ReadFile(folder + "data.mdb");
    const std::vector<std::string> rows_before =
        Rows(folder + "data.mdb", c.password);
    const std::string password =
        c.password.empty() ? std::string(kToolPassword) : c.password;

    const std::string text =
        c.repair ? "REPAIR_DB=" + folder + "data.mdb;PWD=" + password + "\0\0"s
                 : ToolAttributes(folder, password);
    CallResult r = CallInstaller(ini_.path(), text);
    EXPECT_EQ(r.returned, 1) << r.message;

    const std::string result =
        folder + (c.repair ? "data.mdb" : "data_repair.mdb");
    std::vector<std::string> want_listing = {"data.mdb"};
    if (!c.repair) want_listing.push_back("data_repair.mdb");
    if (c.stale_ldb) want_listing.insert(want_listing.begin(), "data.ldb");
    EXPECT_EQ(Listing(folder), want_listing);
    if (!c.repair) {
      EXPECT_TRUE(ReadFile(folder + "data.mdb") == before)
          << "the source changed";
    }
    EXPECT_LE(std::filesystem::file_size(result), before->size());
    EXPECT_TRUE(Rows(result, c.password) == rows_before)
        << "rows differ after compaction";
    EXPECT_GT(rows_before.size(), 4u);
  }
}

TEST_F(ConfigDsnTest, RefusesOtherRequests) {
  TempDir work;
  WriteFile(work.path() + "a.mdb", "x");
  const std::string requests[] = {
      "CREATE_DB=" + work.path() + "new.mdb General\0\0"s,
      "DSN=mine\0DBQ=" + work.path() + "a.mdb\0\0"s,
      "COMPACT_DB=" + work.path() + "a.mdb\0\0"s,
  };
  for (const std::string& text : requests) {
    SCOPED_TRACE(text.c_str());
    CallResult r = CallInstaller(ini_.path(), text);
    EXPECT_EQ(r.returned, 0);
    EXPECT_FALSE(r.message.empty());
    EXPECT_EQ(Listing(work.path()), std::vector<std::string>{"a.mdb"});
  }
}

}  // namespace
