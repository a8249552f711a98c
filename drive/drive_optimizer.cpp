#include "drive/drive_optimizer.h"

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <exception>
#include <iterator>
#include <memory>
#include <mutex>
#include <new>

namespace {

// Workers that have been started and not yet returned from their pipeline.
// Written by every drive thread and worker, read by the main thread's final
// wait; guarded by workerLock.
std::mutex workerLock;
std::condition_variable workerEnded;
int runningWorkers = 0;

void WorkerEnded() {
  std::lock_guard<std::mutex> guard(workerLock);
  --runningWorkers;
  workerEnded.notify_all();
}

// What a worker started by StartWorker runs; owned by its thread, which
// deletes it when done.
struct TWorkerJob {
  TDriveOptimizer* drive;  // not owned
  std::function<void(TDriveOptimizer&)> work;
};

unsigned RunWorkerJob(void* parameter) {
  std::unique_ptr<TWorkerJob> job(static_cast<TWorkerJob*>(parameter));
  job->work(*job->drive);
  // The end is told, not inferred from the texts, so a window that closes
  // itself when done closes at once, whatever its texts say.
  job->drive->windows.PostWorkerFinished(*job->drive);
  WorkerEnded();
  return 0;
}

// Returns the planned runs of item and its subtree to their pool: ReleaseItem
// leaves them.
void ReleasePlannedRuns(TItem* item) {
  for (; item != nullptr; item = item->nextSibling) {
    ReleaseFragments(item->planned);
    item->planned = nullptr;
    ReleasePlannedRuns(item->firstChild);
  }
}

}  // namespace

TDriveOptimizer::TDriveOptimizer(char letter, TSystemServices& systemServices,
                                 TWindowSystem& windowSystem, const TPipelineStages& driveStages)
    : driveLetter(letter),
      perDriveLogs(false),
      windowIndex(0),
      windowCount(1),
      root(nullptr),
      freeExtents(nullptr),
      clusterMap(nullptr),
      fragmentView(nullptr),
      totalClusters(0),
      zoneCursor{},
      zoneClusters{},
      zoneFreeCursor{},
      quitRequested(false),
      mainWindow(nullptr),
      statusBar(nullptr),
      pauseButton(nullptr),
      stopButton(nullptr),
      stageLabel(nullptr),
      services(systemServices),
      windows(windowSystem),
      stages(driveStages),
      releaseViews(nullptr) {}

TDriveOptimizer::~TDriveOptimizer() {
  if (releaseViews != nullptr) releaseViews(*this);
  ReleaseItem(root);
  ReleaseFragments(freeExtents);
}

void TDriveOptimizer::RunDriveThread() {
  windows.CreateDriveWindow(*this);
  quitRequested = false;
  StartWorker([](TDriveOptimizer& drive) { drive.RunPipeline(); });
  windows.RunMessageLoop(*this);
}

bool TDriveOptimizer::StartWorker(std::function<void(TDriveOptimizer&)> work) {
  {
    std::lock_guard<std::mutex> guard(workerLock);
    ++runningWorkers;
  }
  auto* job = new TWorkerJob{this, std::move(work)};
  THandle worker = services.StartThread(RunWorkerJob, job);
  if (worker == InvalidHandle()) {
    delete job;
    WorkerEnded();
    return false;
  }
  // Nobody waits for the worker through its handle; it ends by itself.
  services.Close(worker);
  return true;
}

void TDriveOptimizer::ForgetAnalysis() {
  if (releaseViews != nullptr) releaseViews(*this);
  ReleasePlannedRuns(root);
  ReleaseItem(root);
  root = nullptr;
  ReleaseFragments(freeExtents);
  freeExtents = nullptr;
  totalClusters = 0;
  std::fill(std::begin(zoneCursor), std::end(zoneCursor), 0);
  std::fill(std::begin(zoneClusters), std::end(zoneClusters), 0);
  std::fill(std::begin(zoneFreeCursor), std::end(zoneFreeCursor), nullptr);
  volumePlan = TVolumePlan();
  summary = TVolumeSummary();
  damage.Clear();
  clustersHeldByNoFile = -1;
  itemsCounted.store(0, std::memory_order_relaxed);
  itemsToRead.store(-1, std::memory_order_relaxed);
  readFrom.store(0, std::memory_order_relaxed);
  failureReason.Set("");
}

