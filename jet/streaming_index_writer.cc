// Bounded-memory index building. See streaming_index_writer.h.
#include "jet/streaming_index_writer.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <queue>
#include <string>

namespace hvq::jet {
namespace {

constexpr size_t kRecordTrailer = 4;  // u24 page BE + u8 row

// Bytes of the record at `p` after its length field.
inline size_t RecordBody(const uint8_t* p) {
  return LoadU16Le(p) + kRecordTrailer;
}

inline bool RecordLess(const uint8_t* a, const uint8_t* b) {
  const size_t na = RecordBody(a), nb = RecordBody(b);
  int c = std::memcmp(a + 2, b + 2, std::min(na, nb));
  return c < 0 || (c == 0 && na < nb);
}

IndexEntry FromRecord(const uint8_t* p) {
  IndexEntry e;
  const size_t n = LoadU16Le(p);
  e.key.assign(p + 2, p + 2 + n);
  e.data_page = LoadU24Be(p + 2 + n);
  e.data_row = p[2 + n + 3];
  return e;
}

// Sequential reader of one spilled run.
class RunReader {
 public:
  RunReader(int fd, uint64_t offset, uint64_t bytes)
      : fd_(fd), pos_(offset), end_(offset + bytes) {}

  // Loads the next record into `record_`; false at the end of the run.
  Result<bool> Next() {
    uint8_t len[2];
    if (pos_ >= end_ && buf_pos_ == buf_.size()) return false;
    HVQ_RETURN_IF_ERROR(Read(len, 2));
    const size_t body = LoadU16Le(len) + kRecordTrailer;
    record_.resize(2 + body);
    std::memcpy(record_.data(), len, 2);
    HVQ_RETURN_IF_ERROR(Read(record_.data() + 2, body));
    return true;
  }
  const uint8_t* record() const { return record_.data(); }

 private:
  Status Read(uint8_t* out, size_t n) {
    while (n > 0) {
      if (buf_pos_ == buf_.size()) {
        const uint64_t left = end_ - pos_;
        if (left == 0) return Status::Internal("index run truncated");
        buf_.resize(static_cast<size_t>(std::min<uint64_t>(left, 1 << 16)));
        ssize_t got =
            ::pread(fd_, buf_.data(), buf_.size(), static_cast<off_t>(pos_));
        if (got <= 0) return Status::IoError("cannot read index run");
        buf_.resize(static_cast<size_t>(got));
        pos_ += static_cast<uint64_t>(got);
        buf_pos_ = 0;
      }
      size_t take = std::min(n, buf_.size() - buf_pos_);
      std::memcpy(out, buf_.data() + buf_pos_, take);
      buf_pos_ += take;
      out += take;
      n -= take;
    }
    return Status::Ok();
  }

