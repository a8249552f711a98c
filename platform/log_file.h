// A log with a fixed name, written by every drive: one process-wide lock per
// name is held from open to close, so no file ever holds mixed lines. Lines
// end with CRLF on every platform (written explicitly: Linux has no text
// mode), so both builds write the same bytes. A log is written to a new file
// and handed, when closed, to the set of files its run writes
// (output_set.h), which puts it in place with the others when every one of
// them was written whole: readers find the previous log or the whole new
// one.
#pragma once

#include <cstdarg>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>

#include "platform/background_writer.h"
#include "platform/output_set.h"
#include "platform/system_services.h"

class TLogFile {
 public:
  // Takes the name's lock, then starts the new file, for output (not owned;
  // it outlives the log). IsOpen() tells whether it could; a log that
  // cannot be opened is written nowhere, and output is told why.
  TLogFile(TSystemServices& services, const char* name, TOutputSet& output);
  // Close(), then releases the lock.
  ~TLogFile();
  TLogFile(const TLogFile&) = delete;
  TLogFile& operator=(const TLogFile&) = delete;

  bool IsOpen() const { return writer != nullptr; }
  // Ends the new file and hands it to output, which puts it in place with
  // the rest of its set, or keeps every old file when any one failed. True
  // when every write, the flush and the close succeeded; later writes are
  // ignored.
  bool Close();
  // Formatted output; every "\n" of the format is stored as CR LF. A failed
  // write keeps the log from being put in place.
  void Print(const char* format, ...)
#if defined(__GNUC__) && !defined(_WIN32)
      __attribute__((format(printf, 2, 3)))
#endif
      ;
  // Plain text, copied as it is (a "%" stays a "%"); "\n" becomes CR LF.
  void Write(const char* text);
  // Bytes exactly as given: the caller has written its own CR LF.
  void WriteBytes(const char* bytes, size_t length);

 private:
  std::unique_lock<std::mutex> guard;  // the name's lock, held while open
  std::string what;                    // "the log <name>", for the user
  TOutputSet& output;                  // not owned
  // The new file; none when the open failed.
  std::unique_ptr<TReplacementFile> replacement;
  // Puts the bytes into replacement's stream on a thread of its own; none
  // when the open failed or once closed.
  std::unique_ptr<TBackgroundWriter> writer;
  // errno of a write that failed before reaching the stream (a format
  // error); 0 while none did.
  int formatError = 0;
};

// Canonical key of a log name for its lock: ASCII case folded and "/" taken
// as "\", since C:\x.log and c:\X.LOG name the same file.
void LogLockKey(const char* name, char* key, size_t keySize);
