// Opening, checking and mounting an NTFS volume read-write for moves, and
// what the moves' handles read of it; the move itself is in
// ntfs_cluster_move.cpp.
#include "platform/linux/ntfs_move_volume.h"

#include <unistd.h>

#include <cerrno>
#include <utility>

#include "platform/linux/failure_text.h"
#include "platform/linux/ntfs_disk_value.h"
#include "platform/linux/ntfs_library.h"
#include "platform/linux/ntfs_move_access.h"
#include "platform/linux/ntfs_path.h"
#include "platform/linux/ntfs_read_only_device.h"
#include "platform/linux/ntfs_read_write_device.h"

namespace {

// Whether Windows is hibernated on the volume (hiberfil.sys in its root
// begins "hibr" or "HIBR"), as libntfs-3g tells it on a read-only mount.
bool Hibernated(const std::string& imagePath) {
  struct ntfs_device* device =
      ntfs_device_alloc(imagePath.c_str(), 0, ReadOnlyDeviceOperations(), nullptr);
  if (device == nullptr) return false;
  ntfs_volume* volume = ntfs_device_mount(device, NTFS_MNT_RDONLY);
  if (volume == nullptr) {
    ntfs_device_free(device);
    return false;
  }
  const bool hibernated = ntfs_volume_check_hiberfile(volume, 0) != 0 && errno == EPERM;
  ntfs_umount(volume, FALSE);
  return hibernated;
}

// Why libntfs-3g refused to mount the volume read-write (its errno), with
// the cure.
std::string ReadWriteMountFailureText(const std::string& imagePath, int error) {
  if (error == EPERM) {
    if (Hibernated(imagePath)) {
      return imagePath +
             ": Windows is hibernated on this volume (hiberfil.sys holds its memory), and "
             "writing it now would lose what Windows has not yet written: start that Windows and "
             "shut it down rather than hibernate it, then try again";
    }
    return imagePath +
           ": Windows was not shut down fully (fast startup keeps this volume's metadata in its "
           "memory, or the disk was cut off): start that Windows and shut it down fully "
           "(shutdown /s /t 0, or turn fast startup off), then try again";
  }
  if (error == EOPNOTSUPP) {
    return imagePath +
           ": the volume's journal ($LogFile) holds changes not yet applied, since Windows was "
           "not shut down cleanly: start that Windows and shut it down cleanly (or run chkdsk /f "
           "on Windows), then try again";
  }
  return NtfsMountFailureText(imagePath, error) + " (libntfs-3g refuses to mount it read-write)";
}

}  // namespace

TNtfsMoveVolume::TNtfsMoveVolume(std::string imagePath, std::unique_ptr<int> descriptor,
                                 ntfs_volume* volume)
    : imagePath_(std::move(imagePath)), descriptor_(std::move(descriptor)), volume_(volume) {}

TNtfsMoveVolume::~TNtfsMoveVolume() {
  // The unmount writes out what libntfs-3g holds and syncs the device; the
  // lock goes with the descriptor.
  ntfs_umount(volume_, FALSE);
  close(*descriptor_);
}

