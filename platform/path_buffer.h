// Paths are composed in buffers of kMaxPath characters, one per level of a
// recursive walk. An entry whose path would not fit is skipped by every walk
// alike, so the scan, the -m counts and the listings agree on one tree.
#pragma once

#include <cstddef>
#include <cstring>

#include "platform/system_services.h"

// Whether an entry of a folder whose path (ending with a separator) has
// pathLength characters fits: a file's full path with its terminator, or a
// folder's path, separator, the "*.*" pattern and terminator.
inline bool EntryFitsPathBuffer(size_t pathLength, size_t nameLength, bool folder) {
  const size_t needed = pathLength + nameLength + (folder ? 1 + 3 : 0) + 1;
  return needed <= static_cast<size_t>(kMaxPath);
}

// Whether name is "." or "..", the entries of a folder that stand for itself
// and its parent.
inline bool IsDotEntry(const char* name) {
  return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

// Composes the listing pattern of a folder, its path (ending with a
// separator) followed by "*.*", in buffer; returns the path's length, or -1
// when the pattern does not fit and the folder cannot be listed.
inline long ComposeListingPattern(const char* path, char (&buffer)[kMaxPath]) {
  static const char kPattern[] = "*.*";
  const size_t pathLength = std::strlen(path);
  if (pathLength + sizeof(kPattern) > sizeof(buffer)) return -1;
  std::memcpy(buffer, path, pathLength);
  std::memcpy(buffer + pathLength, kPattern, sizeof(kPattern));
  return static_cast<long>(pathLength);
}

// Replaces the pattern after a folder's path with a subfolder's name and a
// separator, giving the subfolder's path; EntryFitsPathBuffer has said it fits.
inline void ComposeSubfolderPath(char (&buffer)[kMaxPath], size_t pathLength, const char* name,
                                 size_t nameLength) {
  std::memcpy(buffer + pathLength, name, nameLength);
  buffer[pathLength + nameLength] = '\\';
  buffer[pathLength + nameLength + 1] = '\0';
}
