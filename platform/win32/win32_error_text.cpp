#include "platform/win32/win32_error_text.h"

#include "platform/move_status_words.h"

std::string Win32ErrorText(DWORD error) {
  char* words = nullptr;
  const DWORD length = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, 0, reinterpret_cast<char*>(&words), 0, nullptr);
  std::string text = length > 0 ? std::string(words, length) : "error " + std::to_string(error);
  LocalFree(words);
  // The system's texts end with a line break.
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) {
    text.pop_back();
  }
  if (error == ERROR_ACCESS_DENIED || error == ERROR_PRIVILEGE_NOT_HELD) {
    text += " Run diskopt as administrator.";
  }
  return text;
}

std::string Win32MoveRefusalText(TNtStatus status, DWORD dosError) {
  const std::string words = MoveStatusWords(status);
  return words.empty() ? Win32ErrorText(dosError) : words;
}
