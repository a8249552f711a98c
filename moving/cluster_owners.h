// Who holds each cluster of a volume while a schedule is worked out: a file
// (and at which VCN), nobody (free), or the file system (what is neither).
// The clusters are cut into pages of a power of two clusters, each page
// holding its stretches in order, cut at its edges: a cluster is found by an
// index and a search among a page's few stretches, a change moves a few of
// them, with no tree to walk and no allocation per change; a bit per page
// says whether it holds free clusters, so the free clusters nearest below a
// point are found without reading full pages. Memory grows with the
// stretches (about 8 to a page at the start), not with the volume's size.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "moving/huge_page_allocator.h"

class TClusterOwners {
 public:
  static constexpr uint32_t kFree = UINT32_MAX;
  static constexpr uint32_t kFileSystem = UINT32_MAX - 1;  // what no stretch added covers

  struct TStretch {
    int64_t lcn;
    int64_t end;    // the cluster after
    uint32_t file;  // the holder's index, kFree or kFileSystem
    int64_t vcn;    // the holder's VCN at lcn; 0 unless a file's
  };

  // totalClusters: the volume's size; clusters from it on are the file
  // system's. stretches: about how many Add will be given (sizes the pages).
  TClusterOwners(int64_t totalClusters, size_t stretches);

  // Before any other call: clusters [lcn, end) are held by file (kFree:
  // free) from vcn. Stretches added are apart, in any order.
  void Add(int64_t lcn, int64_t end, uint32_t file, int64_t vcn);
  // Ends the adding.
  void Seal();

  // The stretch of one holder that holds lcn, from lcn to where that holder
  // (or, for a file, its run of VCNs) ends; kFileSystem up to the next
  // stretch added. lcn inside the volume.
  TStretch At(int64_t lcn) const;
  // [lcn, end) is held by file from vcn from now on (kFree: is free;
  // kFileSystem: is neither).
  void Assign(int64_t lcn, int64_t end, uint32_t file, int64_t vcn);
  // The highest free clusters below `before`, as one stretch ending at most
  // at `before`; false when no cluster below it is free.
  bool FreeBelow(int64_t before, TStretch* stretch) const;
  // Asks for the memory that tells who holds lcn, ahead of a call about it:
  // a hint, with no effect on any answer.
  void Prefetch(int64_t lcn) const;

 private:
  struct TSegment {
    int64_t lcn;
    int64_t vcn;
    uint32_t length;  // a page holds at most 2^31 clusters
    uint32_t file;

    int64_t End() const { return lcn + length; }
  };
  using TPage = std::vector<TSegment>;  // ascending lcn, apart

  int64_t PageStart(size_t page) const { return static_cast<int64_t>(page) << shift_; }
  size_t PageOf(int64_t lcn) const { return static_cast<size_t>(lcn >> shift_); }
  // The index in page of its first segment that starts past lcn.
  static size_t After(const TPage& page, int64_t lcn);
  // Whether b continues a: the same holder, and for a file the next VCN.
  static bool Continues(const TSegment& a, const TSegment& b);
  // Assign within one page.
  void AssignInPage(size_t index, int64_t lcn, int64_t end, uint32_t file, int64_t vcn);
  void MarkFree(size_t page);
  // The highest page below `page` with a free cluster; false when none.
  bool FreePageBelow(size_t page, size_t* found) const;

  int shift_;  // a page holds 2^shift_ clusters
  int64_t total_;
  std::vector<TPage, THugePageAllocator<TPage>> pages_;
  std::vector<TSegment> added_;      // what Add was given, until Seal
  std::vector<int64_t> freeInPage_;  // free clusters of each page
  std::vector<uint64_t> freePages_;  // a bit per page: has free clusters
  std::vector<uint64_t> freeWords_;  // a bit per word of freePages_: not zero
};
