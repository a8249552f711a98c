#include "moving/cluster_owners.h"

#include <algorithm>

#include "moving/prefetch.h"

TClusterOwners::TClusterOwners(int64_t totalClusters, size_t stretches)
    : shift_(4), total_(std::max<int64_t>(totalClusters, 0)) {
  // About 8 stretches to a page at the start: a look-up at random, most of
  // a schedule's, reads two or three cache lines of the page where 32 to a
  // page read five or six; a million files' schedule takes about a tenth
  // less time.
  const int64_t wanted = std::max<int64_t>(1, static_cast<int64_t>(stretches) / 8);
  while (shift_ < 31 && (total_ >> shift_) > wanted) ++shift_;
  const size_t pages = static_cast<size_t>((total_ >> shift_) + 1);
  pages_.resize(pages);
  freeInPage_.assign(pages, 0);
  freePages_.assign((pages + 63) / 64, 0);
  freeWords_.assign((freePages_.size() + 63) / 64, 0);
  added_.reserve(stretches + pages);  // a page's edge cuts about one stretch in two
}

void TClusterOwners::Add(int64_t lcn, int64_t end, uint32_t file, int64_t vcn) {
  end = std::min(end, total_);
  while (lcn < end) {
    const size_t index = PageOf(lcn);
    const int64_t stop = std::min(end, PageStart(index + 1));
    added_.push_back(TSegment{lcn, vcn, static_cast<uint32_t>(stop - lcn), file});
    if (file == kFree) freeInPage_[index] += stop - lcn;
    vcn += stop - lcn;
    lcn = stop;
  }
}

void TClusterOwners::Seal() {
  // Each page sized once, then filled: pages grown a stretch at a time took
  // a million allocations for a million files.
  std::vector<uint32_t> counts(pages_.size(), 0);
  for (const TSegment& segment : added_) ++counts[PageOf(segment.lcn)];
  for (size_t index = 0; index < pages_.size(); ++index) pages_[index].reserve(counts[index]);
  for (const TSegment& segment : added_) pages_[PageOf(segment.lcn)].push_back(segment);
  std::vector<TSegment>().swap(added_);
  for (size_t index = 0; index < pages_.size(); ++index) {
    TPage& page = pages_[index];
    std::sort(page.begin(), page.end(),
              [](const TSegment& a, const TSegment& b) { return a.lcn < b.lcn; });
    // Join what touches and continues, so a stretch is one segment a page.
    size_t kept = 0;
    for (size_t at = 0; at < page.size(); ++at) {
      if (kept > 0 && Continues(page[kept - 1], page[at])) {
        page[kept - 1].length += page[at].length;
      } else {
        page[kept++] = page[at];
      }
    }
    page.resize(kept);
    MarkFree(index);
  }
}

size_t TClusterOwners::After(const TPage& page, int64_t lcn) {
  return static_cast<size_t>(
      std::upper_bound(page.begin(), page.end(), lcn,
                       [](int64_t at, const TSegment& segment) { return at < segment.lcn; }) -
      page.begin());
}

bool TClusterOwners::Continues(const TSegment& a, const TSegment& b) {
  if (a.End() != b.lcn || a.file != b.file) return false;
  return a.file == kFree || a.vcn + a.length == b.vcn;
}

TClusterOwners::TStretch TClusterOwners::At(int64_t lcn) const {
  size_t index = PageOf(lcn);
  const TPage& page = pages_[index];
  const size_t after = After(page, lcn);
  if (after == 0 || page[after - 1].End() <= lcn) {
    // The file system's, up to the next stretch, whichever page holds it.
    int64_t end = after < page.size() ? page[after].lcn : PageStart(index + 1);
    while (after == page.size() && ++index < pages_.size()) {
      const TPage& next = pages_[index];
      if (!next.empty()) {
        end = next.front().lcn;
        break;
      }
      end = PageStart(index + 1);
    }
    return TStretch{lcn, std::min(end, total_), kFileSystem, 0};
  }
  const TSegment& segment = page[after - 1];
  TStretch stretch{lcn, segment.End(), segment.file,
                   segment.file == kFree ? 0 : segment.vcn + (lcn - segment.lcn)};
  // A stretch cut at a page's edge goes on in the next page.
  TSegment last = segment;
  while (last.End() == PageStart(index + 1) && ++index < pages_.size()) {
    const TPage& next = pages_[index];
    if (next.empty() || !Continues(last, next.front())) break;
    last = next.front();
    stretch.end = last.End();
  }
  return stretch;
}

void TClusterOwners::Prefetch(int64_t lcn) const {
  if (lcn < 0 || lcn >= total_) return;
  const size_t index = PageOf(lcn);
  const TPage& page = pages_[index];
  if (page.empty()) return;
  // Stretches lie about evenly over a page: the one holding lcn near its
  // share of the way along.
  const size_t guess = static_cast<size_t>(lcn - PageStart(index)) * page.size() >> shift_;
  PrefetchRead(&page[std::min(guess, page.size() - 1)]);
}

