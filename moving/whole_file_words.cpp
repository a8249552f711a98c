#include "moving/whole_file_words.h"

#include "moving/move_layout.h"

const char* WholeFileSystemName(TWholeFileSystem system) {
  switch (system) {
    case TWholeFileSystem::kExt4:
      return "ext4";
    case TWholeFileSystem::kXfs:
      return "XFS";
    case TWholeFileSystem::kBtrfs:
      return "btrfs";
  }
  return "?";
}

std::string WholeFileReasonText(const TWholeFileResult& result, const std::string& detail) {
  switch (result.reason) {
    case TWholeFileReason::kNone:
      return std::string();
    case TWholeFileReason::kNotRegular:
      return "it is not a regular file: only files are made whole here";
    case TWholeFileReason::kOtherFileSystem:
      return "it lies on another file system mounted below the folder";
    case TWholeFileReason::kNotOwner:
      return "it belongs to another user: only the superuser defragments other users' files";
    case TWholeFileReason::kImmutable:
      return "it is marked immutable (chattr +i)";
    case TWholeFileReason::kAppendOnly:
      return "it is marked append-only (chattr +a)";
    case TWholeFileReason::kSwapFile:
      return "it is a swap file or otherwise in use by the kernel";
    case TWholeFileReason::kSharedExtents:
      return "its extents are shared with other files or snapshots (--defragment-shared "
             "rewrites them, unsharing them)";
    case TWholeFileReason::kHasHoles:
      return "it has holes, which the copy would fill";
    case TWholeFileReason::kAlreadyWhole:
      return "it was whole by the time it was reached";
    case TWholeFileReason::kNoFewerPieces:
      if (result.piecesAfter > 0) {
        return "the file system offered no fewer pieces (" + GroupedNumber(result.piecesAfter) +
               " for " + GroupedNumber(result.piecesBefore) + ")";
      }
      return "the file system offered no fewer pieces";
    case TWholeFileReason::kChangedDuringCopy:
      return "another program wrote to it meanwhile: run again once it is done";
    case TWholeFileReason::kNoSpace:
      return "there is no room for a second copy of it";
    case TWholeFileReason::kNotSupported:
      return detail.empty() ? "the file system does not move it"
                            : "the file system does not move it: " + detail;
    case TWholeFileReason::kSystemError:
      return detail;
  }
  return detail;
}

std::vector<std::string> WholeFileNotes(const TWholeFileFolder& folder,
                                        const TWholeFileOptions& options) {
  std::vector<std::string> notes;
  if (folder.system == TWholeFileSystem::kBtrfs) {
    notes.push_back(options.includeShared
                        ? "btrfs rewrites extents shared with reflinked copies and snapshots as "
                          "the files' own: they take more space now"
                        : "btrfs would unshare extents shared with reflinked copies and "
                          "snapshots: files with shared extents were left "
                          "(--defragment-shared includes them)");
  }
  if (folder.ownFilesOnly) {
    notes.push_back("not run as the superuser: only your own files were defragmented");
  }
  return notes;
}
