// Free extents as the defragmentation schedule uses them: the smallest that
// holds a given number of clusters (best fit), taken from the front, and
// stretches of clusters given back merged with the extents they touch.
// Every stretch that will be given back is known from the start, so where
// each one touches an extent is found by one sort, and an operation costs a
// look-up among the distinct extent lengths (few) and a few array reads:
// no search by position while scheduling.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <vector>

#include "model/volume_report.h"

class TBestFitSpace {
 public:
  static constexpr uint32_t kNone = 0xFFFFFFFFu;

  // extents: disjoint free extents; those that touch are joined. given: the
  // stretches Release may give back, by index: each in use while it is not
  // given back, none overlapping another or a free extent, each given back
  // at most once (the runs of the files a schedule moves). given must
  // outlive this.
  TBestFitSpace(const std::vector<TClusterExtent>& extents,
                const std::vector<TClusterExtent>& given);

  // The smallest extent of at least clusters clusters, the one freed or
  // changed last among those of its length; kNone when none holds that many.
  uint32_t BestFit(int64_t clusters) const;
  // Where an extent BestFit named lies now.
  TClusterExtent Extent(uint32_t extent) const;
  // Clusters of the largest extent; 0 when there is none.
  int64_t Largest() const;
  // Takes `clusters` clusters from the front of an extent BestFit named.
  void TakeFront(uint32_t extent, int64_t clusters);
  // Gives back stretch `given` of the constructor's list, merged with the
  // extents it touches.
  void Release(size_t given);

 private:
  struct TExtent {
    int64_t lcn;
    int64_t end;
    uint32_t previous;   // in the list of its length; kNone for the first
    uint32_t next;       // kNone for the last
    uint32_t startSlot;  // the rank of the stretch that ends at its start; kNone when none
    uint32_t endSlot;    // the rank of the stretch that starts at its end; kNone when none
  };

  // A new extent [lcn, end), end > lcn, with its boundaries, and one taken
  // out for good.
  void Insert(int64_t lcn, int64_t end, uint32_t startSlot, uint32_t endSlot);
  void Erase(uint32_t extent);
  // Moves an extent's start (end) to lcn, filed under the rank slot, which
  // may be kNone.
  void SetStart(uint32_t extent, int64_t lcn, uint32_t slot);
  void SetEnd(uint32_t extent, int64_t end, uint32_t slot);
  // Puts an extent into the list of its length, and takes it out.
  void Link(uint32_t extent);
  void Unlink(uint32_t extent);

  std::vector<TExtent> extents_;
  std::vector<uint32_t> unused_;  // slots of extents_ free for reuse
  // Clusters -> the first extent of that length; lengths with none are
  // not kept.
  std::map<int64_t, uint32_t> byLength_;
  // The given stretches are ranked by position; an extent that ends where
  // the stretch of rank r starts is filed in endsAt_[r], one that starts
  // where it ends in startsAt_[r]: what giving it back joins.
  const std::vector<TClusterExtent>* given_;      // not owned; outlives this
  static constexpr uint8_t kTouchesPrevious = 1;  // the stretch ranked before ends at its start
  static constexpr uint8_t kTouchesNext = 2;      // the one ranked after starts at its end
  struct TSlots {
    uint32_t rank;    // kNone when the stretch is empty
    uint8_t touches;  // kTouchesPrevious, kTouchesNext
  };
  std::vector<TSlots> givenSlots_;  // by given stretch
  // Rank -> the free extent that ends at its start (starts at its end);
  // kNone when none.
  std::vector<uint32_t> endsAt_;
  std::vector<uint32_t> startsAt_;
};