void TClusterOwners::Assign(int64_t lcn, int64_t end, uint32_t file, int64_t vcn) {
  end = std::min(end, total_);
  while (lcn < end) {
    const size_t index = PageOf(lcn);
    const int64_t stop = std::min(end, PageStart(index + 1));
    AssignInPage(index, lcn, stop, file, vcn);
    MarkFree(index);
    vcn += stop - lcn;
    lcn = stop;
  }
}

void TClusterOwners::AssignInPage(size_t index, int64_t lcn, int64_t end, uint32_t file,
                                  int64_t vcn) {
  TPage& page = pages_[index];
  // Segments [first, last) overlap [lcn, end).
  size_t first = After(page, lcn);
  if (first > 0 && page[first - 1].End() > lcn) --first;
  size_t last = first;
  while (last < page.size() && page[last].lcn < end) {
    const TSegment& old = page[last];
    if (old.file == kFree) {
      freeInPage_[index] -= std::min(end, old.End()) - std::max(lcn, old.lcn);
    }
    ++last;
  }
  TSegment parts[3];
  size_t count = 0;
  if (first < last && page[first].lcn < lcn) {
    TSegment before = page[first];
    before.length = static_cast<uint32_t>(lcn - before.lcn);
    parts[count++] = before;
  }
  const bool added = file != kFileSystem;  // the file system's clusters are what no segment holds
  if (added) {
    parts[count++] = TSegment{lcn, file == kFree ? 0 : vcn, static_cast<uint32_t>(end - lcn), file};
  }
  if (first < last && page[last - 1].End() > end) {
    const TSegment& old = page[last - 1];
    const int64_t offset = end - old.lcn;
    parts[count++] = TSegment{end, old.file == kFree ? 0 : old.vcn + offset,
                              static_cast<uint32_t>(old.End() - end), old.file};
  }
  if (file == kFree) freeInPage_[index] += end - lcn;
  const size_t replaced = last - first;
  const auto at = page.begin() + static_cast<std::ptrdiff_t>(first);
  if (count > replaced) {
    page.insert(at, count - replaced, TSegment{});
  } else if (count < replaced) {
    page.erase(at, at + static_cast<std::ptrdiff_t>(replaced - count));
  }
  std::copy(parts, parts + count, page.begin() + static_cast<std::ptrdiff_t>(first));
  if (!added) return;
  // Join the new segment with its neighbours where it continues them.
  const size_t joined = first + (parts[0].lcn < lcn ? 1 : 0);
  if (joined + 1 < page.size() && Continues(page[joined], page[joined + 1])) {
    page[joined].length += page[joined + 1].length;
    page.erase(page.begin() + static_cast<std::ptrdiff_t>(joined + 1));
  }
  if (joined > 0 && Continues(page[joined - 1], page[joined])) {
    page[joined - 1].length += page[joined].length;
    page.erase(page.begin() + static_cast<std::ptrdiff_t>(joined));
  }
}

void TClusterOwners::MarkFree(size_t page) {
  uint64_t& word = freePages_[page / 64];
  const uint64_t bit = uint64_t{1} << (page % 64);
  word = freeInPage_[page] > 0 ? word | bit : word & ~bit;
  uint64_t& summary = freeWords_[page / 64 / 64];
  const uint64_t wordBit = uint64_t{1} << (page / 64 % 64);
  summary = word != 0 ? summary | wordBit : summary & ~wordBit;
}

bool TClusterOwners::FreePageBelow(size_t page, size_t* found) const {
  // Bits below `below` of a word, as a mask.
  const auto under = [](size_t below) {
    return below % 64 == 0 ? uint64_t{0} : ~uint64_t{0} >> (64 - below % 64);
  };
  if (page == 0) return false;
  size_t word = page / 64;
  uint64_t bits = freePages_[word] & under(page);
  if (bits == 0) {
    size_t group = word / 64;
    uint64_t words = freeWords_[group] & under(word);
    while (words == 0) {
      if (group == 0) return false;
      words = freeWords_[--group];
    }
    word = group * 64 + 63 - static_cast<size_t>(__builtin_clzll(words));
    bits = freePages_[word];
  }
  *found = word * 64 + 63 - static_cast<size_t>(__builtin_clzll(bits));
  return true;
}

bool TClusterOwners::FreeBelow(int64_t before, TStretch* stretch) const {
  before = std::min(before, total_);
  if (before <= 0) return false;
  size_t index = PageOf(before - 1);
  for (;;) {
    const TPage& page = pages_[index];
    for (size_t at = After(page, before - 1); at > 0; --at) {
      const TSegment& segment = page[at - 1];
      if (segment.file != kFree) continue;
      *stretch = TStretch{segment.lcn, std::min(segment.End(), before), kFree, 0};
      // A free stretch cut at a page's edge goes on in the page below.
      while (stretch->lcn == PageStart(index) && index > 0) {
        const TPage& below = pages_[--index];
        if (below.empty() || below.back().file != kFree || below.back().End() != stretch->lcn) {
          break;
        }
        stretch->lcn = below.back().lcn;
      }
      return true;
    }
    if (!FreePageBelow(index, &index)) return false;
    before = PageStart(index + 1);
  }
}
