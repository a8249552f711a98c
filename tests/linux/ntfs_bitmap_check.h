// An NTFS image checked by a reader of its own, apart from the services:
// every MFT record in use is read with libntfs-3g's low-level calls, every
// non-resident attribute's mapping pairs decoded (base and extension
// records, attribute lists, metafiles alike), and the clusters they hold
// compared with each other and with the cluster bitmap ($Bitmap). And the
// bytes of every file's streams, hashed through libntfs-3g, to compare a
// volume before and after its clusters moved.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

struct TBitmapCheck {
  std::string error;                  // why the image could not be checked; empty when it was
  int64_t sharedClusters = 0;         // clusters held by two attributes or more
  int64_t heldButFree = 0;            // clusters some attribute holds, free in $Bitmap
  int64_t usedButUnheld = 0;          // clusters used in $Bitmap that nothing holds
  std::vector<std::string> examples;  // the first faults found, in words

  // Whether no cluster is held twice or held but free; clusters used that
  // nothing holds are allowed (an interrupted move leaves them).
  bool Sound() const { return error.empty() && sharedClusters == 0 && heldButFree == 0; }
  // Everything found, in words, for a test's failure message.
  std::string Text() const;
};

// Checks the image file at image, mounted read-only.
TBitmapCheck CheckClusterBitmap(const std::string& image);

// A hash of the bytes of every stream of every file reached from the
// root, by "path" for the unnamed data stream and "path:name" for a named
// one (paths '/'-separated, long names; each name of a hard-linked file
// once). Empty when the image does not mount.
std::map<std::string, uint64_t> HashStreams(const std::string& image);
