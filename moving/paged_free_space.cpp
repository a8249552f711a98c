#include "moving/paged_free_space.h"

#include <algorithm>

#include "moving/prefetch.h"
#include "planning/cluster_extents.h"

TPagedFreeSpace::TPagedFreeSpace(const std::vector<TClusterExtent>& extents, int64_t limit,
                                 int64_t extentsPerPage)
    : shift_(4), limit_(std::max<int64_t>(limit, 0)) {
  std::vector<TClusterExtent> joined;
  if (!AreNormalized(extents, limit_)) {
    joined = extents;
    NormalizeExtents(&joined, limit_);
  }
  const std::vector<TClusterExtent>& free = joined.empty() ? extents : joined;
  // 32 extents to a page make a page one allocation of half a KiB,
  // searched in a few steps; smaller pages cost an allocation and a cache
  // miss more per few extents (the replay of a million moves took half as
  // long again with two extents to a page).
  const int64_t wanted = std::max<int64_t>(
      1, static_cast<int64_t>(free.size()) / std::max<int64_t>(extentsPerPage, 1));
  while (shift_ < 62 && (limit_ >> shift_) > wanted) ++shift_;
  pages_.resize(static_cast<size_t>((limit_ >> shift_) + 1));
  // Each extent cut at the pages' edges, in order.
  const auto eachSpan = [this, &free](auto visit) {
    for (const TClusterExtent& extent : free) {
      for (int64_t lcn = extent.lcn; lcn < extent.End();) {
        const int64_t pageEnd = ((lcn >> shift_) + 1) << shift_;
        const int64_t end = std::min(extent.End(), pageEnd);
        visit(static_cast<size_t>(lcn >> shift_), TSpan{lcn, end});
        lcn = end;
      }
    }
  };
  // Counted first, so that each page is allocated once at its size: grown
  // span by span, the pages would touch about twice the memory, all of it
  // fresh in a new process.
  std::vector<uint32_t> spans(pages_.size(), 0);
  eachSpan([&spans](size_t page, TSpan) { ++spans[page]; });
  for (size_t page = 0; page < pages_.size(); ++page) pages_[page].reserve(spans[page]);
  eachSpan([this](size_t page, TSpan span) { pages_[page].push_back(span); });
}

template <typename TVisit>
bool TPagedFreeSpace::EachPage(int64_t lcn, int64_t end, TVisit visit) const {
  lcn = std::max<int64_t>(lcn, 0);
  end = std::min(end, limit_);
  while (lcn < end) {
    const int64_t pageEnd = ((lcn >> shift_) + 1) << shift_;
    const int64_t stop = std::min(end, pageEnd);
    if (!visit(static_cast<size_t>(lcn >> shift_), lcn, stop)) return false;
    lcn = stop;
  }
  return true;
}

size_t TPagedFreeSpace::After(const TPage& page, int64_t lcn) {
  return static_cast<size_t>(
      std::upper_bound(page.begin(), page.end(), lcn,
                       [](int64_t at, const TSpan& span) { return at < span.lcn; }) -
      page.begin());
}

bool TPagedFreeSpace::AllFree(int64_t lcn, int64_t end) const {
  if (end <= lcn) return true;
  // No cluster outside [0, limit) is free.
  if (lcn < 0 || end > limit_) return false;
  return EachPage(lcn, end, [this](size_t index, int64_t first, int64_t stop) {
    const TPage& page = pages_[index];
    const size_t after = After(page, first);
    return after > 0 && page[after - 1].end >= stop;
  });
}

bool TPagedFreeSpace::NoneFree(int64_t lcn, int64_t end) const {
  return EachPage(lcn, end, [this](size_t index, int64_t first, int64_t stop) {
    const TPage& page = pages_[index];
    const size_t after = After(page, first);
    if (after > 0 && page[after - 1].end > first) return false;
    return after == page.size() || page[after].lcn >= stop;
  });
}

void TPagedFreeSpace::Take(int64_t lcn, int64_t end) {
  EachPage(lcn, end, [this](size_t index, int64_t first, int64_t stop) {
    TakeInPage(&pages_[index], After(pages_[index], first), first, stop);
    return true;
  });
}

