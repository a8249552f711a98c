// The demo's sample NTFS volume: a Windows-like tree of a few thousand items
// (system files, programs, documents, media, archives, deep project
// folders) with every layout the analyser must handle: a sparse file, a
// compressed folder, files fragmented on purpose, one file of more than
// 1,023 runs, names beyond ASCII and folders large enough for an index
// allocation. Sizes and contents follow the seed; the items listed below are
// there for every seed, with the layout described.
#pragma once

#include <cstdint>
#include <string>

#include "tools/ntfs_image_builder.h"

// Image size and cluster size of every sample volume.
constexpr uint64_t kSampleImageBytes = 128ull << 20;
constexpr uint32_t kSampleClusterBytes = 4096;

// Items present whatever the seed.
// Sparse: data, a hole, data.
constexpr const char* kSampleSparseFile = "/ProgramData/Search/Windows.edb";
// A compressed folder; every file in it is compressed and over 64 KiB.
constexpr const char* kSampleCompressedFolder = "/Windows/Logs";
// Fragmented on purpose into kSampleFragmentedRuns runs each.
constexpr const char* kSampleFragmentedFiles[] = {
    "/Users/alice/Videos/Holiday 2023.avi",
    "/Windows/System32/config/SOFTWARE",
    "/Users/alice/Documents/Thesis.doc",
};
constexpr int64_t kSampleFragmentedRuns[] = {12, 30, 3};
// More runs than one MFT record can map: kSampleManyRuns runs.
constexpr const char* kSampleManyRunsFile = "/Users/alice/Downloads/partial.torrent.bin";
constexpr int64_t kSampleManyRuns = 1200;
// Names beyond ASCII.
constexpr const char* kSampleNonAsciiNames[] = {
    "/Users/alice/Documents/Résumé.txt",
    "/Users/alice/Documents/日本語.doc",
    "/Users/alice/Music/Café del Mar.mp3",
    "/Users/bob/Документы/Отчёт.doc",
};
// Over 2,000,000 bytes and contiguous.
constexpr const char* kSampleLargeFiles[] = {
    "/Users/alice/Downloads/debian-12.4.0-amd64-netinst.iso",
    "/Users/bob/Backups/backup-2023-12.bin",
    "/pagefile.sys",
};
// Large enough for an index allocation.
constexpr const char* kSampleLargeFolder = "/Windows/System32";

struct TSampleSummary {
  int64_t folders = 0;     // made by the build, the root not counted
  int64_t files = 0;       // made by the build
  uint64_t dataBytes = 0;  // sum of the files' sizes
};

// Builds the sample volume into imagePath (replacing it). The same seed
// gives the same image bytes.
TBuildStatus BuildSampleVolume(const std::string& imagePath, uint64_t seed,
                               TSampleSummary* summary);
