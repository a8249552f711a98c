#include "app/drive_optimizer.h"

#include <condition_variable>
#include <mutex>

#include "ui/cluster_map.h"

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

void CreateMemoryTreeStage(TDriveOptimizer& drive) { drive.CreateMemoryTree(); }
void MapFreeSpaceStage(TDriveOptimizer& drive) { drive.MapFreeSpace(); }
void FillMemoryTreeStage(TDriveOptimizer& drive) { drive.FillMemoryTree(); }
void OptimizeTreeStage(TDriveOptimizer& drive) { drive.OptimizeTree(); }

const TPipelineStages kDriveStages = {CreateMemoryTreeStage, MapFreeSpaceStage, FillMemoryTreeStage,
                                      OptimizeTreeStage};

}  // namespace

TDriveOptimizer::TDriveOptimizer(char letter, TSystemServices& systemServices,
                                 TWindowSystem& windowSystem)
    : driveLetter(letter),
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
      releaseFragmentView(nullptr) {}

TDriveOptimizer::~TDriveOptimizer() {
  // The view first: it reads the map.
  if (releaseFragmentView != nullptr) releaseFragmentView(fragmentView);
  delete clusterMap;
  ReleaseItem(root);
  ReleaseFragments(freeExtents);
}

void TDriveOptimizer::RunDriveThread() {
  windows.CreateDriveWindow(*this);
  quitRequested = false;
  {
    std::lock_guard<std::mutex> guard(workerLock);
    ++runningWorkers;
  }
  THandle worker = services.StartThread(WorkerThreadProc, this);
  if (worker == InvalidHandle()) {
    WorkerEnded();
  } else {
    // Nobody waits for the worker through its handle; it ends by itself.
    services.Close(worker);
  }
  windows.RunMessageLoop(*this);
}

void TDriveOptimizer::RunPipeline() { RunPipeline(kDriveStages); }

void TDriveOptimizer::RunPipeline(const TPipelineStages& stages) {
  stages.createMemoryTree(*this);
  if (root != nullptr && !StopRequested()) {
    stages.mapFreeSpace(*this);
    if (freeExtents != nullptr && !StopRequested()) {
      stages.fillMemoryTree(*this);
      windows.PostFragmentsReady(*this);
      if (root != nullptr && !StopRequested()) {
        stages.optimizeTree(*this);
        // The plan is not carried out: nothing on the volume is moved.
        statusText.Set("Applying optimized tree");
      }
    }
  }
  statusText.Set("Finished");
  detailText.Set("Finished");
}

unsigned DriveThreadProc(void* parameter) {
  static_cast<TDriveOptimizer*>(parameter)->RunDriveThread();
  return 0;
}

unsigned WorkerThreadProc(void* parameter) {
  static_cast<TDriveOptimizer*>(parameter)->RunPipeline();
  WorkerEnded();
  return 0;
}

void WaitForWorkers() {
  std::unique_lock<std::mutex> guard(workerLock);
  workerEnded.wait(guard, [] { return runningWorkers == 0; });
}
