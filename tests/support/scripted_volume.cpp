#include "tests/support/scripted_volume.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <stdexcept>
#include <thread>
#include <utility>

#include "platform/move_status_words.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#endif

namespace {

bool StartsWithNoCase(const std::string& text, const std::string& prefix) {
  if (prefix.size() > text.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    if (std::toupper(static_cast<unsigned char>(text[i])) !=
        std::toupper(static_cast<unsigned char>(prefix[i]))) {
      return false;
    }
  }
  return true;
}

class TScriptedFindHandle : public THandleObject {
 public:
  std::vector<TFindData> entries;
  size_t next = 0;
};

class TScriptedThreadHandle : public THandleObject {
 public:
  explicit TScriptedThreadHandle(TScriptedVolume& owner) : volume(owner) {}
  std::thread thread;
  TScriptedVolume& volume;  // joins the thread if the handle goes first; not owned
  void Wait() override {
    if (thread.joinable()) thread.join();
  }
  ~TScriptedThreadHandle() override {
    if (!thread.joinable()) return;
    std::lock_guard<std::mutex> guard(volume.releasedThreadsLock);
    volume.releasedThreads.push_back(std::move(thread));
  }
};

void Settle(TIoStatusBlock* io, TNtStatus status, uintptr_t bytes) {
  io->status = status;
  io->information = bytes;
}

}  // namespace

// A volume handle: answers the bitmap request, and carries out moves when it
// was opened for them.
class TScriptedBitmapHandle : public THandleObject {
 public:
  TScriptedBitmapHandle(TScriptedVolume* owner, bool openForMoves)
      : volume(owner), forMoves(openForMoves) {}
  ~TScriptedBitmapHandle() override {
    if (!forMoves) return;
    std::lock_guard<std::mutex> guard(volume->movesLock);
    volume->moveHandles.erase(this);
  }
  TNtStatus FsControl(uint32_t code, const void* input, uint32_t inputLength, void* output,
                      uint32_t outputLength, TIoStatusBlock* io) override {
    if (code == kFsctlMoveFile && forMoves) return volume->Move(input, inputLength, io);
    if (code == kFsctlMoveFile) {
      // The file system moves clusters only for a volume opened for moves.
      ++volume->moveCalls;
      Settle(io, kStatusInvalidParameter, 0);
      return kStatusInvalidParameter;
    }
    const int call = volume->bitmapCalls++;
    const TScriptedFaults& faults = volume->bitmapFaults;
    TNtStatus status = Answer(code, input, inputLength, output, outputLength, io, call);
    if (faults.pending) return kStatusPending;
    return status;
  }
  void Wait() override { ++volume->waits; }

 private:
  TNtStatus Answer(uint32_t code, const void* input, uint32_t inputLength, void* output,
                   uint32_t outputLength, TIoStatusBlock* io, int call) {
    const int64_t total = static_cast<int64_t>(volume->bitmap.size());
    TStartingLcnInput ask;
    if (code != kFsctlGetVolumeBitmap || inputLength < sizeof(ask) || outputLength < 16 ||
        call == volume->bitmapFaults.failAtCall) {
      Settle(io, kStatusInvalidParameter, 0);
      return kStatusInvalidParameter;
    }
    std::memcpy(&ask, input, sizeof(ask));
    int64_t start = ask.startingLcn / 8 * 8 - volume->startBelowBy;
    if (start < 0) start = 0;
    if (start >= total) {
      Settle(io, kStatusInvalidParameter, 0);
      return kStatusInvalidParameter;
    }
    const TVolumeBitmapHeader header = {start, total - start};
    int64_t fits = static_cast<int64_t>(outputLength - 16) * 8;
    if (volume->bitmapFaults.unitsPerReply > 0) {
      fits = std::min(fits, volume->bitmapFaults.unitsPerReply);
    }
    const int64_t count = std::min(fits, total - start);
    auto* bytes = static_cast<unsigned char*>(output);
    std::memcpy(bytes, &header, sizeof(header));
    const size_t byteCount = static_cast<size_t>((count + 7) / 8);
    std::memset(bytes + 16, 0, byteCount);
    for (int64_t i = 0; i < (count + 7) / 8 * 8; ++i) {
      const bool used =
          i < count ? volume->bitmap[static_cast<size_t>(start + i)] : volume->setBitsPastEnd;
      if (used) bytes[16 + i / 8] = static_cast<unsigned char>(bytes[16 + i / 8] | (1u << (i % 8)));
    }
    const TNtStatus status = count < total - start ? kStatusBufferOverflow : kStatusSuccess;
    Settle(io, status, 16 + byteCount);
    return status;
  }

