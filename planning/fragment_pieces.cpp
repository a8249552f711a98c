#include "planning/fragment_pieces.h"

int64_t AllocatedClusters(const TFragment* runs) {
  int64_t clusters = 0;
  for (const TFragment* run = runs; run != nullptr; run = run->next) {
    if (run->lcn >= 0 && run->length > 0) clusters += run->length;
  }
  return clusters;
}

int64_t ClustersNotPlaced(const TFragment* runs) {
  int64_t clusters = 0;
  for (const TFragment* run = runs; run != nullptr; run = run->next) {
    if (run->lcn == kLcnNotPlaced && run->length > 0) clusters += run->length;
  }
  return clusters;
}

int64_t CountPieces(const TFragment* runs) {
  int64_t pieces = 0;
  int64_t end = -1;  // the cluster after the previous allocated run; none yet
  for (const TFragment* run = runs; run != nullptr; run = run->next) {
    if (run->lcn < 0 || run->length <= 0) continue;
    if (run->lcn != end) ++pieces;
    end = run->lcn + run->length;
  }
  return pieces;
}
