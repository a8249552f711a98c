#include "platform/win32/win32_replacement_file.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <atomic>
#include <utility>

#include "platform/win32/win32_error_text.h"

namespace {

// Tells apart the new files of one process; other processes differ by
// their process ID. A name taken anyway (left by a crash, or planted) is
// skipped: CREATE_NEW refuses it.
std::atomic<unsigned> newFileCounter{0};

constexpr int kNewNameAttempts = 100;

}  // namespace

TWin32ReplacementFile::TWin32ReplacementFile(FILE* stream, std::string newPath, std::string path)
    : TReplacementFile(stream), newPath_(std::move(newPath)), path_(std::move(path)) {}

TWin32ReplacementFile::~TWin32ReplacementFile() { Discard(); }

std::unique_ptr<TWin32ReplacementFile> TWin32ReplacementFile::Create(const char* path) {
  for (int attempt = 0; attempt < kNewNameAttempts; ++attempt) {
    // Beside the name, so the move stays on one volume.
    const std::string newPath = std::string(path) + "." + std::to_string(GetCurrentProcessId()) +
                                "-" + std::to_string(newFileCounter.fetch_add(1)) + ".new";
    // Shared for deletion only, so that a journal can be renamed into place
    // while it is still being written (PutInPlaceNow).
    HANDLE file = CreateFileA(newPath.c_str(), GENERIC_WRITE, FILE_SHARE_DELETE, nullptr,
                              CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
      if (GetLastError() == ERROR_FILE_EXISTS) continue;
      return nullptr;
    }
    // The descriptor owns the handle from here on, the stream the descriptor.
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(file), _O_WRONLY | _O_BINARY);
    if (fd < 0) {
      CloseHandle(file);
      DeleteFileA(newPath.c_str());
      return nullptr;
    }
    FILE* stream = _fdopen(fd, "wb");
    if (stream == nullptr) {
      _close(fd);
      DeleteFileA(newPath.c_str());
      return nullptr;
    }
    return std::unique_ptr<TWin32ReplacementFile>(new TWin32ReplacementFile(stream, newPath, path));
  }
  return nullptr;
}

bool TWin32ReplacementFile::Rename() {
  if (MoveFileExA(newPath_.c_str(), path_.c_str(), MOVEFILE_REPLACE_EXISTING) != 0) return true;
  SetFailure(Win32ErrorText(GetLastError()));
  return false;
}

void TWin32ReplacementFile::RemoveNew() { DeleteFileA(newPath_.c_str()); }
