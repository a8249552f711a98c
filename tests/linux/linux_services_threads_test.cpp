#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <thread>
#include <vector>

#include "platform/linux/linux_services.h"

namespace {

// Gate threads wait until released, sleep as many milliseconds as their
// parameter says, then count themselves as ended. Static, so a thread whose
// handle was closed never outlives what it touches.
std::atomic<bool> released{false};
std::atomic<int> ended{0};

unsigned WaitAtGate(void* delayMilliseconds) {
  while (!released.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  std::this_thread::sleep_for(
      std::chrono::milliseconds(reinterpret_cast<intptr_t>(delayMilliseconds)));
  ended.fetch_add(1);
  return 0;
}

class LinuxThreads : public testing::Test {
 protected:
  LinuxThreads() {
    released = false;
    ended = 0;
  }
  ~LinuxThreads() override { released = true; }

  TLinuxServices services_{TDriveTable()};
};

TEST_F(LinuxThreads, WaitForThreadsWaitsForAnyCountAgainAndAgain) {
  std::vector<THandle> threads;
  // The last threads end last, so a wait that stopped early would show.
  for (intptr_t i = 0; i < 100; ++i) {
    threads.push_back(services_.StartThread(WaitAtGate, reinterpret_cast<void*>(i)));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  released = true;
  services_.WaitForThreads(threads.data(), static_cast<int>(threads.size()));
  EXPECT_EQ(ended.load(), 100);
  services_.WaitForThreads(threads.data(), static_cast<int>(threads.size()));
  services_.WaitForThreads(nullptr, 0);
  for (THandle thread : threads) services_.Close(thread);
}

TEST_F(LinuxThreads, SeveralThreadsMayWaitOnOneHandle) {
  THandle thread = services_.StartThread(WaitAtGate, nullptr);
  std::vector<std::thread> waiters;
  for (int i = 0; i < 4; ++i) waiters.emplace_back([&] { services_.WaitFor(thread); });
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  released = true;
  for (std::thread& waiter : waiters) waiter.join();
  EXPECT_EQ(ended.load(), 1);
  services_.Close(thread);
}

TEST_F(LinuxThreads, ClosingWithoutWaitingLetsTheThreadRunOn) {
  services_.Close(services_.StartThread(WaitAtGate, nullptr));  // neither blocks nor aborts
  EXPECT_EQ(ended.load(), 0);
  released = true;
  for (int i = 0; i < 10000 && ended.load() == 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  EXPECT_EQ(ended.load(), 1);
}

}  // namespace
