#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "tests/support/host_services.h"

namespace fs = std::filesystem;

THostFolder::THostFolder() {
  std::random_device random;
  const fs::path folder = fs::temp_directory_path() / ("diskopt-test-" + std::to_string(random()) +
                                                       "-" + std::to_string(random()));
  fs::create_directories(folder);
  path = folder.string();
  const char separator = static_cast<char>(fs::path::preferred_separator);
  if (path.back() != separator) path += separator;
}

THostFolder::~THostFolder() {
  std::error_code ignored;
  fs::remove_all(fs::path(path), ignored);
}

void THostFolder::MakeFolder(const std::string& relative) const {
  fs::create_directories(fs::path(path) / fs::path(relative));
}

void THostFolder::MakeFile(const std::string& relative, size_t size) const {
  std::ofstream file(fs::path(path) / fs::path(relative), std::ios::binary);
  const std::string bytes(size, 'x');
  file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

bool THostFolder::MakeFolderLink(const std::string& relative, const std::string& target) const {
  std::error_code error;
  fs::create_directory_symlink(fs::path(target), fs::path(path) / fs::path(relative), error);
  return !error;
}
