#include "analysis/folder_walk.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/path_buffer.h"

namespace {

// The folders from the walk's start down to the one being listed, as far as
// their identities could be told.
using TAncestors = std::vector<TFileIdentity>;

bool ListFolder(TSystemServices& services, const char* path, void* context, TFolderVisitor& visitor,
                TAncestors& ancestors) {
  visitor.ListingFolder(path);
  // One path buffer per level of the walk.
  char buffer[kMaxPath];
  const long composed = ComposeListingPattern(path, buffer);
  if (composed < 0) return false;
  const size_t pathLength = static_cast<size_t>(composed);

  TFindData entry;
  THandle find = services.FindFirst(buffer, &entry);
  if (find == InvalidHandle()) return false;
  do {
    if (visitor.StopRequested()) break;
    const bool folder = (entry.attributes & kAttributeDirectory) != 0;
    if (folder && IsDotEntry(entry.name)) continue;
    const size_t nameLength = std::strlen(entry.name);
    // The paths of this walk and of fragment retrieval are composed in
    // buffers of kMaxPath characters: an entry that would not fit is left
    // out by every walk alike.
    if (!EntryFitsPathBuffer(pathLength, nameLength, folder)) continue;
    void* contents = visitor.Entry(context, entry, nameLength);
    // Links and mount points are not entered: what lies behind them is
    // listed where it really is, and a link back up the tree cannot make
    // the walk endless.
    if (contents == nullptr || !folder || (entry.attributes & kAttributeReparsePoint) != 0) {
      continue;
    }
    ComposeSubfolderPath(buffer, pathLength, entry.name, nameLength);
    // Nor is a folder that is one of its own ancestors (a damaged index
    // entry, a bind mount): it stays an item, as a link does.
    TFileIdentity identity;
    const bool known = services.FolderIdentity(buffer, &identity);
    if (known && std::find(ancestors.begin(), ancestors.end(), identity) != ancestors.end()) {
      continue;
    }
    if (known) ancestors.push_back(identity);
    ListFolder(services, buffer, contents, visitor, ancestors);
    if (known) ancestors.pop_back();
  } while (services.FindNext(find, &entry));
  services.FindEnd(find);
  return true;
}

}  // namespace

bool WalkFolder(TSystemServices& services, const char* path, void* context,
                TFolderVisitor& visitor) {
  TAncestors ancestors;
  TFileIdentity identity;
  if (services.FolderIdentity(path, &identity)) ancestors.push_back(identity);
  return ListFolder(services, path, context, visitor, ancestors);
}
