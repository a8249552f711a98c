// Zone placement: each item with clusters gets one contiguous planned run in
// the sequence of its zone, in tree order; items whose single run already
// starts inside their zone's range keep it (NOMOVE). Nothing is moved.
#include "drive/drive_optimizer.h"
#include "planning/zone_slot.h"

void TDriveOptimizer::OptimizeFragments() {
  if (root == nullptr) return;
  statusText.Set("Calculating zone sizes");
  PlanZones(root);
  statusText.Set("Scanning for items already at place");
  MarkItemsInPlace(root);
  statusText.Set("Assigning final location");
  statusText.Set("Listing tree");
  for (const std::string& name : LogNames("c:\\DirList_Optimized.log")) {
    TLogFile log(services, name.c_str());
    if (!log.IsOpen()) {
      Fail("the log " + name + " could not be written: " + services.LastErrorText());
      continue;
    }
    ListTree("", root, log);
  }
}

void TDriveOptimizer::PlanZones(TItem* item) {
  const int slot = ZoneSlot(*item);
  if (item->clusters > 0) {
    const int64_t cursor = zoneCursor[slot];
    // With no record to give, the item has no planned run, but its clusters
    // stay taken in the zone's sequence.
    item->planned = NewFragment(item, 0, cursor, item->clusters);
    zoneCursor[slot] = cursor + item->clusters;
  }
  for (TItem* child = item->firstChild; child != nullptr; child = child->nextSibling) {
    PlanZones(child);
  }
}

void TDriveOptimizer::MarkItemsInPlace(TItem* item) {
  const int slot = ZoneSlot(*item);
  const TFragment* first = item->fragments;
  if (first != nullptr && first->lcn < zoneClusters[slot] && item->fragmentCount == 1) {
    item->flags |= kItemNoMove;
    ReleaseFragments(item->planned);
    item->planned = NewFragment(item, 0, first->lcn, first->length);
  }
  for (TItem* child = item->firstChild; child != nullptr; child = child->nextSibling) {
    MarkItemsInPlace(child);
  }
}
