#include "tools/ntfs_image_builder.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

// libntfs-3g's headers use these without including them.
#include <sys/stat.h>

#include <cstdarg>
#include <cstddef>
#include <ctime>

extern "C" {
#include <ntfs-3g/attrib.h>
#include <ntfs-3g/device.h>
#include <ntfs-3g/dir.h>
#include <ntfs-3g/inode.h>
#include <ntfs-3g/lcnalloc.h>
#include <ntfs-3g/runlist.h>
#include <ntfs-3g/types.h>
#include <ntfs-3g/unistr.h>
#include <ntfs-3g/volume.h>
}
// support.h defines these as macros, which would break std::min and std::max.
#undef min
#undef max

extern char** environ;

uint64_t TSplitMix64::Mix(uint64_t value) {
  value ^= value >> 30;
  value *= 0xBF58476D1CE4E5B9ull;
  value ^= value >> 27;
  value *= 0x94D049BB133111EBull;
  value ^= value >> 31;
  return value;
}

namespace {

// Bytes per generated text line, the newline included.
constexpr uint64_t kTextLineBytes = 64;

// Enough repetition for the LZ77 compression NTFS uses to halve the data,
// varied enough not to look like a fill pattern.
constexpr const char* kTextWords[] = {
    "volume",  "cluster", "record", "index",  "extent", "sector", "folder",  "file",
    "layout",  "bitmap",  "stream", "run",    "zone",   "free",   "used",    "block",
    "analyse", "plan",    "move",   "data",   "name",   "size",   "offset",  "table",
    "entry",   "header",  "length", "parent", "child",  "order",  "journal", "space",
};
constexpr size_t kTextWordCount = sizeof(kTextWords) / sizeof(kTextWords[0]);

// 2024-01-01 00:00:00 UTC in NTFS time (100 ns units since 1601-01-01 UTC):
// every item the builder makes carries it, so builds do not depend on the
// clock.
constexpr int64_t kFixedNtfsTime = (11644473600ll + 1704067200ll) * 10000000ll;

// Bytes written per libntfs-3g call when writing generated content.
constexpr size_t kWriteChunkBytes = 1u << 20;

void FillText(uint64_t seed, uint64_t offset, uint8_t* out, size_t length) {
  char line[kTextLineBytes];
  uint64_t lineIndex = offset / kTextLineBytes;
  size_t within = offset % kTextLineBytes;
  while (length > 0) {
    TSplitMix64 words(TSplitMix64::Mix(seed) ^ (lineIndex * 0xD1B54A32D192ED03ull));
    size_t used = 0;
    for (;;) {
      const char* word = kTextWords[words.Below(kTextWordCount)];
      const size_t wordLength = std::strlen(word);
      if (used + wordLength + 1 > kTextLineBytes - 1) break;
      std::memcpy(line + used, word, wordLength);
      used += wordLength;
      line[used++] = ' ';
    }
    std::memset(line + used, ' ', kTextLineBytes - 1 - used);
    line[kTextLineBytes - 1] = '\n';
    const size_t take = std::min(length, static_cast<size_t>(kTextLineBytes - within));
    std::memcpy(out, line + within, take);
    out += take;
    length -= take;
    within = 0;
    ++lineIndex;
  }
}

void FillBinary(uint64_t seed, uint64_t offset, uint8_t* out, size_t length) {
  while (length > 0) {
    const uint64_t block = offset / 8;
    const uint64_t value = TSplitMix64::Mix(seed * 0x9E3779B97F4A7C15ull + block + 1);
    const size_t within = offset % 8;
    const size_t take = std::min(length, 8 - within);
    for (size_t i = 0; i < take; ++i) out[i] = static_cast<uint8_t>(value >> (8 * (within + i)));
    out += take;
    offset += take;
    length -= take;
  }
}

std::string ErrnoText(int error) { return std::string(std::strerror(error)); }

// "/a/b/c" into "/a/b" and "c"; false for anything but an absolute path
// with non-empty components and no trailing '/'.
bool SplitPath(const std::string& path, std::string* parent, std::string* leaf) {
  if (path.size() < 2 || path[0] != '/' || path.back() == '/' ||
      path.find("//") != std::string::npos) {
    return false;
  }
  const size_t slash = path.rfind('/');
  *parent = slash == 0 ? "/" : path.substr(0, slash);
  *leaf = path.substr(slash + 1);
  return *leaf != "." && *leaf != "..";
}

// A name converted for libntfs-3g; frees its buffer.
class TUtf16Name {
 public:
  explicit TUtf16Name(const std::string& utf8) {
    ntfschar* converted = nullptr;
    length_ = ntfs_mbstoucs(utf8.c_str(), &converted);
    chars_ = converted;
  }
  ~TUtf16Name() { std::free(chars_); }
  TUtf16Name(const TUtf16Name&) = delete;
  TUtf16Name& operator=(const TUtf16Name&) = delete;

