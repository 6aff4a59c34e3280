// Index keys: known keys per type (taken from keys the engine wrote in the
// corpus), refusals, and the corpus as oracle: every index entry of every
// file whose key we can regenerate from its row equals the stored key.
#include "jet/index_key.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>

#include "jet/database.h"
#include "jet/index_walk.h"
#include "jet/testdata/index_corpus.h"

namespace hvq::jet {
namespace {

std::vector<uint8_t> FromHex(const std::string& hex) {
  std::vector<uint8_t> out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) {
    out.push_back(
        static_cast<uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  }
  return out;
}

Value Int(int64_t v) { return Value::Int(v); }
Value Money(int64_t v) {
  Value x = Int(v);
  x.kind = Value::Kind::kMoney;
  return x;
}
Value Dbl(double d, Value::Kind k = Value::Kind::kDouble) {
  Value x;
  x.kind = k;
  x.d = d;
  return x;
}
Value Bool(bool b) {
  Value x;
  x.kind = Value::Kind::kBool;
  x.b = b;
  return x;
}
Value Str(std::string s, Value::Kind k = Value::Kind::kText) {
  Value x;
  x.kind = k;
  x.s = std::move(s);
  return x;
}

struct KeyCase {
  const char* what;
  ColumnType type;
  bool ascending;
  JetVersion version;
  Value value;
  const char* expected_hex;
};

TEST(IndexKey, KnownKeys) {
  const auto j3 = JetVersion::kJet3;
  const auto j4 = JetVersion::kJet4;
  const KeyCase cases[] = {
      {"null ascending", ColumnType::kLong, true, j4, Value::Null(), "00"},
      {"null descending", ColumnType::kText, false, j4, Value::Null(), "ff"},
      {"long 4813 descending", ColumnType::kLong, false, j3, Int(4813),
       "807fffed32"},
      {"long -1", ColumnType::kLong, true, j4, Int(-1), "7f7fffffff"},
      {"int 1", ColumnType::kInt, true, j4, Int(1), "7f8001"},
      {"byte 255 descending", ColumnType::kByte, false, j4, Int(255), "8000"},
      {"byte 127", ColumnType::kByte, true, j4, Int(127), "7f7f"},
      {"money 1.0000", ColumnType::kMoney, true, j4, Money(10000),
       "7f8000000000002710"},
      {"double 1", ColumnType::kDouble, true, j4, Dbl(1.0),
       "7fbff0000000000000"},
      {"double -1", ColumnType::kDouble, true, j4, Dbl(-1.0),
       "7f400fffffffffffff"},
      {"double -1 descending", ColumnType::kDouble, false, j4, Dbl(-1.0),
       "80bff0000000000000"},
      {"single 2", ColumnType::kFloat, true, j4, Dbl(2.0, Value::Kind::kFloat),
       "7fc0000000"},
      {"date 0", ColumnType::kDateTime, true, j4,
       Dbl(0.0, Value::Kind::kDateTime), "7f8000000000000000"},
      {"bool true", ColumnType::kBool, true, j4, Bool(true), "7f00"},
      {"bool false", ColumnType::kBool, true, j4, Bool(false), "7fff"},
      {"bool true descending", ColumnType::kBool, false, j4, Bool(true),
       "80ff"},
      {"bool null is false", ColumnType::kBool, true, j4, Value::Null(),
       "7fff"},
      {"binary 3 bytes", ColumnType::kBinary, true, j4,
       Str("\x01\x02\x03", Value::Kind::kBinary), "7f010203000000000003"},
      {"binary 10 bytes", ColumnType::kBinary, true, j4,
       Str("ABCDEFGHIJ", Value::Kind::kBinary),
       "7f414243444546474809494a00000000000002"},
      {"binary 10 bytes descending", ColumnType::kBinary, false, j4,
       Str("ABCDEFGHIJ", Value::Kind::kBinary),
       "80bebdbcbbbab9b8b709b6b5fffffffffffffd"},
      {"text Alabama", ColumnType::kText, true, j4, Str("Alabama"),
       "7f4a5e4a4c4a604a0100"},
      {"text accents and unprintables", ColumnType::kText, true, j4,
       Str("-\xc3\x81-\xc3\x81-"),
       "7f4a4a010e0e01010180070682800b0682800f068200"},
      {"text descending", ColumnType::kText, false, j4,
       Str("-\xc3\x81-\xc3\x81-"),
       "80b5b5fef1f1fefefe7ff8f97d7ff4f97d7ff0f97dff00"},
      {"memo ascii", ColumnType::kMemo, true, j4, Str("AA1AA"),
       "7f4a4a384a4a0100"},
      {"numeric 1.1 (scale 10)", ColumnType::kNumeric, true, j4,
       Str(std::string("\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x00"
                       "\x00\x00\xae\xa6\x8f",
                       17),
           Value::Kind::kNumeric),
       "7fff0000000000000000000000028fa6ae00"},
      {"numeric -1.1 descending", ColumnType::kNumeric, false, j4,
       Str(std::string("\x80\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x00"
                       "\x00\x00\xae\xa6\x8f",
                       17),
           Value::Kind::kNumeric),
       "80000000000000000000000000028fa6ae00"},
      {"jet3 text", ColumnType::kText, true, j3, Str("Table1"),
       "7f7760616d665700"},
      {"jet3 accent", ColumnType::kText, true, j3,
       Str("AA\xc3\x80"
           "AA"),
       "7f6060606060022300"},
      {"jet3 accent descending", ColumnType::kText, false, j3,
       Str("a\xc3\x93"
           "a"),
       "809f8d9ffdbf"},
  };
  for (const KeyCase& c : cases) {
    KeyColumnSpec spec;
    spec.type = c.type;
    spec.ascending = c.ascending;
    spec.version = c.version;
    spec.sort_order = 0x409;
    std::vector<uint8_t> key;
    Status s = AppendColumnKey(spec, c.value, &key);
    ASSERT_TRUE(s.ok()) << c.what << ": " << s.ToString();
    EXPECT_EQ(key, FromHex(c.expected_hex)) << c.what;
  }
}

TEST(IndexKey, TextIsIndexedUpTo255Characters) {
  std::vector<uint8_t> long_key, cut_key;
  ASSERT_TRUE(AppendTextKey(TextCollation::kGeneralLegacy,
                            std::string(300, 'a'), true, &long_key)
                  .ok());
  ASSERT_TRUE(AppendTextKey(TextCollation::kGeneralLegacy,
                            std::string(255, 'a'), true, &cut_key)
                  .ok());
  EXPECT_EQ(long_key, cut_key);
  EXPECT_EQ(cut_key.size(), 255u + 2);
}

TEST(IndexKey, RefusesWhatItCannotEncode) {
  struct Case {
    const char* what;
    ColumnType type;
    JetVersion version;
    uint16_t sort_order;
    Value value;
    StatusCode code;
  };
  const Case cases[] = {
      {"greek letter", ColumnType::kText, JetVersion::kJet4, 0x409,
       Str("\xce\xb1"), StatusCode::kNotSupported},
      {"japanese collation", ColumnType::kText, JetVersion::kJet4, 0x411,
       Str("abc"), StatusCode::kNotSupported},
      {"jet3 accent next to a digit", ColumnType::kText, JetVersion::kJet3,
       0x409, Str("1\xc3\x80"), StatusCode::kNotSupported},
      {"ole", ColumnType::kOle, JetVersion::kJet4, 0,
       Str("x", Value::Kind::kBinary), StatusCode::kNotSupported},
      {"numeric of the wrong size", ColumnType::kNumeric, JetVersion::kJet4, 0,
       Str("1", Value::Kind::kNumeric), StatusCode::kInvalidArgument},
      {"invalid utf-8", ColumnType::kText, JetVersion::kJet4, 0x409,
       Str("\xff"), StatusCode::kInvalidArgument},
      {"value of the wrong kind", ColumnType::kLong, JetVersion::kJet4, 0,
       Str("1"), StatusCode::kInvalidArgument},
  };
  for (const Case& c : cases) {
    KeyColumnSpec spec;
    spec.type = c.type;
    spec.version = c.version;
    spec.sort_order = c.sort_order;
    std::vector<uint8_t> key;
    EXPECT_EQ(AppendColumnKey(spec, c.value, &key).code(), c.code) << c.what;
  }
}

// Corpus oracle. The text code tables were measured on one-character rows
// of the testIndexCodes files only; every other text key (other files,
// longer values, descending and multi-column indexes) is held out.
TEST(IndexKeyCorpus, RegeneratedKeysEqualStoredKeys) {
  if (!testdata::HaveCorpus()) {
    GTEST_SKIP() << "corpus not found at " << testdata::CorpusDir()
                 << " (set HVQ_CORPUS_DIR)";
  }
  std::map<std::string, std::array<size_t, 3>> by_type;  // equal, differ, n/a
  size_t held_out_text = 0;
  for (const auto& cf : testdata::CorpusFiles()) {
    OpenOptions options;
    options.password = testdata::CorpusPassword(cf.row);
    auto db =
        Database::Open((testdata::CorpusDir() / cf.path).string(), options);
    ASSERT_TRUE(db.ok()) << cf.path << ": " << db.status().ToString();
    const bool codes_file = cf.path.find("testIndexCodes") != std::string::npos;
    for (const TableInfo& t : (*db)->Tables(/*include_system=*/true)) {
      auto def = (*db)->ReadTableDef(t.tdef_page);
      ASSERT_TRUE(def.ok()) << def.status().ToString();
      std::map<std::pair<uint32_t, uint8_t>, std::vector<Value>> rows;
      ASSERT_TRUE((*db)
                      ->ScanRows(*def,
                                 [&](const RowLocation& l,
                                     const std::vector<Value>& v) {
                                   rows[{l.page, l.row}] = v;
                                   return true;
                                 })
                      .ok());
      for (const RealIndexDef& index : def->real_indexes) {
        std::string family;
        bool text = false;
        for (const IndexColumn& ic : index.columns) {
          const ColumnDef* col = def->FindColumn(ic.column_number);
          ASSERT_NE(col, nullptr);
          family += std::string(ColumnTypeName(col->type)) + " ";
          text = text || col->is_text();
        }
        auto entries =
            ReadIndexEntries(PageSourceFor((*db)->pages()), index.first_page);
        ASSERT_TRUE(entries.ok()) << entries.status().ToString();
        for (const IndexEntry& e : *entries) {
          auto row = rows.find({e.data_page, e.data_row});
          ASSERT_NE(row, rows.end());
          auto key = EncodeIndexKey((*db)->format(), *def, index, row->second);
          auto& counts = by_type[family];
          if (!key.ok()) {
            EXPECT_EQ(key.status().code(), StatusCode::kNotSupported)
                << key.status().ToString();
            ++counts[2];
            continue;
          }
          const bool equal = *key == e.key;
          ++counts[equal ? 0 : 1];
          EXPECT_TRUE(equal)
              << cf.path << " table " << t.name << " index " << family
              << "row page " << e.data_page << " row " << int(e.data_row);
          if (equal && text && !codes_file) ++held_out_text;
        }
      }
    }
  }
  size_t compared = 0;
  for (const auto& [family, c] : by_type) {
    std::printf("  %-28s equal %6zu  differ %zu  not encodable %zu\n",
                family.c_str(), c[0], c[1], c[2]);
    compared += c[0];
  }
  std::printf("held-out text keys equal: %zu\n", held_out_text);
  EXPECT_GT(compared, 25000u);
  EXPECT_GT(held_out_text, 1500u);
  for (const char* family :
       {"Boolean ", "Byte ", "Integer ", "Long ", "Currency ", "Single ",
        "Double ", "DateTime ", "GUID ", "Text ", "Memo "}) {
    EXPECT_GT(by_type[family][0], 10u) << family;
  }
}

// What a compactor does, on the rows where they already are: entries built
// from each live row's values (IndexCoversRow, EncodeIndexKey) and sorted
// with CompareIndexEntries equal the source index entry for entry, for
// every corpus index whose keys are all encodable.
TEST(IndexKeyCorpus, EntriesRebuiltFromRowsEqualTheSourceIndex) {
  if (!testdata::HaveCorpus()) {
    GTEST_SKIP() << "corpus not found at " << testdata::CorpusDir();
  }
  size_t rebuilt = 0, skipped = 0;
  for (const auto& cf : testdata::CorpusFiles()) {
    OpenOptions options;
    options.password = testdata::CorpusPassword(cf.row);
    auto db =
        Database::Open((testdata::CorpusDir() / cf.path).string(), options);
    ASSERT_TRUE(db.ok()) << cf.path;
    for (const TableInfo& t : (*db)->Tables(true)) {
      auto def = (*db)->ReadTableDef(t.tdef_page);
      ASSERT_TRUE(def.ok());
      if (def->real_indexes.empty()) continue;
      std::vector<std::pair<RowLocation, std::vector<Value>>> rows;
      ASSERT_TRUE((*db)
                      ->ScanRows(*def,
                                 [&](const RowLocation& l,
                                     const std::vector<Value>& v) {
                                   rows.emplace_back(l, v);
                                   return true;
                                 })
                      .ok());
      for (const RealIndexDef& index : def->real_indexes) {
        std::vector<IndexEntry> built;
        bool encodable = true;
        for (const auto& [loc, values] : rows) {
          if (!IndexCoversRow(*def, index, values)) continue;
          auto key = EncodeIndexKey((*db)->format(), *def, index, values);
          if (!key.ok()) {
            encodable = false;
            break;
          }
          IndexEntry e;
          e.key = std::move(*key);
          e.data_page = loc.page;
          e.data_row = loc.row;
          built.push_back(std::move(e));
        }
        if (!encodable) {
          ++skipped;
          continue;
        }
        std::sort(built.begin(), built.end(),
                  [](const IndexEntry& a, const IndexEntry& b) {
                    return CompareIndexEntries(a, b) < 0;
                  });
        auto source =
            ReadIndexEntries(PageSourceFor((*db)->pages()), index.first_page);
        ASSERT_TRUE(source.ok());
        EXPECT_EQ(built, *source) << cf.path << " table " << t.name;
        ++rebuilt;
      }
    }
  }
  std::printf(
      "%zu indexes rebuilt from rows equal their source, %zu with "
      "keys we cannot encode\n",
      rebuilt, skipped);
  EXPECT_GT(rebuilt, 1500u);
}

}  // namespace
}  // namespace hvq::jet