  TScriptedVolume* volume;  // not owned
  const bool forMoves;      // opened by OpenVolumeForMoves
};

// A file or folder handle: answers the size query, the identity and the
// retrieval request with the node as it stands now. A node removed while
// the handle is open answers every request with STATUS_FILE_DELETED.
class TScriptedFileHandle : public THandleObject {
 public:
  TScriptedFileHandle(TScriptedVolume* owner, std::string nodeKey, bool openForMoves)
      : volume(owner), key(std::move(nodeKey)), forMoves(openForMoves) {}
  ~TScriptedFileHandle() override {
    if (!forMoves) return;
    std::lock_guard<std::mutex> guard(volume->movesLock);
    volume->moveHandles.erase(this);
  }
  TNtStatus FsControl(uint32_t code, const void* input, uint32_t inputLength, void* output,
                      uint32_t outputLength, TIoStatusBlock* io) override {
    if (code == kFsctlMoveFile) {
      // Moves are asked on the volume's handle.
      ++volume->moveCalls;
      Settle(io, kStatusInvalidParameter, 0);
      return kStatusInvalidParameter;
    }
    ++volume->retrievalCalls;
    const int call = calls++;
    const auto found = volume->nodes.find(key);
    if (found == volume->nodes.end()) {
      Settle(io, kStatusFileDeleted, 0);
      return kStatusFileDeleted;
    }
    const TScriptedNode& node = found->second;
    TNtStatus status = Answer(node, code, input, inputLength, output, outputLength, io, call);
    if (node.retrieval.pending) return kStatusPending;
    return status;
  }
  bool Identity(TFileIdentity* identity) override {
    const auto found = volume->nodes.find(key);
    if (found == volume->nodes.end()) return false;
    *identity = TFileIdentity{static_cast<uint64_t>(volume->letter), found->second.fileId};
    return true;
  }
  bool FileSize(uint32_t* low, uint32_t* high) override {
    const auto found = volume->nodes.find(key);
    if (found == volume->nodes.end() || found->second.sizeFails) {
      *low = 0xFFFFFFFFu;
      *high = 0;
      return false;
    }
    const TScriptedNode& node = found->second;
    const uint64_t size = node.folder ? 0 : static_cast<uint64_t>(node.size);
    *low = static_cast<uint32_t>(size);
    *high = static_cast<uint32_t>(size >> 32);
    return true;
  }
  void Wait() override { ++volume->waits; }

 private:
  TNtStatus Answer(const TScriptedNode& node, uint32_t code, const void* input,
                   uint32_t inputLength, void* output, uint32_t outputLength, TIoStatusBlock* io,
                   int call) {
    TStartingVcnInput ask;
    if (code != kFsctlGetRetrievalPointers || inputLength < sizeof(ask) || outputLength < 32 ||
        call == node.retrieval.failAtCall) {
      Settle(io, kStatusInvalidParameter, 0);
      return kStatusInvalidParameter;
    }
    std::memcpy(&ask, input, sizeof(ask));
    auto* bytes = static_cast<unsigned char*>(output);
    if (node.nonAdvancing) {
      // Every request gets the same single extent, as Wine answers.
      const TRetrievalPointersHeader header = {1, 0, 0};
      const TRetrievalExtent extent = {1, 100};
      std::memcpy(bytes, &header, sizeof(header));
      std::memcpy(bytes + 16, &extent, sizeof(extent));
      Settle(io, kStatusBufferOverflow, 32);
      return kStatusBufferOverflow;
    }
    if (node.resident || node.runs.empty() || ask.startingVcn >= node.runs.back().nextVcn ||
        ask.startingVcn < 0) {
      Settle(io, kStatusEndOfFile, 0);
      return kStatusEndOfFile;
    }
    // The reply starts with the run that holds the VCN asked for.
    size_t first = 0;
    int64_t runStart = 0;
    while (node.runs[first].nextVcn <= ask.startingVcn) runStart = node.runs[first++].nextVcn;
    size_t fits = (outputLength - 16) / 16;
    if (node.retrieval.unitsPerReply > 0) {
      fits = std::min(fits, static_cast<size_t>(node.retrieval.unitsPerReply));
    }
    const size_t count = std::min(fits, node.runs.size() - first);
    const TRetrievalPointersHeader header = {static_cast<uint32_t>(count), 0, runStart};
    std::memcpy(bytes, &header, sizeof(header));
    for (size_t i = 0; i < count; ++i) {
      const TRetrievalExtent extent = {node.runs[first + i].nextVcn, node.runs[first + i].lcn};
      std::memcpy(bytes + 16 + 16 * i, &extent, sizeof(extent));
    }
    const TNtStatus status =
        first + count < node.runs.size() ? kStatusBufferOverflow : kStatusSuccess;
    Settle(io, status, 16 + 16 * count);
    return status;
  }

