// Mounting, path look-ups and the cluster bitmap of an NTFS volume; its
// listings are in ntfs_enumeration.cpp and its opens in ntfs_runs.cpp.
#include "platform/linux/ntfs_volume.h"

#include <cerrno>
#include <cstdlib>
#include <new>
#include <utility>

#include "platform/linux/ntfs_disk_value.h"
#include "platform/linux/ntfs_library.h"
#include "platform/linux/ntfs_mft_view.h"
#include "platform/linux/ntfs_path.h"
#include "platform/linux/ntfs_read_only_device.h"
#include "platform/linux/ntfs_shared_views.h"

namespace {

bool IsFolder(const ntfs_inode* inode) {
  return (NTFS_DISK_BITS(inode->mrec, flags) & MFT_RECORD_IS_DIRECTORY) != 0;
}

}  // namespace

u64 NtfsLookUpIgnoringCase(ntfs_inode* folder, const std::vector<ntfschar>& name) {
  // libntfs-3g compares ignoring case while the volume is not marked
  // case-sensitive; the mark is set only around the look-up, since listings
  // with it cleared would come back lower-cased. The volume belongs to the
  // calling thread, so nobody sees it cleared.
  ntfs_volume* volume = folder->vol;
  NVolClearCaseSensitive(volume);
  const u64 reference =
      ntfs_inode_lookup_by_name(folder, name.data(), static_cast<int>(name.size()));
  NVolSetCaseSensitive(volume);
  return reference;
}

TNtfsReadOrder NtfsReadOrderFromEnvironment() {
  const char* order = std::getenv("DISKOPT_NTFS_READ");
  return order != nullptr && std::string(order) == "index" ? TNtfsReadOrder::kIndexWalk
                                                           : TNtfsReadOrder::kMftOrder;
}

TNtfsVolume::TNtfsVolume(ntfs_volume* volume, TNtfsReadOrder order, std::string imagePath,
                         TNtfsSharedViews* shared, uint64_t epoch)
    : volume_(volume),
      order_(order),
      imagePath_(std::move(imagePath)),
      shared_(shared),
      epoch_(epoch) {}

TNtfsVolume::~TNtfsVolume() { ntfs_umount(volume_, FALSE); }

std::unique_ptr<TNtfsVolume> TNtfsVolume::Mount(const std::string& imagePath, TNtfsReadOrder order,
                                                int* error, TNtfsSharedViews* shared) {
  const auto fail = [error](int why) {
    if (error != nullptr) *error = why != 0 ? why : EIO;
    return nullptr;
  };
  // NTFS numbers clusters in 32 bits: a boot sector that claims more is no
  // volume Windows would mount, whatever else it holds, and says so.
  if (NtfsClaimedClusters(imagePath) > kNtfsMaxClusters) return fail(EFBIG);
  // Taken before anything is read: a write meanwhile makes this mount stale.
  const uint64_t epoch = shared != nullptr ? shared->Epoch(imagePath) : 0;
  struct ntfs_device* device =
      ntfs_device_alloc(imagePath.c_str(), 0, ReadOnlyDeviceOperations(), nullptr);
  if (device == nullptr) return fail(errno);
  // Read-only: libntfs-3g then neither replays nor marks anything, and the
  // device refuses writes besides.
  ntfs_volume* volume = ntfs_device_mount(device, NTFS_MNT_RDONLY);
  if (volume == nullptr) {
    const int why = errno;
    ntfs_device_free(device);
    return fail(why);
  }
  // A truncated image mounts, but reads past its end would fail item by
  // item; Windows refuses a volume larger than its partition at once.
  const int64_t deviceBytes = DeviceBytes(imagePath);
  if (deviceBytes < 0 || volume->nr_clusters > deviceBytes / volume->cluster_size) {
    ntfs_umount(volume, FALSE);
    return fail(EINVAL);
  }
  return std::unique_ptr<TNtfsVolume>(new TNtfsVolume(volume, order, imagePath, shared, epoch));
}

const TNtfsMftView* TNtfsVolume::View() {
  if (order_ != TNtfsReadOrder::kMftOrder) return nullptr;
  if (!viewRead_) {
    viewRead_ = true;
    if (shared_ != nullptr) view_ = shared_->Find(imagePath_, epoch_);
    if (view_ == nullptr) {
      // Without the memory for the view, items are read by the index walk,
      // which needs far less.
      try {
        view_ = TNtfsMftView::Collect(volume_);
      } catch (const std::bad_alloc&) {
        view_ = nullptr;
      }
      if (view_ != nullptr && shared_ != nullptr) shared_->Offer(imagePath_, epoch_, view_);
    }
  }
  return view_.get();
}

