#include "tests/linux/ntfs_move_test_support.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "platform/linux/ntfs_library.h"

std::vector<TStreamRun> RunsThrough(TSystemServices& services, THandle file, TNtStatus* status) {
  std::vector<TStreamRun> runs;
  TStartingVcnInput input = {0};
  // Room for three extents per reply: longer lists come in several.
  unsigned char output[sizeof(TRetrievalPointersHeader) + 3 * sizeof(TRetrievalExtent)];
  for (int replies = 0; replies < 100000; ++replies) {
    TIoStatusBlock io = {};
    const TNtStatus got = services.FsControl(file, &io, kFsctlGetRetrievalPointers, &input,
                                             sizeof input, output, sizeof output);
    if (status != nullptr) *status = got;
    if (got != kStatusSuccess && got != kStatusBufferOverflow) return {};
    TRetrievalPointersHeader header;
    std::memcpy(&header, output, sizeof header);
    int64_t vcn = header.startingVcn;
    for (uint32_t i = 0; i < header.extentCount; ++i) {
      TRetrievalExtent extent;
      std::memcpy(&extent, output + sizeof header + i * sizeof extent, sizeof extent);
      if (vcn >= input.startingVcn)
        runs.push_back(TStreamRun{vcn, extent.lcn, extent.nextVcn - vcn});
      vcn = extent.nextVcn;
    }
    if (got == kStatusSuccess) break;
    input.startingVcn = vcn;
  }
  // Replies may split a run Windows would report whole: merge as AppendRun does.
  std::vector<TStreamRun> merged;
  for (const TStreamRun& run : runs) AppendRun(&merged, run.lcn, run.length);
  if (status != nullptr) *status = kStatusSuccess;
  return merged;
}

std::vector<uint8_t> BitmapThrough(TSystemServices& services, THandle volume, int64_t* clusters) {
  TStartingLcnInput input = {0};
  std::vector<uint8_t> output(sizeof(TVolumeBitmapHeader) + (1 << 20));
  TIoStatusBlock io = {};
  const TNtStatus status =
      services.FsControl(volume, &io, kFsctlGetVolumeBitmap, &input, sizeof input, output.data(),
                         static_cast<uint32_t>(output.size()));
  if (status != kStatusSuccess) return {};
  TVolumeBitmapHeader header;
  std::memcpy(&header, output.data(), sizeof header);
  *clusters = header.bitmapSize;
  return std::vector<uint8_t>(output.begin() + sizeof header,
                              output.begin() + sizeof header + (header.bitmapSize + 7) / 8);
}

int64_t FreeStretch(const std::vector<uint8_t>& bitmap, int64_t clusters, int64_t count,
                    int64_t fromLcn) {
  int64_t start = fromLcn;
  for (int64_t cluster = fromLcn; cluster < clusters; ++cluster) {
    if ((bitmap[static_cast<size_t>(cluster / 8)] >> (cluster % 8) & 1) != 0) {
      start = cluster + 1;
    } else if (cluster + 1 - start == count) {
      return start;
    }
  }
  return -1;
}

TNtStatus MoveThrough(TSystemServices& services, THandle volume, THandle file, int64_t vcn,
                      int64_t lcn, uint32_t count) {
  TMoveFileData request = {};
  request.fileHandle = file;
  request.startingVcn = vcn;
  request.startingLcn = lcn;
  request.clusterCount = count;
  TIoStatusBlock io = {};
  return services.FsControl(volume, &io, kFsctlMoveFile, &request, sizeof request, nullptr, 0);
}

TBuildStatus AddNamedStream(const std::string& image, const std::string& path,
                            const std::string& name, const TContent& content) {
  ntfs_volume* volume = ntfs_mount(image.c_str(), NTFS_MNT_NONE);
  if (volume == nullptr) return TBuildStatus::Failure(image + ": does not mount read-write");
  std::string failure;
  ntfs_inode* inode = ntfs_pathname_to_inode(volume, nullptr, path.c_str());
  ntfschar* units = nullptr;
  const int length = ntfs_mbstoucs(name.c_str(), &units);
  if (inode == nullptr || length <= 0) {
    failure = path + ": not found";
  } else if (ntfs_attr_add(inode, AT_DATA, units, length, nullptr, 0) != 0) {
    failure = path + ":" + name + ": cannot be added";
  } else {
    ntfs_attr* stream = ntfs_attr_open(inode, AT_DATA, units, length);
    const std::string bytes = content.Slice(0, static_cast<size_t>(content.Size()));
    if (stream == nullptr || ntfs_attr_pwrite(stream, 0, static_cast<s64>(bytes.size()),
                                              bytes.data()) != static_cast<s64>(bytes.size())) {
      failure = path + ":" + name + ": cannot be written";
    }
    if (stream != nullptr) ntfs_attr_close(stream);
  }
  std::free(units);
  if (inode != nullptr) ntfs_inode_close(inode);
  if (ntfs_umount(volume, FALSE) != 0 && failure.empty()) failure = image + ": does not unmount";
  return failure.empty() ? TBuildStatus::Success() : TBuildStatus::Failure(failure);
}

int64_t AllocatedClusters(const std::vector<TStreamRun>& runs) {
  int64_t clusters = 0;
  for (const TStreamRun& run : runs) clusters += run.lcn >= 0 ? run.length : 0;
  return clusters;
}

void RunAndKillAfter(const std::string& command, int64_t microseconds) {
  const pid_t child = fork();
  if (child < 0) return;
  if (child == 0) {
    // Its own process group, so the kill reaches the program under the
    // shell at once.
    setpgid(0, 0);
    execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  std::this_thread::sleep_for(std::chrono::microseconds(microseconds));
  ::kill(-child, SIGKILL);
  ::kill(child, SIGKILL);
  int status = 0;
  waitpid(child, &status, 0);
}

std::string ProgramCommand(const std::string& folder, const std::string& arguments) {
  return "cd '" + folder +
         "' && env -u DISPLAY -u WAYLAND_DISPLAY -u DISKOPT_SNAPSHOT -u DISKOPT_DRIVE_C "
         "QT_QPA_PLATFORM=offscreen '" DISKOPT_BINARY "' " +
         arguments;
}
