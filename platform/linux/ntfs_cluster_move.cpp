// Moving clusters of a stream on a read-write mount, as FSCTL_MOVE_FILE
// moves them: checked, then written in an order that keeps every file's
// data whole at every instant (see TNtfsMoveVolume::Move).
#include "platform/linux/ntfs_cluster_move.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/linux/failure_text.h"
#include "platform/linux/ntfs_disk_value.h"
#include "platform/linux/ntfs_library.h"
#include "platform/linux/ntfs_move_volume.h"

TMoveRange StreamRange(const std::vector<TStreamRun>& runs, int64_t vcn, int64_t count,
                       std::vector<TStreamRun>* pieces) {
  pieces->clear();
  const int64_t end = vcn + count;
  int64_t covered = vcn;  // the clusters before it are found
  for (const TStreamRun& run : runs) {
    const int64_t runEnd = run.vcn + run.length;
    if (runEnd <= covered || run.vcn >= end) continue;
    const int64_t from = std::max(covered, run.vcn);
    const int64_t to = std::min(end, runEnd);
    if (run.lcn < 0) return TMoveRange::kHole;
    pieces->push_back(TStreamRun{from, run.lcn + (from - run.vcn), to - from});
    covered = to;
  }
  return covered == end ? TMoveRange::kAllocated : TMoveRange::kPastEnd;
}

std::vector<TStreamRun> MovedRuns(const std::vector<TStreamRun>& runs, int64_t vcn, int64_t count,
                                  int64_t lcn) {
  std::vector<TStreamRun> moved;
  const int64_t end = vcn + count;
  bool placed = false;
  for (const TStreamRun& run : runs) {
    const int64_t runEnd = run.vcn + run.length;
    // The part before the range, the range itself (once), the part after.
    const int64_t before = std::min(runEnd, vcn) - run.vcn;
    if (before > 0) AppendRun(&moved, run.lcn, before);
    if (!placed && runEnd > vcn) {
      AppendRun(&moved, lcn, count);
      placed = true;
    }
    const int64_t afterFrom = std::max(run.vcn, end);
    if (runEnd > afterFrom) {
      AppendRun(&moved, run.lcn < 0 ? run.lcn : run.lcn + (afterFrom - run.vcn),
                runEnd - afterFrom);
    }
  }
  return moved;
}

int64_t FirstUsedCluster(const uint8_t* bits, int64_t bitsLcn, int64_t lcn, int64_t count) {
  for (int64_t cluster = lcn; cluster < lcn + count;) {
    const int64_t bit = cluster - bitsLcn;
    // Whole bytes at once where the range allows.
    if (bit % 8 == 0 && cluster + 8 <= lcn + count) {
      if (bits[bit / 8] != 0) return cluster + __builtin_ctz(bits[bit / 8]);
      cluster += 8;
      continue;
    }
    if ((bits[bit / 8] >> (bit % 8) & 1) != 0) return cluster;
    ++cluster;
  }
  return -1;
}

namespace {

// Bytes copied per read and write: large, so that a move runs at the speed
// of the disk rather than of the calls.
constexpr size_t kCopyBytes = 4u << 20;
// Bitmap bytes read per step of the check that a target is free.
constexpr uint32_t kBitmapBytes = 1u << 20;
// Folders followed up from an item before it is taken for a metafile: no
// volume nests deeper, and a damaged one may loop.
constexpr int kMaxFolderDepth = 1024;

// The record of the folder holding the first name of the open item; -1
// when it has none.
int64_t ParentRecord(ntfs_inode* inode) {
  ntfs_attr_search_ctx* context = ntfs_attr_get_search_ctx(inode, nullptr);
  if (context == nullptr) return -1;
  int64_t parent = -1;
  if (ntfs_attr_lookup(AT_FILE_NAME, AT_UNNAMED, 0, CASE_SENSITIVE, 0, nullptr, 0, context) == 0 &&
      !context->attr->non_resident &&
      le32_to_cpu(context->attr->value_length) >= sizeof(FILE_NAME_ATTR)) {
    const auto* name =
        reinterpret_cast<const uint8_t*>(context->attr) + le16_to_cpu(context->attr->value_offset);
    uint64_t reference = 0;
    std::memcpy(&reference, name + offsetof(FILE_NAME_ATTR, parent_directory), sizeof reference);
    parent = static_cast<int64_t>(MREF(le64_to_cpu(reference)));
  }
  ntfs_attr_put_search_ctx(context);
  return parent;
}

// Whether the record is one of the file system's own: the first 16 (the
// root folder among them), and everything below $Extend (its quota, object
// id, reparse and change journal files), found by following the first name
// up to the root.
bool IsMetafile(ntfs_volume* volume, uint64_t record) {
  if (record < FILE_first_user) return true;
  for (int depth = 0; depth < kMaxFolderDepth; ++depth) {
    ntfs_inode* inode = ntfs_inode_open(volume, record);
    if (inode == nullptr) return true;
    const int64_t parent = ParentRecord(inode);
    ntfs_inode_close(inode);
    if (parent == FILE_root) return false;
    if (parent < FILE_first_user) return true;
    record = static_cast<uint64_t>(parent);
  }
  return true;
}

// The runs of a mapped runlist.
std::vector<TStreamRun> RunsOf(const runlist_element* list) {
  std::vector<TStreamRun> runs;
  for (; list != nullptr && list->length > 0; ++list) {
    runs.push_back(TStreamRun{list->vcn, list->lcn, list->length});
  }
  return runs;
}

// A runlist of libntfs-3g's (freed with free) holding runs, ended by
// `terminator`; none without memory.
runlist_element* Runlist(const std::vector<TStreamRun>& runs, const runlist_element& terminator) {
  auto* list =
      static_cast<runlist_element*>(std::malloc((runs.size() + 1) * sizeof(runlist_element)));
  if (list == nullptr) return nullptr;
  for (size_t i = 0; i < runs.size(); ++i) {
    list[i].vcn = runs[i].vcn;
    list[i].lcn = runs[i].lcn;
    list[i].length = runs[i].length;
  }
  list[runs.size()] = terminator;
  return list;
}

// Reads (pread) or writes (pwrite) exactly `bytes` at offset through
// transfer; false with errno set else.
template <typename TBuffer, typename TTransfer>
bool TransferWhole(TTransfer transfer, int fd, TBuffer* buffer, size_t bytes, int64_t offset) {
  while (bytes > 0) {
    const ssize_t done = transfer(fd, buffer, bytes, offset);
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) {
      if (done == 0) errno = EIO;
      return false;
    }
    buffer += done, bytes -= static_cast<size_t>(done), offset += done;
  }
  return true;
}

