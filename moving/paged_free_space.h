// Free clusters as the replay of a schedule checks them: stretches taken and
// given back in any order, each checked first. The clusters are cut into
// pages of a power of two clusters, each page holding the free extents that
// lie in it, cut at its edges, in order: a stretch is found by an index and
// a search among a page's few extents, and a change moves a few of them,
// with no tree to walk and no allocation per change. Memory grows with the
// extents (about 32 per page), not with the volume's size.
#pragma once

#include <cstdint>
#include <vector>

#include "model/volume_report.h"

class TPagedFreeSpace {
 public:
  // extents: the free clusters, in any order, touching or overlapping; those
  // outside [0, limit) are left out, and no cluster there is ever free.
  // extentsPerPage (> 0): about how many of them a page holds to start with.
  TPagedFreeSpace(const std::vector<TClusterExtent>& extents, int64_t limit,
                  int64_t extentsPerPage = 32);

  // Whether every cluster of [lcn, end) is free; true when end <= lcn.
  bool AllFree(int64_t lcn, int64_t end) const;
  // Whether no cluster of [lcn, end) is free; true when end <= lcn.
  bool NoneFree(int64_t lcn, int64_t end) const;
  // Takes [lcn, end), which AllFree said is free.
  void Take(int64_t lcn, int64_t end);
  // Gives back [lcn, end), which NoneFree said is in use, inside [0, limit).
  void Give(int64_t lcn, int64_t end);
  // Takes [lcn, end) when every cluster of it is free, else changes
  // nothing and says false: AllFree and Take with one search where the
  // stretch lies in one page, as most do.
  bool TakeIfAllFree(int64_t lcn, int64_t end);
  // Gives back [lcn, end) when no cluster of it is free, else changes
  // nothing and says false: NoneFree and Give, likewise.
  bool GiveIfNoneFree(int64_t lcn, int64_t end);
  // Hints for a caller that knows which clusters it will ask about soon:
  // fetch the record of the page that holds lcn, and (once that record is
  // at hand) the extents in it. Change nothing; lcn may lie anywhere.
  void PrefetchPage(int64_t lcn) const;
  void PrefetchExtents(int64_t lcn) const;
  // The free extents, normalized (ascending, apart, those that touch joined).
  std::vector<TClusterExtent> Extents() const;

 private:
  struct TSpan {
    int64_t lcn;
    int64_t end;  // the cluster after; spans of a page neither overlap nor touch
  };
  using TPage = std::vector<TSpan>;  // ascending lcn

  // Calls visit(page index, first, end) for each page that [lcn, end)
  // reaches, with the part of it inside that page; false at the first visit
  // that says false, true when every one said true.
  template <typename TVisit>
  bool EachPage(int64_t lcn, int64_t end, TVisit visit) const;
  // The index in a page of its first span that starts past lcn.
  static size_t After(const TPage& page, int64_t lcn);
  // Whether [lcn, end) lies inside the volume and one page.
  bool InOnePage(int64_t lcn, int64_t end) const;
  // Take and Give within one page, where after is After(page, first).
  static void TakeInPage(TPage* page, size_t after, int64_t first, int64_t stop);
  static void GiveInPage(TPage* page, size_t after, int64_t first, int64_t stop);

  int shift_;  // a page holds 2^shift_ clusters
  int64_t limit_;
  std::vector<TPage> pages_;
};
