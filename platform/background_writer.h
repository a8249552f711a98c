// Writes a stream's bytes on a thread of its own, so that the thread
// composing them never waits for the system's copy into the file: a log of
// a large volume is tens of megabytes, and putting it into the file costs as
// much as composing it.
//
// The composing thread fills one block while the writer thread writes the
// other. Ownership: the block being filled and the calls belong to the
// composing thread alone; the block being written and the stream belong to
// the writer thread from its hand-over until the writer marks it written,
// under lock_. The stream is the writer's until Finish returns.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>

class TBackgroundWriter {
 public:
  // Bytes gathered before they are handed to the writer: large enough that
  // each write is one system call of useful size, small enough to stay in
  // the cache the composing thread works in.
  static constexpr size_t kBlockBytes = 1 << 20;

  // Starts the writer thread for stream (not owned; it must stay open
  // until Finish returns).
  explicit TBackgroundWriter(FILE* stream);
  // Finish().
  ~TBackgroundWriter();
  TBackgroundWriter(const TBackgroundWriter&) = delete;
  TBackgroundWriter& operator=(const TBackgroundWriter&) = delete;

  // Adds bytes after those added before. Called for every few bytes of a
  // log line, so the common case stays inline.
  void Append(const char* bytes, size_t length) {
    if (length <= kBlockBytes - filled_) {
      std::memcpy(filling_.get() + filled_, bytes, length);
      filled_ += length;
    } else {
      AppendAcross(bytes, length);
    }
  }
  // Writes what is left and ends the writer thread. True when every byte
  // reached the stream. Only the first call acts; later ones tell the same.
  bool Finish();
  // The errno of the first write that fell short, once Finish has
  // returned; 0 when none did.
  int Error() const { return error_; }

 private:
  // Append for bytes that fill the block: hands over each block filled.
  void AppendAcross(const char* bytes, size_t length);
  // Waits until the writer is idle, then hands it the filled block.
  void HandOver();
  // The writer thread: writes each block handed over until told to end.
  void Run();

  FILE* const stream_;
  std::unique_ptr<char[]> filling_;  // the composing thread's block
  size_t filled_ = 0;                // bytes in filling_
  std::unique_ptr<char[]> writing_;  // the writer's block while handed over
  size_t toWrite_ = 0;               // bytes in writing_; set with it
  std::mutex lock_;
  std::condition_variable changed_;
  bool handedOver_ = false;  // writing_ awaits the writer; under lock_
  bool ending_ = false;      // no block follows; under lock_
  int error_ = 0;  // errno of the first write that fell short; under lock_ until Finish returns
  bool finished_ = false;  // Finish has run; the composing thread's
  std::thread writer_;
};
