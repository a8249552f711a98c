// Zone placement: each item with clusters gets one contiguous planned run in
// the sequence of its zone, in tree order; items whose single run already
// starts inside their zone's range keep it (NOMOVE). Nothing is moved.
#include <functional>

#include "drive/drive_optimizer.h"
#include "model/record_pool.h"
#include "planning/zone_slot.h"

namespace {

// Part of the logs and reports, made on a thread of its own.
struct TSideJob {
  std::function<void()> work;
  THandle thread;
};

unsigned SideJobProc(void* parameter) {
  auto* job = static_cast<TSideJob*>(parameter);
  job->work();
  return 0;
}

// Starts the job on a thread of its own; without a thread, Finish does it.
void Start(TSystemServices& services, TSideJob& job) {
  job.thread = services.StartThread(SideJobProc, &job);
}

void Finish(TSystemServices& services, TSideJob& job) {
  if (job.thread == InvalidHandle()) {
    job.work();
    return;
  }
  services.WaitForThreads(&job.thread, 1);
  services.Close(job.thread);
}

}  // namespace

void TDriveOptimizer::OptimizeFragments() {
  if (root == nullptr) return;
  {
    // Each item with clusters gets a planned run: taken from the pool in
    // batches.
    TPoolReserve<TFragment> planned(fragmentPool);
    statusText.Set("Calculating zone sizes");
    PlanZones(root);
    statusText.Set("Scanning for items already at place");
    MarkItemsInPlace(root);
  }
  statusText.Set("Assigning final location");
  // From here on the tree is only read until the worker ends, so the reports
  // are made on a thread of their own while the rules log (listed without
  // the plan, as the rules left the tree) and the optimized log are listed
  // here, in one walk: the two listings differ only in the plan. Both hand
  // their files to the run's output, which the pipeline puts in place.
  statusText.Set("Listing tree");
  TOutputSet reportFiles;
  TSideJob reports{[this, &reportFiles] { WriteReports(reportFiles); }, InvalidHandle()};
  Start(services, reports);
  ListLogs();
  Finish(services, reports);
  output.Absorb(reportFiles);
}

void TDriveOptimizer::PlanZones(TItem* item) {
  if (HoldOrStop()) return;
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
  if (HoldOrStop()) return;
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