int64_t TNtfsVolume::ClusterCount() const { return volume_->nr_clusters; }

uint32_t TNtfsVolume::ClusterBytes() const { return volume_->cluster_size; }

uint32_t TNtfsVolume::SectorBytes() const { return volume_->sector_size; }

bool NtfsUnits(const char* text, std::vector<uint16_t>* units) {
  units->clear();
  // Text of ASCII alone, nearly every name and path, widens unit by unit.
  const char* end = text;
  while (*end != '\0' && static_cast<unsigned char>(*end) < 0x80) ++end;
  if (*end == '\0') {
    for (const char* c = text; c != end; ++c)
      units->push_back(cpu_to_le16(static_cast<uint8_t>(*c)));
    return true;
  }
  ntfschar* wide = nullptr;
  const int length = ntfs_mbstoucs(text, &wide);
  if (length < 0) return false;
  units->assign(wide, wide + length);
  std::free(wide);
  return true;
}

bool TNtfsVolume::Parse(const std::string& path, TParsedPath* parsed) const {
  return ParseNtfsPath(path, &parsed->components);
}

bool ParseNtfsPath(const std::string& path, std::vector<std::vector<uint16_t>>* components) {
  std::vector<uint16_t> wide;
  if (!NtfsUnits(path.c_str(), &wide)) return false;
  const int length = static_cast<int>(wide.size());
  components->clear();
  std::vector<ntfschar> component;
  // Components end at each '/' and at the end; "." and ".." are resolved
  // as Win32 resolves them before a path reaches the file system.
  for (int i = 0; i <= length; ++i) {
    if (i < length && le16_to_cpu(wide[i]) != '/') {
      component.push_back(wide[i]);
      continue;
    }
    const bool dot = component.size() == 1 && le16_to_cpu(component[0]) == '.';
    const bool dotDot = component.size() == 2 && le16_to_cpu(component[0]) == '.' &&
                        le16_to_cpu(component[1]) == '.';
    if (dotDot) {
      if (!components->empty()) components->pop_back();
    } else if (!component.empty() && !dot) {
      components->push_back(component);
    }
    component.clear();
  }
  return true;
}

void TNtfsVolume::Fold(TParsedPath* parsed) const {
  parsed->key.clear();
  for (const std::vector<ntfschar>& name : parsed->components) {
    parsed->key.push_back(u'/');
    AppendFolded(name.data(), name.size(), &parsed->key);
  }
}

void TNtfsVolume::AppendFolded(const uint16_t* name, size_t length, std::u16string* key) const {
  for (size_t i = 0; i < length; ++i) {
    uint16_t unit = le16_to_cpu(name[i]);
    if (unit < volume_->upcase_len) unit = le16_to_cpu(volume_->upcase[unit]);
    key->push_back(static_cast<char16_t>(unit));
  }
}

ntfs_inode* TNtfsVolume::OpenInode(const TParsedPath& path) {
  ++recordReads_;
  if (path.components.empty()) return ntfs_inode_open(volume_, FILE_root);
  const auto remembered = references_.find(path.key);
  if (remembered != references_.end()) {
    // The reference carries the record's sequence number: a record reused
    // since (an image changed under us) is refused, and the walk decides.
    if (ntfs_inode* inode = ntfs_inode_open(volume_, remembered->second)) return inode;
    references_.erase(remembered);
  }
  ++pathWalks_;
  ntfs_inode* inode = ntfs_inode_open(volume_, FILE_root);
  for (const std::vector<ntfschar>& name : path.components) {
    if (inode == nullptr) return nullptr;
    const u64 reference =
        IsFolder(inode) ? NtfsLookUpIgnoringCase(inode, name) : static_cast<u64>(-1);
    ntfs_inode_close(inode);
    // Metafiles are neither listed nor opened, as on Windows.
    if (reference == static_cast<u64>(-1) || MREF(reference) < FILE_first_user) return nullptr;
    inode = ntfs_inode_open(volume_, reference);
  }
  if (inode != nullptr) {
    references_[path.key] = MK_MREF(inode->mft_no, le16_to_cpu(inode->mrec->sequence_number));
  }
  return inode;
}

bool TNtfsVolume::ReadBitmap(int64_t firstCluster, uint32_t bytes, uint8_t* out) {
  const s64 read = ntfs_attr_pread(volume_->lcnbmp_na, firstCluster / 8, bytes, out);
  return read == static_cast<s64>(bytes);
}

int64_t TNtfsVolume::FreeClusters() {
  if (ntfs_volume_get_free_space(volume_) != 0) return -1;
  return volume_->free_clusters;
}
