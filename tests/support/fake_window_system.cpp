#include "tests/support/fake_window_system.h"

#include <chrono>

TFakeWindowSystem::~TFakeWindowSystem() {
  for (TDriveThread* drive : threads) {
    if (drive->thread.joinable()) drive->thread.join();
    delete drive;
  }
}

void TFakeWindowSystem::CreateDrawingResources() {
  std::lock_guard<std::mutex> guard(lock);
  events.push_back("resources");
}

bool TFakeWindowSystem::RegisterFragmentViewClass() {
  std::lock_guard<std::mutex> guard(lock);
  events.push_back("register");
  return !failRegistration;
}

void TFakeWindowSystem::ShowMessage(const char* text, const char* caption) {
  std::lock_guard<std::mutex> guard(lock);
  events.push_back(std::string("message:") + caption + ":" + text);
}

THandle TFakeWindowSystem::StartDriveThread(TDriveOptimizer* optimizer) {
  auto* drive = new TDriveThread{std::thread(), optimizer};
  {
    std::lock_guard<std::mutex> guard(lock);
    drivesStarted.push_back(optimizer->driveLetter);
    events.push_back(std::string("drive:") + optimizer->driveLetter);
    threads.push_back(drive);
  }
  drive->thread = std::thread([optimizer] { DriveThreadProc(optimizer); });
  return drive;
}

void TFakeWindowSystem::WaitForDriveThreads(const THandle* list, int count) {
  {
    std::lock_guard<std::mutex> guard(lock);
    threadsWaitedFor.assign(list, list + count);
    events.push_back("wait:" + std::to_string(count));
  }
  for (int i = 0; i < count; ++i) {
    auto* drive = static_cast<TDriveThread*>(list[i]);
    if (drive->thread.joinable()) drive->thread.join();
  }
}

void TFakeWindowSystem::CloseDriveThread(THandle thread) {
  std::lock_guard<std::mutex> guard(lock);
  events.push_back(std::string("close:") +
                   static_cast<TDriveThread*>(thread)->optimizer->driveLetter);
}

void TFakeWindowSystem::CreateDriveWindow(TDriveOptimizer& optimizer) {
  optimizer.mainWindow = &optimizer;
}

void TFakeWindowSystem::RunMessageLoop(TDriveOptimizer& optimizer) {
  // The window stays open until its worker has finished, unless the test
  // closes it at once.
  while (!closeAtOnce && optimizer.statusText.Get() != "Finished") {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  optimizer.RequestStop();
}

void TFakeWindowSystem::PostFragmentsReady(TDriveOptimizer&) {
  std::lock_guard<std::mutex> guard(lock);
  ++noticesPosted;
}
