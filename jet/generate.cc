// Test-database generator. See generate.h.
#include "jet/generate.h"

#include <algorithm>
#include <cmath>

namespace hvq::jet {
namespace {

// splitmix64: a tiny, well-mixed, portable generator.
uint64_t Mix(uint64_t x) {
  x += 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

class Rng {
 public:
  Rng(uint64_t seed, uint32_t table, uint64_t row)
      : s_(Mix(seed ^ Mix(table * 0x100000001B3ull ^ Mix(row)))) {}
  uint64_t Next() { return s_ = Mix(s_); }
  uint64_t Below(uint64_t n) { return n == 0 ? 0 : Next() % n; }

 private:
  uint64_t s_;
};

constexpr char kAlphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789 ";

std::string Letters(Rng& r, size_t n) {
  std::string s(n, 'x');
  for (auto& c : s) c = kAlphabet[r.Below(sizeof(kAlphabet) - 1)];
  return s;
}

Value V(Value::Kind k) {
  Value v;
  v.kind = k;
  return v;
}

}  // namespace

TableSpec GeneratedTableSpec(const GenerateOptions& o, uint32_t table) {
  using T = ColumnType;
  TableSpec s;
  s.name = "T" + std::to_string(table);
  uint16_t name_len =
      static_cast<uint16_t>(std::clamp<uint32_t>(o.value_size, 1, 255));
  s.columns = {{"ID", T::kLong, 0, true},
               {"Code", T::kLong},
               {"Name", T::kText, name_len},
               {"Amount", T::kMoney},
               {"Ratio", T::kDouble},
               {"Created", T::kDateTime},
               {"Flag", T::kBool},
               {"Small", T::kInt},
               {"Tiny", T::kByte},
               {"Score", T::kFloat},
               {"Uid", T::kGuid},
               {"Bin", T::kBinary, 16},
               {"Notes", T::kMemo},
               {"Blob", T::kOle}};
  const std::vector<IndexSpec> all = {{"PrimaryKey", {"ID"}, true, true},
                                      {"Code", {"Code"}},
                                      {"Created", {"Created"}},
                                      {"Flag", {"Flag"}},
                                      {"Uid", {"Uid"}},
                                      {"Name", {"Name"}}};
  for (uint32_t i = 0; i < std::min<uint32_t>(o.indexes, 6); ++i) {
    s.indexes.push_back(all[i]);
  }
  return s;
}

std::vector<Value> GeneratedRow(const GenerateOptions& o, uint32_t table,
                                uint64_t row) {
  Rng r(o.seed, table, row);
  using K = Value::Kind;
  std::vector<Value> v(14);
  v[0] = V(K::kInt);
  v[0].i = static_cast<int64_t>(row + 1);
  v[1] = V(K::kInt);
  v[1].i = static_cast<int64_t>(r.Below(2000000000)) - 1000000000;
  v[2] = V(K::kText);
  v[2].s = Letters(r, 1 + r.Below(std::clamp<uint32_t>(o.value_size, 1, 255)));
  v[3] = V(K::kMoney);
  v[3].i = static_cast<int64_t>(r.Below(100000000)) * 100 - 5000000000ll;
  v[4] = V(K::kDouble);
  v[4].d = static_cast<double>(r.Below(1 << 20)) / 64.0 - 8192.0;
  v[5] = V(K::kDateTime);
  // Whole seconds between 1990 and 2030.
  v[5].d = 32874.0 + static_cast<double>(r.Below(14600 * 86400ull)) / 86400.0;
  v[6] = V(K::kBool);
  v[6].b = r.Below(2) == 1;
  v[7] = V(K::kInt);
  v[7].i = static_cast<int64_t>(r.Below(65536)) - 32768;
  v[8] = V(K::kInt);
  v[8].i = static_cast<int64_t>(r.Below(256));
  v[9] = V(K::kFloat);
  v[9].d = static_cast<double>(r.Below(4096)) / 8.0;
  v[10] = V(K::kGuid);
  v[10].s.resize(16);
  for (auto& c : v[10].s) c = static_cast<char>(r.Below(256));
  v[11] = V(K::kBinary);
  v[11].s.resize(1 + r.Below(16));
  for (auto& c : v[11].s) c = static_cast<char>(r.Below(256));
  // Some nulls in optional columns.
  if (r.Below(10) == 0) v[2] = Value::Null();
  if (r.Below(10) == 0) v[4] = Value::Null();
  // Memo values of every storage kind on the first rows, rarer later:
  // inline, one LVAL row, a chain of LVAL rows, empty.
  static constexpr size_t kMemoSizes[] = {40, 700, 5000, 0};
  uint64_t memo = row < 4 ? row : r.Below(1000);
  int kind = memo == 0 || (memo >= 4 && memo < 30)    ? 0
             : memo == 1 || (memo >= 30 && memo < 40) ? 1
             : memo == 2 || memo == 40                ? 2
             : memo == 3 || memo == 41                ? 3
                                                      : -1;
  if (kind >= 0) {
    v[12] = V(K::kText);
    v[12].s = Letters(r, kMemoSizes[kind]);
  }
  if (row == 4 || r.Below(500) == 0) {
    v[13] = V(K::kBinary);
    v[13].s.resize(1 + r.Below(3000));
    for (auto& c : v[13].s) c = static_cast<char>(r.Below(256));
  }
  return v;
}

bool GeneratedRowDeleted(const GenerateOptions& o, uint32_t table,
                         uint64_t row) {
  if (o.deleted <= 0) return false;
  Rng r(o.seed ^ 0xDE1E7Eull, table, row);
  return static_cast<double>(r.Below(1000000)) < o.deleted * 1000000.0;
}

Result<GenerateSummary> Generate(const std::string& path,
                                 const GenerateOptions& o) {
  if (o.tables == 0) return Status::InvalidArgument("need at least one table");
  if (o.indexes > 6) return Status::InvalidArgument("at most 6 indexes");
  if (o.deleted < 0 || o.deleted >= 1) {
    return Status::InvalidArgument("deleted fraction must be in [0, 1)");
  }
  DatabaseOptions db;
  db.version = o.version;
  db.password = o.password;
  db.database_key = o.database_key;
  HVQ_ASSIGN_OR_RETURN(auto builder, DatabaseBuilder::Create(path, db));
  GenerateSummary sum;
  // A scratch table, filled and dropped, leaves free pages at the start.
  if (o.deleted > 0) {
    TableSpec scratch;
    scratch.name = "Scratch";
    scratch.columns = {{"Filler", ColumnType::kText, 200}};
    HVQ_ASSIGN_OR_RETURN(auto id, builder->AddTable(scratch));
    Value filler;
    filler.kind = Value::Kind::kText;
    filler.s = std::string(200, 'z');
    for (int i = 0; i < 60; ++i) {
      HVQ_RETURN_IF_ERROR(builder->InsertRow(id, {&filler, 1}).status());
    }
    HVQ_RETURN_IF_ERROR(builder->DropTable(id));
  }
  for (uint32_t t = 1; t <= o.tables; ++t) {
    HVQ_ASSIGN_OR_RETURN(auto id, builder->AddTable(GeneratedTableSpec(o, t)));
    uint64_t live = 0;
    for (uint64_t r = 0; r < o.rows; ++r) {
      std::vector<Value> row = GeneratedRow(o, t, r);
      HVQ_ASSIGN_OR_RETURN(RowId where, builder->InsertRow(id, row));
      ++sum.rows_inserted;
      if (GeneratedRowDeleted(o, t, r)) {
        HVQ_RETURN_IF_ERROR(builder->DeleteRow(id, where));
        ++sum.rows_deleted;
      } else {
        ++live;
      }
    }
    sum.live_rows.push_back(live);
  }
  HVQ_RETURN_IF_ERROR(builder->Finish());
  return sum;
}

}  // namespace hvq::jet
