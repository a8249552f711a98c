// The synthetic tree the planning benchmarks share: 1,000 folders of 999
// files each below the root (1,000,000 items) and two runs per file
// (2,000,000 runs), with gaps between the runs.
#pragma once

#include <cstdlib>
#include <cstring>
#include <string>

#include "model/item.h"

inline char* BenchName(const std::string& text) {
  char* copy = static_cast<char*>(std::malloc(text.size() + 1));
  std::memcpy(copy, text.c_str(), text.size() + 1);
  return copy;
}

// Builds the tree; *endLcn receives the cluster after the last run.
inline TItem* BuildSyntheticTree(int64_t* endLcn = nullptr) {
  static const char* const kExtensions[] = {"txt", "exe", "dll", "mp3", "doc", "zip", "jpg", "iso"};
  TItem* root = NewItem(nullptr, BenchName("D:\\"), 0, kItemFolder);
  int64_t lcn = 0;
  for (int folder = 0; folder < 1000; ++folder) {
    TItem* parent = NewItem(root, BenchName("folder" + std::to_string(folder)), 0, kItemFolder);
    for (int file = 0; file < 999; ++file) {
      const int64_t size = (file % 10 == 0) ? 3000000 : 4096 * (file % 7 + 1);
      TItem* item = NewItem(
          parent, BenchName("file" + std::to_string(file) + "." + kExtensions[file % 8]), size, 0);
      const int64_t clusters = (size + 4095) / 4096;
      const int64_t half = clusters / 2 + 1;
      item->fragments = NewFragment(item, 0, lcn, half);
      item->fragments->next = NewFragment(item, half, lcn + 2 * clusters, clusters - half + 1);
      item->clusters = clusters + 1;
      item->fragmentCount = 2;
      lcn += 3 * clusters;
    }
  }
  if (endLcn != nullptr) *endLcn = lcn;
  return root;
}
