// A host folder opened for making its files whole through the kernel's own
// operations (host_whole_file_ops.h): the handle the services give out for
// it, and what is checked of a file before any operation touches it.
#pragma once

#include <sys/types.h>

#include <string>

#include "platform/handle_object.h"
#include "platform/linux/host_paths.h"
#include "platform/linux/whole_file_rules.h"
#include "platform/whole_file_result.h"

class THostWholeFileFolder : public THandleObject {
 public:
  // The folder open as root (an O_PATH descriptor the caller keeps open for
  // the handle's life), named folderPath in words: none, with *refusal
  // saying why, when its file system has no whole-file operation. Reads
  // /proc/swaps now. The caller owns the handle.
  static THostWholeFileFolder* Open(int root, const std::string& folderPath,
                                    const TWholeFileOptions& options, TWholeFileFolder* folder,
                                    std::string* refusal);

  // Makes the file at path (below the folder) whole, or leaves it with the
  // reason: never another file system's file, a swap file, an immutable or
  // append-only one, or (not the superuser) another user's, nor one whose
  // extents are shared unless asked. *failure gets the words of a failed
  // call (kFailed, kSystemError).
  TWholeFileResult MakeWhole(const THostPath& path, std::string* failure) const;

 private:
  THostWholeFileFolder(int root, dev_t device, TWholeFileFolder folder, TWholeFileOptions options,
                       TFileIdentities swapFiles);

  const int root_;      // not owned: the services' descriptor of the folder
  const dev_t device_;  // st_dev of the folder: its file system
  const TWholeFileFolder folder_;
  const TWholeFileOptions options_;
  const uid_t user_;                 // the effective user of the run
  const TFileIdentities swapFiles_;  // as /proc/swaps listed them at the open
};
