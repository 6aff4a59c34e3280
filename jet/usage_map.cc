// Usage map reader and builders.
#include "jet/usage_map.h"

#include <algorithm>
#include <string>

#include "jet/data_page.h"
#include "jet/page_file.h"

namespace hvq::jet {
namespace {

void BitmapPages(Bytes bitmap, uint64_t base, uint32_t limit,
                 std::vector<uint32_t>* out, bool* past_limit) {
  for (size_t i = 0; i < bitmap.size(); ++i) {
    uint8_t b = bitmap[i];
    if (b == 0) continue;
    for (int bit = 0; bit < 8; ++bit) {
      if (!(b >> bit & 1)) continue;
      uint64_t page = base + i * 8 + bit;
      if (page >= limit) {
        *past_limit = true;
        continue;
      }
      out->push_back(static_cast<uint32_t>(page));
    }
  }
}

}  // namespace

uint32_t PagesPerMapPage(const Format& f) {
  return (f.page_size - f.usage_map_page_bitmap_offset) * 8;
}

Result<std::vector<uint8_t>> ReadUsageMapRecord(PageFile& file,
                                                RowPointer ptr) {
  return ReadRowAt(file, ptr, "usage map");
}

Result<std::vector<uint32_t>> DecodeUsageMap(PageFile& file, Bytes record,
                                             RowPointer where,
                                             bool allow_past_end) {
  const Format& f = file.format();
  if (record.empty()) {
    return Status::Corruption("empty usage map record", where.page, 0);
  }
  std::vector<uint32_t> pages;
  bool past = false;
  const uint32_t limit = file.page_count();
  if (record[0] == kUsageMapInline) {
    if (record.size() < f.usage_map_inline_bitmap_offset) {
      return Status::Corruption("inline usage map record too short", where.page,
                                0);
    }
    uint32_t first = LoadU32Le(record.data() + f.usage_map_inline_start_offset);
    BitmapPages(record.subspan(f.usage_map_inline_bitmap_offset), first, limit,
                &pages, &past);
  } else if (record[0] == kUsageMapReference) {
    const uint32_t per_page = PagesPerMapPage(f);
    size_t n = (record.size() - 1) / 4;
    for (size_t k = 0; k < n; ++k) {
      uint32_t map_page = LoadU32Le(record.data() + 1 + 4 * k);
      // Zero and negative (as signed) pointers name no map page; real
      // files leave such filler in unused slots.
      if (map_page == 0 || (map_page & 0x80000000u) != 0) continue;
      if (map_page >= limit) {
        return Status::Corruption("usage map page " + std::to_string(map_page) +
                                      " is past the end of the file",
                                  where.page, static_cast<uint32_t>(1 + 4 * k));
      }
      HVQ_ASSIGN_OR_RETURN(PageRef mp, file.GetPage(map_page));
      if ((*mp)[0] != static_cast<uint8_t>(PageType::kUsageMap)) {
        return Status::Corruption("page " + std::to_string(map_page) +
                                      " named by a usage map is not a map "
                                      "page (type " +
                                      std::to_string((*mp)[0]) + ")",
                                  map_page, 0);
      }
      BitmapPages(Bytes(*mp).subspan(f.usage_map_page_bitmap_offset),
                  uint64_t{k} * per_page, limit, &pages, &past);
    }
  } else {
    return Status::Corruption(
        "unknown usage map type " + std::to_string(record[0]), where.page, 0);
  }
  if (past && !allow_past_end) {
    return Status::Corruption(
        "usage map names pages past the end of the file (" +
            std::to_string(limit) + " pages)",
        where.page, 0);
  }
  std::sort(pages.begin(), pages.end());
  pages.erase(std::unique(pages.begin(), pages.end()), pages.end());
  return pages;
}

Result<std::vector<uint32_t>> ReadUsageMap(PageFile& file, RowPointer ptr) {
  HVQ_ASSIGN_OR_RETURN(std::vector<uint8_t> rec, ReadUsageMapRecord(file, ptr));
  return DecodeUsageMap(file, rec, ptr);
}

Result<GlobalUsage> ReadGlobalUsage(PageFile& file) {
  const Format& f = file.format();
  RowPointer ptr{kGlobalUsageMapPage, 0};
  HVQ_ASSIGN_OR_RETURN(std::vector<uint8_t> rec, ReadUsageMapRecord(file, ptr));
  GlobalUsage g;
  // The free map runs past the end of the file: those pages do not exist
  // yet and are dropped.
  HVQ_ASSIGN_OR_RETURN(g.free_pages, DecodeUsageMap(file, rec, ptr, true));
  if (rec[0] == kUsageMapInline &&
      rec.size() >= f.usage_map_inline_bitmap_offset) {
    uint32_t first = LoadU32Le(rec.data() + f.usage_map_inline_start_offset);
    uint64_t end =
        first + uint64_t{rec.size() - f.usage_map_inline_bitmap_offset} * 8;
    g.mapped_pages =
        static_cast<uint32_t>(std::min<uint64_t>(end, file.page_count()));
  } else {
    // A reference map covers its whole slot range; an empty slot means
    // no page of that range is free.
    const size_t slots = (rec.size() - 1) / 4;
    for (size_t k = 0; k < slots; ++k) {
      uint32_t mp = LoadU32Le(rec.data() + 1 + 4 * k);
      if (mp != 0 && (mp & 0x80000000u) == 0) g.map_pages.push_back(mp);
    }
    uint64_t end = uint64_t{slots} * PagesPerMapPage(f);
    g.mapped_pages =
        static_cast<uint32_t>(std::min<uint64_t>(end, file.page_count()));
  }
  for (uint32_t p = g.mapped_pages; p < file.page_count(); ++p) {
    g.free_pages.push_back(p);
  }
  return g;
}

Result<std::vector<uint8_t>> BuildInlineUsageMap(
    const std::vector<uint32_t>& pages, uint32_t first_page,
    size_t record_size) {
  if (record_size < 6) {
    return Status::InvalidArgument("inline usage map record too small");
  }
  std::vector<uint8_t> rec(record_size, 0);
  rec[0] = kUsageMapInline;
  StoreU32Le(rec.data() + 1, first_page);
  const uint64_t bits = uint64_t{record_size - 5} * 8;
  for (uint32_t p : pages) {
    if (p < first_page || p - first_page >= bits) {
      return Status::InvalidArgument("page " + std::to_string(p) +
                                     " outside inline usage map range " +
                                     std::to_string(first_page) + ".." +
                                     std::to_string(first_page + bits - 1));
    }
    uint32_t i = p - first_page;
    rec[5 + i / 8] |= static_cast<uint8_t>(1u << (i % 8));
  }
  return rec;
}

Result<ReferenceUsageMap> BuildReferenceUsageMap(
    const Format& f, const std::vector<uint32_t>& pages, size_t record_size,
    const std::function<uint32_t()>& allocate) {
  if (record_size < 5) {
    return Status::InvalidArgument("reference usage map record too small");
  }
  const uint32_t per_page = PagesPerMapPage(f);
  const size_t slots = (record_size - 1) / 4;
  ReferenceUsageMap out;
  out.record.assign(record_size, 0);
  out.record[0] = kUsageMapReference;
  std::vector<int> slot_to_map(slots, -1);
  for (uint32_t p : pages) {
    size_t k = p / per_page;
    if (k >= slots) {
      return Status::InvalidArgument("page " + std::to_string(p) +
                                     " beyond what the reference map "
                                     "can address");
    }
    if (slot_to_map[k] < 0) {
      std::vector<uint8_t> mp(f.page_size, 0);
      mp[0] = static_cast<uint8_t>(PageType::kUsageMap);
      mp[1] = 0x01;
      uint32_t num = allocate();
      StoreU32Le(out.record.data() + 1 + 4 * k, num);
      slot_to_map[k] = static_cast<int>(out.map_pages.size());
      out.map_pages.emplace_back(num, std::move(mp));
    }
    auto& mp = out.map_pages[slot_to_map[k]].second;
    uint32_t i = p % per_page;
    mp[f.usage_map_page_bitmap_offset + i / 8] |=
        static_cast<uint8_t>(1u << (i % 8));
  }
  return out;
}

}  // namespace hvq::jet
