// A file the program writes (a log, a picture) is never written in place: it
// goes to a new file in the same folder, created exclusively (so nothing
// planted at a name is written through), and is renamed over its name only
// when every byte is written. A reader thus finds the old file or the whole
// new one, never a file cut short by a full disk, and a link at the name is
// replaced, never written through. Each platform creates the new file and
// renames it with its own calls.
#pragma once

#include <cstdio>

class TReplacementFile {
 public:
  // Discards the new file unless Commit has put it in place.
  virtual ~TReplacementFile() = default;
  TReplacementFile(const TReplacementFile&) = delete;
  TReplacementFile& operator=(const TReplacementFile&) = delete;

  // The stream the content is written to, in binary mode; owned here and
  // closed by Commit or the destructor.
  FILE* Stream() const { return stream_; }

  // Closes the stream and, when every write and the close succeeded and
  // stillComplete holds (the writer met no failure of its own), renames the
  // new file over the name; otherwise removes it, leaving the old file
  // whole. True when the new content is in place. Only the first call acts.
  bool Commit(bool stillComplete = true);

 protected:
  // Takes ownership of stream, open on the new file.
  explicit TReplacementFile(FILE* stream) : stream_(stream) {}

  // For the destructors of the platforms' files: closes the stream and
  // removes the new file, unless Commit already acted.
  void Discard();

 private:
  // Renames the closed new file over the name; false when it could not.
  virtual bool PutInPlace() = 0;
  // Removes the closed new file.
  virtual void RemoveNew() = 0;

  FILE* stream_;       // owned; none once closed
  bool done_ = false;  // Commit or Discard has acted
};