void TDriveOptimizer::RunPipeline(const TPipelineStages& stagesToRun) {
  // No exception leaves the worker: a stage that throws (memory ran out
  // for a table, a thread could not start) ends this drive with a reason,
  // and the other drives go on.
  bool ended = false;  // the stages ran to their end, or to a skip
  try {
    RunStages(stagesToRun);
    ended = true;
  } catch (const std::bad_alloc&) {
    Fail("there was not enough memory to go on with the analysis");
  } catch (const std::exception& error) {
    Fail(std::string("the analysis could not go on: ") + error.what());
  } catch (...) {
    Fail("the analysis could not go on");
  }
  // The run's files go in place together, or none of them; those of a run
  // stopped or broken off early stay unused, and the previous run's stay as
  // they were.
  if (StopRequested() || !ended) {
    output.Discard();
  } else {
    const std::string unwritten = output.Commit();
    if (!unwritten.empty()) Fail(unwritten);
  }
  // What the services found wrong and the stages did not ask for yet (the
  // stages may have ended early).
  TakeVolumeDamage();
  // A stopped drive says so, and that its logs are the previous run's: a
  // log of part of a volume would pass for the whole of it.
  if (StopRequested()) {
    statusText.Set("Stopped");
    detailText.Set("Stopped before the end: no log was written");
    return;
  }
  statusText.Set("Finished");
  // What failed, if anything did, instead of a "Finished" over nothing; else
  // whether the volume was found damaged.
  const std::string reason = failureReason.Get();
  const size_t problems = damage.Count();
  if (!reason.empty()) {
    detailText.Set(reason.c_str());
  } else if (problems > 0) {
    detailText.Set(DamageSummaryText(problems).c_str());
  } else {
    detailText.Set("Finished");
  }
}

void TDriveOptimizer::RunStages(const TPipelineStages& stagesToRun) {
  stagesToRun.createMemoryTree(*this);
  if (root != nullptr && !StopRequested()) {
    stagesToRun.mapFreeSpace(*this);
    if (freeExtents != nullptr && !StopRequested()) {
      stagesToRun.fillMemoryTree(*this);
      // Only moves open the items again on this thread: without them, what
      // the services keep to read the items fast goes before the plan and
      // the listings take their memory.
      if (stagesToRun.applyMoves == nullptr) services.ItemsRead(driveLetter);
      windows.PostFragmentsReady(*this);
      if (root != nullptr && !StopRequested()) {
        stagesToRun.optimizeTree(*this);
        // The plan is not carried out: nothing on the volume is moved,
        // unless moves were asked for.
        statusText.Set("Applying optimized tree");
        if (stagesToRun.applyMoves != nullptr && !StopRequested()) stagesToRun.applyMoves(*this);
      }
    }
  }
}

std::string DamageSummaryText(size_t problems) {
  return "Damage: " + std::to_string(problems) + (problems == 1 ? " problem" : " problems") +
         ", see the export";
}

void TDriveOptimizer::ReportDamage(TItem* item, std::string path, std::string what) {
  if (item != nullptr) item->flags |= kItemDamaged;
  damage.Add(TVolumeDamage{std::move(path), std::move(what)});
}

void TDriveOptimizer::TakeVolumeDamage() {
  for (TVolumeDamage& found : services.TakeVolumeDamage(driveLetter)) {
    TItem* item = ItemAtListingPath(root, found.path);
    ReportDamage(item, std::move(found.path), std::move(found.what));
  }
}

std::vector<std::string> TDriveOptimizer::LogNames(const char* fixedName) const {
  std::vector<std::string> names{fixedName};
  if (!perDriveLogs) return names;
  // The letter as given when it can stand in a file name, else its code.
  const unsigned char letter = static_cast<unsigned char>(driveLetter);
  const bool plain = (letter >= 'A' && letter <= 'Z') || (letter >= 'a' && letter <= 'z') ||
                     (letter >= '0' && letter <= '9');
  char tag[4];
  std::snprintf(tag, sizeof tag, plain ? "-%c" : "-%02X", letter);
  std::string own = fixedName;
  const size_t dot = own.rfind('.');
  own.insert(dot == std::string::npos ? own.size() : dot, tag);
  names.push_back(own);
  return names;
}

void TDriveOptimizer::Fail(const std::string& reason) {
  // After a stop the stages unwind early on purpose: nothing has failed.
  if (StopRequested()) return;
  if (failureReason.Get().empty()) failureReason.Set(reason.c_str());
}

unsigned DriveThreadProc(void* parameter) {
  static_cast<TDriveOptimizer*>(parameter)->RunDriveThread();
  return 0;
}

void WaitForWorkers() {
  std::unique_lock<std::mutex> guard(workerLock);
  workerEnded.wait(guard, [] { return runningWorkers == 0; });
}
