#include "tests/support/scripted_runs.h"

#include <algorithm>

namespace {

constexpr int64_t kNoClusters = -1;

// Appends a run of length clusters at lcn (kNoClusters for none), merging it
// into the last run where it continues it.
void AppendRun(std::vector<TScriptedRun>* runs, int64_t length, int64_t lcn) {
  if (length <= 0) return;
  const int64_t vcn = runs->empty() ? 0 : runs->back().nextVcn;
  if (!runs->empty()) {
    TScriptedRun& last = runs->back();
    const int64_t lastStart = runs->size() > 1 ? (*runs)[runs->size() - 2].nextVcn : 0;
    const bool continues = last.lcn < 0 ? lcn < 0 : lcn == last.lcn + (vcn - lastStart);
    if (continues) {
      last.nextVcn = vcn + length;
      return;
    }
  }
  runs->push_back(TScriptedRun{vcn + length, lcn < 0 ? kNoClusters : lcn});
}

}  // namespace

std::vector<int64_t> RangeClusters(const std::vector<TScriptedRun>& runs, int64_t vcn,
                                   int64_t count) {
  std::vector<int64_t> clusters;
  if (vcn < 0 || count <= 0) return clusters;
  int64_t start = 0;
  for (const TScriptedRun& run : runs) {
    for (int64_t at = std::max(vcn, start); at < run.nextVcn && at < vcn + count; ++at) {
      if (run.lcn < 0) return {};
      clusters.push_back(run.lcn + (at - start));
    }
    start = run.nextVcn;
  }
  if (static_cast<int64_t>(clusters.size()) != count) clusters.clear();
  return clusters;
}

std::vector<TScriptedRun> MovedRuns(const std::vector<TScriptedRun>& runs, int64_t vcn,
                                    int64_t count, int64_t lcn) {
  std::vector<TScriptedRun> moved;
  int64_t start = 0;
  for (const TScriptedRun& run : runs) {
    // The part of the run before the range, the part inside it (now at lcn
    // onward) and the part after it.
    const int64_t before = std::min(run.nextVcn, vcn) - start;
    const int64_t insideStart = std::max(start, vcn);
    const int64_t insideEnd = std::min(run.nextVcn, vcn + count);
    const int64_t afterStart = std::max(start, vcn + count);
    const auto at = [&run, start](int64_t from) {
      return run.lcn < 0 ? kNoClusters : run.lcn + (from - start);
    };
    AppendRun(&moved, before, at(start));
    AppendRun(&moved, insideEnd - insideStart, lcn + (insideStart - vcn));
    AppendRun(&moved, run.nextVcn - afterStart, at(afterStart));
    start = run.nextVcn;
  }
  return moved;
}
