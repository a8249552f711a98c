// The platform's published request and reply layouts and status codes of the
// two file-system control requests, declared alike on every platform so the
// stages decode replies the same way everywhere. Fields are aligned
// explicitly: i386 SysV would otherwise put a 64-bit field after a 32-bit one
// at offset 4, where Windows puts it at 8.
#pragma once

#include <cstddef>
#include <cstdint>

using TNtStatus = int32_t;

constexpr TNtStatus kStatusSuccess = 0;
constexpr TNtStatus kStatusPending = 259;
constexpr TNtStatus kStatusBufferOverflow = static_cast<TNtStatus>(0x80000005u);
constexpr TNtStatus kStatusEndOfFile = static_cast<TNtStatus>(0xC0000011u);
constexpr TNtStatus kStatusInvalidParameter = static_cast<TNtStatus>(0xC000000Du);
constexpr TNtStatus kStatusNotSupported = static_cast<TNtStatus>(0xC00000BBu);
constexpr TNtStatus kStatusInvalidHandle = static_cast<TNtStatus>(0xC0000008u);
// The file system's own word that a file's or the volume's structures are
// damaged.
constexpr TNtStatus kStatusFileCorruptError = static_cast<TNtStatus>(0xC0000102u);
constexpr TNtStatus kStatusDiskCorruptError = static_cast<TNtStatus>(0xC0000032u);

// The target clusters of a move are not free (Windows turns it into
// ERROR_ACCESS_DENIED), and the right to open a volume for moves is missing.
constexpr TNtStatus kStatusAlreadyCommitted = static_cast<TNtStatus>(0xC0000021u);
constexpr TNtStatus kStatusAccessDenied = static_cast<TNtStatus>(0xC0000022u);
// A request other than close on a file deleted while it was open.
constexpr TNtStatus kStatusFileDeleted = static_cast<TNtStatus>(0xC0000123u);

constexpr uint32_t kFsctlGetVolumeBitmap = 0x9006F;
constexpr uint32_t kFsctlGetRetrievalPointers = 0x90073;
// Moves ClusterCount clusters of a file's stream from StartingVcn to the
// volume's clusters from StartingLcn; issued on the volume's handle.
constexpr uint32_t kFsctlMoveFile = 0x90074;

// Completion record of a control request, laid out as the platform's
// IO_STATUS_BLOCK (a status or pointer, then a pointer-sized count).
struct TIoStatusBlock {
  union {
    TNtStatus status;
    void* pointer;
  };
  uintptr_t information;
};

struct alignas(8) TStartingLcnInput {
  int64_t startingLcn;
};

struct alignas(8) TStartingVcnInput {
  int64_t startingVcn;
};

// VOLUME_BITMAP_BUFFER: StartingLcn at 0, BitmapSize at 8, bitmap at 16.
struct alignas(8) TVolumeBitmapHeader {
  int64_t startingLcn;
  int64_t bitmapSize;  // clusters from startingLcn to the volume end
};
static_assert(sizeof(TVolumeBitmapHeader) == 16, "bitmap bytes start at 16");

// RETRIEVAL_POINTERS_BUFFER: ExtentCount at 0, padding, StartingVcn at 8,
// extents of {NextVcn, Lcn} at 16.
struct alignas(8) TRetrievalExtent {
  int64_t nextVcn;
  int64_t lcn;
};

struct alignas(8) TRetrievalPointersHeader {
  uint32_t extentCount;
  uint32_t padding;
  int64_t startingVcn;
};
static_assert(sizeof(TRetrievalPointersHeader) == 16, "extents start at 16");
static_assert(offsetof(TRetrievalPointersHeader, startingVcn) == 8, "StartingVcn at 8");

// MOVE_FILE_DATA: the file's handle at 0, StartingVcn at 8, StartingLcn at
// 16, ClusterCount at 24, on 32-bit and 64-bit Windows alike.
struct alignas(8) TMoveFileData {
  void* fileHandle;
  alignas(8) int64_t startingVcn;
  alignas(8) int64_t startingLcn;
  uint32_t clusterCount;
};
static_assert(offsetof(TMoveFileData, startingVcn) == 8, "StartingVcn at 8");
static_assert(offsetof(TMoveFileData, startingLcn) == 16, "StartingLcn at 16");
static_assert(offsetof(TMoveFileData, clusterCount) == 24, "ClusterCount at 24");
