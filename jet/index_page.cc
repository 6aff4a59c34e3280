// Index page codec; layout described in index_page.h.
#include "jet/index_page.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <utility>

namespace hvq::jet {
namespace {

constexpr uint8_t kIndexPageMarker = 0x01;

uint32_t TrailerSize(bool leaf) {
  return leaf ? kIndexRowPointerSize
              : kIndexRowPointerSize + kIndexChildPointerSize;
}

uint32_t MaxPrefix(const Format& format) {
  return format.index_prefix_length_size == 1 ? 0xFFu : 0xFFFFu;
}

std::string Hex(uint32_t v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%x", v);
  return buf;
}

size_t CommonPrefix(const std::vector<uint8_t>& a,
                    const std::vector<uint8_t>& b) {
  size_t n = std::min(a.size(), b.size());
  size_t i = 0;
  while (i < n && a[i] == b[i]) ++i;
  return i;
}

// Full entry bytes as stored on a page.
void AppendEntryBytes(const IndexEntry& e, bool leaf,
                      std::vector<uint8_t>* out) {
  out->insert(out->end(), e.key.begin(), e.key.end());
  uint8_t ptr[8];
  StoreU24Be(ptr, e.data_page);
  ptr[3] = e.data_row;
  StoreU32Be(ptr + 4, e.child_page);
  out->insert(out->end(), ptr, ptr + TrailerSize(leaf));
}

}  // namespace

std::vector<uint8_t> IndexEntry::SortBytes() const {
  std::vector<uint8_t> out;
  AppendEntryBytes(*this, /*leaf=*/true, &out);
  return out;
}

int CompareIndexEntries(const IndexEntry& a, const IndexEntry& b) {
  size_t n = std::min(a.key.size(), b.key.size());
  for (size_t i = 0; i < n; ++i) {
    if (a.key[i] != b.key[i]) return a.key[i] < b.key[i] ? -1 : 1;
  }
  // A key that is a proper prefix of the other sorts first only if the
  // pointer bytes that follow it say so: compare the full sort bytes.
  if (a.key.size() != b.key.size()) {
    std::vector<uint8_t> sa = a.SortBytes(), sb = b.SortBytes();
    return std::lexicographical_compare(sa.begin(), sa.end(), sb.begin(),
                                        sb.end())
               ? -1
               : 1;
  }
  if (a.data_page != b.data_page) return a.data_page < b.data_page ? -1 : 1;
  if (a.data_row != b.data_row) return a.data_row < b.data_row ? -1 : 1;
  return 0;
}

uint32_t IndexPageCapacity(const Format& format) {
  uint32_t area = format.page_size - format.index_entries_offset;
  // The mask must also be able to mark the end of the last entry.
  uint32_t mask_bits = format.index_entry_mask_size * 8 - 1;
  return std::min(area, mask_bits);
}

Result<IndexPage> ParseIndexPage(const Format& format, Bytes page,
                                 uint32_t page_number) {
  auto bad = [&](const std::string& what, uint32_t offset) {
    return Status::Corruption("index page: " + what, page_number, offset);
  };
  if (page.size() != format.page_size) {
    return bad("page is " + std::to_string(page.size()) + " bytes, expected " +
                   std::to_string(format.page_size),
               0);
  }
  IndexPage out;
  const uint8_t type = page[0];
  if (type == static_cast<uint8_t>(PageType::kIndexLeaf)) {
    out.leaf = true;
  } else if (type == static_cast<uint8_t>(PageType::kIndexIntermediate)) {
    out.leaf = false;
  } else {
    return bad("page type " + Hex(type) + " is not an index page", 0);
  }
  if (page[1] != kIndexPageMarker) {
    return bad("marker byte is " + Hex(page[1]) + ", expected 0x01", 1);
  }
  out.free_space = LoadU16Le(&page[format.index_free_space_offset]);
  out.parent_page = LoadU32Le(&page[format.index_parent_offset]);
  if (format.index_unknown_offset != 0) {
    out.unknown = LoadU32Le(&page[format.index_unknown_offset]);
  }
  out.prev_page = LoadU32Le(&page[format.index_prev_offset]);
  out.next_page = LoadU32Le(&page[format.index_next_offset]);
  out.tail_page = LoadU32Le(&page[format.index_tail_offset]);
  out.prefix_length = format.index_prefix_length_size == 1
                          ? page[format.index_prefix_length_offset]
                          : LoadU16Le(&page[format.index_prefix_length_offset]);
  out.node_flag = page[format.index_node_flag_offset];

  const uint32_t area_start = format.index_entries_offset;
  const uint32_t area_size = format.page_size - area_start;
  const uint32_t trailer = TrailerSize(out.leaf);
  const uint32_t mask_offset = format.index_entry_mask_offset;

  uint32_t start = 0;  // of the current entry, relative to the entry area
  for (uint32_t i = 0; i < format.index_entry_mask_size; ++i) {
    const uint8_t bits = page[mask_offset + i];
    if (bits == 0) continue;
    for (uint32_t b = 0; b < 8; ++b) {
      if ((bits & (1u << b)) == 0) continue;
      const uint32_t end = i * 8 + b;
      if (end > area_size) {
        return bad("entry mask marks offset " + std::to_string(end) +
                       " past the end of the page",
                   mask_offset + i);
      }
      if (end <= start) {
        return bad("empty entry in entry mask", mask_offset + i);
      }
      const bool first = out.entries.empty();
      const uint32_t stored = end - start;
      const uint32_t shared = first ? 0 : out.prefix_length;
      const uint32_t full = stored + shared;
      if (first && out.prefix_length > stored) {
        return bad("shared prefix of " + std::to_string(out.prefix_length) +
                       " bytes is longer than the first entry",
                   format.index_prefix_length_offset);
      }
      if (full < trailer + 1) {
        return bad("entry of " + std::to_string(full) + " bytes is too short",
                   area_start + start);
      }
      std::vector<uint8_t> bytes;
      bytes.reserve(full);
      if (!first) {
        const uint8_t* p = &page[out.entry_offsets[0]];
        bytes.insert(bytes.end(), p, p + shared);
      }
      const uint8_t* s = &page[area_start + start];
      bytes.insert(bytes.end(), s, s + stored);
      IndexEntry e;
      const uint32_t key_len = full - trailer;
      e.key.assign(bytes.begin(), bytes.begin() + key_len);
      e.data_page = LoadU24Be(&bytes[key_len]);
      e.data_row = bytes[key_len + 3];
      if (!out.leaf) e.child_page = LoadU32Be(&bytes[key_len + 4]);
      out.entries.push_back(std::move(e));
      out.entry_offsets.push_back(area_start + start);
      start = end;
    }
  }
  if (out.entries.empty() && out.prefix_length != 0) {
    return bad("shared prefix on a page without entries",
               format.index_prefix_length_offset);
  }
  const uint32_t expected_free = area_size - start;
  if (out.free_space != expected_free) {
    return bad("free space field says " + std::to_string(out.free_space) +
                   ", entries leave " + std::to_string(expected_free),
               format.index_free_space_offset);
  }
  return out;
}

Result<std::vector<uint8_t>> BuildIndexPage(const Format& format,
                                            const IndexPage& page,
                                            int prefix_length) {
  const bool leaf = page.leaf;
  const uint32_t trailer = TrailerSize(leaf);
  std::vector<std::vector<uint8_t>> full;
  full.reserve(page.entries.size());
  for (size_t i = 0; i < page.entries.size(); ++i) {
    const IndexEntry& e = page.entries[i];
    if (e.key.empty()) {
      return Status::InvalidArgument("index entry " + std::to_string(i) +
                                     " has an empty key");
    }
    if (e.data_page > kIndexMaxDataPage) {
      return Status::InvalidArgument("index entry data page " +
                                     std::to_string(e.data_page) +
                                     " does not fit in 3 bytes");
    }
    if (leaf && e.child_page != 0) {
      return Status::InvalidArgument("leaf entry with a child page");
    }
    if (i > 0 && CompareIndexEntries(page.entries[i - 1], e) >= 0) {
      return Status::InvalidArgument(
          "index entries not strictly ascending at " + std::to_string(i));
    }
    std::vector<uint8_t> bytes;
    AppendEntryBytes(e, leaf, &bytes);
    full.push_back(std::move(bytes));
  }

  size_t prefix = 0;
  if (!full.empty()) {
    size_t common = full[0].size() - trailer;  // keys only when automatic
    for (size_t i = 1; i < page.entries.size(); ++i) {
      common = std::min(common,
                        CommonPrefix(page.entries[0].key, page.entries[i].key));
    }
    if (full.size() == 1) common = 0;
    if (prefix_length == kAutoPrefix) {
      prefix = std::min<size_t>(common, MaxPrefix(format));
    } else {
      if (prefix_length < 0 ||
          static_cast<uint32_t>(prefix_length) > MaxPrefix(format)) {
        return Status::InvalidArgument("prefix length out of range");
      }
      prefix = static_cast<size_t>(prefix_length);
      if (prefix > full[0].size()) {
        return Status::InvalidArgument("prefix longer than the first entry");
      }
      for (size_t i = 1; i < full.size(); ++i) {
        // Every later entry must keep at least one stored byte.
        if (prefix >= full[i].size() ||
            CommonPrefix(full[0], full[i]) < prefix) {
          return Status::InvalidArgument("entries do not share the prefix");
        }
      }
    }
  } else if (prefix_length > 0) {
    return Status::InvalidArgument("prefix on a page without entries");
  }

  size_t total = 0;
  for (size_t i = 0; i < full.size(); ++i) {
    total += full[i].size() - (i == 0 ? 0 : prefix);
  }
  if (total > IndexPageCapacity(format)) {
    return Status::InvalidArgument(
        "index entries need " + std::to_string(total) +
        " bytes, a page holds " + std::to_string(IndexPageCapacity(format)));
  }

  std::vector<uint8_t> out(format.page_size, 0);
  out[0] = static_cast<uint8_t>(leaf ? PageType::kIndexLeaf
                                     : PageType::kIndexIntermediate);
  out[1] = kIndexPageMarker;
  const uint32_t area_start = format.index_entries_offset;
  StoreU16Le(&out[format.index_free_space_offset],
             static_cast<uint16_t>(format.page_size - area_start - total));
  StoreU32Le(&out[format.index_parent_offset], page.parent_page);
  if (format.index_unknown_offset != 0) {
    StoreU32Le(&out[format.index_unknown_offset], page.unknown);
  }
  StoreU32Le(&out[format.index_prev_offset], page.prev_page);
  StoreU32Le(&out[format.index_next_offset], page.next_page);
  StoreU32Le(&out[format.index_tail_offset], page.tail_page);
  if (format.index_prefix_length_size == 1) {
    out[format.index_prefix_length_offset] = static_cast<uint8_t>(prefix);
  } else {
    StoreU16Le(&out[format.index_prefix_length_offset],
               static_cast<uint16_t>(prefix));
  }
  out[format.index_node_flag_offset] = page.node_flag;

  uint32_t pos = 0;
  for (size_t i = 0; i < full.size(); ++i) {
    const size_t skip = i == 0 ? 0 : prefix;
    std::copy(full[i].begin() + skip, full[i].end(),
              out.begin() + area_start + pos);
    pos += static_cast<uint32_t>(full[i].size() - skip);
    out[format.index_entry_mask_offset + pos / 8] |=
        static_cast<uint8_t>(1u << (pos % 8));
  }
  return out;
}

Result<std::vector<IndexEntry>> BuildIntermediateLevel(
    const std::vector<IndexEntry>& children,
    const std::vector<std::pair<size_t, size_t>>& groups,
    const PageAllocator& allocate_page,
    const std::function<Status(IndexPage& page, uint32_t number)>& emit) {
  std::vector<uint32_t> numbers;
  numbers.reserve(groups.size());
  for (size_t g = 0; g < groups.size(); ++g) {
    HVQ_ASSIGN_OR_RETURN(uint32_t n, allocate_page());
    numbers.push_back(n);
  }
  std::vector<IndexEntry> next_level;
  next_level.reserve(groups.size());
  for (size_t g = 0; g < groups.size(); ++g) {
    IndexPage page;
    page.leaf = false;
    page.prev_page = g > 0 ? numbers[g - 1] : 0;
    page.next_page = g + 1 < groups.size() ? numbers[g + 1] : 0;
    const auto [begin, end] = groups[g];
    if (end - begin == 1) {
      page.entries.push_back(children[begin]);
    } else {
      // The last child is the tail page and has no stored entry.
      page.entries.assign(children.begin() + begin, children.begin() + end - 1);
      page.tail_page = children[end - 1].child_page;
    }
    HVQ_RETURN_IF_ERROR(emit(page, numbers[g]));
    IndexEntry up = children[end - 1];
    up.child_page = numbers[g];
    next_level.push_back(std::move(up));
  }
  return next_level;
}

Result<BuiltIndexTree> BuildIndexTree(const Format& format, uint32_t tdef_page,
                                      const std::vector<IndexEntry>& entries,
                                      const PageAllocator& allocate_page,
                                      int fill_percent) {
  if (fill_percent < 50 || fill_percent > 100) {
    return Status::InvalidArgument("fill percent must be within 50..100");
  }
  for (size_t i = 1; i < entries.size(); ++i) {
    if (CompareIndexEntries(entries[i - 1], entries[i]) >= 0) {
      return Status::InvalidArgument(
          "index entries not strictly ascending at " + std::to_string(i));
    }
  }
  const uint32_t capacity = IndexPageCapacity(format);

  // Splits `level` into runs [begin, end) that fit one page each. The size
  // of a run is the sum of its full entries less the shared key prefix for
  // every entry after the first, computed the same way BuildIndexPage picks
  // its automatic prefix.
  auto split =
      [&](const std::vector<IndexEntry>& level, bool leaf,
          size_t budget) -> Result<std::vector<std::pair<size_t, size_t>>> {
    std::vector<std::pair<size_t, size_t>> runs;
    const size_t trailer = TrailerSize(leaf);
    size_t begin = 0;
    while (begin < level.size()) {
      const size_t first_size = level[begin].key.size() + trailer;
      if (first_size > capacity) {
        return Status::InvalidArgument("index key of " +
                                       std::to_string(level[begin].key.size()) +
                                       " bytes does not fit on a page");
      }
      size_t sum = first_size;
      size_t prefix =
          std::min<size_t>(level[begin].key.size(), MaxPrefix(format));
      size_t end = begin + 1;
      while (end < level.size()) {
        const size_t p =
            std::min(prefix, CommonPrefix(level[begin].key, level[end].key));
        const size_t s = sum + level[end].key.size() + trailer;
        const size_t n = end - begin + 1;
        if (s - (n - 1) * p > budget) break;
        sum = s;
        prefix = p;
        ++end;
      }
      runs.emplace_back(begin, end);
      begin = end;
    }
    return runs;
  };

  BuiltIndexTree tree;
  auto emit = [&](IndexPage& page, uint32_t number) -> Status {
    page.parent_page = tdef_page;
    page.node_flag = page.leaf ? 0 : 1;
    HVQ_ASSIGN_OR_RETURN(std::vector<uint8_t> bytes,
                         BuildIndexPage(format, page, kAutoPrefix));
    tree.pages.push_back({number, std::move(bytes)});
    return Status::Ok();
  };
  auto allocate = [&](size_t count) -> Result<std::vector<uint32_t>> {
    std::vector<uint32_t> numbers;
    for (size_t i = 0; i < count; ++i) {
      HVQ_ASSIGN_OR_RETURN(uint32_t n, allocate_page());
      numbers.push_back(n);
    }
    return numbers;
  };

  // Leaf level.
  const size_t leaf_budget =
      std::max<size_t>(capacity * static_cast<size_t>(fill_percent) / 100, 1);
  HVQ_ASSIGN_OR_RETURN(auto runs, split(entries, /*leaf=*/true, leaf_budget));
  if (runs.empty()) runs.emplace_back(0, 0);
  HVQ_ASSIGN_OR_RETURN(std::vector<uint32_t> numbers, allocate(runs.size()));
  // For each page of the current level: its number and the last leaf entry
  // below it, which is what the level above stores for it.
  std::vector<IndexEntry> children;
  for (size_t r = 0; r < runs.size(); ++r) {
    IndexPage page;
    page.leaf = true;
    page.prev_page = r > 0 ? numbers[r - 1] : 0;
    page.next_page = r + 1 < runs.size() ? numbers[r + 1] : 0;
    page.entries.assign(entries.begin() + runs[r].first,
                        entries.begin() + runs[r].second);
    HVQ_RETURN_IF_ERROR(emit(page, numbers[r]));
    if (!page.entries.empty()) {
      IndexEntry up = page.entries.back();
      up.child_page = numbers[r];
      children.push_back(std::move(up));
    }
  }
  tree.root_page = numbers[0];

  // Intermediate levels until one page remains.
  while (children.size() > 1) {
    HVQ_ASSIGN_OR_RETURN(auto groups,
                         split(children, /*leaf=*/false, capacity));
    HVQ_ASSIGN_OR_RETURN(children, BuildIntermediateLevel(children, groups,
                                                          allocate_page, emit));
    tree.root_page = children.front().child_page;
  }
  return tree;
}

}  // namespace hvq::jet
