#include "tests/support/scripted_moves.h"

#include <chrono>
#include <vector>

#include "platform/nt_types.h"

TScriptedMovesVolume::~TScriptedMovesVolume() {
  // A worker still held at the gate goes on, so the threads the volume joins
  // end.
  AllowMoves(-1);
}

THandle TScriptedMovesVolume::OpenVolumeForMoves(char driveLetter) {
  THandle volume = OpenForRead((std::string("\\\\.\\") + driveLetter + ":").c_str(), false);
  std::lock_guard<std::mutex> guard(lock_);
  ++volumesOpened_;
  volume_ = volume;
  return volume;
}

THandle TScriptedMovesVolume::OpenFileForMoves(THandle, const char* path, bool folder) {
  THandle file = OpenForRead(path, folder);
  if (file == InvalidHandle()) return file;
  std::lock_guard<std::mutex> guard(lock_);
  files_[file] = path;
  return file;
}

void TScriptedMovesVolume::Close(THandle handle) {
  {
    std::lock_guard<std::mutex> guard(lock_);
    files_.erase(handle);
    if (handle == volume_) volume_ = nullptr;
  }
  TScriptedVolume::Close(handle);
}

TNtStatus TScriptedMovesVolume::FsControl(THandle handle, TIoStatusBlock* io, uint32_t code,
                                          void* input, uint32_t inputLength, void* output,
                                          uint32_t outputLength) {
  if (code != kFsctlMoveFile) {
    return TScriptedVolume::FsControl(handle, io, code, input, inputLength, output, outputLength);
  }
  std::unique_lock<std::mutex> guard(lock_);
  const auto refuse = [io](TNtStatus status) {
    io->status = status;
    io->information = 0;
    return status;
  };
  if (handle != volume_ || inputLength < sizeof(TMoveFileData))
    return refuse(kStatusInvalidParameter);
  const TMoveFileData move = *static_cast<const TMoveFileData*>(input);
  const auto file = files_.find(move.fileHandle);
  if (file == files_.end()) return refuse(kStatusInvalidHandle);
  ++held_;
  changed_.notify_all();
  changed_.wait(guard, [this] { return allowed_ != 0; });
  --held_;
  if (allowed_ > 0) --allowed_;

  // The stream cluster by cluster: small test volumes only.
  TScriptedNode& node = Node(file->second);
  std::vector<int64_t> lcns;
  for (const TScriptedRun& run : node.runs) {
    const int64_t start = lcns.size();
    for (int64_t vcn = start; vcn < run.nextVcn; ++vcn)
      lcns.push_back(run.lcn < 0 ? -1 : run.lcn + (vcn - start));
  }
  const int64_t end = move.startingVcn + move.clusterCount;
  if (move.startingVcn < 0 || end > static_cast<int64_t>(lcns.size()) || move.startingLcn < 0 ||
      move.startingLcn + move.clusterCount > static_cast<int64_t>(bitmap.size()))
    return refuse(kStatusInvalidParameter);
  for (int64_t i = 0; i < move.clusterCount; ++i) {
    if (lcns[move.startingVcn + i] < 0 || bitmap[move.startingLcn + i])
      return refuse(kStatusInvalidParameter);
  }
  for (int64_t i = 0; i < move.clusterCount; ++i) {
    bitmap[lcns[move.startingVcn + i]] = false;
    lcns[move.startingVcn + i] = move.startingLcn + i;
    bitmap[move.startingLcn + i] = true;
  }
  // Back to runs, merged where one continues the other.
  node.runs.clear();
  for (int64_t vcn = 0; vcn < static_cast<int64_t>(lcns.size()); ++vcn) {
    const bool continues =
        !node.runs.empty() && (lcns[vcn] < 0 ? node.runs.back().lcn < 0
                                             : node.runs.back().lcn >= 0 && lcns[vcn - 1] >= 0 &&
                                                   lcns[vcn] == lcns[vcn - 1] + 1);
    if (continues) {
      node.runs.back().nextVcn = vcn + 1;
    } else {
      node.runs.push_back(TScriptedRun{vcn + 1, lcns[vcn]});
    }
  }
  ++done_;
  changed_.notify_all();
  io->status = kStatusSuccess;
  io->information = 0;
  return kStatusSuccess;
}

void TScriptedMovesVolume::AllowMoves(int count) {
  std::lock_guard<std::mutex> guard(lock_);
  allowed_ = count < 0 || allowed_ < 0 ? -1 : allowed_ + count;
  changed_.notify_all();
}

bool TScriptedMovesVolume::WaitForHeldMove(int timeoutMs) {
  std::unique_lock<std::mutex> guard(lock_);
  return changed_.wait_for(guard, std::chrono::milliseconds(timeoutMs),
                           [this] { return held_ > 0; });
}

int TScriptedMovesVolume::MovesDone() {
  std::lock_guard<std::mutex> guard(lock_);
  return done_;
}

int TScriptedMovesVolume::VolumesOpened() {
  std::lock_guard<std::mutex> guard(lock_);
  return volumesOpened_;
}
