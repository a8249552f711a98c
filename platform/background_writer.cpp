#include "platform/background_writer.h"

#include <system_error>

namespace {

// Bytes gathered before they are handed to the writer: large enough that
// each write is one system call of useful size, small enough to stay in
// the cache the composing thread works in.
constexpr size_t kBlockBytes = 1 << 20;

}  // namespace

TBackgroundWriter::TBackgroundWriter(FILE* stream) : stream_(stream) {
  filling_.reserve(kBlockBytes);
  writing_.reserve(kBlockBytes);
  try {
    writer_ = std::thread(&TBackgroundWriter::Run, this);
  } catch (const std::system_error&) {
    // No thread to be had: the composing thread writes each block itself.
  }
}

TBackgroundWriter::~TBackgroundWriter() { Finish(); }

void TBackgroundWriter::Append(const char* bytes, size_t length) {
  while (length > 0) {
    const size_t room = kBlockBytes - filling_.size();
    const size_t taken = length < room ? length : room;
    filling_.insert(filling_.end(), bytes, bytes + taken);
    bytes += taken;
    length -= taken;
    if (filling_.size() == kBlockBytes) HandOver();
  }
}

void TBackgroundWriter::HandOver() {
  std::unique_lock<std::mutex> guard(lock_);
  if (!writer_.joinable()) {
    if (std::fwrite(filling_.data(), 1, filling_.size(), stream_) != filling_.size()) {
      failed_ = true;
    }
    filling_.clear();
    return;
  }
  changed_.wait(guard, [this] { return !handedOver_; });
  // The writer has emptied writing_; the blocks change hands.
  filling_.swap(writing_);
  filling_.clear();
  handedOver_ = true;
  changed_.notify_all();
}

bool TBackgroundWriter::Finish() {
  if (!finished_) {
    finished_ = true;
    if (!filling_.empty()) HandOver();
    {
      std::lock_guard<std::mutex> guard(lock_);
      ending_ = true;
    }
    changed_.notify_all();
    if (writer_.joinable()) writer_.join();
  }
  std::lock_guard<std::mutex> guard(lock_);
  return !failed_;
}

void TBackgroundWriter::Run() {
  std::unique_lock<std::mutex> guard(lock_);
  for (;;) {
    changed_.wait(guard, [this] { return handedOver_ || ending_; });
    if (!handedOver_) return;
    // writing_ is the writer's until handedOver_ is cleared; the composing
    // thread touches only filling_ meanwhile.
    guard.unlock();
    const bool written =
        std::fwrite(writing_.data(), 1, writing_.size(), stream_) == writing_.size();
    writing_.clear();
    guard.lock();
    if (!written) failed_ = true;
    handedOver_ = false;
    changed_.notify_all();
  }
}