// The attribute and its inode, closed together.
struct TOpenStream {
  ntfs_inode* inode = nullptr;
  ntfs_attr* stream = nullptr;
  ~TOpenStream() {
    if (stream != nullptr) ntfs_attr_close(stream);
    if (inode != nullptr) ntfs_inode_close(inode);
  }
};

std::string ClusterText(int64_t lcn, int64_t count) {
  return std::to_string(count) + " clusters from cluster " + std::to_string(lcn);
}

}  // namespace

TNtStatus TNtfsMoveVolume::Move(const TNtfsMoveItem& item, int64_t vcn, int64_t lcn, int64_t count,
                                std::string* reason) {
  const std::string what = "MFT record " + std::to_string(item.Record());
  if (count <= 0 || vcn < 0) {
    *reason = "a move of no clusters, or from before the stream's start, is no move";
    return kStatusInvalidParameter;
  }
  if (lcn < 0 || count > volume_->nr_clusters || lcn > volume_->nr_clusters - count) {
    *reason = "the target, " + ClusterText(lcn, count) + ", lies outside the volume's " +
              std::to_string(volume_->nr_clusters) + " clusters";
    return kStatusInvalidParameter;
  }
  if (IsMetafile(volume_, item.Record())) {
    *reason = what + " is one of the file system's own files, which are not moved";
    return kStatusNotSupported;
  }
  TOpenStream open;
  open.inode = ntfs_inode_open(volume_, item.reference);
  if (open.inode == nullptr) {
    *reason = what + " can no longer be opened: " + std::strerror(errno);
    return kStatusFileCorruptError;
  }
  open.stream = item.folder ? ntfs_attr_open(open.inode, AT_INDEX_ALLOCATION, NTFS_INDEX_I30, 4)
                            : ntfs_attr_open(open.inode, AT_DATA, AT_UNNAMED, 0);
  ntfs_attr* stream = open.stream;
  if (stream == nullptr || !NAttrNonResident(stream)) {
    *reason = what + (item.folder ? "'s index" : "'s data") +
              " lies inside its MFT record (resident), with no clusters to move";
    return kStatusNotSupported;
  }
  if (ntfs_attr_map_whole_runlist(stream) != 0) {
    *reason = what + "'s mapping cannot be read: " + std::strerror(errno);
    return kStatusFileCorruptError;
  }
  const std::vector<TStreamRun> runs = RunsOf(stream->rl);
  std::vector<TStreamRun> pieces;
  switch (StreamRange(runs, vcn, count, &pieces)) {
    case TMoveRange::kHole:
      *reason = "clusters " + std::to_string(vcn) + " to " + std::to_string(vcn + count - 1) +
                " of " + what + " hold a hole, which has no clusters to move";
      return kStatusInvalidParameter;
    case TMoveRange::kPastEnd:
      *reason = "clusters " + std::to_string(vcn) + " to " + std::to_string(vcn + count - 1) +
                " of " + what + " reach past its last cluster";
      return kStatusInvalidParameter;
    case TMoveRange::kAllocated:
      break;
  }
  // Their holes and compression units would need moving whole.
  if (NAttrCompressed(stream) || NAttrEncrypted(stream) || NAttrSparse(stream)) {
    *reason = what + "'s data is " +
              (NAttrCompressed(stream)  ? "compressed"
               : NAttrEncrypted(stream) ? "encrypted"
                                        : "sparse") +
              ", and such streams are not moved here";
    return kStatusNotSupported;
  }
  // The target must be free now: the bitmap the caller read is a snapshot.
  std::vector<uint8_t> bits;
  for (int64_t from = lcn / 8 * 8; from < lcn + count; from += int64_t{kBitmapBytes} * 8) {
    const int64_t to = std::min(lcn + count, from + int64_t{kBitmapBytes} * 8);
    const uint32_t bytes = static_cast<uint32_t>((to - from + 7) / 8);
    bits.resize(bytes);
    if (!ReadBitmap(from, bytes, bits.data())) {
      *reason = "the cluster bitmap cannot be read: " + std::string(std::strerror(errno));
      return kStatusUnexpectedIoError;
    }
    const int64_t first = std::max(lcn, from);
    const int64_t used = FirstUsedCluster(bits.data(), from, first, to - first);
    if (used >= 0) {
      *reason = "cluster " + std::to_string(used) + " of the target, " + ClusterText(lcn, count) +
                ", is in use";
      return kStatusAlreadyCommitted;
    }
  }

  // 1. The target is marked used, so nothing else takes it meanwhile.
  if (ntfs_bitmap_set_run(volume_->lcnbmp_na, lcn, count) != 0) {
    *reason = "the cluster bitmap cannot be written: " + std::string(std::strerror(errno));
    // Some bits may be set: they stay set (clusters used that nothing holds).
    return kStatusUnexpectedIoError;
  }
  volume_->free_clusters -= count;
  // Freeing the target again on a failure before the mapping points at it.
  const auto release = [&](const std::string& why) {
    *reason = why;
    if (ntfs_cluster_free_basic(volume_, lcn, count) == 0) Sync();
    return kStatusUnexpectedIoError;
  };

  // 2. The data is copied, piece by piece, in large blocks.
  const int64_t clusterBytes = volume_->cluster_size;
  std::vector<uint8_t> buffer(kCopyBytes);
  int64_t target = lcn;
  for (const TStreamRun& piece : pieces) {
    for (int64_t done = 0; done < piece.length;) {
      const int64_t clusters = std::min<int64_t>(piece.length - done, kCopyBytes / clusterBytes);
      const size_t bytes = static_cast<size_t>(clusters * clusterBytes);
      if (!TransferWhole(pread, *descriptor_, buffer.data(), bytes,
                         (piece.lcn + done) * clusterBytes)) {
        return release("reading " + ClusterText(piece.lcn + done, clusters) +
                       " failed: " + std::strerror(errno));
      }
      if (!TransferWhole(pwrite, *descriptor_, static_cast<const uint8_t*>(buffer.data()), bytes,
                         (target + done) * clusterBytes)) {
        return release("writing " + ClusterText(target + done, clusters) +
                       " failed: " + std::strerror(errno));
      }
      done += clusters;
    }
    target += piece.length;
  }
  // The target's marks went through this descriptor as well: one sync puts
  // them and the copy on the disk before the mapping may point at the copy.
  // A crash before it leaves the target marked used or free, holding
  // nothing either way.
  if (fdatasync(*descriptor_) != 0) {
    return release("the copy cannot be synced: " + std::string(std::strerror(errno)));
  }

  // 3. The stream's mapping points at the copy. Both copies stay marked
  // used until it is written, so whichever mapping the disk holds after a
  // failure or a crash, its clusters hold the data.
  runlist_element* moved = Runlist(MovedRuns(runs, vcn, count, lcn), stream->rl[runs.size()]);
  if (moved == nullptr) return release("out of memory");
  runlist_element* before = stream->rl;
  stream->rl = moved;
  NAttrSetRunlistDirty(stream);
  if (ntfs_attr_update_mapping_pairs(stream, 0) != 0) {
    const std::string why = "the new mapping of " + what +
                            " cannot be written: " + std::strerror(errno) +
                            "; the target stays marked used";
    std::free(before);
    *reason = why;
    return kStatusUnexpectedIoError;
  }
  std::free(before);
  ntfs_inode_mark_dirty(open.inode);
  if (ntfs_inode_sync(open.inode) != 0 || !Sync()) {
    *reason = what + "'s record cannot be written: " + std::strerror(errno) +
              "; its old and new clusters stay marked used";
    return kStatusUnexpectedIoError;
  }

  // 4. The old clusters are free.
  for (const TStreamRun& piece : pieces) {
    if (ntfs_cluster_free_basic(volume_, piece.lcn, piece.length) != 0) {
      *reason = "the old clusters of " + what + " cannot be marked free: " + std::strerror(errno) +
                "; they stay marked used, holding nothing";
      return kStatusUnexpectedIoError;
    }
  }
  if (!Sync()) {
    *reason = "the volume cannot be synced: " + std::string(std::strerror(errno));
    return kStatusUnexpectedIoError;
  }
  return kStatusSuccess;
}
