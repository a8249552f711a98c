// Files and folders of host file systems: read handles.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/handle_object.h"
#include "platform/linux/fs_control_replies.h"
#include "platform/linux/host_listed_entries.h"
#include "platform/linux/host_paths.h"

// A host file or folder open for reading.
class THostFileHandle : public THandleObject {
 public:
  // Takes ownership of fd, a descriptor of a regular file or folder, and
  // keeps what its open learned of it (status), which a handle open for
  // reading answers from rather than asking again.
  THostFileHandle(int fd, const struct stat& status);
  ~THostFileHandle() override;
  THostFileHandle(const THostFileHandle&) = delete;
  THostFileHandle& operator=(const THostFileHandle&) = delete;

  // FSCTL_GET_RETRIEVAL_POINTERS from FIEMAP (host_fiemap.h), read at the
  // first request and kept for the next ones; STATUS_INVALID_DEVICE_REQUEST
  // where the file system does not answer FIEMAP. The volume bitmap is asked
  // of volume handles only (STATUS_INVALID_PARAMETER here).
  TNtStatus FsControl(uint32_t code, const void* input, uint32_t inputLength, void* output,
                      uint32_t outputLength, TIoStatusBlock* io) override;
  // The size in bytes, split into its low and high 32 bits; a folder has no
  // unnamed data stream and gives 0, as on Windows.
  bool FileSize(uint32_t* low, uint32_t* high) override;

  // st_dev and st_ino at the open.
  bool Identity(TFileIdentity* identity) override;

  int Descriptor() const { return fd_; }

 private:
  int fd_;              // owned; closed by the destructor
  uint64_t sizeBytes_;  // the size at the open; 0 for a folder
  uint64_t device_;     // st_dev at the open
  uint64_t inode_;      // st_ino at the open
  // The runs, once read. A handle is used by one thread at a time, as a
  // Win32 handle is by the stages, so they need no lock.
  bool runsRead_ = false;
  bool runsAnswered_ = false;  // false where FIEMAP is not answered
  std::vector<TStreamRun> runs_;
};

// Opens a host path read-only, following symbolic links as CreateFileA
// follows them, but never out of the path's root (host_paths.h). A folder
// opens only with backupSemantics, as on Windows.
// Only regular files and folders open: a device, pipe or socket is never
// opened, since opening one can block or act on the device. listed is what
// a listing found path to be (host_listed_entries.h): a regular file or a
// folder, or a link to one, is opened at once (a link put in the place of
// the first is not followed) and refused when it turns out to be something
// else by now; anything else is looked at before it is opened. Returns none
// on failure; the caller owns the handle.
THostFileHandle* OpenHostFile(const THostPath& path, bool backupSemantics, THostEntryKind listed);
