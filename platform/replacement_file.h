// A file the program writes (a log, a picture, an export) is never written
// in place: it goes to a new file in the same folder, created exclusively
// (so nothing planted at a name is written through), and is renamed over
// its name only when every byte is written. A reader thus finds the old
// file or the whole new one, never a file cut short by a full disk, and a
// link at the name is replaced, never written through. Each platform
// creates the new file and renames it with its own calls.
//
// Writing ends in two steps, so that several files can be put in place
// together once all of them are whole (output_set.h): Seal closes the new
// file and tells whether it is whole, PutInPlace renames it. Every failure
// keeps the system's reason, in its words, for the user.
#pragma once

#include <cstdio>
#include <string>

class TReplacementFile {
 public:
  // Discards the new file unless PutInPlace has put it in place.
  virtual ~TReplacementFile() = default;
  TReplacementFile(const TReplacementFile&) = delete;
  TReplacementFile& operator=(const TReplacementFile&) = delete;

  // The stream the content is written to, in binary mode; owned here and
  // closed by Seal or the destructor.
  FILE* Stream() const { return stream_; }

  // Flushes and closes the stream. True when every write, the flush and
  // the close succeeded and the writer met no failure of its own:
  // writeError is the errno of a write that failed where this file could
  // not see it (another thread's, or one the writer checked itself), 0 when
  // none did. Otherwise the new file is removed and FailureText says why.
  // Only the first call acts; later ones tell the same.
  bool Seal(int writeError = 0);
  // Renames the sealed new file over the name. False when it was not sealed
  // whole or the rename failed (the new file is then removed, the old one
  // left whole, and FailureText says why). Only the first call acts.
  bool PutInPlace();
  // Seal, then PutInPlace: true when the new content is in place.
  bool Commit(int writeError = 0) { return Seal(writeError) && PutInPlace(); }
  // Renames the new file over the name at once, while it is still being
  // written: for a journal that must be found under its name even when the
  // process dies midway. Later writes go on in place, and Seal only closes
  // the file. False when the rename failed (FailureText says why).
  bool PutInPlaceNow();
  // Why the file could not be written or put in place, in the system's
  // words ("No space left on device"); empty while nothing failed.
  const std::string& FailureText() const { return failure_; }

 protected:
  // Takes ownership of stream, open on the new file.
  explicit TReplacementFile(FILE* stream) : stream_(stream) {}

  // For the destructors of the platforms' files: closes the stream and
  // removes the new file, unless it was put in place.
  void Discard();
  // Records why the file failed (the first reason stays).
  void SetFailure(const std::string& reason);
  // Records a failure by its errno value, in the system's words.
  void SetErrno(int error);

 private:
  // Renames the closed new file over the name; false, with SetFailure or
  // SetErrno called, when it could not.
  virtual bool Rename() = 0;
  // Removes the closed new file.
  virtual void RemoveNew() = 0;

  FILE* stream_;           // owned; none once closed
  bool sealed_ = false;    // Seal has acted
  bool whole_ = false;     // Seal found every byte written and the file closed
  bool finished_ = false;  // put in place, or removed for good
  std::string failure_;    // see FailureText
};
