// Zone placement: each item with clusters gets one contiguous planned run in
// the sequence of its zone, in tree order; items whose single run already
// starts inside their zone's range keep it (NOMOVE). Nothing is moved.
#include <string>
#include <vector>

#include "drive/drive_optimizer.h"
#include "planning/zone_slot.h"

namespace {

// The reports made on a thread of their own: the drive, and what failed.
struct TReportsJob {
  TDriveOptimizer* drive;
  std::vector<std::string> failures;  // the reports thread's until it is waited for
};

unsigned ReportsThreadProc(void* parameter) {
  auto* job = static_cast<TReportsJob*>(parameter);
  job->drive->WriteReports(&job->failures);
  return 0;
}

}  // namespace

void TDriveOptimizer::OptimizeFragments() {
  if (root == nullptr) return;
  statusText.Set("Calculating zone sizes");
  PlanZones(root);
  statusText.Set("Scanning for items already at place");
  MarkItemsInPlace(root);
  statusText.Set("Assigning final location");
  // From here on the tree is only read until the worker ends: the reports
  // are made on a second thread while the optimized log is listed (each is
  // as long as the other on a large volume). Without a thread they follow.
  TReportsJob reports{this, {}};
  THandle reportsThread = services.StartThread(ReportsThreadProc, &reports);
  statusText.Set("Listing tree");
  for (const std::string& name : LogNames("c:\\DirList_Optimized.log")) {
    TLogFile log(services, name.c_str());
    if (!log.IsOpen()) {
      Fail("the log " + name + " could not be written: " + services.LastErrorText());
      continue;
    }
    std::string path;
    ListTree(path, root, log);
  }
  if (reportsThread == InvalidHandle()) {
    WriteReports(&reports.failures);
  } else {
    services.WaitForThreads(&reportsThread, 1);
    services.Close(reportsThread);
  }
  for (const std::string& reason : reports.failures) Fail(reason);
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