  friend class TScriptedVolume;
  TScriptedVolume* volume;  // not owned
  std::string key;
  const bool forMoves;  // opened by OpenFileForMoves
  int calls = 0;        // requests on this handle, for failAtCall
};

TScriptedVolume::TScriptedVolume(char driveLetter) : letter(driveLetter) {
  TScriptedNode root;
  root.folder = true;
  root.name = std::string(1, driveLetter) + ":\\";
  root.fileId = 5;  // the root folder's record on NTFS
  nodes[Key(root.name)] = root;
}

TScriptedVolume::~TScriptedVolume() {
  for (std::thread& thread : releasedThreads) thread.join();
}

std::string TScriptedVolume::Key(const std::string& path) {
  std::string key = path;
  for (char& c : key) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  while (key.size() > 3 && key.back() == '\\') key.pop_back();
  if (key.size() == 2 && key[1] == ':') key += '\\';
  return key;
}

std::string TScriptedVolume::Follow(const std::string& key) const {
  std::string followed;
  size_t start = 0;
  while (start < key.size()) {
    const size_t end = key.find('\\', start + 1);
    followed += key.substr(start, end == std::string::npos ? std::string::npos : end - start);
    const auto node = nodes.find(Key(followed));
    if (node != nodes.end() && !node->second.sameAs.empty()) followed = Key(node->second.sameAs);
    if (end == std::string::npos) break;
    start = end;
  }
  return Key(followed);
}

bool TScriptedVolume::FolderIdentity(const char* path, TFileIdentity* identity) {
  const std::string key = Follow(Key(path));
  const auto node = nodes.find(key);
  if (node == nodes.end() || !node->second.folder) return false;
  *identity = TFileIdentity{static_cast<uint64_t>(letter), node->second.fileId};
  return true;
}

TScriptedNode& TScriptedVolume::AddFolder(const std::string& path) {
  TScriptedNode& node = AddFile(path, 0, {});
  node.folder = true;
  return node;
}

TScriptedNode& TScriptedVolume::AddFile(const std::string& path, int64_t size,
                                        std::vector<TScriptedRun> runs) {
  const std::string key = Key(path);
  const size_t cut = key.find_last_of('\\');
  const std::string parentKey = Key(key.substr(0, cut + 1));
  TScriptedNode& parent = nodes.at(parentKey);
  parent.children.push_back(key);
  TScriptedNode& node = nodes[key];
  node.name = path.substr(cut + 1);
  node.size = size;
  node.runs = std::move(runs);
  node.fileId = nextFileId++;
  return node;
}

TScriptedNode& TScriptedVolume::Node(const std::string& path) { return nodes.at(Key(path)); }

void TScriptedVolume::Remove(const std::string& path) {
  const std::string key = Key(path);
  const std::string parentKey = Key(key.substr(0, key.find_last_of('\\') + 1));
  auto& siblings = nodes.at(parentKey).children;
  siblings.erase(std::remove(siblings.begin(), siblings.end(), key), siblings.end());
  nodes.erase(key);
}

void TScriptedVolume::TakeClusters(int64_t lcn, int64_t count) {
  for (int64_t at = lcn; at < lcn + count; ++at) bitmap.at(static_cast<size_t>(at)) = true;
}

void TScriptedVolume::GrowFile(const std::string& path, int64_t lcn, int64_t count) {
  TScriptedNode& node = Node(path);
  const int64_t end = node.runs.empty() ? 0 : node.runs.back().nextVcn;
  node.runs.push_back(TScriptedRun{end + count, lcn});
  TakeClusters(lcn, count);
  const int64_t clusterBytes = int64_t{sectorsPerCluster} * bytesPerSector;
  node.size = std::max(node.size, (end + count) * clusterBytes);
}