  int fd_;
  uint64_t pos_, end_;
  std::vector<uint8_t> buf_;
  size_t buf_pos_ = 0;
  std::vector<uint8_t> record_;
};

}  // namespace

IndexEntrySorter::IndexEntrySorter(size_t memory_budget)
    : budget_(std::max<size_t>(memory_budget, 1 << 12)) {}

IndexEntrySorter::~IndexEntrySorter() {
  if (spill_ != nullptr) std::fclose(spill_);
}

Status IndexEntrySorter::Add(const std::vector<uint8_t>& key,
                             uint32_t data_page, uint8_t data_row) {
  if (key.size() > 0xFFFF || data_page > kIndexMaxDataPage) {
    return Status::InvalidArgument("index entry out of range");
  }
  offsets_.push_back(static_cast<uint32_t>(arena_.size()));
  const size_t at = arena_.size();
  arena_.resize(at + 2 + key.size() + kRecordTrailer);
  StoreU16Le(&arena_[at], static_cast<uint16_t>(key.size()));
  std::copy(key.begin(), key.end(), arena_.begin() + at + 2);
  StoreU24Be(&arena_[at + 2 + key.size()], data_page);
  arena_[at + 2 + key.size() + 3] = data_row;
  ++count_;
  if (arena_.size() + offsets_.size() * 4 >= budget_) return SpillRun();
  return Status::Ok();
}

Status IndexEntrySorter::SpillRun() {
  if (offsets_.empty()) return Status::Ok();
  if (spill_ == nullptr) {
    spill_ = std::tmpfile();
    if (spill_ == nullptr) return Status::IoError("cannot create a temp file");
  }
  const uint8_t* base = arena_.data();
  std::sort(offsets_.begin(), offsets_.end(), [base](uint32_t a, uint32_t b) {
    return RecordLess(base + a, base + b);
  });
  const uint64_t start = spill_end_;
  std::vector<uint8_t> out;
  out.reserve(arena_.size());
  for (uint32_t off : offsets_) {
    const size_t n = 2 + RecordBody(base + off);
    out.insert(out.end(), base + off, base + off + n);
  }
  size_t done = 0;
  const int fd = ::fileno(spill_);
  while (done < out.size()) {
    ssize_t n = ::pwrite(fd, out.data() + done, out.size() - done,
                         static_cast<off_t>(spill_end_ + done));
    if (n <= 0) return Status::IoError("cannot write an index run");
    done += static_cast<size_t>(n);
  }
  spill_end_ += out.size();
  runs_.emplace_back(start, out.size());
  arena_.clear();
  offsets_.clear();
  return Status::Ok();
}

Status IndexEntrySorter::Drain(
    const std::function<Status(const IndexEntry&)>& emit) {
  if (runs_.empty()) {
    const uint8_t* base = arena_.data();
    std::sort(offsets_.begin(), offsets_.end(), [base](uint32_t a, uint32_t b) {
      return RecordLess(base + a, base + b);
    });
    for (uint32_t off : offsets_)
      HVQ_RETURN_IF_ERROR(emit(FromRecord(base + off)));
  } else {
    HVQ_RETURN_IF_ERROR(SpillRun());
    std::vector<RunReader> readers;
    for (const auto& [offset, bytes] : runs_) {
      readers.emplace_back(::fileno(spill_), offset, bytes);
    }
    auto greater = [&](size_t a, size_t b) {
      return RecordLess(readers[b].record(), readers[a].record());
    };
    std::priority_queue<size_t, std::vector<size_t>, decltype(greater)> heap(
        greater);
    for (size_t i = 0; i < readers.size(); ++i) {
      HVQ_ASSIGN_OR_RETURN(bool more, readers[i].Next());
      if (more) heap.push(i);
    }
    while (!heap.empty()) {
      size_t i = heap.top();
      heap.pop();
      HVQ_RETURN_IF_ERROR(emit(FromRecord(readers[i].record())));
      HVQ_ASSIGN_OR_RETURN(bool more, readers[i].Next());
      if (more) heap.push(i);
    }
  }
  arena_.clear();
  arena_.shrink_to_fit();
  offsets_.clear();
  offsets_.shrink_to_fit();
  runs_.clear();
  count_ = 0;
  return Status::Ok();
}

StreamingIndexWriter::StreamingIndexWriter(const Format& format,
                                           uint32_t tdef_page,
                                           Allocator allocate, PageSink sink)
    : format_(&format),
      tdef_page_(tdef_page),
      allocate_(std::move(allocate)),
      sink_(std::move(sink)),
      capacity_(IndexPageCapacity(format)) {}

Status StreamingIndexWriter::Emit(IndexPage& page, uint32_t number) {
  page.parent_page = tdef_page_;
  page.node_flag = page.leaf ? 0 : 1;
  HVQ_ASSIGN_OR_RETURN(std::vector<uint8_t> bytes,
                       BuildIndexPage(*format_, page, kAutoPrefix));
  pages_.push_back(number);
  return sink_(number, bytes);
}

Status StreamingIndexWriter::Add(const IndexEntry& entry) {
  if (have_last_ && CompareIndexEntries(last_, entry) >= 0) {
    return Status::InvalidArgument("index entries not strictly ascending");
  }
  const size_t size = entry.key.size() + kIndexRowPointerSize;
  if (size > capacity_) {
    return Status::InvalidArgument("index key does not fit on a page");
  }
  if (!leaf_.empty() && leaf_bytes_ + size > capacity_) {
    HVQ_RETURN_IF_ERROR(FlushLeaf(/*more=*/true));
  }
  if (leaf_.empty() && leaf_number_ == 0) {
    HVQ_ASSIGN_OR_RETURN(leaf_number_, allocate_());
  }
  leaf_.push_back(entry);
  leaf_bytes_ += size;
  last_ = entry;
  have_last_ = true;
  return Status::Ok();
}

Status StreamingIndexWriter::FlushLeaf(bool more) {
  uint32_t next = 0;
  if (more) {
    HVQ_ASSIGN_OR_RETURN(next, allocate_());
  }
  IndexPage page;
  page.leaf = true;
  page.prev_page = prev_number_;
  page.next_page = next;
  page.entries = std::move(leaf_);
  HVQ_RETURN_IF_ERROR(Emit(page, leaf_number_));
  if (!page.entries.empty()) {
    IndexEntry up = page.entries.back();
    up.child_page = leaf_number_;
    children_.push_back(std::move(up));
  }
  leaf_.clear();
  leaf_bytes_ = 0;
  prev_number_ = leaf_number_;
  leaf_number_ = next;
  return Status::Ok();
}

Result<uint32_t> StreamingIndexWriter::Finish() {
  if (leaf_number_ == 0) {
    HVQ_ASSIGN_OR_RETURN(leaf_number_, allocate_());
  }
  HVQ_RETURN_IF_ERROR(FlushLeaf(/*more=*/false));
  uint32_t root = prev_number_;
  const size_t trailer = kIndexRowPointerSize + kIndexChildPointerSize;
  std::vector<IndexEntry> children = std::move(children_);
  while (children.size() > 1) {
    // Groups of children that fit one intermediate page (sizes counted
    // without prefix compression, so every group fits).
    std::vector<std::pair<size_t, size_t>> groups;
    size_t begin = 0;
    while (begin < children.size()) {
      size_t sum = children[begin].key.size() + trailer;
      size_t end = begin + 1;
      while (end < children.size() &&
             sum + children[end].key.size() + trailer <= capacity_) {
        sum += children[end].key.size() + trailer;
        ++end;
      }
      groups.emplace_back(begin, end);
      begin = end;
    }
    HVQ_ASSIGN_OR_RETURN(
        children,
        BuildIntermediateLevel(children, groups, allocate_,
                               [this](IndexPage& page, uint32_t number) {
                                 return Emit(page, number);
                               }));
    root = children.front().child_page;
  }
  return root;
}

}  // namespace hvq::jet