void TPagedFreeSpace::Give(int64_t lcn, int64_t end) {
  EachPage(lcn, end, [this](size_t index, int64_t first, int64_t stop) {
    GiveInPage(&pages_[index], After(pages_[index], first), first, stop);
    return true;
  });
}

bool TPagedFreeSpace::InOnePage(int64_t lcn, int64_t end) const {
  return lcn >= 0 && end <= limit_ && lcn < end && (lcn >> shift_) == ((end - 1) >> shift_);
}

bool TPagedFreeSpace::TakeIfAllFree(int64_t lcn, int64_t end) {
  if (!InOnePage(lcn, end)) {
    if (!AllFree(lcn, end)) return false;
    Take(lcn, end);
    return true;
  }
  TPage& page = pages_[static_cast<size_t>(lcn >> shift_)];
  const size_t after = After(page, lcn);
  if (after == 0 || page[after - 1].end < end) return false;
  TakeInPage(&page, after, lcn, end);
  return true;
}

bool TPagedFreeSpace::GiveIfNoneFree(int64_t lcn, int64_t end) {
  if (!InOnePage(lcn, end)) {
    if (!NoneFree(lcn, end)) return false;
    Give(lcn, end);
    return true;
  }
  TPage& page = pages_[static_cast<size_t>(lcn >> shift_)];
  const size_t after = After(page, lcn);
  if (after > 0 && page[after - 1].end > lcn) return false;
  if (after < page.size() && page[after].lcn < end) return false;
  GiveInPage(&page, after, lcn, end);
  return true;
}

void TPagedFreeSpace::TakeInPage(TPage* page, size_t after, int64_t first, int64_t stop) {
  const size_t at = after - 1;  // the span that holds [first, stop)
  TSpan& span = (*page)[at];
  if (span.lcn == first && span.end == stop) {
    page->erase(page->begin() + static_cast<std::ptrdiff_t>(at));
  } else if (span.lcn == first) {
    span.lcn = stop;
  } else if (span.end == stop) {
    span.end = first;
  } else {
    const TSpan rest{stop, span.end};
    span.end = first;
    page->insert(page->begin() + static_cast<std::ptrdiff_t>(at + 1), rest);
  }
}

void TPagedFreeSpace::GiveInPage(TPage* page, size_t after, int64_t first, int64_t stop) {
  TPage& spans = *page;
  const bool joinsBefore = after > 0 && spans[after - 1].end == first;
  const bool joinsAfter = after < spans.size() && spans[after].lcn == stop;
  if (joinsBefore && joinsAfter) {
    spans[after - 1].end = spans[after].end;
    spans.erase(spans.begin() + static_cast<std::ptrdiff_t>(after));
  } else if (joinsBefore) {
    spans[after - 1].end = stop;
  } else if (joinsAfter) {
    spans[after].lcn = first;
  } else {
    spans.insert(spans.begin() + static_cast<std::ptrdiff_t>(after), TSpan{first, stop});
  }
}

void TPagedFreeSpace::PrefetchPage(int64_t lcn) const {
  if (lcn >= 0 && lcn < limit_) PrefetchRead(&pages_[static_cast<size_t>(lcn >> shift_)]);
}

void TPagedFreeSpace::PrefetchExtents(int64_t lcn) const {
  if (lcn < 0 || lcn >= limit_) return;
  const TPage& page = pages_[static_cast<size_t>(lcn >> shift_)];
  // A page's few dozen extents lie in a few cache lines of 64 bytes; a
  // search reads some of each.
  const char* const first = reinterpret_cast<const char*>(page.data());
  const char* const end = first + std::min<size_t>(page.size(), 64) * sizeof(TSpan);
  for (const char* line = first; line < end; line += 64) PrefetchRead(line);
}

std::vector<TClusterExtent> TPagedFreeSpace::Extents() const {
  std::vector<TClusterExtent> extents;
  for (const TPage& page : pages_) {
    for (const TSpan& span : page) {
      // Spans cut at a page's edge join again.
      if (!extents.empty() && extents.back().End() == span.lcn) {
        extents.back().length = span.end - extents.back().lcn;
      } else {
        extents.push_back(TClusterExtent{span.lcn, span.end - span.lcn});
      }
    }
  }
  return extents;
}