THandle TScriptedVolume::FindFirst(const char* pattern, TFindData* entry) {
  // "D:\Sub\*.*" lists D:\Sub; "D:\Data*.*" lists the entries of D:\ whose
  // names begin with Data.
  const std::string text = pattern;
  const size_t cut = text.find_last_of('\\');
  if (cut == std::string::npos || text.compare(text.size() - 3, 3, "*.*") != 0) {
    return InvalidHandle();
  }
  const std::string prefix = text.substr(cut + 1, text.size() - 3 - cut - 1);
  auto folder = nodes.find(Follow(Key(text.substr(0, cut + 1))));
  if (folder == nodes.end() || !folder->second.folder || folder->second.listFails) {
    return InvalidHandle();
  }
  auto* find = new TScriptedFindHandle();
  const bool isRoot = folder->first.size() == 3;
  if (!isRoot && prefix.empty()) {
    find->entries.push_back(TFindData{kAttributeDirectory, "."});
    find->entries.push_back(TFindData{kAttributeDirectory, ".."});
  }
  for (const std::string& childKey : folder->second.children) {
    const TScriptedNode& child = nodes.at(childKey);
    if (!StartsWithNoCase(child.name, prefix)) continue;
    TFindData data = {};
    data.attributes = (child.folder ? kAttributeDirectory : 0) | child.attributes;
    std::snprintf(data.name, sizeof(data.name), "%s", child.name.c_str());
    find->entries.push_back(data);
  }
  if (find->entries.empty()) {
    delete find;
    return InvalidHandle();
  }
  *entry = find->entries[find->next++];
  return find;
}

bool TScriptedVolume::FindNext(THandle handle, TFindData* entry) {
  auto* find = static_cast<TScriptedFindHandle*>(handle);
  if (find->next >= find->entries.size()) return false;
  *entry = find->entries[find->next++];
  return true;
}

void TScriptedVolume::FindEnd(THandle handle) { delete static_cast<THandleObject*>(handle); }

bool TScriptedVolume::VolumeFreeExtents(THandle handle, TFreeSpaceExtents* space) {
  if (!freeSpaceAsExtents || handle == InvalidHandle() ||
      dynamic_cast<TScriptedBitmapHandle*>(static_cast<THandleObject*>(handle)) == nullptr) {
    return false;
  }
  ++freeExtentCalls;
  space->clusterCount = static_cast<int64_t>(bitmap.size());
  space->free.clear();
  for (size_t cluster = 0; cluster < bitmap.size();) {
    const size_t first = cluster;
    while (cluster < bitmap.size() && !bitmap[cluster]) ++cluster;
    if (cluster > first) {
      space->free.emplace_back(static_cast<int64_t>(first), static_cast<int64_t>(cluster - first));
    } else {
      ++cluster;
    }
  }
  return true;
}

THandle TScriptedVolume::OpenForRead(const char* path, bool backupSemantics) {
  ForgetFailure();
  {
    std::lock_guard<std::mutex> guard(openedLock);
    opened.push_back(std::string(path) + (backupSemantics ? "|backup" : "|plain"));
  }
  const std::string volumePath = std::string("\\\\.\\") + letter + ":";
  if (Key(path) == Key(volumePath)) {
    if (volumeOpenFails) return InvalidHandle();
    return new TScriptedBitmapHandle(this, false);
  }
  auto node = nodes.find(Key(path));
  if (node == nodes.end() || node->second.openFails) return InvalidHandle();
  // Like Windows: a folder opens only with backup semantics.
  if (node->second.folder && !backupSemantics) return InvalidHandle();
  return new TScriptedFileHandle(this, node->first, false);
}

THandle TScriptedVolume::OpenVolumeForMoves(char driveLetter) {
  ForgetFailure();
  {
    std::lock_guard<std::mutex> guard(openedLock);
    opened.push_back(std::string("\\\\.\\") + driveLetter + ":|moves");
  }
  if (std::toupper(static_cast<unsigned char>(driveLetter)) !=
      std::toupper(static_cast<unsigned char>(letter))) {
    RecordFailure("The system cannot find the file specified.");
    return InvalidHandle();
  }
  if (moveFaults.volumeOpenDenied) {
    // Windows's words for ERROR_ACCESS_DENIED, with the cure.
    RecordFailure("Access is denied. Run diskopt as administrator.");
    return InvalidHandle();
  }
  auto* handle = new TScriptedBitmapHandle(this, true);
  std::lock_guard<std::mutex> guard(movesLock);
  moveHandles.insert(handle);
  return handle;
}

