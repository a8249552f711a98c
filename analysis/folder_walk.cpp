#include "analysis/folder_walk.h"

#include <cstring>

#include "platform/path_buffer.h"

bool WalkFolder(TSystemServices& services, const char* path, void* context,
                TFolderVisitor& visitor) {
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
    WalkFolder(services, buffer, contents, visitor);
  } while (services.FindNext(find, &entry));
  services.FindEnd(find);
  return true;
}
