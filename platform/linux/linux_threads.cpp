#include "platform/linux/linux_threads.h"

#include <memory>
#include <system_error>

TThreadHandle* TThreadHandle::Start(TThreadProc proc, void* parameter) {
  std::unique_ptr<TThreadHandle> handle(new TThreadHandle());
  try {
    // The thread never touches its handle, so it may outlive it.
    handle->thread_ = std::thread(proc, parameter);
  } catch (const std::system_error&) {
    return nullptr;
  }
  return handle.release();
}

TThreadHandle::~TThreadHandle() {
  if (thread_.joinable()) thread_.detach();
}

void TThreadHandle::Wait() {
  std::lock_guard<std::mutex> hold(joinLock_);
  if (thread_.joinable()) thread_.join();
}