THandle TScriptedVolume::OpenFileForMoves(THandle volume, const char* path, bool folder) {
  ForgetFailure();
  {
    std::lock_guard<std::mutex> guard(openedLock);
    opened.push_back(std::string(path) + "|moves");
  }
  {
    std::lock_guard<std::mutex> guard(movesLock);
    if (moveHandles.count(volume) == 0) {
      moveFailures[std::this_thread::get_id()] = "The handle is invalid.";
      return InvalidHandle();
    }
  }
  const auto node = nodes.find(Follow(Key(path)));
  if (node == nodes.end()) {
    RecordFailure("The system cannot find the file specified.");
    return InvalidHandle();
  }
  if (node->second.lockedForMoves) {
    RecordFailure(
        "The process cannot access the file because it is being used by another process.");
    return InvalidHandle();
  }
  // Like Windows: a folder opens only with backup semantics, and a file
  // asked for as a folder is not one.
  if (node->second.folder != folder) {
    RecordFailure(folder ? "The directory name is invalid." : "Access is denied.");
    return InvalidHandle();
  }
  auto* handle = new TScriptedFileHandle(this, node->first, true);
  std::lock_guard<std::mutex> guard(movesLock);
  moveHandles.insert(handle);
  return handle;
}

TNtStatus TScriptedVolume::Move(const void* input, uint32_t inputLength, TIoStatusBlock* io) {
  const int call = moveCalls++;
  TMoveFileData ask = {};
  const bool whole = input != nullptr && inputLength >= sizeof(ask);
  if (whole) std::memcpy(&ask, input, sizeof(ask));
  if (moveFaults.beforeMove) moveFaults.beforeMove(call, ask);
  const auto refuse = [io](TNtStatus status) {
    Settle(io, status, 0);
    return status;
  };
  if (moveFaults.notSupported) return refuse(kStatusNotSupported);
  if (call == moveFaults.failAtCall) return refuse(moveFaults.failStatus);
  if (!whole) return refuse(kStatusInvalidParameter);
  {
    std::lock_guard<std::mutex> guard(movesLock);
    if (moveHandles.count(ask.fileHandle) == 0) return refuse(kStatusInvalidHandle);
  }
  const auto* file = static_cast<const THandleObject*>(ask.fileHandle);
  const auto* fileHandle = dynamic_cast<const TScriptedFileHandle*>(file);
  if (fileHandle == nullptr) return refuse(kStatusInvalidHandle);  // a volume's handle
  const auto node = nodes.find(fileHandle->key);
  if (node == nodes.end()) return refuse(kStatusFileDeleted);
  std::vector<TScriptedRun>& runs = node->second.runs;
  const int64_t count = ask.clusterCount;
  const std::vector<int64_t> from = RangeClusters(runs, ask.startingVcn, count);
  const int64_t total = static_cast<int64_t>(bitmap.size());
  if (from.empty() || ask.startingLcn < 0 || ask.startingLcn + count > total) {
    return refuse(kStatusInvalidParameter);
  }
  for (int64_t at = ask.startingLcn; at < ask.startingLcn + count; ++at) {
    if (bitmap[static_cast<size_t>(at)]) return refuse(kStatusAlreadyCommitted);
  }
  runs = MovedRuns(runs, ask.startingVcn, count, ask.startingLcn);
  for (const int64_t lcn : from) bitmap[static_cast<size_t>(lcn)] = false;
  TakeClusters(ask.startingLcn, count);
  Settle(io, kStatusSuccess, 0);
  return kStatusSuccess;
}

std::string TScriptedVolume::LastErrorText() {
  std::lock_guard<std::mutex> guard(movesLock);
  const auto failure = moveFailures.find(std::this_thread::get_id());
  return failure != moveFailures.end() ? failure->second : failureText;
}

void TScriptedVolume::RecordFailure(const std::string& text) {
  std::lock_guard<std::mutex> guard(movesLock);
  moveFailures[std::this_thread::get_id()] = text;
}

void TScriptedVolume::ForgetFailure() {
  std::lock_guard<std::mutex> guard(movesLock);
  moveFailures.erase(std::this_thread::get_id());
}

bool TScriptedVolume::FileSize(THandle file, uint32_t* low, uint32_t* high) {
  return static_cast<THandleObject*>(file)->FileSize(low, high);
}

bool TScriptedVolume::FileIdentity(THandle file, TFileIdentity* identity) {
  return static_cast<THandleObject*>(file)->Identity(identity);
}

void TScriptedVolume::WaitFor(THandle handle) { static_cast<THandleObject*>(handle)->Wait(); }

void TScriptedVolume::Close(THandle handle) {
  if (handle == nullptr || handle == InvalidHandle()) return;
  delete static_cast<THandleObject*>(handle);
}

