#include "platform/background_writer.h"

#include <algorithm>
#include <cerrno>
#include <system_error>

namespace {

// Writes length bytes to stream; 0 when all of them went, else the write's
// errno (EIO for a short write that set none: bytes were lost all the same).
int WriteBlock(FILE* stream, const char* bytes, size_t length) {
  errno = 0;
  if (std::fwrite(bytes, 1, length, stream) == length) return 0;
  return errno != 0 ? errno : EIO;
}

}  // namespace

TBackgroundWriter::TBackgroundWriter(FILE* stream)
    : stream_(stream), filling_(new char[kBlockBytes]), writing_(new char[kBlockBytes]) {
  try {
    writer_ = std::thread(&TBackgroundWriter::Run, this);
  } catch (const std::system_error&) {
    // No thread to be had: the composing thread writes each block itself.
  }
}

TBackgroundWriter::~TBackgroundWriter() { Finish(); }

void TBackgroundWriter::AppendAcross(const char* bytes, size_t length) {
  while (length > 0) {
    const size_t taken = std::min(length, kBlockBytes - filled_);
    std::memcpy(filling_.get() + filled_, bytes, taken);
    filled_ += taken;
    bytes += taken;
    length -= taken;
    if (filled_ == kBlockBytes) HandOver();
  }
}

void TBackgroundWriter::HandOver() {
  std::unique_lock<std::mutex> guard(lock_);
  if (!writer_.joinable()) {
    const int error = WriteBlock(stream_, filling_.get(), filled_);
    if (error_ == 0) error_ = error;
    filled_ = 0;
    return;
  }
  changed_.wait(guard, [this] { return !handedOver_; });
  // The writer has emptied writing_; the blocks change hands.
  filling_.swap(writing_);
  toWrite_ = filled_;
  filled_ = 0;
  handedOver_ = true;
  changed_.notify_all();
}

bool TBackgroundWriter::Finish() {
  if (!finished_) {
    finished_ = true;
    if (filled_ > 0) HandOver();
    {
      std::lock_guard<std::mutex> guard(lock_);
      ending_ = true;
    }
    changed_.notify_all();
    if (writer_.joinable()) writer_.join();
  }
  std::lock_guard<std::mutex> guard(lock_);
  return error_ == 0;
}

void TBackgroundWriter::Run() {
  std::unique_lock<std::mutex> guard(lock_);
  for (;;) {
    changed_.wait(guard, [this] { return handedOver_ || ending_; });
    if (!handedOver_) return;
    // writing_ is the writer's until handedOver_ is cleared; the composing
    // thread touches only filling_ meanwhile.
    guard.unlock();
    const int error = WriteBlock(stream_, writing_.get(), toWrite_);
    guard.lock();
    if (error_ == 0) error_ = error;
    handedOver_ = false;
    changed_.notify_all();
  }
}
