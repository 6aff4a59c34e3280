// Damaged files: a table of mutations of real databases, each of which must
// surface as a clean error (a non-OK Status from open or dump, or a problem
// reported by check), never a crash. Run under the sanitizer build too.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "jet/data_page.h"
#include "jet/database.h"
#include "jet/long_value.h"
#include "jet/row.h"
#include "jet/testdata/core_corpus.h"
#include "jet/usage_map.h"

namespace hvq::jet {
namespace {

using testing::CorpusDir;
using testing::HaveCorpus;
using testing::ReadFileBytes;

// Opens, reads every table (system ones too) and every row. Returns the
// first error.
Status ReadEverything(std::vector<uint8_t> image) {
  HVQ_ASSIGN_OR_RETURN(std::unique_ptr<Database> db,
                       Database::OpenBytes(std::move(image), {}));
  for (const auto& t : db->Tables(true)) {
    HVQ_ASSIGN_OR_RETURN(TableDef def, db->ReadTableDef(t.tdef_page));
    HVQ_RETURN_IF_ERROR(db->ScanRows(
        def,
        [](const RowLocation&, const std::vector<Value>&) { return true; }));
  }
  return Status::Ok();
}

// Facts about a pristine file used to aim mutations.
struct Target {
  std::vector<uint8_t> image;
  uint32_t page_size = 0;
  uint32_t user_tdef = 0;          // a user table's tdef page
  RowPointer owned_map;            // its owned-pages usage map record
  uint32_t data_page = 0;          // one of its data pages with a live row
  size_t lv_ref_offset = 0;        // file offset of a non-inline LV reference
  size_t chain_row_offset = 0;     // file offset of an LV chain row (0 = none)
  uint32_t chain_row_ptr = 0;      // that row's own row pointer
  size_t overflow_row_offset = 0;  // file offset of an overflow pointer row
};

Target Aim(const std::string& rel, const std::string& table) {
  Target t;
  t.image = ReadFileBytes(CorpusDir() + "/" + rel);
  auto db = Database::OpenBytes(t.image, {});
  EXPECT_TRUE(db.ok()) << db.status().ToString();
  PageFile& file = (*db)->pages();
  t.page_size = file.page_size();
  auto def = (*db)->ReadTableDef(table);
  EXPECT_TRUE(def.ok());
  t.user_tdef = def->first_page;
  t.owned_map = def->owned_pages;
  auto pages = OwnedPages(file, *def);
  for (uint32_t p : *pages) {
    auto page = file.GetPage(p);
    auto dp = ParseDataPage(file.format(), p, **page);
    if (!dp.ok() || dp->long_value) continue;
    for (size_t r = 0; r < dp->rows.size(); ++r) {
      const RowSlot& s = dp->rows[r];
      if (s.deleted()) continue;
      if (t.data_page == 0) t.data_page = p;
      size_t base = size_t{p} * t.page_size;
      if (s.overflow_pointer() && t.overflow_row_offset == 0) {
        t.overflow_row_offset = base + s.start;
        continue;
      }
      if (s.overflow_target()) continue;
      Bytes row = Bytes(**page).subspan(s.start, s.end - s.start);
      auto slices = CrackRow(file.format(), *def, row, p, 0);
      if (!slices.ok()) continue;
      for (const auto& sl : *slices) {
        if (!sl.present || !sl.column->is_long_value()) continue;
        auto ref = ParseLongValueRef(sl.data);
        if (!ref.ok() || ref->kind == LongValueKind::kInline) continue;
        if (t.lv_ref_offset == 0) {
          t.lv_ref_offset = base + (sl.data.data() - (*page)->data());
        }
        auto rows = LongValueRows(file, sl.data);
        if (ref->kind == LongValueKind::kChain && rows.ok() &&
            rows->size() > 1 && t.chain_row_offset == 0) {
          RowPointer first = (*rows)[0];
          auto lp = file.GetPage(first.page);
          auto ldp = ParseDataPage(file.format(), first.page, **lp);
          t.chain_row_offset =
              size_t{first.page} * t.page_size + ldp->rows[first.row].start;
          t.chain_row_ptr = first.ToU32();
        }
      }
    }
  }
  return t;
}

struct Mutation {
  const char* name;
  // Changes the image; returns false when the target file lacks the
  // structure (the case is then skipped for that file).
  std::function<bool(Target&)> apply;
  StatusCode expect;         // kOk = "any non-OK status"
  const char* message_part;  // "" = any message
};

void Put32(std::vector<uint8_t>& img, size_t off, uint32_t v) {
  StoreU32Le(img.data() + off, v);
}

std::vector<Mutation> Mutations() {
  return {
      {"truncated to two pages",
       [](Target& t) {
         t.image.resize(2 * t.page_size);
         return true;
       },
       StatusCode::kCorruption, "at least 3"},
      {"truncated inside a data page",
       [](Target& t) {
         t.image.resize(size_t{t.data_page} * t.page_size + 100);
         return true;
       },
       StatusCode::kCorruption, "past the end"},
      {"header version byte says ACE",
       [](Target& t) {
         t.image[kHeaderVersionOffset] = 0x02;
         return true;
       },
       StatusCode::kNotSupported, "ACE"},
      {"header database key flipped (pages decrypt to noise)",
       [](Target& t) {
         t.image[kHeaderDatabaseKeyOffset] ^= 0x5A;
         return true;
       },
       StatusCode::kCorruption, ""},
      {"catalog tdef column count huge",
       [](Target& t) {
         const Format& f = FormatFor(t.page_size == 2048 ? JetVersion::kJet3
                                                         : JetVersion::kJet4);
         StoreU16Le(
             t.image.data() + 2 * t.page_size + f.tdef_column_count_offset,
             0xFFFF);
         return true;
       },
       StatusCode::kCorruption, "column count"},
      {"user tdef chain points at itself",
       [](Target& t) {
         Put32(t.image, size_t{t.user_tdef} * t.page_size + 4, t.user_tdef);
         return true;
       },
       StatusCode::kCorruption, "loops"},
      {"user tdef chain points past the end",
       [](Target& t) {
         Put32(t.image, size_t{t.user_tdef} * t.page_size + 4, 0x00FFFFF0);
         return true;
       },
       StatusCode::kCorruption, "past the end"},
      {"user tdef page type overwritten",
       [](Target& t) {
         t.image[size_t{t.user_tdef} * t.page_size] = 0x01;
         return true;
       },
       StatusCode::kCorruption, "not a table definition"},
      {"data page row count too large",
       [](Target& t) {
         const Format& f = FormatFor(t.page_size == 2048 ? JetVersion::kJet3
                                                         : JetVersion::kJet4);
         StoreU16Le(t.image.data() + size_t{t.data_page} * t.page_size +
                        f.data_row_count_offset,
                    0x7FFF);
         return true;
       },
       StatusCode::kCorruption, "row count"},
      {"data page row offset inside the header",
       [](Target& t) {
         const Format& f = FormatFor(t.page_size == 2048 ? JetVersion::kJet3
                                                         : JetVersion::kJet4);
         StoreU16Le(t.image.data() + size_t{t.data_page} * t.page_size +
                        f.data_row_table_offset,
                    0x0003);
         return true;
       },
       StatusCode::kCorruption, "bad extent"},
      {"usage map record of unknown type",
       [](Target& t) {
         auto db = Database::OpenBytes(t.image, {});
         auto& file = (*db)->pages();
         auto page = file.GetPage(t.owned_map.page);
         auto dp = ParseDataPage(file.format(), t.owned_map.page, **page);
         t.image[size_t{t.owned_map.page} * t.page_size +
                 dp->rows[t.owned_map.row].start] = 0x07;
         return true;
       },
       StatusCode::kCorruption, "usage map"},
      {"long value pointer past the end",
       [](Target& t) {
         if (t.lv_ref_offset == 0) return false;
         Put32(t.image, t.lv_ref_offset + 4, 0xFFFFF000);
         return true;
       },
       StatusCode::kCorruption, "outside the file"},
      {"long value length beyond the file",
       [](Target& t) {
         if (t.lv_ref_offset == 0) return false;
         uint32_t w = LoadU32Le(t.image.data() + t.lv_ref_offset);
         Put32(t.image, t.lv_ref_offset, (w & 0xC0000000u) | 0x3FFFFFFF);
         return true;
       },
       StatusCode::kCorruption, "long value"},
      {"long value chain loops to itself",
       [](Target& t) {
         if (t.chain_row_offset == 0) return false;
         Put32(t.image, t.chain_row_offset, t.chain_row_ptr);
         return true;
       },
       StatusCode::kCorruption, "loops"},
      {"overflow pointer names itself",
       [](Target& t) {
         if (t.overflow_row_offset == 0) return false;
         size_t page = t.overflow_row_offset / t.page_size;
         auto db = Database::OpenBytes(t.image, {});
         auto p = (*db)->pages().GetPage(static_cast<uint32_t>(page));
         auto dp =
             ParseDataPage((*db)->format(), static_cast<uint32_t>(page), **p);
         uint8_t row = 0;
         for (size_t r = 0; r < dp->rows.size(); ++r) {
           if (dp->rows[r].start == t.overflow_row_offset % t.page_size)
             row = r;
         }
         t.image[t.overflow_row_offset] = row;
         StoreU24Le(t.image.data() + t.overflow_row_offset + 1,
                    static_cast<uint32_t>(page));
         return true;
       },
       StatusCode::kCorruption, "hops"},
  };
}

TEST(DamageTest, EveryMutationIsACleanError) {
  if (!HaveCorpus()) GTEST_SKIP() << "corpus not found (set HVQ_CORPUS_DIR)";
  struct File {
    const char* path;
    const char* table;
    bool encrypted;  // raw-byte damage decrypts to noise: any error will do
  };
  const File files[] = {
      {"jackcess/test2V2003.mdb", "MSP_PROJECTS", false},   // Jet 4, LV chains
      {"jackcess/test2V1997.mdb", "MSP_PROJECTS", false},   // Jet 3, LV chains
      {"jackcess/overflowTestV2003.mdb", "Table1", false},  // overflow rows
      {"jackcessencrypt/db-enc.mdb", "Table1", true},       // RC4 pages
  };
  int applied = 0;
  for (const File& f : files) {
    Target pristine = Aim(f.path, f.table);
    ASSERT_NE(pristine.data_page, 0u) << f.path;
    ASSERT_TRUE(ReadEverything(pristine.image).ok()) << f.path;
    const std::vector<Mutation> mutations = Mutations();
    for (size_t i = 0; i < mutations.size(); ++i) {
      const Mutation& m = mutations[i];
      SCOPED_TRACE(std::string(f.path) + ": " + m.name);
      Target t = pristine;
      if (!m.apply(t)) continue;
      ++applied;
      Status st = ReadEverything(t.image);
      ASSERT_FALSE(st.ok()) << "mutation went unnoticed";
      // The first four cases touch only the size or page 0.
      if (f.encrypted && i >= 4) continue;
      if (m.expect != StatusCode::kOk) {
        EXPECT_EQ(st.code(), m.expect) << st.ToString();
      }
      EXPECT_NE(st.message().find(m.message_part), std::string::npos)
          << st.ToString();
    }
  }
  EXPECT_GE(applied, 50);
}

// Single-byte flips spread over a whole small file: reading
// either succeeds or fails cleanly (the sanitizer build checks "cleanly").
TEST(DamageTest, ByteFlipsNeverCrash) {
  if (!HaveCorpus()) GTEST_SKIP() << "corpus not found (set HVQ_CORPUS_DIR)";
  std::vector<uint8_t> image =
      ReadFileBytes(CorpusDir() + "/jackcess/test2V1997.mdb");
  int failures = 0, runs = 0;
  const size_t stride = image.size() / 600 + 1;
  for (size_t off = 0; off < image.size(); off += stride) {
    std::vector<uint8_t> copy = image;
    copy[off] ^= 0xFF;
    Status st = ReadEverything(std::move(copy));
    ++runs;
    if (!st.ok()) {
      ++failures;
      EXPECT_FALSE(st.message().empty());
    }
  }
  EXPECT_GT(failures, 0);
  EXPECT_GT(runs, 100);
}

}  // namespace
}  // namespace hvq::jet