  // False when the UTF-8 was invalid.
  bool Valid() const { return length_ >= 0 && chars_ != nullptr; }
  ntfschar* Chars() const { return chars_; }
  int Length() const { return length_; }  // UTF-16 code units

 private:
  ntfschar* chars_ = nullptr;  // owned, malloc'ed by libntfs-3g
  int length_ = -1;
};

// Sets all four timestamps of a freshly made item to kFixedNtfsTime: in the
// inode (written to the standard information when it is closed), in its
// FILE_NAME attributes (written directly into the MFT record), and, through
// the FileNameDirty flag, in its parent folder's index when it is closed.
bool FixTimes(ntfs_inode* item) {
  const ntfs_time fixed = cpu_to_sle64(kFixedNtfsTime);
  item->creation_time = fixed;
  item->last_data_change_time = fixed;
  item->last_mft_change_time = fixed;
  item->last_access_time = fixed;
  ntfs_attr_search_ctx* search = ntfs_attr_get_search_ctx(item, nullptr);
  if (search == nullptr) return false;
  int names = 0;
  while (ntfs_attr_lookup(AT_FILE_NAME, AT_UNNAMED, 0, CASE_SENSITIVE, 0, nullptr, 0, search) ==
         0) {
    auto* name = reinterpret_cast<FILE_NAME_ATTR*>(reinterpret_cast<uint8_t*>(search->attr) +
                                                   le16_to_cpu(search->attr->value_offset));
    name->creation_time = fixed;
    name->last_data_change_time = fixed;
    name->last_mft_change_time = fixed;
    name->last_access_time = fixed;
    ntfs_inode_mark_dirty(search->ntfs_ino);
    ++names;
  }
  ntfs_attr_put_search_ctx(search);
  NInoFileNameSetDirty(item);
  ntfs_inode_mark_dirty(item);
  return names > 0;
}

}  // namespace

TContent::TContent(TKind kind, uint64_t size, uint64_t seed, std::string bytes)
    : kind_(kind), size_(size), seed_(seed), bytes_(std::move(bytes)) {}

TContent TContent::Bytes(std::string bytes) {
  const uint64_t size = bytes.size();
  return TContent(TKind::kBytes, size, 0, std::move(bytes));
}

TContent TContent::Binary(uint64_t sizeBytes, uint64_t seed) {
  return TContent(TKind::kBinary, sizeBytes, seed, std::string());
}

TContent TContent::Text(uint64_t sizeBytes, uint64_t seed) {
  return TContent(TKind::kText, sizeBytes, seed, std::string());
}

void TContent::Fill(uint64_t offset, uint8_t* out, size_t length) const {
  switch (kind_) {
    case TKind::kBytes:
      std::memcpy(out, bytes_.data() + offset, length);
      break;
    case TKind::kBinary:
      FillBinary(seed_, offset, out, length);
      break;
    case TKind::kText:
      FillText(seed_, offset, out, length);
      break;
  }
}

std::string TContent::Slice(uint64_t offset, size_t length) const {
  std::string result(length, '\0');
  Fill(offset, reinterpret_cast<uint8_t*>(result.data()), length);
  return result;
}

struct TNtfsImageBuilder::TState {
  ntfs_volume* volume = nullptr;  // owned while mounted; released by ntfs_umount
  std::string image;              // host path of the image file

  // The open parent folder and new item of one step; both are closed (the
  // item first, so its name is written into the parent's index) by Close.
  struct TNewItem {
    ntfs_inode* parent = nullptr;  // owned until Close
    ntfs_inode* item = nullptr;    // owned until Close
  };

  TBuildStatus Mounted(const std::string& step) const {
    if (volume == nullptr) return TBuildStatus::Failure(step + ": no volume is mounted");
    return TBuildStatus::Success();
  }

