// Bounded index tree walk; contract in index_walk.h.
#include "jet/index_walk.h"

#include <unordered_set>
#include <utility>

#include "jet/page_file.h"

namespace hvq::jet {
namespace {

std::string PageName(uint32_t page) { return "page " + std::to_string(page); }

bool SameRow(const IndexEntry& a, const IndexEntry& b) {
  return a.key == b.key && a.data_page == b.data_page &&
         a.data_row == b.data_row;
}

class Walker {
 public:
  Walker(const IndexPageSource& source,
         const std::function<Status(const IndexWalkEntry&)>& visit,
         std::vector<IndexProblem>* problems, IndexWalkStats* stats,
         const IndexWalkOptions& options)
      : source_(source),
        visit_(visit),
        problems_(problems),
        stats_(stats),
        options_(options) {}

  Status Run(uint32_t root) {
    HVQ_RETURN_IF_ERROR(CheckPointer(root, root, 0, "index root"));
    IndexEntry last;
    bool has_last = false;
    HVQ_RETURN_IF_ERROR(Visit(root, 1, root, 0, &last, &has_last));
    CheckLeafChain();
    return FollowTrailingLeaves();
  }

 private:
  struct Leaf {
    uint32_t page;
    uint32_t prev;
    uint32_t next;
    uint32_t depth;
  };

  void Problem(uint32_t page, uint32_t offset, std::string what) {
    if (problems_) problems_->push_back({page, offset, std::move(what)});
  }

  Status CheckPointer(uint32_t target, uint32_t from_page, uint32_t from_offset,
                      const char* what) const {
    if (target == 0 || target >= source_.page_count) {
      return Status::Corruption(
          std::string(what) + " points to page " + std::to_string(target) +
              ", file has " + std::to_string(source_.page_count) + " pages",
          from_page, from_offset);
    }
    return Status::Ok();
  }

  Result<IndexPage> Load(uint32_t page, uint32_t from_page,
                         uint32_t from_offset) {
    if (!visited_.insert(page).second) {
      return Status::Corruption(
          "index " + PageName(page) + " is reached twice (cycle)", from_page,
          from_offset);
    }
    if (stats_) stats_->pages.push_back(page);
    HVQ_RETURN_IF_ERROR(source_.read(page, &buffer_));
    HVQ_ASSIGN_OR_RETURN(IndexPage parsed,
                         ParseIndexPage(*source_.format, buffer_, page));
    return parsed;
  }

  Status Yield(const IndexPage& page, uint32_t number, IndexEntry* last,
               bool* has_last) {
    for (size_t i = 0; i < page.entries.size(); ++i) {
      IndexWalkEntry e{&page.entries[i], number, page.entry_offsets[i]};
      HVQ_RETURN_IF_ERROR(visit_(e));
    }
    if (stats_) stats_->entries += page.entries.size();
    if (!page.entries.empty()) {
      *last = page.entries.back();
      *has_last = true;
    }
    return Status::Ok();
  }

  // Visits the subtree at `number`; on return *last holds its last leaf
  // entry when it has one.
  Status Visit(uint32_t number, uint32_t depth, uint32_t from_page,
               uint32_t from_offset, IndexEntry* last, bool* has_last) {
    if (depth > options_.max_depth) {
      return Status::Corruption(
          "index deeper than " + std::to_string(options_.max_depth) + " levels",
          from_page, from_offset);
    }
    HVQ_ASSIGN_OR_RETURN(IndexPage page, Load(number, from_page, from_offset));
    if (stats_) stats_->depth = std::max(stats_->depth, depth);
    if (page.leaf) {
      if (stats_) ++stats_->leaf_pages;
      leaves_.push_back({number, page.prev_page, page.next_page, depth});
      return Yield(page, number, last, has_last);
    }
    if (stats_) ++stats_->intermediate_pages;
    if (page.entries.empty() && page.tail_page == 0) {
      Problem(number, 0, "intermediate page without children");
    }
    for (size_t i = 0; i < page.entries.size(); ++i) {
      const IndexEntry& e = page.entries[i];
      const uint32_t at = page.entry_offsets[i];
      HVQ_RETURN_IF_ERROR(
          CheckPointer(e.child_page, number, at, "intermediate entry"));
      IndexEntry child_last;
      bool child_has_last = false;
      HVQ_RETURN_IF_ERROR(Visit(e.child_page, depth + 1, number, at,
                                &child_last, &child_has_last));
      if (!child_has_last) {
        Problem(number, at,
                "intermediate entry points to empty " + PageName(e.child_page));
      } else if (!SameRow(child_last, e)) {
        Problem(number, at,
                "intermediate entry differs from the last entry of child " +
                    PageName(e.child_page));
      }
      if (child_has_last) {
        *last = std::move(child_last);
        *has_last = true;
      }
    }
    if (page.tail_page != 0) {
      const uint32_t at = source_.format->index_tail_offset;
      HVQ_RETURN_IF_ERROR(
          CheckPointer(page.tail_page, number, at, "tail pointer"));
      HVQ_RETURN_IF_ERROR(
          Visit(page.tail_page, depth + 1, number, at, last, has_last));
    }
    return Status::Ok();
  }

