// Codec tests of the writer layer: each structure is built, then parsed
// back with the engine's reader; a damaged byte must give a clean error.
#include "jet/row_writer.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "jet/data_page.h"
#include "jet/data_page_builder.h"
#include "jet/database_builder.h"
#include "jet/long_value_writer.h"
#include "jet/row.h"
#include "jet/table_def_writer.h"
#include "jet/text.h"
#include "platform/testing/temp_dir.h"

namespace hvq::jet {
namespace {

Value Make(Value::Kind k) {
  Value v;
  v.kind = k;
  return v;
}
Value IntV(int64_t i) {
  Value v = Make(Value::Kind::kInt);
  v.i = i;
  return v;
}
Value TextV(std::string s) {
  Value v = Make(Value::Kind::kText);
  v.s = std::move(s);
  return v;
}

// A table layout made by the builder (the writer under test is the same
// code the builder uses for definitions).
TableDef LayoutFor(JetVersion version, const TableSpec& spec) {
  hvq::testing::TempDir dir;
  DatabaseOptions o;
  o.version = version;
  auto b = DatabaseBuilder::Create(dir.path() + "layout.mdb", o);
  EXPECT_TRUE(b.ok()) << b.status().ToString();
  auto id = (*b)->AddTable(spec);
  EXPECT_TRUE(id.ok()) << id.status().ToString();
  return **(*b)->Definition(*id);
}

TableSpec EveryFixedAndTextType() {
  using T = ColumnType;
  TableSpec s;
  s.name = "Types";
  s.columns = {{"B", T::kBool},    {"Y", T::kByte},     {"I", T::kInt},
               {"L", T::kLong},    {"M", T::kMoney},    {"F", T::kFloat},
               {"D", T::kDouble},  {"T", T::kDateTime}, {"G", T::kGuid},
               {"N", T::kNumeric}, {"S1", T::kText},    {"Bin", T::kBinary},
               {"S2", T::kText},   {"S3", T::kText},    {"S4", T::kText}};
  return s;
}

std::vector<Value> SampleValues(size_t text_len) {
  std::vector<Value> v(15);
  v[0] = Make(Value::Kind::kBool);
  v[0].b = true;
  v[1] = IntV(200);
  v[2] = IntV(-1234);
  v[3] = IntV(-2000000000);
  v[4] = Make(Value::Kind::kMoney);
  v[4].i = 123456789;
  v[5] = Make(Value::Kind::kFloat);
  v[5].d = 2.5;
  v[6] = Make(Value::Kind::kDouble);
  v[6].d = -1e300;
  v[7] = Make(Value::Kind::kDateTime);
  v[7].d = 45000.25;
  v[8] = Make(Value::Kind::kGuid);
  v[8].s = std::string("0123456789abcdef");
  v[9] = Make(Value::Kind::kNumeric);
  v[9].s = std::string(17, '\x01');
  v[10] = TextV(std::string(text_len, 'a'));
  v[11] = Make(Value::Kind::kBinary);
  v[11].s = std::string("\x00\xff\x10", 3);
  v[12] = Value::Null();  // a null between present variable columns
  v[13] = TextV("\xc3\xa9t\xc3\xa9");  // non-ASCII
  v[14] = TextV(std::string(text_len, 'z'));
  return v;
}

std::vector<RowField> Fields(const Format& f, const TableDef& def,
                             const std::vector<Value>& values) {
  std::vector<RowField> out;
  for (size_t i = 0; i < def.columns.size(); ++i) {
    auto field = EncodeFieldValue(f, def.columns[i], values[i]);
    EXPECT_TRUE(field.ok()) << field.status().ToString();
    out.push_back(*field);
  }
  return out;
}

struct RowCase {
  JetVersion version;
  size_t text_len;  // long texts push Jet 3 rows past 256/512/768 bytes
};

class RowCodecTest : public ::testing::TestWithParam<RowCase> {};

TEST_P(RowCodecTest, EncodedRowCracksToTheSameValues) {
  const RowCase c = GetParam();
  const Format& f = FormatFor(c.version);
  TableDef def = LayoutFor(c.version, EveryFixedAndTextType());
  std::vector<Value> values = SampleValues(c.text_len);
  auto row = EncodeRow(f, def, Fields(f, def, values));
  ASSERT_TRUE(row.ok()) << row.status().ToString();
  auto slices = CrackRow(f, def, *row, 99, 0);
  ASSERT_TRUE(slices.ok()) << slices.status().ToString();
  ASSERT_EQ(slices->size(), values.size());
  for (size_t i = 0; i < values.size(); ++i) {
    const ColumnDef& col = def.columns[i];
    const ColumnSlice& s = (*slices)[i];
    SCOPED_TRACE(col.name);
    if (values[i].is_null()) {
      EXPECT_FALSE(s.present);
    } else if (col.type == ColumnType::kBool) {
      EXPECT_EQ(s.present, values[i].b);
    } else if (col.is_fixed()) {
      auto v = DecodeFixedValue(col.type, s.data, col.scale);
      ASSERT_TRUE(v.ok()) << v.status().ToString();
      EXPECT_EQ(FormatValue(*v), FormatValue(values[i]));
    } else if (col.type == ColumnType::kText) {
      std::string text = f.text_encoding == TextEncoding::kUcs2
                             ? DecodeJet4Text(s.data)
                             : CodePageToUtf8(s.data, 1252);
      EXPECT_EQ(text, values[i].s);
    } else {
      EXPECT_EQ(std::string(s.data.begin(), s.data.end()), values[i].s);
    }
  }
}

TEST_P(RowCodecTest, DamagedOffsetsGiveCorruption) {
  const RowCase c = GetParam();
  const Format& f = FormatFor(c.version);
  TableDef def = LayoutFor(c.version, EveryFixedAndTextType());
  auto row = EncodeRow(f, def, Fields(f, def, SampleValues(c.text_len)));
  ASSERT_TRUE(row.ok());
  const size_t mask = (def.columns.size() + 7) / 8;
  // The var count sits right before the null mask; claiming more variable
  // columns than the row can hold must be refused, not followed.
  std::vector<uint8_t> bad = *row;
  bad[bad.size() - mask - 1] = 0x7F;
  if (f.row_var_offset_size == 2) bad[bad.size() - mask - 2] = 0x7F;
  EXPECT_FALSE(CrackRow(f, def, bad, 1, 0).ok());
  // A row cut short.
  std::vector<uint8_t> cut(row->begin(), row->begin() + 3);
  EXPECT_FALSE(CrackRow(f, def, cut, 1, 0).ok());
}

INSTANTIATE_TEST_SUITE_P(Versions, RowCodecTest,
                         ::testing::Values(RowCase{JetVersion::kJet4, 10},
                                           RowCase{JetVersion::kJet4, 200},
                                           RowCase{JetVersion::kJet3, 10},
                                           RowCase{JetVersion::kJet3, 120},
                                           RowCase{JetVersion::kJet3, 255}),
                         [](const auto& info) {
                           return std::string(
                                      FormatFor(info.param.version).name) +
                                  "_text" + std::to_string(info.param.text_len);
                         });

TEST(RowWriterTest, RefusesValuesTheColumnCannotHold) {
  const Format& f = FormatFor(JetVersion::kJet4);
  TableDef def = LayoutFor(JetVersion::kJet4, EveryFixedAndTextType());
  EXPECT_FALSE(EncodeFieldValue(f, def.columns[1], IntV(256)).ok());  // Byte
  EXPECT_FALSE(EncodeFieldValue(f, def.columns[2], IntV(40000)).ok());
  EXPECT_FALSE(EncodeFieldValue(f, def.columns[3], TextV("x")).ok());
  EXPECT_FALSE(
      EncodeFieldValue(f, def.columns[10], TextV(std::string(256, 'a'))).ok());
  std::vector<RowField> too_few(3);
  EXPECT_FALSE(EncodeRow(f, def, too_few).ok());
}

TEST(RowWriterTest, Jet4TextIsCompressedOnlyWhenEveryCharacterFits) {
  const Format& f = FormatFor(JetVersion::kJet4);
  std::vector<uint8_t> ascii = EncodeTextBytes(f, "abc", true, 0);
  EXPECT_EQ(ascii, (std::vector<uint8_t>{0xFF, 0xFE, 'a', 'b', 'c'}));
  EXPECT_EQ(DecodeJet4Text(ascii), "abc");
  std::vector<uint8_t> wide = EncodeTextBytes(f, "a\xe2\x82\xac", true, 0);
  EXPECT_EQ(wide.size(), 4u);  // plain UCS-2: the euro sign is above 0xFF
  EXPECT_EQ(DecodeJet4Text(wide), "a\xe2\x82\xac");
}

class DataPageCodecTest : public ::testing::TestWithParam<JetVersion> {};

TEST_P(DataPageCodecTest, PacksRowsUntilFullAndParsesBack) {
  const Format& f = FormatFor(GetParam());
  DataPageBuilder b(f, 42);
  std::vector<std::vector<uint8_t>> rows;
  size_t refused = 0;
  for (int i = 0;; ++i) {
    std::vector<uint8_t> row(37 + i % 50, static_cast<uint8_t>(i));
    if (!b.Fits(row.size())) {
      EXPECT_FALSE(b.AddRow(row).ok());
      refused = row.size();
      break;
    }
    ASSERT_TRUE(b.AddRow(row).ok());
    rows.push_back(row);
  }
  ASSERT_TRUE(b.SetRowFlags(3, kRowDeletedMask).ok());
  std::vector<uint8_t> page = b.Build();
  auto parsed = ParseDataPage(f, 7, page);
  ASSERT_TRUE(parsed.ok()) << parsed.status().ToString();
  EXPECT_EQ(parsed->tdef_page, 42u);
  ASSERT_EQ(parsed->rows.size(), rows.size());
  EXPECT_LT(parsed->free_space, refused + 2);  // packed densely
  for (size_t i = 0; i < rows.size(); ++i) {
    if (i == 3) {
      EXPECT_TRUE(parsed->rows[i].deleted());
      continue;
    }
    auto bytes = parsed->RowBytes(page, static_cast<uint32_t>(i));
    ASSERT_TRUE(bytes.ok());
    EXPECT_EQ(std::vector<uint8_t>(bytes->begin(), bytes->end()), rows[i]);
  }
  // MarkRowDeleted on a built page gives the same flag.
  ASSERT_TRUE(MarkRowDeleted(f, page, 5).ok());
  EXPECT_TRUE((*ParseDataPage(f, 7, page)).rows[5].deleted());
  EXPECT_FALSE(MarkRowDeleted(f, page, 999).ok());
  // A row offset pointing into the offset table is damage.
  std::vector<uint8_t> bad = page;
  StoreU16Le(&bad[f.data_row_table_offset], 2);
  EXPECT_FALSE(ParseDataPage(f, 7, bad).ok());
}

TEST_P(DataPageCodecTest, LongValuePagesCarryTheTag) {
  const Format& f = FormatFor(GetParam());
  DataPageBuilder b(f, 0, /*long_value=*/true);
  ASSERT_TRUE(b.AddRow(std::vector<uint8_t>(10, 1)).ok());
  auto parsed = ParseDataPage(f, 9, b.Build());
  ASSERT_TRUE(parsed.ok());
  EXPECT_TRUE(parsed->long_value);
}

INSTANTIATE_TEST_SUITE_P(Versions, DataPageCodecTest,
                         ::testing::Values(JetVersion::kJet3,
                                           JetVersion::kJet4),
                         [](const auto& info) {
                           return std::string(FormatFor(info.param).name);
                         });

class TableDefCodecTest : public ::testing::TestWithParam<JetVersion> {};

TEST_P(TableDefCodecTest, DefinitionParsesBackFieldForField) {
  const Format& f = FormatFor(GetParam());
  TableSpec spec = EveryFixedAndTextType();
  spec.columns.push_back({"Memo", ColumnType::kMemo});
  spec.columns.push_back({"Ole", ColumnType::kOle});
  spec.indexes = {{"PK", {"L"}, true, true}, {"Two", {"I", "S1"}}};
  TableDef def = LayoutFor(GetParam(), spec);
  def.row_count = 77;
  def.next_autonumber = 12;
  def.owned_pages = RowPointer{300, 4};
  def.free_pages = RowPointer{300, 5};
  def.real_indexes[0].first_page = 1234;
  def.real_indexes[0].usage_map = RowPointer{301, 1};
  def.var_column_usage[1].used_pages = RowPointer{302, 7};
  auto bytes = EncodeTableDefBytes(f, def);
  ASSERT_TRUE(bytes.ok()) << bytes.status().ToString();
  auto parsed = ParseTableDef(f, def.first_page, *bytes, 1252);
  ASSERT_TRUE(parsed.ok()) << parsed.status().ToString();
  EXPECT_EQ(parsed->row_count, 77u);
  EXPECT_EQ(parsed->next_autonumber, 12u);
  EXPECT_EQ(parsed->owned_pages, def.owned_pages);
  EXPECT_EQ(parsed->free_pages, def.free_pages);
  ASSERT_EQ(parsed->columns.size(), def.columns.size());
  for (size_t i = 0; i < def.columns.size(); ++i) {
    const ColumnDef& a = def.columns[i];
    const ColumnDef& b = parsed->columns[i];
    EXPECT_EQ(a.name, b.name);
    EXPECT_EQ(a.type, b.type);
    EXPECT_EQ(a.number, b.number);
    EXPECT_EQ(a.var_index, b.var_index);
    EXPECT_EQ(a.fixed_offset, b.fixed_offset);
    EXPECT_EQ(a.length, b.length);
    EXPECT_EQ(a.flags, b.flags);
  }
  ASSERT_EQ(parsed->real_indexes.size(), 2u);
  EXPECT_EQ(parsed->real_indexes[0].first_page, 1234u);
  EXPECT_EQ(parsed->real_indexes[0].usage_map, (RowPointer{301, 1}));
  EXPECT_EQ(parsed->real_indexes[1].columns, def.real_indexes[1].columns);
  EXPECT_EQ(parsed->real_indexes[0].flags, def.real_indexes[0].flags);
  ASSERT_EQ(parsed->logical_indexes.size(), 2u);
  EXPECT_EQ(parsed->logical_indexes[0].name, "PK");
  EXPECT_TRUE(parsed->logical_indexes[0].is_primary());
  EXPECT_EQ(parsed->logical_indexes[1].name, "Two");
  ASSERT_EQ(parsed->var_column_usage.size(), 2u);
  EXPECT_EQ(parsed->var_column_usage[1].used_pages, (RowPointer{302, 7}));

  // A column count far beyond the bytes present is refused.
  std::vector<uint8_t> bad = *bytes;
  StoreU16Le(&bad[f.tdef_column_count_offset], 0xFFF);
  EXPECT_FALSE(ParseTableDef(f, def.first_page, bad, 1252).ok());
}

TEST_P(TableDefCodecTest, LongDefinitionsSpanChainedPages) {
  const Format& f = FormatFor(GetParam());
  TableSpec spec;
  spec.name = "Wide";
  for (int i = 0; i < 200; ++i) {
    spec.columns.push_back({"Column_with_a_long_name_" + std::to_string(i),
                            i % 2 ? ColumnType::kText : ColumnType::kLong});
  }
  TableDef def = LayoutFor(GetParam(), spec);
  auto bytes = EncodeTableDefBytes(f, def);
  ASSERT_TRUE(bytes.ok());
  uint32_t next = 500;
  auto pages = BuildTableDefPages(f, *bytes, 20,
                                  [&]() -> Result<uint32_t> { return next++; });
  ASSERT_TRUE(pages.ok());
  ASSERT_GE(pages->size(), 2u);
  std::vector<uint8_t> joined;
  for (size_t i = 0; i < pages->size(); ++i) {
    const auto& p = (*pages)[i];
    ASSERT_EQ(p.bytes.size(), f.page_size);
    EXPECT_EQ(p.bytes[0], static_cast<uint8_t>(PageType::kTableDef));
    uint32_t link = LoadU32Le(&p.bytes[f.tdef_next_page_offset]);
    EXPECT_EQ(link, i + 1 < pages->size() ? (*pages)[i + 1].page_number : 0);
    joined.insert(
        joined.end(),
        p.bytes.begin() + (i == 0 ? 0 : f.tdef_continuation_header_size),
        p.bytes.end());
  }
  auto parsed = ParseTableDef(f, 20, joined, 1252);
  ASSERT_TRUE(parsed.ok()) << parsed.status().ToString();
  ASSERT_EQ(parsed->columns.size(), 200u);
  EXPECT_EQ(parsed->columns[199].name, "Column_with_a_long_name_199");
}

INSTANTIATE_TEST_SUITE_P(Versions, TableDefCodecTest,
                         ::testing::Values(JetVersion::kJet3,
                                           JetVersion::kJet4),
                         [](const auto& info) {
                           return std::string(FormatFor(info.param).name);
                         });

TEST(LongValueWriterTest, ReferencesNameTheirStorage) {
  const Format& f = FormatFor(JetVersion::kJet4);
  uint32_t next = 10;
  std::map<uint32_t, std::vector<uint8_t>> written;
  LongValueWriter w(
      f, [&]() -> Result<uint32_t> { return next++; },
      [&](uint32_t page, Bytes b) {
        written[page].assign(b.begin(), b.end());
        return Status::Ok();
      });
  std::vector<uint8_t> small(30, 'a'), medium(2000, 'b'), large(9000, 'c');
  auto in = w.Store(small);
  auto one = w.Store(medium);
  auto chain = w.Store(large);
  ASSERT_TRUE(in.ok() && one.ok() && chain.ok());
  ASSERT_TRUE(w.Flush().ok());
  EXPECT_EQ(in->data[3], kLongValueInline);
  EXPECT_EQ(in->data.size(), kLongValueRefSize + small.size());
  EXPECT_EQ(one->data[3], kLongValueSinglePage);
  EXPECT_EQ(chain->data[3], kLongValueChain);
  EXPECT_EQ(LoadU24Le(chain->data.data()), large.size());

  // Follow the chain through the written pages and reassemble the value.
  std::vector<uint8_t> got;
  uint32_t ptr = LoadU32Le(chain->data.data() + 4);
  for (int hops = 0; ptr != 0 && hops < 10; ++hops) {
    auto& page = written.at(ptr >> 8);
    auto parsed = ParseDataPage(f, ptr >> 8, page);
    ASSERT_TRUE(parsed.ok());
    ASSERT_TRUE(parsed->long_value);
    auto row = parsed->RowBytes(page, ptr & 0xFF);
    ASSERT_TRUE(row.ok());
    got.insert(got.end(), row->begin() + 4, row->end());
    ptr = LoadU32Le(row->data());
  }
  EXPECT_EQ(got, large);
  // A forced kind the value cannot use is refused.
  EXPECT_FALSE(
      w.Store(std::vector<uint8_t>(5000, 'd'), LongValueStorage::kSinglePage)
          .ok());
  EXPECT_FALSE(w.Store({}, LongValueStorage::kChain).ok());
}

}  // namespace
}  // namespace hvq::jet
