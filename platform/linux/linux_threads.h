// Threads as handles: what CreateThread, WaitForSingleObject and CloseHandle
// do with a thread on Windows.
#pragma once

#include <mutex>
#include <thread>

#include "platform/handle_object.h"
#include "platform/system_services.h"

class TThreadHandle : public THandleObject {
 public:
  // Starts proc(parameter) at once; none when no thread can be started. The
  // caller owns the handle; proc's result is not kept.
  static TThreadHandle* Start(TThreadProc proc, void* parameter);

  // Closing the handle of a thread that was not waited for lets the thread
  // run on to its end, as closing a thread handle does on Windows.
  ~TThreadHandle() override;
  TThreadHandle(const TThreadHandle&) = delete;
  TThreadHandle& operator=(const TThreadHandle&) = delete;

  // Returns once the thread has ended. Any number of threads may wait on one
  // handle, also repeatedly; the handle must not be closed while they wait.
  void Wait() override;

 private:
  TThreadHandle() = default;

  // Guards thread_ between waiters: joining is allowed once, by one thread.
  std::mutex joinLock_;
  std::thread thread_;  // joinable until the first wait has returned
};
