#include "driver/attributes.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

namespace hvq::driver {
namespace {

using namespace std::string_literals;

struct Expect {
  RequestKind kind = RequestKind::kCompact;
  std::string source;
  std::string destination;
  std::string sort_order;
  bool encrypt = false;
  std::string password;
  std::string data_directory;
  long max_scan_rows = -1;  // -1: absent
};

struct Case {
  const char* name;
  std::string list;                // NUL-separated entries
  std::vector<std::string> files;  // existing regular files
  StatusCode code;                 // kOk: `want` holds the result
  Expect want;
};

// "功" in Big5 is A5 5C: its trail byte is '\'.
const std::string kBig5Dir = "/srv/\xa5\x5c\xaf\xe0/";

std::vector<Case> Cases() {
  return {
      {"tool text",
       "COMPACT_DB=/opt/hvq/data.mdb /opt/hvq/data_repair.mdb General;"
       "PWD=pinrok36248153xuvqz;DataDirectory=/opt/hvq/;MaxScanRows=20\0\0"s,
       {"/opt/hvq/data.mdb"},
       StatusCode::kOk,
       {RequestKind::kCompact, "/opt/hvq/data.mdb", "/opt/hvq/data_repair.mdb",
        "General", false, "pinrok36248153xuvqz", "/opt/hvq/", 20}},
      {"blanks in folder",
       "COMPACT_DB=/home/a b/x  y/data.mdb /home/a b/x  y/data_repair.mdb "
       "General;PWD=p;DataDirectory=/home/a b/x  y/;MaxScanRows=20\0\0"s,
       {"/home/a b/x  y/data.mdb"},
       StatusCode::kOk,
       {RequestKind::kCompact, "/home/a b/x  y/data.mdb",
        "/home/a b/x  y/data_repair.mdb", "General", false, "p",
        "/home/a b/x  y/", 20}},
      {"Big5 bytes with backslash trail bytes",
       "COMPACT_DB=" + kBig5Dir + "data.mdb " + kBig5Dir +
           "data_repair.mdb General;PWD=pw;DataDirectory=" + kBig5Dir +
           ";MaxScanRows=20\0\0"s,
       {kBig5Dir + "data.mdb"},
       StatusCode::kOk,
       {RequestKind::kCompact, kBig5Dir + "data.mdb",
        kBig5Dir + "data_repair.mdb", "General", false, "pw", kBig5Dir, 20}},
      {"semicolons in folder",
       "COMPACT_DB=/t/a;b;x=1/data.mdb /t/a;b;x=1/data_repair.mdb General;"
       "PWD=q\0\0"s,
       {"/t/a;b;x=1/data.mdb"},
       StatusCode::kOk,
       {RequestKind::kCompact, "/t/a;b;x=1/data.mdb",
        "/t/a;b;x=1/data_repair.mdb", "General", false, "q"}},
      {"quoted paths, sort order and ENCRYPT",
       "COMPACT_DB=\"/a b/x.mdb\" \"/a b/y General.mdb\" general encrypt\0\0"s,
       {},
       StatusCode::kOk,
       {RequestKind::kCompact, "/a b/x.mdb", "/a b/y General.mdb", "General",
        true}},
      {"no sort order, trailing blanks, lower-case keys, split entries",
       "compact_db=/t/x.mdb /t/out dir/y.mdb  \0pwd=a;b\0maxscanrows=8\0\0"s,
       {"/t/x.mdb"},
       StatusCode::kOk,
       {RequestKind::kCompact, "/t/x.mdb", "/t/out dir/y.mdb", "", false, "a;b",
        "", 8}},
      {"multi-word sort order",
       "COMPACT_DB=/t/x.mdb /t/y.mdb Chinese Stroke Count\0\0"s,
       {"/t/x.mdb"},
       StatusCode::kOk,
       {RequestKind::kCompact, "/t/x.mdb", "/t/y.mdb", "Chinese Stroke Count"}},
      {"repair with semicolon in path",
       "REPAIR_DB=/t/a;b.mdb;PWD=z\0\0"s,
       {"/t/a;b.mdb"},
       StatusCode::kOk,
       {RequestKind::kRepair, "/t/a;b.mdb", "", "", false, "z"}},
      {"ambiguous split",
       "COMPACT_DB=/t/a b.mdb /t/out.mdb\0\0"s,
       {"/t/a", "/t/a b.mdb"},
       StatusCode::kInvalidArgument,
       {}},
      {"source missing",
       "COMPACT_DB=/t/x.mdb /t/y.mdb General\0\0"s,
       {},
       StatusCode::kNotFound,
       {}},
      {"no destination",
       "COMPACT_DB=/t/x.mdb;PWD=a\0\0"s,
       {"/t/x.mdb"},
       StatusCode::kInvalidArgument,
       {}},
      {"only a sort order after the source",
       "COMPACT_DB=\"/t/x.mdb\" General\0\0"s,
       {"/t/x.mdb"},
       StatusCode::kInvalidArgument,
       {}},
      {"unterminated quote",
       "COMPACT_DB=\"/t/x.mdb /t/y.mdb\0\0"s,
       {},
       StatusCode::kInvalidArgument,
       {}},
      {"create request",
       "CREATE_DB=/t/new.mdb General\0\0"s,
       {},
       StatusCode::kNotSupported,
       {}},
      {"data source setup without a request",
       "DSN=x\0DBQ=/t/x.mdb\0\0"s,
       {"/t/x.mdb"},
       StatusCode::kNotSupported,
       {}},
      {"two requests",
       "COMPACT_DB=/t/x.mdb /t/y.mdb\0REPAIR_DB=/t/x.mdb\0\0"s,
       {"/t/x.mdb"},
       StatusCode::kInvalidArgument,
       {}},
      {"bad scan-row count",
       "COMPACT_DB=/t/x.mdb /t/y.mdb;MaxScanRows=many\0\0"s,
       {"/t/x.mdb"},
       StatusCode::kInvalidArgument,
       {}},
      {"attribute without '='",
       "COMPACT_DB=/t/x.mdb /t/y.mdb\0garbage\0\0"s,
       {"/t/x.mdb"},
       StatusCode::kInvalidArgument,
       {}},
      {"empty list", "\0"s, {}, StatusCode::kNotSupported, {}},
  };
}

TEST(ParseAttributes, Table) {
  for (const Case& c : Cases()) {
    SCOPED_TRACE(c.name);
    std::set<std::string> files(c.files.begin(), c.files.end());
    std::vector<std::string> probed;
    auto probe = [&](const std::string& p) {
      probed.push_back(p);
      return files.count(p) > 0;
    };
    Result<DriverRequest> r = ParseAttributes(c.list, probe);
    ASSERT_EQ(r.status().code(), c.code) << r.status().ToString();
    if (c.code != StatusCode::kOk) {
      EXPECT_FALSE(r.status().message().empty());
      continue;
    }
    EXPECT_EQ(r->kind, c.want.kind);
    EXPECT_EQ(r->source, c.want.source);
    EXPECT_EQ(r->destination, c.want.destination);
    EXPECT_EQ(r->sort_order, c.want.sort_order);
    EXPECT_EQ(r->encrypt, c.want.encrypt);
    EXPECT_EQ(r->password, c.want.password);
    EXPECT_EQ(r->data_directory, c.want.data_directory);
    EXPECT_EQ(r->max_scan_rows.value_or(-1), c.want.max_scan_rows);
  }
}

TEST(ParseAttributes, ErrorsNameTheProblem) {
  auto none = [](const std::string&) { return false; };
  Result<DriverRequest> r =
      ParseAttributes("COMPACT_DB=/t/x.mdb /t/y.mdb\0\0"s, none);
  EXPECT_NE(r.status().message().find("/t/x.mdb /t/y.mdb"), std::string::npos)
      << r.status().message();
  std::set<std::string> files = {"/t/a", "/t/a b.mdb"};
  r = ParseAttributes("COMPACT_DB=/t/a b.mdb /t/o.mdb\0\0"s,
                      [&](const std::string& p) { return files.count(p) > 0; });
  EXPECT_NE(r.status().message().find("ambiguous"), std::string::npos);
  EXPECT_NE(r.status().message().find("quotes"), std::string::npos);
}

TEST(AttributeListLength, StopsAtTheEmptyEntry) {
  EXPECT_EQ(AttributeListLength(nullptr), 0u);
  EXPECT_EQ(AttributeListLength("\0"), 1u);
  EXPECT_EQ(AttributeListLength("a=1\0b=2\0\0garbage"), 9u);
  const std::string tool = "COMPACT_DB=/x/data.mdb /x/y.mdb\0\0"s;
  EXPECT_EQ(AttributeListLength(tool.c_str()), tool.size());
}

}  // namespace
}  // namespace hvq::driver
