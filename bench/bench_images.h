// The NTFS images of the whole-process measurements, made through the image
// builder: a volume of 1,000,000 items, and a copy of a host folder's tree.
#pragma once

#include <cstdint>
#include <string>

#include "tools/ntfs_image_builder.h"

// What an image holds.
struct TBenchImageCounts {
  int64_t folders = 0;
  int64_t files = 0;
  int64_t skipped = 0;  // host entries the builder refused or that are no folder or file
  uint64_t dataBytes = 0;
};

// 1,000,000 items: 100 areas of 100 leaf folders (10,100 folders) holding
// 989,900 files, four in five small enough to stay in their MFT record, the
// others one or two clusters. Replaces image.
TBuildStatus MakeMillionItemImage(const std::string& image, TBenchImageCounts* counts);

// The folders and regular files below folder, with their sizes (the bytes
// are generated, not copied); links and special files are left out, and so
// are names NTFS refuses. Replaces image.
TBuildStatus MakeHostTreeImage(const std::string& folder, const std::string& image,
                               TBenchImageCounts* counts);

// The million-item image kept in cacheFolder, made first when it is not
// there (which takes minutes); empty when it cannot be made.
std::string CachedMillionItemImage(const std::string& cacheFolder);
