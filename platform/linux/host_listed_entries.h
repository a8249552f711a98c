// What the listings of host folders learned of their entries' types, kept so
// that opening an entry a listing found to be a regular file or a folder, or
// a link to one, needs no look at it first (host_files.h).
#pragma once

#include <mutex>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/linux/host_paths.h"

// What a listing found an entry to be, which decides how it is opened.
enum class THostEntryKind {
  kPlain,        // a regular file or a folder: opened where it is
  kLinkToPlain,  // a symbolic link to a regular file or a folder
  kOther,        // a device, pipe or socket, a dangling link, or not known
};

// The entries of one folder that are not plain, by Linux name.
using THostOddEntries = std::vector<std::pair<std::string, THostEntryKind>>;

// Shared by every thread of the services: the enumeration handles of any
// thread record their folders, the opens of any thread ask; one lock guards
// the table. It only grows, by the folders listed and their odd entries.
class THostListedEntries {
 public:
  // The folder (Linux names) was listed to its end; odd are its entries
  // that are not kPlain. Where two listings disagree on an entry, the
  // careful kind wins.
  void FolderListed(const THostPath& folder, const THostOddEntries& odd);

  // What path (Linux names) was found to be when its folder was listed to
  // its end: kPlain for a name that listing did not hold, kOther for a path
  // in a folder not listed to its end.
  THostEntryKind ListedKind(const THostPath& path) const;

 private:
  mutable std::mutex lock_;
  // The odd entries of each folder listed, by the folder's key (the root's
  // descriptor, then the path below it).
  std::unordered_map<std::string, std::unordered_map<std::string, THostEntryKind>> folders_;
};