std::unique_ptr<TNtfsMoveVolume> TNtfsMoveVolume::Open(const std::string& imagePath,
                                                       std::string* reason) {
  if (NtfsClaimedClusters(imagePath) > kNtfsMaxClusters) {
    *reason = NtfsMountFailureText(imagePath, EFBIG);
    return nullptr;
  }
  auto descriptor = std::make_unique<int>(OpenImageForMoves(imagePath, reason));
  if (*descriptor < 0) return nullptr;
  const auto refuse = [&](std::string why) {
    close(*descriptor);
    *reason = std::move(why);
    return nullptr;
  };
  struct ntfs_device* device =
      ntfs_device_alloc(imagePath.c_str(), 0, ReadWriteDeviceOperations(), descriptor.get());
  if (device == nullptr) return refuse(SystemErrorText(imagePath, errno));
  // No NTFS_MNT_RECOVER: an unclean journal is refused, never reset.
  ntfs_volume* volume = ntfs_device_mount(device, NTFS_MNT_NONE);
  if (volume == nullptr) {
    const int why = errno;
    ntfs_device_free(device);
    return refuse(ReadWriteMountFailureText(imagePath, why));
  }
  std::unique_ptr<TNtfsMoveVolume> opened(
      new TNtfsMoveVolume(imagePath, std::move(descriptor), volume));
  const int64_t deviceBytes = DeviceBytes(imagePath);
  if (deviceBytes < 0 || volume->nr_clusters > deviceBytes / volume->cluster_size) {
    *reason =
        NtfsMountFailureText(imagePath, EINVAL) + " (it is shorter than its boot sector says)";
    return nullptr;
  }
  // libntfs-3g itself neither checks nor sets the dirty mark: Windows sets
  // it when it finds damage, for chkdsk to repair at the next start.
  if ((volume->flags & VOLUME_IS_DIRTY) != 0) {
    *reason = imagePath +
              ": the volume is marked dirty (Windows found it damaged and wants it checked): run "
              "chkdsk /f on it on Windows first, then try again";
    return nullptr;
  }
  if (NVolReadOnly(volume)) {
    *reason = imagePath + ": libntfs-3g mounted it read-only; moving clusters needs it writable";
    return nullptr;
  }
  return opened;
}

int64_t TNtfsMoveVolume::ClusterCount() const { return volume_->nr_clusters; }

bool TNtfsMoveVolume::ReadBitmap(int64_t firstCluster, uint32_t bytes, uint8_t* out) {
  const s64 read = ntfs_attr_pread(volume_->lcnbmp_na, firstCluster / 8, bytes, out);
  return read == static_cast<s64>(bytes);
}

bool TNtfsMoveVolume::Find(const std::string& path, bool folder, TNtfsMoveItem* item,
                           std::string* reason) {
  std::vector<std::vector<uint16_t>> components;
  if (!ParseNtfsPath(path, &components)) {
    *reason = path + ": not a valid UTF-8 name";
    return false;
  }
  ntfs_inode* inode = ntfs_inode_open(volume_, FILE_root);
  for (const std::vector<uint16_t>& name : components) {
    if (inode == nullptr) break;
    const bool inFolder = (NTFS_DISK_BITS(inode->mrec, flags) & MFT_RECORD_IS_DIRECTORY) != 0;
    const u64 reference = inFolder ? NtfsLookUpIgnoringCase(inode, name) : static_cast<u64>(-1);
    ntfs_inode_close(inode);
    inode = reference != static_cast<u64>(-1) ? ntfs_inode_open(volume_, reference) : nullptr;
  }
  if (inode == nullptr) {
    *reason = SystemErrorText(path, ENOENT);
    return false;
  }
  const bool isFolder = (NTFS_DISK_BITS(inode->mrec, flags) & MFT_RECORD_IS_DIRECTORY) != 0;
  item->reference = MK_MREF(inode->mft_no, le16_to_cpu(inode->mrec->sequence_number));
  item->folder = isFolder;
  ntfs_inode_close(inode);
  if (isFolder != folder) {
    *reason = path + (isFolder ? ": a folder, opened as a file" : ": a file, opened as a folder");
    return false;
  }
  return true;
}

bool TNtfsMoveVolume::Read(const TNtfsMoveItem& item, TNtfsItem* read) {
  ntfs_inode* inode = ntfs_inode_open(volume_, item.reference);
  if (inode == nullptr) return false;
  *read = TNtfsItem();
  read->folder = item.folder;
  read->record = inode->mft_no;
  ReadItemStream(inode, read);
  ntfs_inode_close(inode);
  return true;
}

bool TNtfsMoveVolume::Sync() { return fsync(*descriptor_) == 0; }
