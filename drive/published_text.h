// A text that the worker publishes and the drive window reads every 500 ms
// from another thread. The writer replaces the text as a whole under a small
// lock and the reader copies it out under the same lock, so a reader never
// sees a text that is being rewritten and never holds a pointer into storage
// that a later write may free or reuse.
#pragma once

#include <mutex>
#include <string>

// Told of every new text, on the writer's thread, after the lock has been
// released: context as given to Listen, text the new text (valid for the
// call only).
using TTextListener = void (*)(void* context, const char* text);

class TPublishedText {
 public:
  // Replaces the text with a copy of text (zero-terminated 8-bit text), then
  // tells the listener, if there is one.
  void Set(const char* text) {
    TTextListener listener;
    void* context;
    {
      std::lock_guard<std::mutex> guard(lock);
      value.assign(text);
      listener = listener_;
      context = listenerContext_;
    }
    if (listener != nullptr) listener(context, text);
  }
  // A copy of the current text; the empty text until the first Set.
  std::string Get() const {
    std::lock_guard<std::mutex> guard(lock);
    return value;
  }
  // Tells listener (none: nobody) of every later Set; context must outlive
  // every Set that may reach it.
  void Listen(TTextListener listener, void* context) {
    std::lock_guard<std::mutex> guard(lock);
    listener_ = listener;
    listenerContext_ = context;
  }

 private:
  mutable std::mutex lock;            // guards value and the listener; held only for one copy
  std::string value;                  // written by the worker, read by the window's thread
  TTextListener listener_ = nullptr;  // set by the window's thread
  void* listenerContext_ = nullptr;   // not owned
};
