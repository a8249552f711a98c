#include "ui/picture_file_name.h"

#include <cctype>
#include <cstdio>
#include <cstring>

namespace {

// The last component of a path named on the command line, without the
// separators after it; empty for a root.
std::string LastComponent(std::string path) {
  while (!path.empty() && (path.back() == '/' || path.back() == '\\')) path.pop_back();
  const size_t separator = path.find_last_of("/\\");
  return separator == std::string::npos ? path : path.substr(separator + 1);
}

}  // namespace

std::string DefaultPictureName(const std::string& driveName, int year, int month, int day,
                               const char* extension) {
  // A drive named by its letter, or by a path.
  const bool letter =
      driveName.size() == 1 && std::isalpha(static_cast<unsigned char>(driveName[0]));
  std::string stem = letter ? "drive-" + driveName : LastComponent(driveName);
  if (stem.empty()) stem = "root";
  char date[40];
  std::snprintf(date, sizeof date, "-%04d-%02d-%02d", year, month, day);
  return stem + date + extension;
}

std::string WithPictureExtension(const std::string& path, const char* extension) {
  const size_t length = std::strlen(extension);
  const std::string last = LastComponent(path);
  if (last.size() > length) {
    bool ends = true;
    for (size_t i = 0; i < length && ends; ++i) {
      ends = std::tolower(static_cast<unsigned char>(last[last.size() - length + i])) ==
             std::tolower(static_cast<unsigned char>(extension[i]));
    }
    if (ends) return path;
  }
  return path + extension;
}
