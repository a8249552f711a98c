// A log with a fixed name, written by every drive: one process-wide lock per
// name is held from open to close, so no file ever holds mixed lines. Lines
// end with CRLF on every platform (written explicitly: Linux has no text
// mode), so both builds write the same bytes.
#pragma once

#include <cstdarg>
#include <cstdio>
#include <mutex>

#include "platform/system_services.h"

class TLogFile {
 public:
  // Takes the name's lock, then opens the file from scratch. IsOpen() tells
  // whether it opened; a log that cannot be opened is skipped in silence.
  TLogFile(TSystemServices& services, const char* name);
  // Closes the file and releases the lock.
  ~TLogFile();
  TLogFile(const TLogFile&) = delete;
  TLogFile& operator=(const TLogFile&) = delete;

  bool IsOpen() const { return file != nullptr; }
  // Formatted output; every "\n" of the format is stored as CR LF. Write
  // errors are ignored.
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
  FILE* file;                          // owned; none when the open failed
};

// Canonical key of a log name for its lock: ASCII case folded and "/" taken
// as "\", since C:\x.log and c:\X.LOG name the same file.
void LogLockKey(const char* name, char* key, size_t keySize);
