// Free extents as the defragmentation schedule uses them: the smallest that
// holds a given number of clusters (best fit), taken from the front, and
// clusters given back merged with the extents they touch. Every operation
// costs a look-up among the distinct extent lengths (few) and a few probes
// of a table by position, so a million files are scheduled in well under a
// second.
#pragma once

#include <cstdint>
#include <map>
#include <vector>

#include "model/volume_report.h"

class TBestFitSpace {
 public:
  // extents: disjoint; those that touch are joined.
  explicit TBestFitSpace(std::vector<TClusterExtent> extents);

  // The smallest extent of at least clusters clusters; false when none
  // holds that many.
  bool BestFit(int64_t clusters, TClusterExtent* found) const;
  // Clusters of the largest extent; 0 when there is none.
  int64_t Largest() const;
  // Takes `clusters` clusters from the front of the extent that starts at
  // lcn (one BestFit found).
  void TakeFront(int64_t lcn, int64_t clusters);
  // Gives back [lcn, end), which holds no free cluster, merged with the
  // extents it touches.
  void Release(int64_t lcn, int64_t end);

 private:
  static constexpr uint32_t kNone = 0xFFFFFFFFu;

  struct TExtent {
    int64_t lcn;
    int64_t end;
    uint32_t previous;  // in the list of its length; kNone for the first
    uint32_t next;      // kNone for the last
  };

  // Extents by the cluster where one starts or the cluster after its end:
  // free extents never touch, so no cluster is both. Open addressing with
  // linear probing, deletion by shifting back, so no tombstones build up;
  // one slot of 16 bytes per entry, so a probe costs one cache line.
  class TPositionTable {
   public:
    // Room for entries without growing.
    explicit TPositionTable(size_t entries);
    // The extent that starts (or, with end, ends) at key; kNone when none.
    uint32_t Find(int64_t key, bool end) const;
    void Insert(int64_t key, uint32_t extent, bool end);
    void Erase(int64_t key);

   private:
    struct TSlot {
      int64_t key;  // kEmptyKey where free
      uint32_t extent;
      uint32_t end;  // 1 when key is where the extent ends
    };
    size_t Home(int64_t key) const;
    // Makes room for entries, keeping every entry.
    void Resize(size_t entries);
    std::vector<TSlot> slots_;
    size_t mask_ = 0;
    int shift_ = 60;
    size_t count_ = 0;  // entries held
  };

  // A new extent [lcn, end), end > lcn, and one taken out for good.
  void Insert(int64_t lcn, int64_t end);
  void Erase(uint32_t extent);
  // Puts an extent into the list of its length, and takes it out.
  void Link(uint32_t extent);
  void Unlink(uint32_t extent);

  std::vector<TExtent> extents_;
  std::vector<uint32_t> unused_;  // slots of extents_ free for reuse
  // Clusters -> the first extent of that length; lengths with none are
  // not kept.
  std::map<int64_t, uint32_t> byLength_;
  TPositionTable byPosition_;
};
