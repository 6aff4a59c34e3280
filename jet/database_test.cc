// Reading every corpus file: tables, rows, passwords, encryption.
#include "jet/database.h"

#include <gtest/gtest.h>

#include <set>

#include "jet/testdata/core_corpus.h"
#include "jet/usage_map.h"

namespace hvq::jet {
namespace {

using testing::CorpusFiles;
using testing::HaveCorpus;

TEST(DatabaseCorpusTest, EveryFileReadsWithManifestCounts) {
  if (!HaveCorpus()) GTEST_SKIP() << "corpus not found (set HVQ_CORPUS_DIR)";
  auto files = CorpusFiles();
  ASSERT_EQ(files.size(), 101u);
  for (const auto& c : files) {
    SCOPED_TRACE(c.path);
    auto db = Database::Open(c.full_path, {.password = c.password});
    ASSERT_TRUE(db.ok()) << db.status().ToString();
    EXPECT_EQ((*db)->pages().page_count(), c.pages);
    auto tables = (*db)->Tables(false);
    EXPECT_EQ(tables.size(), c.table_count);
    uint64_t rows = 0;
    for (const auto& t : (*db)->Tables(true)) {
      auto def = (*db)->ReadTableDef(t.tdef_page);
      ASSERT_TRUE(def.ok()) << t.name << ": " << def.status().ToString();
      // Column numbers are unique; deleted columns only leave gaps.
      std::set<uint16_t> numbers;
      for (const auto& col : def->columns) {
        EXPECT_TRUE(numbers.insert(col.number).second) << t.name;
      }
      uint64_t table_rows = 0;
      Status st = (*db)->ScanRows(
          *def, [&](const RowLocation&, const std::vector<Value>& values) {
            EXPECT_EQ(values.size(), def->columns.size());
            ++table_rows;
            return true;
          });
      ASSERT_TRUE(st.ok()) << t.name << ": " << st.ToString();
      if (!t.system) rows += table_rows;
    }
    EXPECT_EQ(rows, c.total_rows);
    auto global = ReadGlobalUsage((*db)->pages());
    ASSERT_TRUE(global.ok());
    EXPECT_EQ(global->free_pages.size(), c.free_pages);
  }
}

TEST(DatabaseCorpusTest, Passwords) {
  if (!HaveCorpus()) GTEST_SKIP() << "corpus not found (set HVQ_CORPUS_DIR)";
  int protected_files = 0;
  for (const auto& c : CorpusFiles()) {
    SCOPED_TRACE(c.path);
    if (c.has_password) {
      ++protected_files;
      EXPECT_TRUE(Database::Open(c.full_path, {.password = c.password}).ok());
      for (std::string wrong :
           {std::string(), c.password + "x", std::string("PASSWORD"),
            c.password.substr(1)}) {
        auto db = Database::Open(c.full_path, {.password = wrong});
        EXPECT_EQ(db.status().code(), StatusCode::kPermissionDenied) << wrong;
      }
    } else if (c.path.find("jackcess/") == 0 || c.path.find("jetdb/") == 0) {
      EXPECT_TRUE(Database::Open(c.full_path, {}).ok());
      EXPECT_TRUE(Database::Open(c.full_path, {.password = "ignored"}).ok());
    }
  }
  EXPECT_EQ(protected_files, 5);
}

TEST(DatabaseCorpusTest, EncryptedFilesMatchTheirPlainContent) {
  if (!HaveCorpus()) GTEST_SKIP() << "corpus not found (set HVQ_CORPUS_DIR)";
  int encrypted = 0;
  for (const auto& c : CorpusFiles()) {
    if (!c.encrypted) continue;
    ++encrypted;
    SCOPED_TRACE(c.path);
    auto db = Database::Open(c.full_path, {});
    ASSERT_TRUE(db.ok()) << db.status().ToString();
    EXPECT_NE((*db)->header().database_key, 0u);
    // Decrypted pages carry valid page types; the catalog reads.
    EXPECT_GT((*db)->catalog().size(), 4u);
    auto p2 = (*db)->pages().GetPage(2);
    ASSERT_TRUE(p2.ok());
    EXPECT_EQ((**p2)[0], static_cast<uint8_t>(PageType::kTableDef));
  }
  EXPECT_EQ(encrypted, 2);
}

TEST(DatabaseTest, RefusesAceAndMissingFiles) {
  std::vector<uint8_t> image = testing::MakeImage(JetVersion::kJet4, 4);
  image[kHeaderVersionOffset] = 0x03;
  auto db = Database::OpenBytes(image, {});
  EXPECT_EQ(db.status().code(), StatusCode::kNotSupported);
  EXPECT_NE(db.status().message().find("ACE"), std::string::npos);
  for (size_t size : {0, 1, 0x15, 0x80, 4096, 2 * 4096 + 7}) {
    std::vector<uint8_t> tiny = testing::MakeImage(JetVersion::kJet4, 3);
    tiny.resize(size);
    auto t = Database::OpenBytes(tiny, {});
    EXPECT_EQ(t.status().code(), StatusCode::kCorruption) << size;
  }
  auto missing = Database::Open("/nonexistent/x.mdb", {});
  EXPECT_EQ(missing.status().code(), StatusCode::kNotFound);
}

}  // namespace
}  // namespace hvq::jet