  // Opens the parent folder of path and makes the new item in it; on
  // success the caller must Close newItem. With notCompressed, a compressed
  // parent folder is refused.
  TBuildStatus Create(const std::string& step, const std::string& path, mode_t type,
                      TNewItem* newItem, bool notCompressed = false) {
    if (TBuildStatus status = Mounted(step); !status) return status;
    std::string parentPath;
    std::string leaf;
    if (!SplitPath(path, &parentPath, &leaf)) {
      return TBuildStatus::Failure(step + " " + path +
                                   ": not an absolute path of non-empty names separated by '/'");
    }
    TUtf16Name name(leaf);
    if (!name.Valid()) return TBuildStatus::Failure(step + " " + path + ": name is not UTF-8");
    if (name.Length() > 255) {
      return TBuildStatus::Failure(step + " " + path + ": name longer than 255 UTF-16 units");
    }
    ntfs_inode* parent = ntfs_pathname_to_inode(volume, nullptr, parentPath.c_str());
    if (parent == nullptr) {
      return TBuildStatus::Failure(step + " " + path + ": parent folder " + parentPath +
                                   " not found (" + ErrnoText(errno) + ")");
    }
    if (!(parent->mrec->flags & MFT_RECORD_IS_DIRECTORY)) {
      ntfs_inode_close(parent);
      return TBuildStatus::Failure(step + " " + path + ": " + parentPath + " is not a folder");
    }
    // Case-insensitive, as on Windows (see Format), so "/a" and "/A" clash.
    if (ntfs_inode_lookup_by_name(parent, name.Chars(), name.Length()) != static_cast<u64>(-1)) {
      ntfs_inode_close(parent);
      return TBuildStatus::Failure(step + " " + path + ": already exists");
    }
    if (notCompressed && (parent->flags & FILE_ATTR_COMPRESSED)) {
      ntfs_inode_close(parent);
      return TBuildStatus::Failure(step + " " + path + ": not in a compressed folder");
    }
    // libntfs-3g compresses a new file's data when both its folder and the
    // volume say so; the volume flag follows the folder, so a compressed
    // folder is the only switch.
    if (parent->flags & FILE_ATTR_COMPRESSED) {
      NVolSetCompression(volume);
    } else {
      NVolClearCompression(volume);
    }
    ntfs_inode* item = ntfs_create(parent, const_cpu_to_le32(0), name.Chars(),
                                   static_cast<u8>(name.Length()), type);
    if (item == nullptr) {
      const int error = errno;
      ntfs_inode_close(parent);
      return TBuildStatus::Failure(step + " " + path + ": " + ErrnoText(error));
    }
    newItem->parent = parent;
    newItem->item = item;
    return TBuildStatus::Success();
  }

  // Fixes the item's times and closes both inodes. Reports the first
  // failure of step (if failed) or of the close.
  TBuildStatus Close(const std::string& step, const std::string& path, TNewItem* newItem,
                     TBuildStatus stepStatus) {
    if (!FixTimes(newItem->item) && stepStatus) {
      stepStatus = TBuildStatus::Failure(step + " " + path + ": cannot set its times");
    }
    if (ntfs_inode_close_in_dir(newItem->item, newItem->parent) != 0) {
      const int error = errno;
      // A failed close leaves the item open; close it without syncing.
      ntfs_inode_close(newItem->item);
      if (stepStatus) {
        stepStatus =
            TBuildStatus::Failure(step + " " + path + ": writing its record: " + ErrnoText(error));
      }
    }
    if (ntfs_inode_close(newItem->parent) != 0 && stepStatus) {
      stepStatus = TBuildStatus::Failure(step + " " + path +
                                         ": writing its parent folder: " + ErrnoText(errno));
    }
    *newItem = TNewItem{};
    return stepStatus;
  }

  int64_t ClusterBytes() const { return volume == nullptr ? 0 : volume->cluster_size; }

  // The cluster bitmap, bit i of byte i / 8 set for a cluster in use.
  bool ReadBitmap(std::vector<uint8_t>* bitmap) const {
    bitmap->assign(static_cast<size_t>((volume->nr_clusters + 7) / 8), 0);
    const s64 size = static_cast<s64>(bitmap->size());
    return ntfs_attr_pread(volume->lcnbmp_na, 0, size, bitmap->data()) == size;
  }
};

namespace {

bool InUse(const std::vector<uint8_t>& bitmap, int64_t lcn) {
  return (bitmap[static_cast<size_t>(lcn / 8)] >> (lcn % 8)) & 1u;
}

// The unnamed data stream of an item, closed when it goes.
class TDataStream {
 public:
  explicit TDataStream(ntfs_inode* item) : stream_(ntfs_attr_open(item, AT_DATA, AT_UNNAMED, 0)) {}
  ~TDataStream() {
    if (stream_ != nullptr) ntfs_attr_close(stream_);
  }
  TDataStream(const TDataStream&) = delete;
  TDataStream& operator=(const TDataStream&) = delete;

  ntfs_attr* Get() const { return stream_; }

