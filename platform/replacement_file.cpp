#include "platform/replacement_file.h"

#include <cerrno>
#include <cstring>

bool TReplacementFile::Seal(int writeError) {
  if (sealed_) return whole_;
  sealed_ = true;
  // Buffered bytes that fail to reach the file show as an error here or at
  // the close, as does every earlier failed write on this stream.
  errno = 0;
  bool written = std::fflush(stream_) == 0;
  int error = written ? 0 : errno;
  if (written && std::ferror(stream_) != 0) {
    // A write that failed earlier: its errno is gone unless the writer kept
    // it; an I/O error is what is left to say.
    written = false;
    error = writeError != 0 ? writeError : EIO;
  }
  errno = 0;
  const bool closed = std::fclose(stream_) == 0;
  if (!closed && error == 0) error = errno != 0 ? errno : EIO;
  stream_ = nullptr;
  if (writeError != 0) error = writeError;
  whole_ = written && closed && writeError == 0;
  if (!whole_) {
    SetErrno(error);
    RemoveNew();
    finished_ = true;
  }
  return whole_;
}

bool TReplacementFile::PutInPlace() {
  if (finished_ || !sealed_) return false;
  finished_ = true;
  if (Rename()) return true;
  RemoveNew();
  return false;
}

bool TReplacementFile::PutInPlaceNow() {
  if (finished_ || sealed_) return false;
  if (!Rename()) return false;
  finished_ = true;
  return true;
}

void TReplacementFile::Discard() {
  if (!sealed_) {
    sealed_ = true;
    std::fclose(stream_);
    stream_ = nullptr;
  }
  if (finished_) return;
  finished_ = true;
  RemoveNew();
}

void TReplacementFile::SetFailure(const std::string& reason) {
  if (failure_.empty()) failure_ = reason;
}

void TReplacementFile::SetErrno(int error) { SetFailure(std::strerror(error != 0 ? error : EIO)); }
