// The run arithmetic of the scripted volume's moves, apart from any handle:
// which clusters a range of a stream holds, and its runs once the range lies
// elsewhere, merged as Windows reports them.
#pragma once

#include <cstdint>
#include <vector>

struct TScriptedRun {
  int64_t nextVcn;  // VCN after the run
  int64_t lcn;      // -1 for a stretch with no clusters
};

// The lcn of each of the count clusters from vcn on, in vcn order; empty when
// a cluster of the range lies past the stream's end or in a stretch with no
// clusters (the range is then not the stream's to move). runs start at vcn 0.
std::vector<int64_t> RangeClusters(const std::vector<TScriptedRun>& runs, int64_t vcn,
                                   int64_t count);

// runs with the count clusters from vcn on placed at lcn onward, every run
// that continues the one before it on the volume (or a stretch with no
// clusters after another) merged into it. The range must hold clusters
// (RangeClusters not empty).
std::vector<TScriptedRun> MovedRuns(const std::vector<TScriptedRun>& runs, int64_t vcn,
                                    int64_t count, int64_t lcn);
