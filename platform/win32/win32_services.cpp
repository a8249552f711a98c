#include "platform/win32/win32_services.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>
#include <winternl.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <string>

#include "platform/win32/handle_waits.h"
#include "platform/win32/win32_error_text.h"
#include "platform/win32/win32_replacement_file.h"

// THandle is HANDLE, and the native entry is called with the program's own
// declarations of its types, so they must be the platform's in size and layout.
static_assert(sizeof(THandle) == sizeof(HANDLE), "THandle stands for HANDLE");
static_assert(sizeof(TNtStatus) == sizeof(NTSTATUS), "TNtStatus stands for NTSTATUS");
static_assert(sizeof(TIoStatusBlock) == sizeof(IO_STATUS_BLOCK), "IO_STATUS_BLOCK size");
static_assert(offsetof(TIoStatusBlock, information) == offsetof(IO_STATUS_BLOCK, Information),
              "IO_STATUS_BLOCK Information offset");
static_assert(sizeof(uint32_t) == sizeof(ULONG), "control codes and lengths are ULONG");
static_assert(sizeof(TFindData::name) == sizeof(WIN32_FIND_DATAA::cFileName),
              "a found name fits the entry whole");

namespace {

void CopyFindData(const WIN32_FIND_DATAA& data, TFindData* entry) {
  entry->attributes = data.dwFileAttributes;
  std::memcpy(entry->name, data.cFileName, sizeof entry->name);
}

// A TThreadProc and its parameter, handed to a new thread. TThreadProc has the
// compiler's default calling convention, which on i686 is not the WINAPI one
// that CreateThread calls, hence this record and RunThreadStart in between.
// Allocated by StartThread; owned by the new thread, which frees it first.
struct TThreadStart {
  TThreadProc proc;
  void* parameter;
};

DWORD WINAPI RunThreadStart(LPVOID parameter) {
  const TThreadStart start = *static_cast<TThreadStart*>(parameter);
  delete static_cast<TThreadStart*>(parameter);
  return start.proc(start.parameter);
}

// The last error a refused move request leaves: an application's own code
// (bit 29 set, which no system code has), so no later failure of another
// call is ever taken for it. Windows turns the refusal's status into an error
// code that loses what the status said: STATUS_ALREADY_COMMITTED, a target
// taken meanwhile, becomes ERROR_ACCESS_DENIED, whose cure would be rights.
constexpr DWORD kMoveRefused = 0x20000000u | 0x4D46u;
// The status of this thread's last refused move request; read only while
// the thread's last error is kMoveRefused. Each thread has its own, as it has
// its own last error.
thread_local TNtStatus moveRefusal = kStatusSuccess;

}  // namespace

THandle TWin32Services::FindFirst(const char* pattern, TFindData* entry) {
  WIN32_FIND_DATAA data;
  HANDLE find = FindFirstFileA(pattern, &data);
  if (find != INVALID_HANDLE_VALUE) CopyFindData(data, entry);
  return find;
}

bool TWin32Services::FindNext(THandle find, TFindData* entry) {
  WIN32_FIND_DATAA data;
  if (!FindNextFileA(find, &data)) return false;
  CopyFindData(data, entry);
  return true;
}

void TWin32Services::FindEnd(THandle find) { FindClose(find); }

bool TWin32Services::FileIdentity(THandle file, TFileIdentity* identity) {
  BY_HANDLE_FILE_INFORMATION information;
  if (GetFileInformationByHandle(static_cast<HANDLE>(file), &information) == 0) return false;
  identity->volume = information.dwVolumeSerialNumber;
  identity->file = (uint64_t{information.nFileIndexHigh} << 32) | information.nFileIndexLow;
  return true;
}

bool TWin32Services::FolderIdentity(const char* path, TFileIdentity* identity) {
  // No access asked: the identity needs none, and sharing everything keeps
  // the open from disturbing anybody else.
  HANDLE folder = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (folder == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION information;
  const bool known = GetFileInformationByHandle(folder, &information) != 0;
  CloseHandle(folder);
  if (!known) return false;
  identity->volume = information.dwVolumeSerialNumber;
  identity->file = (uint64_t{information.nFileIndexHigh} << 32) | information.nFileIndexLow;
  return true;
}

THandle TWin32Services::OpenForRead(const char* path, bool backupSemantics) {
  return CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                     backupSemantics ? FILE_FLAG_BACKUP_SEMANTICS : 0, nullptr);
}

THandle TWin32Services::OpenVolumeForMoves(char driveLetter) {
  // A direct (DASD) open of the volume asking for its data: only
  // administrators get one, and the file system moves clusters only for such
  // a privileged open. Writing is asked too, since moves rewrite the volume,
  // so a missing right is told here, before anything starts, with its cure
  // (ERROR_ACCESS_DENIED words it). Shared for reading and writing: the
  // volume stays in use by everyone while files move.
  const char path[] = {'\\', '\\', '.', '\\', driveLetter, ':', '\0'};
  return CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                     nullptr, OPEN_EXISTING, 0, nullptr);
}

THandle TWin32Services::OpenFileForMoves(THandle /*volume*/, const char* path, bool folder) {
  // Reading attributes is all a move asks of the file's handle, and an open
  // for it takes part in no sharing check, so a file that others hold open,
  // even unshared, still opens; everything is shared so that this open
  // disturbs nobody. SYNCHRONIZE lets the handle be waited for. Encrypted
  // files would need data access, which would meet those sharing checks:
  // their moves are refused with a reason instead. The path names its
  // volume, so the volume's handle is not needed to find the file.
  return CreateFileA(path, FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                     folder ? FILE_FLAG_BACKUP_SEMANTICS : 0, nullptr);
}

