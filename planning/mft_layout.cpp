#include "planning/mft_layout.h"

#include "drive/drive_optimizer.h"
#include "planning/fragment_pieces.h"

TMftLayout MftLayoutOfDrive(TDriveOptimizer& drive) {
  TMftLayout layout;
  // A folder of a Linux file system has no file table; a file of its own
  // named $MFT is no metafile.
  if (drive.services.DriveOrigin(drive.driveLetter).kind == TDriveOrigin::TKind::kFolder) {
    return layout;
  }
  const char path[] = {drive.driveLetter, ':', '\\', '$', 'M', 'F', 'T', '\0'};
  const THandle handle = drive.services.OpenForRuns(path);
  if (handle == InvalidHandle()) return layout;
  uint32_t low = 0;
  uint32_t high = 0;
  const bool sized = drive.services.FileSize(handle, &low, &high);
  // An item of no tree, only to hold the runs while they are counted.
  TItem* mft = NewItem(nullptr, nullptr, 0, 0);
  const bool mapped = mft != nullptr && drive.ReadRetrievalPointers(mft, handle) == kStatusSuccess;
  drive.services.Close(handle);
  if (sized && mapped) {
    layout.bytes = static_cast<int64_t>((static_cast<uint64_t>(high) << 32) | low);
    layout.fragments = CountPieces(mft->fragments);
  }
  if (mft != nullptr) ReleaseItem(mft);
  return layout;
}
