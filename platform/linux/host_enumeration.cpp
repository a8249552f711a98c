#include "platform/linux/host_enumeration.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "platform/linux/wildcard_match.h"
#include "platform/linux/windows_names.h"
#include "platform/path_buffer.h"

namespace {

struct TEntryStatus {
  mode_t mode;
  dev_t device;
  bool mountRoot;   // the root of a mount, also a bind mount of the same file system
  bool inodeKnown;  // where the file system told it
  uint64_t inode;
};

// statx rather than fstatat for STATX_ATTR_MOUNT_ROOT. AT_NO_AUTOMOUNT: a
// listing must not mount anything. glibc falls back to fstatat where the
// call is missing; the attribute mask is then empty and st_dev alone tells
// mount points.
bool EntryStatus(int folderFd, const char* name, int flags, TEntryStatus* status) {
  struct statx result;
  if (statx(folderFd, name, flags | AT_NO_AUTOMOUNT, STATX_TYPE | STATX_INO, &result) != 0) {
    return false;
  }
  status->mode = result.stx_mode;
  status->inodeKnown = (result.stx_mask & STATX_INO) != 0;
  status->inode = result.stx_ino;
  status->device = makedev(result.stx_dev_major, result.stx_dev_minor);
  status->mountRoot =
      (result.stx_attributes_mask & result.stx_attributes & STATX_ATTR_MOUNT_ROOT) != 0;
  return true;
}

}  // namespace

THostFindHandle::THostFindHandle(DIR* stream, dev_t device, std::string pattern, THostPath folder,
                                 THostListedEntries* listed)
    : stream_(stream),
      device_(device),
      pattern_(std::move(pattern)),
      folder_(std::move(folder)),
      listed_(listed) {}

THostFindHandle::~THostFindHandle() { closedir(stream_); }

THostFindHandle* THostFindHandle::Start(const THostPath& folder, const std::string& pattern,
                                        TFindData* entry, THostListedEntries* listed) {
  const int fd = OpenHostPath(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return nullptr;
  DIR* stream = fdopendir(fd);
  if (stream == nullptr) {
    close(fd);
    return nullptr;
  }
  TEntryStatus status;
  if (!EntryStatus(dirfd(stream), "", AT_EMPTY_PATH, &status)) {
    closedir(stream);
    return nullptr;
  }
  auto* find = new THostFindHandle(stream, status.device, pattern, folder, listed);
  if (!find->Next(entry)) {
    // Next's errno (0 when no name matched) outlives the stream's close.
    const int error = errno;
    delete find;
    errno = error;
    return nullptr;
  }
  return find;
}

bool THostFindHandle::Next(TFindData* entry) {
  // readdir on a stream of its own is safe while other threads read theirs.
  // An error ends the listing as the end does: Win32 reports both as "no
  // more files" to these callers.
  for (;;) {
    errno = 0;
    const struct dirent* found = readdir(stream_);
    if (found == nullptr) break;
    const bool plain = found->d_type == DT_REG || found->d_type == DT_DIR;
    const std::string listed = ListedName(found->d_name, std::strlen(found->d_name));
    // An entry left out is not looked at, so not known either.
    if (!WildcardMatch(pattern_.c_str(), listed.c_str()) || !CopyEntryName(listed.c_str(), entry)) {
      if (!plain) odd_.emplace_back(found->d_name, THostEntryKind::kOther);
      continue;
    }
    THostEntryFound look;
    entry->attributes =
        HostEntryAttributes(dirfd(stream_), device_, found->d_name, found->d_type, &look);
    if (look.kind != THostEntryKind::kPlain) odd_.emplace_back(found->d_name, look.kind);
    if (look.identified && listed_ != nullptr) {
      listed_->SubfolderListed(folder_, found->d_name, look.identity);
    }
    return true;
  }
  // Only a listing that saw every entry can tell which are plain.
  if (errno == 0 && listed_ != nullptr) listed_->FolderListed(folder_, odd_);
  listed_ = nullptr;
  odd_.clear();
  return false;
}

bool CopyEntryName(const char* name, TFindData* entry) {
  const size_t length = std::strlen(name);
  if (length >= sizeof(entry->name)) return false;
  std::memcpy(entry->name, name, length + 1);
  return true;
}

uint32_t HostEntryAttributes(int folderFd, dev_t folderDevice, const char* name,
                             unsigned char typeHint, THostEntryFound* found) {
  found->kind = THostEntryKind::kPlain;
  found->identified = false;
  // The folder itself and its parent are plain folders whatever lies across
  // a mount boundary; callers skip them anyway.
  if (IsDotEntry(name)) return kAttributeDirectory;
  // A regular file needs no further look, nor does a link need one at
  // itself; everything else does.
  if (typeHint == DT_REG) return 0;
  found->kind = THostEntryKind::kOther;
  TEntryStatus status;
  const bool link = typeHint == DT_LNK;
  if (!link && !EntryStatus(folderFd, name, AT_SYMLINK_NOFOLLOW, &status)) return 0;
  if (link || S_ISLNK(status.mode)) {
    // Where the link leads, if anywhere: a dangling or looping link is a
    // reparse point without the folder attribute.
    TEntryStatus target;
    const bool leads = EntryStatus(folderFd, name, 0, &target);
    const bool folder = leads && S_ISDIR(target.mode);
    if (folder || (leads && S_ISREG(target.mode))) found->kind = THostEntryKind::kLinkToPlain;
    return kAttributeReparsePoint | (folder ? kAttributeDirectory : 0);
  }
  if (!S_ISDIR(status.mode)) {
    if (S_ISREG(status.mode)) found->kind = THostEntryKind::kPlain;
    return 0;
  }
  found->kind = THostEntryKind::kPlain;
  found->identified = status.inodeKnown;
  found->identity = TFileIdentity{static_cast<uint64_t>(status.device), status.inode};
  const bool mountPoint = status.device != folderDevice || status.mountRoot;
  return kAttributeDirectory | (mountPoint ? kAttributeReparsePoint : 0);
}
