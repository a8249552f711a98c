#include "moving/cluster_marks.h"

#include <algorithm>

TClusterMarks::TClusterMarks(int64_t base, int64_t limit)
    : base_(base),
      limit_(std::max(base, limit)),
      words_(static_cast<size_t>((limit_ - base_ + 63) / 64), 0) {}

void TClusterMarks::Set(int64_t lcn, int64_t end, bool marked) {
  lcn = std::max(lcn, base_) - base_;
  end = std::min(end, limit_) - base_;
  while (lcn < end) {
    uint64_t& word = words_[static_cast<size_t>(lcn / 64)];
    const int from = static_cast<int>(lcn % 64);
    const int to = static_cast<int>(std::min<int64_t>(64, end - lcn / 64 * 64));
    const uint64_t bits = (to == 64 ? ~uint64_t{0} : (uint64_t{1} << to) - 1) >> from << from;
    word = marked ? word | bits : word & ~bits;
    lcn = lcn / 64 * 64 + to;
  }
}

int64_t TClusterMarks::Next(int64_t lcn, int64_t end, bool marked) const {
  // Outside [base_, limit_) nothing is marked.
  if (lcn < base_) {
    if (!marked) return std::min(lcn, end);
    lcn = base_;
  }
  const int64_t stop = std::min(end, limit_);
  for (int64_t at = lcn - base_; at + base_ < stop;) {
    const uint64_t word = words_[static_cast<size_t>(at / 64)];
    const uint64_t wanted = (marked ? word : ~word) >> (at % 64);
    if (wanted != 0) return std::min(stop, at + base_ + __builtin_ctzll(wanted));
    at = at / 64 * 64 + 64;
  }
  // None within the marked stretch: past it, every cluster is unmarked.
  return marked || stop == end ? end : std::max(lcn, stop);
}
