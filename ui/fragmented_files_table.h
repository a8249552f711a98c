// The most fragmented files as a table a window shows and sorts: path, size
// and fragments of each, with the item itself, so a row can select the file
// on the map. Free of any window system; either shell binds it to its own
// table.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "drive/user_paths.h"
#include "model/item.h"

struct TFragmentedFileRow {
  const TItem* item;  // the file; not owned, the drive's tree outlives the table
  std::string path;   // its path as the user knows it: "D:\docs\a.txt"
  int64_t bytes;      // its size
  int64_t fragments;  // its physically contiguous pieces, more than 1
  int64_t order;      // its place in the tree's pre-order (the listing's), for ties
};

// How many rows a table holds at most: the files a user can look through.
constexpr size_t kFragmentedFilesListed = 500;

// The files of root's tree (may be none) in more than one piece, the most
// pieces first and ties in listing order, at most limit of them, each named
// as paths say.
std::vector<TFragmentedFileRow> MostFragmentedFiles(const TItem* root, const TUserPaths& paths,
                                                    size_t limit);

enum class TFragmentedFilesColumn { kPath, kSize, kFragments };

// Orders rows by column, ascending or descending; rows that tie keep their
// order (the most fragmented first, then the listing's). Paths compare
// without regard to ASCII case, as the volume looks names up.
void SortFragmentedFiles(std::vector<TFragmentedFileRow>* rows, TFragmentedFilesColumn column,
                         bool ascending);