 private:
  ntfs_attr* stream_;  // owned
};

// Writes content bytes [from, to) at the same offsets of the stream.
bool WriteContent(ntfs_attr* stream, const TContent& content, uint64_t from, uint64_t to) {
  std::vector<uint8_t> buffer(std::min<uint64_t>(kWriteChunkBytes, to - from));
  for (uint64_t offset = from; offset < to;) {
    const size_t length = static_cast<size_t>(std::min<uint64_t>(buffer.size(), to - offset));
    content.Fill(offset, buffer.data(), length);
    const s64 written =
        ntfs_attr_pwrite(stream, static_cast<s64>(offset), static_cast<s64>(length), buffer.data());
    if (written != static_cast<s64>(length)) {
      if (written >= 0) errno = EIO;
      return false;
    }
    offset += length;
  }
  return true;
}

// The stream's runlist with libntfs-3g's terminator left out; false when it
// cannot be read.
bool ReadRuns(ntfs_attr* stream, std::vector<TExtent>* runs) {
  runs->clear();
  if (!NAttrNonResident(stream)) return true;
  if (ntfs_attr_map_whole_runlist(stream) != 0) return false;
  for (const runlist_element* run = stream->rl; run->length != 0; ++run) {
    runs->push_back(TExtent{run->lcn < 0 ? TExtent::kHoleLcn : run->lcn, run->length});
  }
  return true;
}

// Clusters taken from the volume's bitmap for a file not yet made: given
// back when it goes, unless Keep hands them to the file.
class TClaimedClusters {
 public:
  explicit TClaimedClusters(ntfs_volume* volume) : volume_(volume) {}
  ~TClaimedClusters() {
    for (runlist* taken : taken_) {
      if (!kept_) ntfs_cluster_free_from_rl(volume_, taken);
      std::free(taken);
    }
  }
  TClaimedClusters(const TClaimedClusters&) = delete;
  TClaimedClusters& operator=(const TClaimedClusters&) = delete;

  // Takes extent for the file's clusters from vcn on; false unless exactly
  // those clusters were taken (whatever was taken instead is given back
  // with the rest). Given a starting cluster, the allocator takes it and
  // those after it while they are free, then looks elsewhere for the rest.
  bool Claim(int64_t vcn, const TExtent& extent) {
    runlist* taken = ntfs_cluster_alloc(volume_, vcn, extent.clusters, extent.lcn, DATA_ZONE);
    if (taken == nullptr) return false;
    taken_.push_back(taken);
    return taken[0].lcn == extent.lcn && taken[0].length == extent.clusters;
  }

  void Keep() { kept_ = true; }

 private:
  ntfs_volume* volume_;          // not owned
  std::vector<runlist*> taken_;  // owned, malloc'ed by libntfs-3g
  bool kept_ = false;
};

// Gives a new file's empty data stream exactly the claimed extents, then
// its size and content. Failures name what failed and why, without the step.
TBuildStatus WritePlacedData(ntfs_attr* stream, const TContent& content,
                             const std::vector<TExtent>& extents, TClaimedClusters* claimed) {
  auto failure = [](const std::string& what) {
    return TBuildStatus::Failure(what + ": " + ErrnoText(errno));
  };
  if (stream == nullptr) return failure("opening its data");
  ntfs_volume* volume = stream->ni->vol;
  const int64_t cluster = volume->cluster_size;
  // Growing the empty resident stream past what an MFT record holds makes it
  // non-resident with a cluster or two wherever the allocator likes; those
  // are given back, and the claimed extents put in their place.
  if (ntfs_attr_truncate_solid(stream, static_cast<s64>(volume->mft_record_size)) != 0 ||
      ntfs_attr_map_whole_runlist(stream) != 0 ||
      ntfs_cluster_free_from_rl(volume, stream->rl) != 0) {
    return failure("making its data non-resident");
  }
  // libntfs-3g frees and reallocates the runlist, so it must come from malloc.
  auto* runs = static_cast<runlist_element*>(std::malloc((extents.size() + 1) * sizeof(runlist)));
  if (runs == nullptr) return failure("allocating its runlist");
  int64_t vcn = 0;
  for (size_t i = 0; i < extents.size(); ++i) {
    const LCN lcn = extents[i].lcn < 0 ? static_cast<LCN>(LCN_HOLE) : extents[i].lcn;
    runs[i] = runlist_element{vcn, lcn, extents[i].clusters};
    vcn += extents[i].clusters;
  }
  runs[extents.size()] = runlist_element{vcn, LCN_ENOENT, 0};
  std::free(stream->rl);
  stream->rl = runs;
  stream->allocated_size = vcn * cluster;
  NAttrSetRunlistDirty(stream);
  claimed->Keep();
  if (ntfs_attr_update_mapping_pairs(stream, 0) != 0) return failure("writing its runlist");
  if (ntfs_attr_truncate(stream, static_cast<s64>(content.Size())) != 0) {
    return failure("setting its size");
  }
  // Holes are skipped: writing into one would allocate clusters for it.
  vcn = 0;
  for (const TExtent& extent : extents) {
    const uint64_t from = static_cast<uint64_t>(vcn * cluster);
    const uint64_t to = std::min<uint64_t>(content.Size(), (vcn + extent.clusters) * cluster);
    if (extent.lcn >= 0 && !WriteContent(stream, content, from, to)) {
      return failure("writing its data");
    }
    vcn += extent.clusters;
  }
  return TBuildStatus::Success();
}

// libntfs-3g's own file access, less the fsync it does when the volume is
// synced and closed: a scratch image need not reach the disk, and waiting
// for that costs seconds per build on a busy machine. Everything is still
// written to the file (through the page cache) before the unmount returns.
int SyncNothing(struct ntfs_device* device) {
  NDevClearDirty(device);
  return 0;
}

int CloseWithoutSync(struct ntfs_device* device) {
  NDevClearDirty(device);
  return ntfs_device_default_io_ops.close(device);
}

ntfs_device_operations* UnsyncedFileOperations() {
  static ntfs_device_operations operations = [] {
    ntfs_device_operations copy = ntfs_device_default_io_ops;
    copy.sync = SyncNothing;
    copy.close = CloseWithoutSync;
    return copy;
  }();
  return &operations;
}

// Runs mkntfs with args (args[0] being "mkntfs"), capturing what it prints;
// the exit status goes to *exitCode (-1 when it could not be started).
std::string RunMkntfs(const std::vector<std::string>& args, int* exitCode) {
  *exitCode = -1;
  int pipeEnds[2];
  if (pipe2(pipeEnds, O_CLOEXEC) != 0) return "cannot make a pipe: " + ErrnoText(errno);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDERR_FILENO);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  std::vector<char*> argv;
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  pid_t child = -1;
  int spawnError = posix_spawnp(&child, "mkntfs", &actions, nullptr, argv.data(), environ);
  // sbin is not on every user's PATH.
  for (const char* fallback : {"/usr/sbin/mkntfs", "/sbin/mkntfs"}) {
    if (spawnError != ENOENT) break;
    spawnError = posix_spawn(&child, fallback, &actions, nullptr, argv.data(), environ);
  }
  posix_spawn_file_actions_destroy(&actions);
  close(pipeEnds[1]);
  std::string output;
  if (spawnError != 0) {
    close(pipeEnds[0]);
    return "cannot start mkntfs: " + ErrnoText(spawnError);
  }
  char buffer[4096];
  for (;;) {
    const ssize_t got = read(pipeEnds[0], buffer, sizeof buffer);
    if (got > 0) {
      output.append(buffer, static_cast<size_t>(got));
    } else if (got == 0 || errno != EINTR) {
      break;
    }
  }
  close(pipeEnds[0]);
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  *exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return output;
}

}  // namespace

