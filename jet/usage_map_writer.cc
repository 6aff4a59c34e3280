// Usage maps of a freshly laid-out file; see usage_map_writer.h.
#include "jet/usage_map_writer.h"

#include <algorithm>
#include <memory>

#include "jet/byte_order.h"
#include "jet/data_page_builder.h"
#include "jet/usage_map.h"

namespace hvq::jet {
namespace {

// tdef field of page 1 in every corpus file.
constexpr uint32_t kGlobalMapPageOwner = 1;

size_t RecordSize(const Format& f) { return 5 + f.usage_map_table_bytes; }

}  // namespace

Result<size_t> UsageMapRecordSet::Add(std::vector<uint32_t> pages) {
  const Format& f = *format_;
  const uint32_t inline_span = f.usage_map_table_bytes * 8;
  std::sort(pages.begin(), pages.end());
  pages.erase(std::unique(pages.begin(), pages.end()), pages.end());
  const uint32_t first = pages.empty() ? 0 : (pages.front() & ~7u);
  if (pages.empty() || pages.back() - first < inline_span) {
    HVQ_ASSIGN_OR_RETURN(std::vector<uint8_t> rec,
                         BuildInlineUsageMap(pages, first, RecordSize(f)));
    records_.push_back(std::move(rec));
    return records_.size() - 1;
  }
  Status alloc_error;
  HVQ_ASSIGN_OR_RETURN(
      ReferenceUsageMap ref,
      BuildReferenceUsageMap(f, pages, RecordSize(f), [&]() -> uint32_t {
        Result<uint32_t> p = allocate_();
        if (!p.ok()) {
          alloc_error = p.status();
          return 0;
        }
        return *p;
      }));
  HVQ_RETURN_IF_ERROR(alloc_error);
  for (const auto& [page, bytes] : ref.map_pages) {
    HVQ_RETURN_IF_ERROR(sink_(page, bytes));
  }
  records_.push_back(std::move(ref.record));
  return records_.size() - 1;
}

Result<std::vector<RowPointer>> UsageMapRecordSet::Place() {
  std::vector<RowPointer> where(records_.size());
  std::unique_ptr<DataPageBuilder> page;
  uint32_t page_no = 0;
  for (size_t i = 0; i < records_.size(); ++i) {
    if (page != nullptr && !page->Fits(records_[i].size())) {
      HVQ_RETURN_IF_ERROR(sink_(page_no, page->Build()));
      page.reset();
    }
    if (page == nullptr) {
      HVQ_ASSIGN_OR_RETURN(page_no, allocate_());
      page = std::make_unique<DataPageBuilder>(*format_, 0);
    }
    HVQ_ASSIGN_OR_RETURN(uint8_t r, page->AddRow(records_[i]));
    where[i] = RowPointer{page_no, r};
  }
  if (page != nullptr) HVQ_RETURN_IF_ERROR(sink_(page_no, page->Build()));
  return where;
}

Status WriteGlobalUsageMap(const Format& f,
                           const std::function<uint32_t()>& page_count,
                           const PageAllocator& allocate,
                           const std::unordered_set<uint32_t>& free_pages,
                           const PageSinkFn& sink) {
  const size_t record_size = RecordSize(f);
  const uint32_t inline_span = f.usage_map_table_bytes * 8;
  std::vector<uint8_t> record(record_size, 0);
  if (page_count() <= inline_span) {
    std::vector<uint32_t> set(free_pages.begin(), free_pages.end());
    for (uint32_t p = page_count(); p < inline_span; ++p) set.push_back(p);
    std::sort(set.begin(), set.end());
    HVQ_ASSIGN_OR_RETURN(record, BuildInlineUsageMap(set, 0, record_size));
  } else {
    // Enough type-0x05 pages to cover every page, the map pages included.
    const uint32_t per = PagesPerMapPage(f);
    const uint32_t slots = static_cast<uint32_t>((record_size - 1) / 4);
    const uint32_t before = page_count();
    uint32_t count = 0;
    while (uint64_t{count} * per < uint64_t{before} + count) ++count;
    if (count > slots) {
      return Status::InvalidArgument("database too large for the global map");
    }
    std::vector<uint32_t> map_pages;
    for (uint32_t k = 0; k < count; ++k) {
      HVQ_ASSIGN_OR_RETURN(uint32_t p, allocate());
      map_pages.push_back(p);
    }
    const uint32_t total = page_count();
    record[0] = kUsageMapReference;
    for (uint32_t k = 0; k < count; ++k) {
      StoreU32Le(&record[1 + 4 * k], map_pages[k]);
      std::vector<uint8_t> page(f.page_size, 0);
      page[0] = static_cast<uint8_t>(PageType::kUsageMap);
      page[1] = 0x01;
      for (uint32_t bit = 0; bit < per; ++bit) {
        const uint64_t pg = uint64_t{k} * per + bit;
        const bool is_free =
            pg >= total || free_pages.count(static_cast<uint32_t>(pg)) != 0;
        if (is_free) {
          page[f.usage_map_page_bitmap_offset + bit / 8] |=
              static_cast<uint8_t>(1u << (bit % 8));
        }
      }
      HVQ_RETURN_IF_ERROR(sink(map_pages[k], page));
    }
  }
  DataPageBuilder page1(f, kGlobalMapPageOwner);
  HVQ_RETURN_IF_ERROR(page1.AddRow(record).status());
  HVQ_RETURN_IF_ERROR(page1.AddRow(record).status());
  return sink(kGlobalUsageMapPage, page1.Build());
}

}  // namespace hvq::jet
