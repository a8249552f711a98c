#include "analysis/run_checks.h"

#include <cinttypes>
#include <cstdio>

namespace {

// Why a run cannot be what a volume of totalClusters clusters holds, in
// words; empty when it can.
std::string RunProblem(const TFragment& run, int64_t totalClusters) {
  if (run.length <= 0) return "has no positive length";
  if (run.vcn < 0 || run.vcn > kMaxStreamClusters - run.length) {
    return "reaches past the largest VCN a stream can have";
  }
  // A hole has no clusters on the volume; a volume whose size is not known
  // (its free space not mapped) has none to judge them by.
  if (run.lcn < 0 || totalClusters <= 0) return std::string();
  // Lengths and VCNs are sound from here; only the clusters remain. The
  // words are made only for a run that is wrong: every run of every item
  // passes here.
  const char* outside = run.lcn >= totalClusters               ? "lies wholly outside"
                        : run.length > totalClusters - run.lcn ? "lies partly outside"
                                                               : nullptr;
  if (outside == nullptr) return std::string();
  return outside + (" the volume of " + std::to_string(totalClusters) + " clusters");
}

}  // namespace

std::vector<std::string> DropImpossibleRuns(TItem* item, int64_t totalClusters) {
  std::vector<std::string> problems;
  TFragment** link = &item->fragments;
  while (TFragment* run = *link) {
    const std::string problem = RunProblem(*run, totalClusters);
    if (problem.empty()) {
      link = &run->next;
      continue;
    }
    char place[96];
    std::snprintf(place, sizeof place,
                  "a run of %" PRId64 " clusters at VCN %" PRId64 ", cluster %" PRId64 ", ",
                  run->length, run->vcn, run->lcn);
    problems.push_back(place + problem + "; the run is left out");
    *link = run->next;
    run->next = nullptr;
    ReleaseFragments(run);
    --item->fragmentCount;
  }
  return problems;
}