THandle TWin32Services::OpenForRuns(const char* path) {
  // A file's open for its moves asks no more than reading its size and runs
  // needs, which the file system grants for \$MFT too.
  return OpenFileForMoves(InvalidHandle(), path, false);
}

bool TWin32Services::FileSize(THandle file, uint32_t* low, uint32_t* high) {
  DWORD highPart = 0;
  // A size whose low part is all ones is told from a failure only by the
  // thread's last error, which a successful call need not clear.
  SetLastError(NO_ERROR);
  const DWORD lowPart = GetFileSize(file, &highPart);
  *low = lowPart;
  *high = highPart;
  return lowPart != INVALID_FILE_SIZE || GetLastError() == NO_ERROR;
}

void TWin32Services::WaitFor(THandle handle) { WaitForSingleObject(handle, INFINITE); }

void TWin32Services::Close(THandle handle) { CloseHandle(handle); }

bool TWin32Services::DiskFreeSpaceEx(const char* rootPath) {
  ULARGE_INTEGER freeToCaller, total, totalFree;
  return GetDiskFreeSpaceExA(rootPath, &freeToCaller, &total, &totalFree) != 0;
}

bool TWin32Services::DiskFreeSpace(const char* rootPath, TDiskGeometry* geometry) {
  DWORD sectorsPerCluster, bytesPerSector, freeClusters, totalClusters;
  if (!GetDiskFreeSpaceA(rootPath, &sectorsPerCluster, &bytesPerSector, &freeClusters,
                         &totalClusters)) {
    return false;
  }
  geometry->sectorsPerCluster = sectorsPerCluster;
  geometry->bytesPerSector = bytesPerSector;
  geometry->freeClusters = freeClusters;
  geometry->totalClusters = totalClusters;
  return true;
}

void TWin32Services::DebugOutput(const char* text) { OutputDebugStringA(text); }

std::unique_ptr<TReplacementFile> TWin32Services::OpenLog(const char* name) {
  return TWin32ReplacementFile::Create(name);
}

std::string TWin32Services::TextToUtf8(const char* text) {
  // ANSI code page to UTF-16 to UTF-8; a text that does not convert is
  // kept as it is (the export then escapes what is not UTF-8).
  const int wideLength = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
  if (wideLength <= 0) return text;
  std::wstring wide(static_cast<size_t>(wideLength), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text, -1, &wide[0], wideLength);
  const int length =
      WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, nullptr, 0, nullptr, nullptr);
  if (length <= 0) return text;
  std::string utf8(static_cast<size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, &utf8[0], length, nullptr, nullptr);
  utf8.resize(static_cast<size_t>(length) - 1);  // the terminator
  return utf8;
}

bool TWin32Services::ResolveFsControl() {
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  if (ntdll == nullptr) return false;
  FARPROC entry = GetProcAddress(ntdll, "NtFsControlFile");
  // GetProcAddress gives every export one generic type; converting through
  // void (*)() tells the compiler the real signature is known to be this one.
  ntFsControlFile_ = reinterpret_cast<TNtFsControlFile>(reinterpret_cast<void (*)()>(entry));
  // Turns a failed request's status into the error code that LastErrorText
  // words; optional, every Windows has it.
  FARPROC convert = GetProcAddress(ntdll, "RtlNtStatusToDosError");
  ntStatusToDosError_ =
      reinterpret_cast<TNtStatusToDosError>(reinterpret_cast<void (*)()>(convert));
  return ntFsControlFile_ != nullptr;
}

TNtStatus TWin32Services::FsControl(THandle handle, TIoStatusBlock* io, uint32_t code, void* input,
                                    uint32_t inputLength, void* output, uint32_t outputLength) {
  const TNtStatus status = ntFsControlFile_(handle, nullptr, nullptr, nullptr, io, code, input,
                                            inputLength, output, outputLength);
  // The native call sets no last error: a failure's status is turned into
  // one, so LastErrorText can word it like any other failure.
  const bool failed = status < 0 && status != kStatusBufferOverflow;
  if (failed && code == kFsctlMoveFile) {
    moveRefusal = status;
    SetLastError(kMoveRefused);
  } else if (failed) {
    SetLastError(DosError(status));
  }
  return status;
}

uint32_t TWin32Services::DosError(TNtStatus status) const {
  return ntStatusToDosError_ != nullptr ? ntStatusToDosError_(status) : ERROR_GEN_FAILURE;
}

std::string TWin32Services::LastErrorText() {
  const DWORD error = GetLastError();
  if (error != kMoveRefused) return Win32ErrorText(error);
  return Win32MoveRefusalText(moveRefusal, DosError(moveRefusal));
}

THandle TWin32Services::StartThread(TThreadProc proc, void* parameter) {
  auto* start = new (std::nothrow) TThreadStart{proc, parameter};
  if (start == nullptr) return InvalidHandle();
  HANDLE thread = CreateThread(nullptr, 0, RunThreadStart, start, 0, nullptr);
  if (thread == nullptr) {
    delete start;  // never reached the thread that would have owned it
    return InvalidHandle();
  }
  return thread;
}

void TWin32Services::WaitForThreads(const THandle* threads, int count) {
  WaitForAllHandles(threads, count);
}