bool TScriptedVolume::DiskFreeSpaceEx(const char* rootPath) {
  return !geometryFails && Key(rootPath) == Key(std::string(1, letter) + ":\\");
}

bool TScriptedVolume::DiskFreeSpace(const char* rootPath, TDiskGeometry* geometry) {
  if (!DiskFreeSpaceEx(rootPath)) return false;
  const auto used = std::count(bitmap.begin(), bitmap.end(), true);
  geometry->sectorsPerCluster = sectorsPerCluster;
  geometry->bytesPerSector = bytesPerSector;
  geometry->totalClusters = bitmap.size();
  geometry->freeClusters = bitmap.size() - static_cast<size_t>(used);
  return true;
}

namespace {

// Tells apart the new files of every log the scripted volumes write, as the
// platforms' own names do, so drives writing one name at once never share a
// new file.
std::atomic<unsigned> newLogCounter{0};

// A new file open for writing from scratch. On Windows it is shared for
// deletion, as the platform's own new files are, so that a journal can be
// renamed into place while it is still being written; elsewhere an open
// file renames as it is.
FILE* OpenNewFile(const std::string& path) {
#ifdef _WIN32
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_DELETE, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return nullptr;
  // The descriptor owns the handle from here on, the stream the descriptor.
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(file), _O_WRONLY | _O_BINARY);
  if (fd < 0) {
    CloseHandle(file);
    return nullptr;
  }
  FILE* stream = _fdopen(fd, "wb");
  if (stream == nullptr) _close(fd);
  return stream;
#else
  return std::fopen(path.c_str(), "wb");
#endif
}

// A log written to "<name>.<n>.new" and moved over the name with the C
// library's own calls, so the scripted volume behaves the same on every
// platform the tests run on.
class TScriptedLog : public TReplacementFile {
 public:
  // writesFail: the new file is made, but its stream is open for reading
  // only, so every write to it fails, as on a full disk.
  static std::unique_ptr<TScriptedLog> Create(const std::string& path, bool writesFail) {
    const std::string newPath = path + "." + std::to_string(newLogCounter.fetch_add(1)) + ".new";
    FILE* stream = OpenNewFile(newPath);
    if (stream != nullptr && writesFail) {
      std::fclose(stream);
      stream = std::fopen(newPath.c_str(), "rb");
    }
    if (stream == nullptr) return nullptr;
    return std::unique_ptr<TScriptedLog>(new TScriptedLog(stream, path, newPath));
  }
  ~TScriptedLog() override { Discard(); }

 private:
  TScriptedLog(FILE* stream, std::string path, std::string newPath)
      : TReplacementFile(stream), path_(std::move(path)), newPath_(std::move(newPath)) {}
  bool Rename() override {
    // std::rename does not replace an existing file everywhere.
    std::remove(path_.c_str());
    if (std::rename(newPath_.c_str(), path_.c_str()) == 0) return true;
    SetErrno(errno);
    return false;
  }
  void RemoveNew() override { std::remove(newPath_.c_str()); }

  std::string path_;     // the log's name
  std::string newPath_;  // the new file beside it
};

}  // namespace

std::unique_ptr<TReplacementFile> TScriptedVolume::OpenLog(const char* name) {
  if (logDirectory.empty()) return nullptr;
  std::string base = name;
  base = base.substr(base.find_last_of('\\') + 1);
  return TScriptedLog::Create(logDirectory + "/" + base, name == logWritesFail);
}

TNtStatus TScriptedVolume::FsControl(THandle handle, TIoStatusBlock* io, uint32_t code, void* input,
                                     uint32_t inputLength, void* output, uint32_t outputLength) {
  ForgetFailure();
  const TNtStatus status =
      ObjectFsControl(handle, io, code, input, inputLength, output, outputLength);
  // A refused move is told in the words Windows's services give it.
  const std::string words = code == kFsctlMoveFile && status < 0 ? MoveStatusWords(status) : "";
  if (!words.empty()) RecordFailure(words);
  return status;
}

THandle TScriptedVolume::StartThread(TThreadProc proc, void* parameter) {
  auto* handle = new TScriptedThreadHandle(*this);
  handle->thread = std::thread([proc, parameter] { proc(parameter); });
  return handle;
}

void TScriptedVolume::WaitForThreads(const THandle* threads, int count) {
  for (int i = 0; i < count; ++i) static_cast<THandleObject*>(threads[i])->Wait();
}
