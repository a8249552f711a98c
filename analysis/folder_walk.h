// The one folder walk of the program, used by the directory scan and by the
// folder statistics: it lists a folder with the directory enumeration, in the
// order the enumeration returns entries, and goes down into its subfolders
// depth-first, never into a folder it has entered before (one of its own
// ancestors, or a folder reached under two names), so a damaged volume whose
// index leads back up the tree still ends and no folder's contents are
// listed twice. The walk owns the paths and the
// enumeration; the visitor decides what an entry becomes and whether the walk goes on.
#pragma once

#include <cstddef>

#include "platform/system_services.h"

class TFolderVisitor {
 public:
  // The walk is about to list the folder at path (the path as composed, its
  // listing pattern not yet appended).
  virtual void ListingFolder(const char* path) { (void)path; }
  // One entry of the folder whose contents context stands for (the context
  // given to WalkFolder, or one that Entry returned). Dot entries and entries
  // whose path would not fit the path buffer are never given. Returns the
  // context for the entry's contents, or none to leave it unentered; only
  // folders that are not reparse points (links, mount points) are ever
  // entered, whatever is returned for the others.
  virtual void* Entry(void* context, const TFindData& entry, size_t nameLength) = 0;
  // Asked before each entry, where the visitor may hold while its work is
  // paused: true ends the walk at once, leaving every folder still open.
  virtual bool StopRequested() { return false; }

 protected:
  ~TFolderVisitor() = default;
};

// Walks the folder at path (an argument as given; ending with a separator it
// lists the folder's entries) whose contents context stands for. A folder
// that cannot be listed, or whose listing pattern does not fit the path
// buffer, gives no entries. Returns whether the folder at path itself could
// be listed; when it could not, the services' LastErrorText says why.
bool WalkFolder(TSystemServices& services, const char* path, void* context,
                TFolderVisitor& visitor);
