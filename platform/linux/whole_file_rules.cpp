#include "platform/linux/whole_file_rules.h"

#include <linux/fiemap.h>
#include <linux/fs.h>

#include <cerrno>
#include <sstream>

namespace {

// statfs's f_type of the file systems with a whole-file operation, as the
// kernel's magic.h numbers them (ext2 and ext3 share ext4's; their files
// without extents are refused by the operation itself).
constexpr unsigned long kExt4Magic = 0xEF53UL;
constexpr unsigned long kXfsMagic = 0x58465342UL;
constexpr unsigned long kBtrfsMagic = 0x9123683EUL;

// Extents whose data lies in no block of its own.
constexpr uint32_t kNoBlocks = FIEMAP_EXTENT_DATA_INLINE | FIEMAP_EXTENT_NOT_ALIGNED;

bool IsOctalDigit(char c) { return c >= '0' && c <= '7'; }

// A name of /proc/swaps with the kernel's octal escapes undone.
std::string UnescapedName(const std::string& name) {
  std::string plain;
  for (size_t i = 0; i < name.size(); ++i) {
    if (name[i] == '\\' && i + 3 < name.size() && IsOctalDigit(name[i + 1]) &&
        IsOctalDigit(name[i + 2]) && IsOctalDigit(name[i + 3])) {
      plain += static_cast<char>((name[i + 1] - '0') * 64 + (name[i + 2] - '0') * 8 +
                                 (name[i + 3] - '0'));
      i += 3;
    } else {
      plain += name[i];
    }
  }
  return plain;
}

}  // namespace

bool WholeFileSystemOf(unsigned long magic, TWholeFileSystem* system) {
  switch (magic) {
    case kExt4Magic:
      *system = TWholeFileSystem::kExt4;
      return true;
    case kXfsMagic:
      *system = TWholeFileSystem::kXfs;
      return true;
    case kBtrfsMagic:
      *system = TWholeFileSystem::kBtrfs;
      return true;
    default:
      return false;
  }
}

int64_t PiecesOfExtents(const std::vector<TFiemapExtent>& extents) {
  int64_t pieces = 0;
  bool any = false;
  uint64_t end = 0;  // byte on the device after the last counted extent
  for (const TFiemapExtent& extent : extents) {
    if ((extent.flags & kNoBlocks) != 0 || extent.length == 0) continue;
    if (!any || extent.physical != end) ++pieces;
    any = true;
    end = extent.physical + extent.length;
  }
  return pieces;
}

bool HasSharedExtents(const std::vector<TFiemapExtent>& extents) {
  for (const TFiemapExtent& extent : extents) {
    if ((extent.flags & FIEMAP_EXTENT_SHARED) != 0) return true;
  }
  return false;
}

bool HasHoles(const std::vector<TFiemapExtent>& extents, uint64_t sizeBytes, uint64_t blockBytes) {
  // The end of the last block that holds data.
  const uint64_t end = (sizeBytes + blockBytes - 1) / blockBytes * blockBytes;
  uint64_t covered = 0;  // bytes from 0 that extents hold without a gap
  for (const TFiemapExtent& extent : extents) {
    if (extent.logical > covered) return covered < end;
    if (extent.logical + extent.length > covered) covered = extent.logical + extent.length;
  }
  return covered < end;
}

TWholeFileReason ReasonOfAttributes(long flags) {
  if ((flags & FS_IMMUTABLE_FL) != 0) return TWholeFileReason::kImmutable;
  if ((flags & FS_APPEND_FL) != 0) return TWholeFileReason::kAppendOnly;
  return TWholeFileReason::kNone;
}

TWholeFileReason ReasonOfError(int error) {
  switch (error) {
    case ENOSPC:
    case EDQUOT:
      return TWholeFileReason::kNoSpace;
    case ETXTBSY:
      return TWholeFileReason::kSwapFile;
    case EBUSY:
      // ext4 moves no page another program is writing back; XFS commits
      // no copy of a file changed since.
      return TWholeFileReason::kChangedDuringCopy;
    case EOPNOTSUPP:
    case ENOTTY:
      return TWholeFileReason::kNotSupported;
    default:
      return TWholeFileReason::kSystemError;
  }
}

std::vector<std::string> SwapFilePaths(const std::string& procSwaps) {
  std::vector<std::string> paths;
  std::istringstream lines(procSwaps);
  std::string line;
  std::getline(lines, line);  // the heading
  while (std::getline(lines, line)) {
    std::istringstream fields(line);
    std::string name;
    std::string type;
    if (!(fields >> name >> type)) continue;
    if (type == "file") paths.push_back(UnescapedName(name));
  }
  return paths;
}
