#include "platform/log_file.h"

#include <cerrno>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <utility>

namespace {

// Locks by log name. Entries are added under registryLock and never removed,
// so a mutex reference stays valid for the life of the process.
std::mutex registryLock;
std::map<std::string, std::unique_ptr<std::mutex>>& Registry() {
  static auto* registry = new std::map<std::string, std::unique_ptr<std::mutex>>();
  return *registry;
}

std::mutex& LockFor(const char* name) {
  char key[kMaxPath * 2];
  LogLockKey(name, key, sizeof(key));
  std::lock_guard<std::mutex> guard(registryLock);
  std::unique_ptr<std::mutex>& slot = Registry()[key];
  if (!slot) slot = std::make_unique<std::mutex>();
  return *slot;
}

}  // namespace

void LogLockKey(const char* name, char* key, size_t keySize) {
  size_t i = 0;
  for (; name[i] != '\0' && i + 1 < keySize; ++i) {
    char c = name[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c == '/') c = '\\';
    key[i] = c;
  }
  key[i] = '\0';
}

TLogFile::TLogFile(TSystemServices& services, const char* name, TOutputSet& outputSet)
    : guard(LockFor(name)),
      what(std::string("the log ") + name),
      output(outputSet),
      replacement(services.OpenLog(name)) {
  if (replacement == nullptr) {
    output.AddFailure(what, services.LastErrorText());
    return;
  }
  writer = std::make_unique<TBackgroundWriter>(replacement->Stream());
}

TLogFile::~TLogFile() { Close(); }

bool TLogFile::Close() {
  if (writer == nullptr) return false;
  writer->Finish();
  const int writeError = formatError != 0 ? formatError : writer->Error();
  writer.reset();
  const bool sealed = replacement->Seal(writeError);
  output.Add(what, std::move(replacement));
  return sealed;
}

void TLogFile::Write(const char* text) {
  if (writer == nullptr) return;
  for (const char* line = text;;) {
    const char* end = std::strchr(line, '\n');
    if (end == nullptr) {
      writer->Append(line, std::strlen(line));
      return;
    }
    writer->Append(line, static_cast<size_t>(end - line));
    writer->Append("\r\n", 2);
    line = end + 1;
  }
}

void TLogFile::WriteBytes(const char* bytes, size_t length) {
  if (writer != nullptr) writer->Append(bytes, length);
}

void TLogFile::Print(const char* format, ...) {
  if (writer == nullptr) return;
  char buffer[1024];
  va_list arguments;
  va_start(arguments, format);
  const int length = std::vsnprintf(buffer, sizeof(buffer), format, arguments);
  va_end(arguments);
  if (length < 0) {
    if (formatError == 0) formatError = errno != 0 ? errno : EINVAL;
    return;
  }
  if (static_cast<size_t>(length) < sizeof(buffer)) {
    Write(buffer);
    return;
  }
  // Longer than the stack buffer: widths grow and nothing is cut.
  std::string text(static_cast<size_t>(length) + 1, '\0');
  va_start(arguments, format);
  std::vsnprintf(&text[0], text.size(), format, arguments);
  va_end(arguments);
  Write(text.c_str());
}
