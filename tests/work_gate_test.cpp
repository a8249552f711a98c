// The pause and stop of a drive's worker between items: a pause holds the
// worker until resumed, a stop ends it whether held or not, and a new run
// of moves starts neither paused nor stopped.
#include "drive/work_gate.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include "drive/move_progress.h"

namespace {

using namespace std::chrono_literals;

TEST(WorkGate, APauseHoldsUntilResumed) {
  TWorkGate gate;
  EXPECT_TRUE(gate.WaitToGoOn());
  gate.Pause();
  std::future<bool> held = std::async(std::launch::async, [&] { return gate.WaitToGoOn(); });
  EXPECT_EQ(held.wait_for(300ms), std::future_status::timeout);
  gate.Resume();
  ASSERT_EQ(held.wait_for(5s), std::future_status::ready);
  EXPECT_TRUE(held.get());
}

// A stop wakes every held thread (the worker and its helper) at once.
TEST(WorkGate, AStopEndsHeldAndFreeThreadsAlike) {
  TWorkGate gate;
  gate.Pause();
  std::future<bool> first = std::async(std::launch::async, [&] { return gate.WaitToGoOn(); });
  std::future<bool> second = std::async(std::launch::async, [&] { return gate.WaitToGoOn(); });
  EXPECT_EQ(first.wait_for(100ms), std::future_status::timeout);
  gate.Stop();
  ASSERT_EQ(first.wait_for(5s), std::future_status::ready);
  ASSERT_EQ(second.wait_for(5s), std::future_status::ready);
  EXPECT_FALSE(first.get());
  EXPECT_FALSE(second.get());
  // For good: resuming does not undo it.
  gate.Resume();
  EXPECT_FALSE(gate.WaitToGoOn());
  EXPECT_TRUE(gate.Stopped());
}

TEST(WorkGate, ANewRunOfMovesIsNeitherPausedNorStopped) {
  TMoveProgress moves;
  moves.Pause();
  moves.Stop();
  moves.Restart();
  EXPECT_FALSE(moves.Paused());
  EXPECT_FALSE(moves.Stopped());
  EXPECT_TRUE(moves.WaitToGoOn());
}

}  // namespace