TNtfsImageBuilder::TNtfsImageBuilder() : state_(std::make_unique<TState>()) {}

TNtfsImageBuilder::~TNtfsImageBuilder() {
  if (state_->volume != nullptr) ntfs_umount(state_->volume, FALSE);
}

TBuildStatus TNtfsImageBuilder::Format(const std::string& imagePath, const TNtfsFormat& format) {
  const std::string step = "Format " + imagePath;
  if (state_->volume != nullptr) {
    return TBuildStatus::Failure(step + ": " + state_->image + " is still mounted");
  }
  const uint32_t cluster = format.clusterBytes;
  if (cluster < 512 || cluster > 65536 || (cluster & (cluster - 1)) != 0) {
    return TBuildStatus::Failure(step + ": cluster size " + std::to_string(cluster) +
                                 " is not a power of two from 512 to 65536");
  }
  if (format.imageBytes == 0 || format.imageBytes % 512 != 0) {
    return TBuildStatus::Failure(step + ": image size " + std::to_string(format.imageBytes) +
                                 " is not a positive multiple of 512");
  }
  // A fresh all-zero file: truncating first drops whatever an earlier image
  // held, so mkntfs's quick format leaves the same bytes every time.
  const int fd = open(imagePath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return TBuildStatus::Failure(step + ": cannot create it: " + ErrnoText(errno));
  const int sized = ftruncate(fd, static_cast<off_t>(format.imageBytes));
  const int sizeError = errno;
  close(fd);
  if (sized != 0) {
    return TBuildStatus::Failure(step + ": cannot size it: " + ErrnoText(sizeError));
  }
  // -T fakes the clock to 1970-01-01, which also seeds mkntfs's random
  // numbers (volume serial, GUIDs) with 0. -p/-H/-S fill in the geometry an
  // image file cannot report (mkntfs would warn about each otherwise).
  int exitCode = -1;
  const std::string output =
      RunMkntfs({"mkntfs", "-F", "-f", "-q", "-T", "-s", "512", "-c", std::to_string(cluster), "-p",
                 "0", "-H", "255", "-S", "63", "-L", format.label, imagePath},
                &exitCode);
  if (exitCode != 0) {
    return TBuildStatus::Failure(step + ": mkntfs failed (exit code " + std::to_string(exitCode) +
                                 "): " + output);
  }
  // The device goes with the volume: ntfs_umount frees it.
  struct ntfs_device* device =
      ntfs_device_alloc(imagePath.c_str(), 0, UnsyncedFileOperations(), nullptr);
  if (device == nullptr) {
    return TBuildStatus::Failure(step + ": cannot open it: " + ErrnoText(errno));
  }
  ntfs_volume* volume = ntfs_device_mount(device, NTFS_MNT_NONE);
  if (volume == nullptr) {
    const int error = errno;
    ntfs_device_free(device);
    return TBuildStatus::Failure(step + ": cannot mount it: " + ErrnoText(error));
  }
  NVolClearCompression(volume);
  // Names are looked up ignoring case, as Windows does, rather than as
  // POSIX names; the names made keep their case.
  if (ntfs_set_ignore_case(volume) != 0) {
    const int error = errno;
    ntfs_umount(volume, FALSE);
    return TBuildStatus::Failure(step + ": cannot ignore case in names: " + ErrnoText(error));
  }
  state_->volume = volume;
  state_->image = imagePath;
  return TBuildStatus::Success();
}

TBuildStatus TNtfsImageBuilder::MakeFolder(const std::string& path) {
  TState::TNewItem folder;
  if (TBuildStatus status = state_->Create("MakeFolder", path, S_IFDIR, &folder); !status) {
    return status;
  }
  return state_->Close("MakeFolder", path, &folder, TBuildStatus::Success());
}

TBuildStatus TNtfsImageBuilder::MakeHardLink(const std::string& existing,
                                             const std::string& newPath) {
  const std::string step = "MakeHardLink " + existing + " " + newPath;
  if (TBuildStatus status = state_->Mounted(step); !status) return status;
  std::string parentPath;
  std::string leaf;
  if (!SplitPath(newPath, &parentPath, &leaf)) return TBuildStatus::Failure(step + ": bad path");
  TUtf16Name name(leaf);
  if (!name.Valid()) return TBuildStatus::Failure(step + ": name is not UTF-8");
  ntfs_inode* file = ntfs_pathname_to_inode(state_->volume, nullptr, existing.c_str());
  if (file == nullptr) return TBuildStatus::Failure(step + ": " + ErrnoText(errno));
  ntfs_inode* parent = ntfs_pathname_to_inode(state_->volume, nullptr, parentPath.c_str());
  std::string failure;
  if (parent == nullptr) {
    failure = "parent folder not found (" + ErrnoText(errno) + ")";
  } else if (file->mrec->flags & MFT_RECORD_IS_DIRECTORY) {
    failure = "not a file";
  } else if (ntfs_link(file, parent, name.Chars(), static_cast<u8>(name.Length())) != 0) {
    failure = ErrnoText(errno);
  }
  if (parent != nullptr && ntfs_inode_close(parent) != 0 && failure.empty()) {
    failure = "writing its folder: " + ErrnoText(errno);
  }
  if (ntfs_inode_close(file) != 0 && failure.empty()) failure = "writing its record";
  return failure.empty() ? TBuildStatus::Success() : TBuildStatus::Failure(step + ": " + failure);
}

TBuildStatus TNtfsImageBuilder::SetFolderCompressed(const std::string& path) {
  const std::string step = "SetFolderCompressed " + path;
  if (TBuildStatus status = state_->Mounted(step); !status) return status;
  if (state_->volume->cluster_size > 4096) {
    return TBuildStatus::Failure(step + ": NTFS compresses only with clusters up to 4096 bytes");
  }
  ntfs_inode* folder = ntfs_pathname_to_inode(state_->volume, nullptr, path.c_str());
  if (folder == nullptr) return TBuildStatus::Failure(step + ": " + ErrnoText(errno));
  if (!(folder->mrec->flags & MFT_RECORD_IS_DIRECTORY)) {
    ntfs_inode_close(folder);
    return TBuildStatus::Failure(step + ": not a folder");
  }
  // The flag lives in the standard information (written from the inode on
  // close) and the parent's index entry (FileNameDirty).
  folder->flags = static_cast<FILE_ATTR_FLAGS>(folder->flags | FILE_ATTR_COMPRESSED);
  NInoFileNameSetDirty(folder);
  ntfs_inode_mark_dirty(folder);
  if (ntfs_inode_close(folder) != 0) {
    return TBuildStatus::Failure(step + ": writing its record: " + ErrnoText(errno));
  }
  return TBuildStatus::Success();
}

TBuildStatus TNtfsImageBuilder::MakeFile(const std::string& path, const TContent& content) {
  TState::TNewItem file;
  if (TBuildStatus status = state_->Create("MakeFile", path, S_IFREG, &file); !status) {
    return status;
  }
  TBuildStatus status = TBuildStatus::Success();
  if (content.Size() > 0) {
    TDataStream data(file.item);
    if (data.Get() == nullptr) {
      status =
          TBuildStatus::Failure("MakeFile " + path + ": cannot open its data: " + ErrnoText(errno));
    } else if (!WriteContent(data.Get(), content, 0, content.Size())) {
      status =
          TBuildStatus::Failure("MakeFile " + path + ": writing its data: " + ErrnoText(errno));
    } else if (ntfs_attr_pclose(data.Get()) != 0) {
      // Flushes the last compression unit of a compressed file.
      status = TBuildStatus::Failure("MakeFile " + path +
                                     ": compressing its last unit: " + ErrnoText(errno));
    }
  }
  return state_->Close("MakeFile", path, &file, status);
}

TBuildStatus TNtfsImageBuilder::MakeSparseFile(const std::string& path, const TContent& content,
                                               uint64_t holeOffset, uint64_t holeBytes) {
  const std::string step = "MakeSparseFile " + path;
  if (TBuildStatus status = state_->Mounted(step); !status) return status;
  const uint64_t cluster = static_cast<uint64_t>(state_->ClusterBytes());
  const uint64_t holeEnd = holeOffset + holeBytes;
  if (holeBytes == 0 || holeOffset == 0 || holeOffset % cluster != 0 || holeBytes % cluster != 0 ||
      holeEnd >= content.Size()) {
    return TBuildStatus::Failure(step +
                                 ": the hole must be whole clusters strictly inside the file");
  }
  TState::TNewItem file;
  if (TBuildStatus status = state_->Create("MakeSparseFile", path, S_IFREG, &file, true); !status) {
    return status;
  }
  TBuildStatus status = TBuildStatus::Success();
  {
    TDataStream data(file.item);
    std::vector<TExtent> runs;
    // Writing past the end leaves the clusters skipped unallocated: libntfs-3g
    // makes the file sparse, as Windows does for a file marked sparse.
    if (data.Get() == nullptr || !WriteContent(data.Get(), content, 0, holeOffset) ||
        !WriteContent(data.Get(), content, holeEnd, content.Size()) ||
        !ReadRuns(data.Get(), &runs)) {
      status = TBuildStatus::Failure(step + ": writing its data: " + ErrnoText(errno));
    } else {
      const int64_t firstHoleVcn = static_cast<int64_t>(holeOffset / cluster);
      const int64_t endHoleVcn = static_cast<int64_t>(holeEnd / cluster);
      int64_t vcn = 0;
      for (const TExtent& run : runs) {
        const bool overlapsHole = vcn < endHoleVcn && vcn + run.clusters > firstHoleVcn;
        if (overlapsHole && run.lcn != TExtent::kHoleLcn) {
          status = TBuildStatus::Failure(step + ": libntfs-3g allocated clusters in the hole");
        }
        vcn += run.clusters;
      }
    }
  }
  return state_->Close("MakeSparseFile", path, &file, status);
}

TBuildStatus TNtfsImageBuilder::MakePlacedFile(const std::string& path, const TContent& content,
                                               const std::vector<TExtent>& extents) {
  const std::string step = "MakePlacedFile " + path;
  if (TBuildStatus status = state_->Mounted(step); !status) return status;
  ntfs_volume* volume = state_->volume;
  const int64_t cluster = state_->ClusterBytes();
  int64_t total = 0;
  for (const TExtent& extent : extents) {
    const bool inVolume = extent.lcn == TExtent::kHoleLcn ||
                          (extent.lcn >= 0 && extent.lcn + extent.clusters <= volume->nr_clusters);
    if (extent.clusters <= 0 || !inVolume) {
      return TBuildStatus::Failure(step + ": extent at " + std::to_string(extent.lcn) + " of " +
                                   std::to_string(extent.clusters) +
                                   " clusters is empty or outside the volume");
    }
    total += extent.clusters;
  }
  const int64_t needed = static_cast<int64_t>((content.Size() + cluster - 1) / cluster);
  if (content.Size() == 0 || total != needed) {
    return TBuildStatus::Failure(step + ": the extents hold " + std::to_string(total) +
                                 " clusters, the content needs " + std::to_string(needed));
  }
  // Checked on a copy of the bitmap first: the allocator, denied the
  // cluster it was asked for, would move its own starting point, and a
  // refused step must change nothing.
  std::vector<uint8_t> bitmap;
  if (!state_->ReadBitmap(&bitmap)) {
    return TBuildStatus::Failure(step + ": cannot read the cluster bitmap: " + ErrnoText(errno));
  }
  for (const TExtent& extent : extents) {
    for (int64_t lcn = extent.lcn; lcn >= 0 && lcn < extent.lcn + extent.clusters; ++lcn) {
      if (InUse(bitmap, lcn)) {
        return TBuildStatus::Failure(step + ": clusters " + std::to_string(extent.lcn) + ".." +
                                     std::to_string(extent.lcn + extent.clusters - 1) +
                                     " are not all free");
      }
      // Marked so that a later extent overlapping this one is refused too.
      bitmap[static_cast<size_t>(lcn / 8)] |= static_cast<uint8_t>(1u << (lcn % 8));
    }
  }
  // Taken before the file is made, so a failure here leaves no file behind.
  TClaimedClusters claimed(volume);
  int64_t vcn = 0;
  for (const TExtent& extent : extents) {
    if (extent.lcn >= 0 && !claimed.Claim(vcn, extent)) {
      return TBuildStatus::Failure(step + ": cannot take clusters " + std::to_string(extent.lcn) +
                                   ".." + std::to_string(extent.lcn + extent.clusters - 1));
    }
    vcn += extent.clusters;
  }
  TState::TNewItem file;
  if (TBuildStatus status = state_->Create("MakePlacedFile", path, S_IFREG, &file, true); !status) {
    return status;
  }
  TBuildStatus status = TBuildStatus::Success();
  {
    TDataStream data(file.item);
    status = WritePlacedData(data.Get(), content, extents, &claimed);
  }
  if (!status) status.message = step + ": " + status.message;
  return state_->Close("MakePlacedFile", path, &file, status);
}

TBuildStatus TNtfsImageBuilder::MakeFragmentedFile(const std::string& path, const TContent& content,
                                                   int64_t fragments, int64_t gapClusters,
                                                   int64_t searchFromLcn,
                                                   std::vector<TExtent>* placed) {
  const std::string step = "MakeFragmentedFile " + path;
  if (TBuildStatus status = state_->Mounted(step); !status) return status;
  const int64_t cluster = state_->ClusterBytes();
  const int64_t clusters = static_cast<int64_t>((content.Size() + cluster - 1) / cluster);
  if (fragments < 1 || fragments > clusters || gapClusters < 1) {
    return TBuildStatus::Failure(step + ": cannot cut " + std::to_string(clusters) +
                                 " clusters into " + std::to_string(fragments) +
                                 " fragments with gaps of " + std::to_string(gapClusters));
  }
  int64_t start = 0;
  if (TBuildStatus status =
          FindFreeRun(clusters + gapClusters * (fragments - 1), searchFromLcn, &start);
      !status) {
    return TBuildStatus::Failure(step + ": " + status.message);
  }
  std::vector<TExtent> extents;
  int64_t lcn = start;
  for (int64_t i = 0; i < fragments; ++i) {
    const int64_t length = clusters / fragments + (i < clusters % fragments ? 1 : 0);
    extents.push_back(TExtent{lcn, length});
    lcn += length + gapClusters;
  }
  TBuildStatus status = MakePlacedFile(path, content, extents);
  if (status && placed != nullptr) *placed = extents;
  return status;
}

TBuildStatus TNtfsImageBuilder::FindFreeRun(int64_t clusters, int64_t fromLcn, int64_t* lcn) const {
  const std::string step = "FindFreeRun";
  if (TBuildStatus status = state_->Mounted(step); !status) return status;
  const int64_t count = state_->volume->nr_clusters;
  std::vector<uint8_t> bitmap;
  if (!state_->ReadBitmap(&bitmap)) {
    return TBuildStatus::Failure(step + ": cannot read the cluster bitmap: " + ErrnoText(errno));
  }
  int64_t runStart = std::max<int64_t>(fromLcn, 0);
  for (int64_t at = runStart; at < count; ++at) {
    if (InUse(bitmap, at)) {
      runStart = at + 1;
    } else if (at + 1 - runStart >= clusters) {
      *lcn = runStart;
      return TBuildStatus::Success();
    }
  }
  return TBuildStatus::Failure(step + ": no " + std::to_string(clusters) +
                               " free clusters in a row at or after cluster " +
                               std::to_string(fromLcn));
}

int64_t TNtfsImageBuilder::ClusterBytes() const { return state_->ClusterBytes(); }

int64_t TNtfsImageBuilder::ClusterCount() const {
  return state_->volume == nullptr ? 0 : state_->volume->nr_clusters;
}

int64_t TNtfsImageBuilder::MftZoneEnd() const {
  return state_->volume == nullptr ? 0 : state_->volume->mft_zone_end;
}

TBuildStatus TNtfsImageBuilder::Finish() {
  if (TBuildStatus status = state_->Mounted("Finish"); !status) return status;
  ntfs_volume* volume = state_->volume;
  state_->volume = nullptr;
  if (ntfs_umount(volume, FALSE) != 0) {
    return TBuildStatus::Failure("Finish " + state_->image + ": " + ErrnoText(errno));
  }
  return TBuildStatus::Success();
}
