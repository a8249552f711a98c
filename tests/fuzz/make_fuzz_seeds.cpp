// make_fuzz_seeds <folder>: writes the seed corpus of ntfs_image_fuzz into
// <folder>: small NTFS images made by the image builder, each holding what
// the NTFS service reads in its own way (nested folders, an index of many
// blocks, fragmented, sparse, compressed and resident files, names that
// Windows cannot hold). Small images keep each run of the target short.
#include <cstdio>
#include <string>
#include <vector>

#include "tools/ntfs_image_builder.h"

namespace {

struct TSeed {
  const char* name;
  uint32_t clusterBytes;
  TBuildStatus (*fill)(TNtfsImageBuilder& builder);
};

// Stops at the first step that fails and reports it.
#define STEP(call) \
  if (TBuildStatus status = (call); !status) return status

TBuildStatus Empty(TNtfsImageBuilder&) { return TBuildStatus::Success(); }

TBuildStatus Tree(TNtfsImageBuilder& b) {
  STEP(b.MakeFolder("/Docs"));
  STEP(b.MakeFolder("/Docs/Deep"));
  STEP(b.MakeFolder("/Docs/Deep/Deeper"));
  STEP(b.MakeFile("/Docs/Deep/Deeper/note.txt", TContent::Text(3000, 1)));
  STEP(b.MakeFile("/Docs/small.txt", TContent::Bytes("resident")));
  STEP(b.MakeFile("/Docs/R\xC3\xA9sum\xC3\xA9.txt", TContent::Text(9000, 2)));
  return b.MakeFile("/empty.txt", TContent::Bytes(""));
}

TBuildStatus Runs(TNtfsImageBuilder& b) {
  STEP(b.MakeFragmentedFile("/frag.bin", TContent::Binary(40 * 1024, 3), 7, 2, 0));
  STEP(b.MakeSparseFile("/sparse.bin", TContent::Binary(64 * 1024, 4), 16 * 1024, 16 * 1024));
  STEP(b.MakeFolder("/Comp"));
  STEP(b.SetFolderCompressed("/Comp"));
  return b.MakeFile("/Comp/log.txt", TContent::Text(48 * 1024, 5));
}

TBuildStatus BigFolder(TNtfsImageBuilder& b) {
  STEP(b.MakeFolder("/Big"));
  for (int i = 0; i < 120; ++i) {
    STEP(b.MakeFile("/Big/File number " + std::to_string(i) + ".dat", TContent::Bytes("x")));
  }
  return TBuildStatus::Success();
}

TBuildStatus OddNames(TNtfsImageBuilder& b) {
  STEP(b.MakeFolder("/\\."));
  STEP(b.MakeFolder("/.\\."));
  STEP(b.MakeFolder("/\\.."));
  STEP(b.MakeFile("/a\\b", TContent::Bytes("ab")));
  STEP(b.MakeFile("/line\nbreak", TContent::Bytes("nl")));
  return b.MakeFile("/\\../x:y", TContent::Bytes("colon"));
}

const TSeed kSeeds[] = {
    {"empty-4k", 4096, Empty},     {"empty-512", 512, Empty}, {"tree", 4096, Tree},
    {"runs-512", 512, Runs},       {"runs-4k", 4096, Runs},   {"big-folder", 4096, BigFolder},
    {"odd-names", 4096, OddNames},
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_fuzz_seeds <folder>\n");
    return 2;
  }
  const std::string folder = argv[1];
  int failures = 0;
  for (const TSeed& seed : kSeeds) {
    const std::string image = folder + "/" + seed.name + ".img";
    TNtfsImageBuilder builder;
    TNtfsFormat format;
    // Small enough for quick runs; mkntfs wants a little more than 1 MiB.
    format.imageBytes = 2 << 20;
    format.clusterBytes = seed.clusterBytes;
    TBuildStatus status = builder.Format(image, format);
    if (status) status = seed.fill(builder);
    if (status) status = builder.Finish();
    if (!status) {
      std::fprintf(stderr, "make_fuzz_seeds: %s: %s\n", seed.name, status.message.c_str());
      std::remove(image.c_str());
      ++failures;
    }
  }
  return failures == 0 ? 0 : 1;
}
