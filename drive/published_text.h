// A text that the worker publishes and the drive window reads every 500 ms
// from another thread. The writer replaces the text as a whole under a small
// lock and the reader copies it out under the same lock, so a reader never
// sees a text that is being rewritten and never holds a pointer into storage
// that a later write may free or reuse.
#pragma once

#include <mutex>
#include <string>

class TPublishedText {
 public:
  // Replaces the text with a copy of text (zero-terminated 8-bit text).
  void Set(const char* text) {
    std::lock_guard<std::mutex> guard(lock);
    value.assign(text);
  }
  // A copy of the current text; the empty text until the first Set.
  std::string Get() const {
    std::lock_guard<std::mutex> guard(lock);
    return value;
  }

 private:
  mutable std::mutex lock;  // guards value; held only for one copy
  std::string value;        // written by the worker, read by the window's thread
};
