#include "jet/table_def.h"

#include <gtest/gtest.h>

#include <vector>

#include "jet/page_file.h"
#include "jet/testdata/core_corpus.h"

namespace hvq::jet {
namespace {

using testing::CorpusDir;
using testing::HaveCorpus;

struct Sample {
  const char* path;
  JetVersion version;
};
const Sample kSamples[] = {{"jackcess/testV1997.mdb", JetVersion::kJet3},
                           {"jackcess/testV2003.mdb", JetVersion::kJet4}};

TEST(TableDefTest, CatalogDefinitionFields) {
  if (!HaveCorpus()) GTEST_SKIP() << "corpus not found (set HVQ_CORPUS_DIR)";
  for (const Sample& s : kSamples) {
    SCOPED_TRACE(s.path);
    auto file = PageFile::Open(CorpusDir() + "/" + s.path);
    ASSERT_TRUE(file.ok());
    auto def = ReadTableDef(**file, kCatalogTdefPage);
    ASSERT_TRUE(def.ok()) << def.status().ToString();
    EXPECT_EQ(def->version, s.version);
    EXPECT_TRUE(def->is_system());
    EXPECT_EQ(def->columns.size(), 17u);
    const ColumnDef* id = def->FindColumn("Id");
    const ColumnDef* name = def->FindColumn("Name");
    ASSERT_NE(id, nullptr);
    ASSERT_NE(name, nullptr);
    EXPECT_EQ(id->type, ColumnType::kLong);
    EXPECT_TRUE(id->is_fixed());
    EXPECT_EQ(name->type, ColumnType::kText);
    EXPECT_FALSE(name->is_fixed());
    EXPECT_EQ(name->sort_order, 0x409);
    EXPECT_EQ(name->length, s.version == JetVersion::kJet3 ? 255 : 510);
    // Two indexes: unique (ParentId, Name) and unique Id.
    ASSERT_EQ(def->logical_indexes.size(), 2u);
    ASSERT_EQ(def->real_indexes.size(), 2u);
    for (const auto& li : def->logical_indexes) {
      const RealIndexDef& ri = def->real_indexes[li.real_index];
      EXPECT_TRUE(ri.unique());
      if (li.name == "Id") {
        ASSERT_EQ(ri.columns.size(), 1u);
        EXPECT_EQ(ri.columns[0].column_number, id->number);
      } else {
        EXPECT_EQ(li.name, "ParentIdName");
        ASSERT_EQ(ri.columns.size(), 2u);
        EXPECT_EQ(ri.columns[1].column_number, name->number);
      }
      EXPECT_GT(ri.first_page, 2u);
    }
    EXPECT_EQ(def->ColumnsByNumber().front()->name, "Id");
  }
}

// Every prefix of a real definition either parses (when only the optional
// trailer was cut) or fails as Corruption; no prefix reads out of bounds.
TEST(TableDefTest, TruncationAtEveryLength) {
  if (!HaveCorpus()) GTEST_SKIP() << "corpus not found (set HVQ_CORPUS_DIR)";
  for (const Sample& s : kSamples) {
    auto file = PageFile::Open(CorpusDir() + "/" + s.path);
    ASSERT_TRUE(file.ok());
    std::vector<uint8_t> bytes;
    std::vector<uint32_t> pages;
    ASSERT_TRUE(
        ReadTableDefBytes(**file, kCatalogTdefPage, &bytes, &pages).ok());
    const Format& f = FormatFor(s.version);
    auto full = ParseTableDef(f, kCatalogTdefPage, bytes);
    ASSERT_TRUE(full.ok());
    // Parsing needs a prefix up to the end of the index names; the
    // var-column trailer may be cut. So results flip once, from errors to
    // successes, and the shortest parsing prefix lies past the columns.
    size_t first_ok = bytes.size();
    for (size_t len = 0; len < bytes.size(); ++len) {
      std::vector<uint8_t> cut(bytes.begin(), bytes.begin() + len);
      auto def = ParseTableDef(f, kCatalogTdefPage, cut);
      if (def.ok()) {
        first_ok = std::min(first_ok, len);
        EXPECT_EQ(def->columns.size(), full->columns.size());
        EXPECT_EQ(def->logical_indexes.size(), full->logical_indexes.size());
        EXPECT_EQ(def->logical_indexes.back().name,
                  full->logical_indexes.back().name);
      } else {
        EXPECT_EQ(def.status().code(), StatusCode::kCorruption);
        EXPECT_LT(len, first_ok) << "error after a shorter prefix parsed";
      }
    }
    EXPECT_GT(first_ok, f.tdef_header_size + 17 * f.column_entry_size);
    EXPECT_LT(first_ok, bytes.size());
  }
}

TEST(TableDefTest, ChainLoopsAndBadPagesAreCorruption) {
  if (!HaveCorpus()) GTEST_SKIP() << "corpus not found (set HVQ_CORPUS_DIR)";
  std::vector<uint8_t> image =
      testing::ReadFileBytes(CorpusDir() + "/jackcess/testV2003.mdb");
  const uint32_t ps = 4096;
  struct Case {
    const char* name;
    uint32_t next;
    const char* message;
  };
  const Case cases[] = {{"self loop", 2, "loops"},
                        {"points past the end", 0xFFFFFFFF, "past the end"},
                        {"points at a data page", 1, "not a table definition"}};
  for (const Case& c : cases) {
    std::vector<uint8_t> copy = image;
    StoreU32Le(copy.data() + 2 * ps + 4, c.next);
    auto file = PageFile::FromBytes(copy);
    ASSERT_TRUE(file.ok());
    auto def = ReadTableDef(**file, kCatalogTdefPage);
    EXPECT_EQ(def.status().code(), StatusCode::kCorruption) << c.name;
    EXPECT_NE(def.status().message().find(c.message), std::string::npos)
        << c.name << ": " << def.status().ToString();
    EXPECT_TRUE(def.status().page().has_value()) << c.name;
  }
}

}  // namespace
}  // namespace hvq::jet
