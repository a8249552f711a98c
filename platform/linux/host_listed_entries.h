// What the listings of host folders learned of their entries' types, kept so
// that opening an entry a listing found to be a regular file or a folder
// needs no look at it first (host_files.h).
#pragma once

#include <mutex>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "platform/linux/host_paths.h"

// Shared by every thread of the services: the enumeration handles of any
// thread record their folders, the opens of any thread ask; one lock guards
// both sets. It only grows, by the folders listed and their odd entries.
class THostListedEntries {
 public:
  // The folder (Linux names) was listed to its end. oddNames are its entries
  // whose readdir type is neither a regular file nor a folder: links,
  // devices, pipes, sockets and entries of unknown type. An entry found odd
  // by any listing stays odd.
  void FolderListed(const THostPath& folder, const std::vector<std::string>& oddNames);

  // Whether path (Linux names) lies in a folder listed to its end and was
  // not an odd entry there: a regular file or a folder when it was listed,
  // or a name that listing did not hold.
  bool ListedPlain(const THostPath& path) const;

 private:
  mutable std::mutex lock_;
  // The odd entries' names of each folder listed, by its FolderKey.
  std::unordered_map<std::string, std::unordered_set<std::string>> folders_;
};
