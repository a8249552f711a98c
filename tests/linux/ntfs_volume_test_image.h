// The NTFS image the NTFS volume tests read, and the small helpers they
// share: services with the image as a drive, the analysis stages run over
// it, and the items of the tree they leave.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "drive/drive_optimizer.h"
#include "platform/linux/linux_services.h"
#include "tests/linux/ntfs_tool_output.h"
#include "tools/ntfs_image_builder.h"

constexpr int64_t kTestClusterBytes = 4096;

// A name of 200 two-byte characters: 400 bytes of UTF-8, more than a path
// buffer holds, so the listings leave it out.
std::string TooLongName();

// Built once per test process, in a scratch folder removed at exit:
//   /Docs, /Docs/Ünïcode 文件夹 (with inner.txt), /Docs/Résumé.txt (with
//   the short name RESUME~1.TXT too), /Docs/日本語.doc, /Docs/small.txt
//   (resident)
//   /empty.txt, /Comp (compressed, with log.txt), /sparse.bin (a hole),
//   /frag.bin (7 runs), /placed.bin (a hole between placed runs),
//   /adjacent.bin (two runs that continue each other), /many.bin (1,100
//   runs over several MFT records), /Big (200 files of mixed-case names,
//   several index blocks), and TooLongName() in the root.
struct TNtfsTestImage {
  std::string path;  // the image file
  TBuildStatus built;
  std::vector<TExtent> fragmented;    // the runs of /frag.bin
  std::vector<std::string> bigNames;  // the names made in /Big, in making order
};
const TNtfsTestImage& SharedNtfsTestImage();

// Services over a drive table with C: at logFolder and `letter` at image.
std::unique_ptr<TLinuxServices> ServicesWithDrive(const std::string& logFolder, char letter,
                                                  const std::string& image);

// The analysis stages as the pipeline runs them, each only when the one
// before left what it needs: directory scan, free-space map, fragment
// retrieval.
void RunAnalysisStages(TDriveOptimizer& drive);

// Every item of a tree by its path inside the volume ("/" for the root,
// "/Docs/small.txt" below it).
std::map<std::string, const TItem*> ItemsByPath(const TItem* root);

// Every path below the root that `ntfsls -R` lists ("/Docs/small.txt"),
// "." and ".." left out.
std::vector<std::string> ListedPaths(const std::string& image);

// An item's runs, from its fragments.
std::vector<TToolRun> Fragments(const TItem* item);

// Copies a file byte for byte; false when it cannot.
bool CopyFile(const std::string& from, const std::string& to);
