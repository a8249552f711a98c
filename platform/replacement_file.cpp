#include "platform/replacement_file.h"

bool TReplacementFile::Commit(bool stillComplete) {
  if (done_) return false;
  done_ = true;
  // Buffered bytes that fail to reach the file show as an error here or at
  // the close, as does every earlier failed write.
  const bool written = std::fflush(stream_) == 0 && std::ferror(stream_) == 0;
  const bool closed = std::fclose(stream_) == 0;
  stream_ = nullptr;
  if (stillComplete && written && closed && PutInPlace()) return true;
  RemoveNew();
  return false;
}

void TReplacementFile::Discard() {
  if (done_) return;
  done_ = true;
  std::fclose(stream_);
  stream_ = nullptr;
  RemoveNew();
}
