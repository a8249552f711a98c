// Directory enumeration of host folders: the FindFirst / FindNext handle over
// a readdir stream, and the attributes Win32 would report for each entry.
#pragma once

#include <dirent.h>
#include <sys/types.h>

#include <string>

#include "platform/handle_object.h"
#include "platform/linux/host_listed_entries.h"
#include "platform/linux/host_paths.h"
#include "platform/system_services.h"

// One enumeration. Each handle owns its own stream and is used by one thread
// at a time (as a Win32 find handle is); different handles share nothing, so
// any number of threads may enumerate at once.
class THostFindHandle : public THandleObject {
 public:
  // Lists the entries of folder whose listed names (windows_names.h) match
  // pattern, filling entry with the first. Returns none when the folder
  // cannot be listed or no entry matches (FindFirstFileA fails then too).
  // It tells listed (not owned, may be none) each subfolder's identity as
  // it gives the subfolder, and once it reaches the folder's end which
  // entries are not plain, whatever the pattern. The caller owns the handle.
  static THostFindHandle* Start(const THostPath& folder, const std::string& pattern,
                                TFindData* entry, THostListedEntries* listed);

  ~THostFindHandle() override;
  THostFindHandle(const THostFindHandle&) = delete;
  THostFindHandle& operator=(const THostFindHandle&) = delete;

  // The next matching entry; false at the end (and on every call after it).
  bool Next(TFindData* entry);

 private:
  THostFindHandle(DIR* stream, dev_t device, std::string pattern, THostPath folder,
                  THostListedEntries* listed);

  DIR* stream_;                 // owned; closed by the destructor
  dev_t device_;                // file system of the folder listed, to tell mount points
  std::string pattern_;         // last path component, with wildcards, in listed form
  THostPath folder_;            // the folder listed, Linux names
  THostListedEntries* listed_;  // not owned; none when nobody asks, or once told
  THostOddEntries odd_;         // entries read so far that are not plain
};

// Copies a listed name into entry->name; false (entry unchanged) when it does not
// fit with its terminator, in which case the entry is skipped.
bool CopyEntryName(const char* name, TFindData* entry);

// What a look at a listed entry found, besides its attributes.
struct THostEntryFound {
  THostEntryKind kind;
  bool identified;         // identity holds the entry's, for a folder
  TFileIdentity identity;  // of a folder entry (not of a link's target)
};

// The Win32 attributes of the entry `name` of the folder open as folderFd on
// file system folderDevice: kAttributeDirectory for a folder; a symbolic link
// kAttributeReparsePoint, with kAttributeDirectory too when it leads to a
// folder; a folder on which another file system is mounted is a reparse
// folder as well, as a volume mount point is on Windows, so walks stay on
// one file system. typeHint is the readdir d_type (DT_UNKNOWN when unknown).
// found tells what the look found the entry to be.
uint32_t HostEntryAttributes(int folderFd, dev_t folderDevice, const char* name,
                             unsigned char typeHint, THostEntryFound* found);
