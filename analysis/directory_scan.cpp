// The first stage: the item tree of the drive, from its root folder down,
// read with the directory enumeration in the order it returns entries.
#include <cstdlib>
#include <cstring>

#include "drive/drive_optimizer.h"
#include "platform/path_buffer.h"

namespace {

char* HeapCopy(const char* text, size_t length) {
  char* copy = static_cast<char*>(std::malloc(length + 1));
  if (copy == nullptr) return nullptr;
  std::memcpy(copy, text, length);
  copy[length] = '\0';
  return copy;
}

}  // namespace

void TDriveOptimizer::CreateMemoryTree() {
  statusText.Set("Creating memory tree");
  detailText.Set("Creating tree");
  const char rootName[4] = {driveLetter, ':', '\\', '\0'};
  char* name = HeapCopy(rootName, 3);
  if (name != nullptr) root = NewItem(nullptr, name, 0, kItemFolder);
  if (root == nullptr) {
    std::free(name);
  } else {
    ScanFolder(root->name, root);
  }
  detailText.Set("");
}

void TDriveOptimizer::ScanFolder(const char* path, TItem* parent) {
  detailText.Set(path);
  char buffer[kMaxPath];
  const long composed = ComposeListingPattern(path, buffer);
  if (composed < 0) return;
  const size_t pathLength = static_cast<size_t>(composed);

  TFindData entry;
  THandle find = services.FindFirst(buffer, &entry);
  if (find == InvalidHandle()) return;
  do {
    if (StopRequested()) break;
    const bool folder = (entry.attributes & kAttributeDirectory) != 0;
    if (folder && IsDotEntry(entry.name)) continue;
    const size_t nameLength = std::strlen(entry.name);
    // Entries whose path would not fit the buffers of this walk and of
    // fragment retrieval are left out of the tree.
    if (!EntryFitsPathBuffer(pathLength, nameLength, folder)) continue;
    char* name = HeapCopy(entry.name, nameLength);
    if (name == nullptr) continue;
    TItem* item = NewItem(parent, name, 0, folder ? kItemFolder : 0);
    if (item == nullptr) {
      // The pool is exhausted: the entry is left out, the scan goes on.
      std::free(name);
      continue;
    }
    // Links and mount points are folders of the tree but are not entered:
    // what lies behind them is listed where it really is, and a link back up
    // the tree cannot make the scan endless.
    if (!folder || (entry.attributes & kAttributeReparsePoint) != 0) continue;
    ComposeSubfolderPath(buffer, pathLength, entry.name, nameLength);
    ScanFolder(buffer, item);
  } while (services.FindNext(find, &entry));
  services.FindEnd(find);
}
