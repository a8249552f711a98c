#include "analysis/folder_walk.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <unordered_set>

#include "platform/path_buffer.h"

namespace {

// The folders the walk has entered, as far as their identities could be
// told: the walk's start, the folders above the one being listed and every
// folder listed before.
struct TIdentityHash {
  size_t operator()(const TFileIdentity& identity) const {
    return std::hash<uint64_t>()(identity.file * 0x9E3779B97F4A7C15ull ^ identity.volume);
  }
};
using TEntered = std::unordered_set<TFileIdentity, TIdentityHash>;

bool ListFolder(TSystemServices& services, const char* path, void* context, TFolderVisitor& visitor,
                TEntered& entered) {
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
    // Nor is a folder entered before under another name, one of its own
    // ancestors among them (a damaged index entry, a bind mount): it stays
    // an item, as a link does, and its contents are listed once.
    TFileIdentity identity;
    const bool known = services.FolderIdentity(buffer, &identity);
    if (known && !entered.insert(identity).second) continue;
    ListFolder(services, buffer, contents, visitor, entered);
  } while (services.FindNext(find, &entry));
  services.FindEnd(find);
  return true;
}

}  // namespace

bool WalkFolder(TSystemServices& services, const char* path, void* context,
                TFolderVisitor& visitor) {
  TEntered entered;
  TFileIdentity identity;
  if (services.FolderIdentity(path, &identity)) entered.insert(identity);
  return ListFolder(services, path, context, visitor, entered);
}
