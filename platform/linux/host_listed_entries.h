// What the listings of host folders learned of their entries, kept so that
// opening an entry a listing found to be a regular file or a folder, or a
// link to one, needs no look at it first (host_files.h), and a subfolder's
// identity is known without opening it.
#pragma once

#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/linux/host_paths.h"
#include "platform/system_services.h"

// What a listing found an entry to be, which decides how it is opened.
enum class THostEntryKind {
  kPlain,        // a regular file or a folder: opened where it is
  kLinkToPlain,  // a symbolic link to a regular file or a folder
  kOther,        // a device, pipe or socket, a dangling link, or not known
};

// The entries of one folder that are not kPlain, by Linux name.
using THostOddEntries = std::vector<std::pair<std::string, THostEntryKind>>;

// Shared by every thread of the services: the enumeration handles of any
// thread record their folders, the opens of any thread ask; one lock guards
// the table. It only grows, by the folders listed, their odd entries and
// their subfolders.
class THostListedEntries {
 public:
  // The folder (Linux names) was listed to its end; odd are its entries
  // that are not kPlain. Where two listings disagree on an entry's kind,
  // the careful kind wins.
  void FolderListed(const THostPath& folder, const THostOddEntries& odd);

  // The listing of folder (Linux names) gave its subfolder name (a folder,
  // not a link to one), whose identity it found; told at once, since a walk
  // asks for it before the listing ends. The identity found last counts.
  void SubfolderListed(const THostPath& folder, const std::string& name, TFileIdentity identity);

  // What path (Linux names) was found to be when its folder was listed to
  // its end: kPlain for a name that listing did not hold, kOther for a path
  // in a folder not listed to its end.
  THostEntryKind ListedKind(const THostPath& path) const;

  // The identity a listing found for the subfolder at path (Linux names,
  // with or without a trailing '/'); false where no listing found one.
  bool ListedIdentity(const THostPath& path, TFileIdentity* identity) const;

 private:
  struct TFolder {
    bool listedToEnd = false;
    std::unordered_map<std::string, THostEntryKind> odd;
    std::unordered_map<std::string, TFileIdentity> subfolders;
  };
  // The folders listed below one root, in part or to their end, by their
  // paths below it, which paths holds: a deque never moves what it holds, so
  // the keys stay valid, and a lookup needs no copy of the path.
  struct TRoot {
    std::deque<std::string> paths;
    std::unordered_map<std::string_view, TFolder> folders;
  };
  // The folder's record, made when first told of. Called with lock_ held.
  TFolder& Folder(const THostPath& folder);
  // The folder listed that holds path, and path's name in it (a view into
  // path); none where no listing holds path's folder. Called with lock_
  // held.
  const TFolder* Holder(const THostPath& path, std::string_view* name) const;

  mutable std::mutex lock_;
  std::map<int, TRoot> roots_;  // by the root's descriptor
  // The folder Holder found last, below lastRoot_ at lastPath_ (a view into
  // its root's paths): the entries of one folder are opened one after
  // another. Records never move or go, so these stay valid.
  mutable int lastRoot_ = -1;
  mutable std::string_view lastPath_;
  mutable const TFolder* last_ = nullptr;
};
