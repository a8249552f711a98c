// Reading a file whole, for log comparisons.
#pragma once

#include <fstream>
#include <iterator>
#include <string>

inline std::string FileBytes(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

inline bool FileExists(const std::string& path) { return std::ifstream(path).good(); }
