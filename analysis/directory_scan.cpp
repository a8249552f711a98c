// The first stage: the item tree of the drive, from its root folder down,
// read with the directory enumeration in the order it returns entries.
#include "analysis/folder_walk.h"
#include "drive/drive_optimizer.h"
#include "model/name_pool.h"
#include "model/record_pool.h"

namespace {

// Makes an item of every entry the walk gives, under the item of its folder,
// and shows the folder being listed.
class TTreeBuilder final : public TFolderVisitor {
 public:
  explicit TTreeBuilder(TDriveOptimizer& drive) : drive_(drive) {}

  void ListingFolder(const char* path) override { drive_.detailText.Set(path); }

  void* Entry(void* context, const TFindData& entry, size_t nameLength) override {
    const bool folder = (entry.attributes & kAttributeDirectory) != 0;
    char* name = CopyName(entry.name, nameLength);
    if (name == nullptr) return nullptr;
    TItem* item = NewItem(static_cast<TItem*>(context), name, 0, folder ? kItemFolder : 0);
    // The pool is exhausted: the entry is left out, the scan goes on.
    if (item == nullptr) ReleaseName(name);
    drive_.itemsCounted.fetch_add(1, std::memory_order_relaxed);
    return item;
  }

  // Holds here while the drive is paused.
  bool StopRequested() override { return drive_.HoldOrStop(); }

 private:
  TDriveOptimizer& drive_;  // the drive whose tree is built; not owned
};

}  // namespace

void TDriveOptimizer::CreateMemoryTree() {
  statusText.Set("Creating memory tree");
  detailText.Set("Creating tree");
  const char rootName[4] = {driveLetter, ':', '\\', '\0'};
  char* name = CopyName(rootName, 3);
  if (name != nullptr) root = NewItem(nullptr, name, 0, kItemFolder);
  if (root == nullptr) {
    ReleaseName(name);
  } else {
    // Every entry makes an item: taken from the pool in batches.
    TPoolReserve<TItem> items(itemPool);
    ScanFolder(root->name, root);
  }
  detailText.Set("");
}

void TDriveOptimizer::ScanFolder(const char* path, TItem* parent) {
  TTreeBuilder builder(*this);
  WalkFolder(services, path, parent, builder);
}