  void CheckLeafChain() {
    for (size_t i = 0; i < leaves_.size(); ++i) {
      const Leaf& leaf = leaves_[i];
      const uint32_t want_prev = i > 0 ? leaves_[i - 1].page : 0;
      const uint32_t want_next =
          i + 1 < leaves_.size() ? leaves_[i + 1].page : 0;
      if (leaf.prev != want_prev) {
        Problem(leaf.page, source_.format->index_prev_offset,
                "leaf prev pointer is " + std::to_string(leaf.prev) +
                    ", tree order says " + std::to_string(want_prev));
      }
      // The last leaf may point on to leaves the tree does not know yet.
      if (i + 1 < leaves_.size() && leaf.next != want_next) {
        Problem(leaf.page, source_.format->index_next_offset,
                "leaf next pointer is " + std::to_string(leaf.next) +
                    ", tree order says " + std::to_string(want_next));
      }
      if (leaf.depth != leaves_[0].depth) {
        Problem(leaf.page, 0,
                "leaf at depth " + std::to_string(leaf.depth) +
                    ", other leaves at " + std::to_string(leaves_[0].depth));
      }
    }
  }

  Status FollowTrailingLeaves() {
    if (leaves_.empty()) return Status::Ok();
    uint32_t from = leaves_.back().page;
    uint32_t next = leaves_.back().next;
    const uint32_t at = source_.format->index_next_offset;
    while (next != 0) {
      HVQ_RETURN_IF_ERROR(CheckPointer(next, from, at, "leaf next pointer"));
      if (visited_.count(next)) {
        Problem(from, at, "leaf next pointer leads back to " + PageName(next));
        return Status::Ok();
      }
      HVQ_ASSIGN_OR_RETURN(IndexPage page, Load(next, from, at));
      if (!page.leaf) {
        return Status::Corruption(
            "leaf next pointer leads to intermediate " + PageName(next), from,
            at);
      }
      if (page.prev_page != from) {
        Problem(next, source_.format->index_prev_offset,
                "leaf prev pointer is " + std::to_string(page.prev_page) +
                    ", expected " + std::to_string(from));
      }
      if (stats_) ++stats_->leaf_pages;
      IndexEntry last;
      bool has_last = false;
      HVQ_RETURN_IF_ERROR(Yield(page, next, &last, &has_last));
      from = next;
      next = page.next_page;
    }
    return Status::Ok();
  }

  const IndexPageSource& source_;
  const std::function<Status(const IndexWalkEntry&)>& visit_;
  std::vector<IndexProblem>* problems_;
  IndexWalkStats* stats_;
  const IndexWalkOptions& options_;
  std::unordered_set<uint32_t> visited_;
  std::vector<Leaf> leaves_;
  std::vector<uint8_t> buffer_;
};

}  // namespace

IndexPageSource PageSourceFor(PageFile& file) {
  IndexPageSource source;
  source.format = &file.format();
  source.page_count = file.page_count();
  source.read = [&file](uint32_t page, std::vector<uint8_t>* out) {
    out->resize(file.page_size());
    return file.ReadPage(page, *out);
  };
  return source;
}

Status WalkIndex(const IndexPageSource& source, uint32_t root_page,
                 const std::function<Status(const IndexWalkEntry&)>& visit,
                 std::vector<IndexProblem>* problems, IndexWalkStats* stats,
                 const IndexWalkOptions& options) {
  if (source.format == nullptr || !source.read) {
    return Status::InvalidArgument("index page source is not set up");
  }
  Walker walker(source, visit, problems, stats, options);
  return walker.Run(root_page);
}

Result<std::vector<IndexEntry>> ReadIndexEntries(
    const IndexPageSource& source, uint32_t root_page,
    std::vector<IndexProblem>* problems) {
  std::vector<IndexEntry> out;
  HVQ_RETURN_IF_ERROR(WalkIndex(
      source, root_page,
      [&](const IndexWalkEntry& e) {
        out.push_back(*e.entry);
        return Status::Ok();
      },
      problems));
  return out;
}

}  // namespace hvq::jet
