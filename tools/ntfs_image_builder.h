// Builds NTFS volume images through libntfs-3g, with no FUSE mount and no
// root: mkntfs formats an image file, then the builder mounts it itself and
// makes folders and files whose layout tests can rely on (fragmented on
// purpose, sparse, compressed, placed at chosen clusters).
//
// Same inputs, same bytes (with the same mkntfs and libntfs-3g): mkntfs runs
// with its clock faked, which also fixes the volume serial number, and every
// item the builder makes gets one fixed timestamp in its standard
// information, its file name and its parent's index. The image is written
// through the page cache, never synced to disk: scratch images need not
// survive a crash. Nothing of libntfs-3g's own appears in this header.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

// The outcome of one builder step: success, or a sentence that names the
// step, the path and the cause.
struct TBuildStatus {
  bool ok = true;
  std::string message;  // empty on success

  static TBuildStatus Success() { return TBuildStatus{}; }
  static TBuildStatus Failure(std::string why) { return TBuildStatus{false, std::move(why)}; }
  explicit operator bool() const { return ok; }
};

// Fixed hash and tiny generator for everything a build derives from a seed.
// Written out here rather than taken from <random>, whose distributions give
// different numbers with different standard libraries.
class TSplitMix64 {
 public:
  explicit TSplitMix64(uint64_t seed) : state_(seed) {}

  // The SplitMix64 finaliser: a fixed bijection that scatters nearby inputs.
  static uint64_t Mix(uint64_t value);

  uint64_t Next() { return Mix(state_ += 0x9E3779B97F4A7C15ull); }
  // Uniform enough in [0, bound) for bound > 0 (bias below 2^-32 for the
  // bounds used here).
  uint64_t Below(uint64_t bound) { return Next() % bound; }
  // In [low, high], both inclusive.
  uint64_t Between(uint64_t low, uint64_t high) { return low + Below(high - low + 1); }

 private:
  uint64_t state_;
};

// The bytes of a file the builder makes. Generated content depends only on
// (kind, seed, offset), so any part can be produced on its own: the builder
// writes big files in pieces and tests produce what they expect to read.
class TContent {
 public:
  enum class TKind {
    kBytes,   // exactly the given bytes
    kBinary,  // pseudo-random bytes, which do not compress
    kText,    // lines of words from a small vocabulary, which compress well
  };

  static TContent Bytes(std::string bytes);
  static TContent Binary(uint64_t sizeBytes, uint64_t seed);
  static TContent Text(uint64_t sizeBytes, uint64_t seed);

  uint64_t Size() const { return size_; }
  // Writes bytes [offset, offset + length) into out; the range must lie
  // within Size().
  void Fill(uint64_t offset, uint8_t* out, size_t length) const;
  // Bytes [offset, offset + length) as a string (for tests and small files).
  std::string Slice(uint64_t offset, size_t length) const;

 private:
  TContent(TKind kind, uint64_t size, uint64_t seed, std::string bytes);

  TKind kind_;
  uint64_t size_;      // bytes
  uint64_t seed_;      // kBinary and kText only
  std::string bytes_;  // kBytes only
};

// One stretch of a file's data, in file order: `clusters` clusters at
// logical cluster `lcn`, or a hole (a sparse stretch with no clusters) when
// lcn is kHoleLcn.
struct TExtent {
  static constexpr int64_t kHoleLcn = -1;
  int64_t lcn;       // clusters from the volume start, or kHoleLcn
  int64_t clusters;  // > 0
};

struct TNtfsFormat {
  uint64_t imageBytes = 64ull << 20;  // size of the image file; a multiple of 512
  uint32_t clusterBytes = 4096;       // a power of two from 512 to 65536
  std::string label = "diskopt";      // volume label, UTF-8
};

// One image being built, used from one thread. Each step succeeds or says
// why not; a step refused for its arguments (a bad path, a name that exists,
// clusters in use) changes nothing, so a caller may go on.
// Paths inside the volume are UTF-8, '/'-separated and absolute
// ("/Program Files/Résumé.txt"); every parent folder must already exist, and
// the new name must not, compared ignoring case as Windows does.
class TNtfsImageBuilder {
 public:
  TNtfsImageBuilder();
  // Unmounts if Finish was not called; errors then go unreported.
  ~TNtfsImageBuilder();
  TNtfsImageBuilder(const TNtfsImageBuilder&) = delete;
  TNtfsImageBuilder& operator=(const TNtfsImageBuilder&) = delete;

  // Creates (or replaces) imagePath at its full size, formats it with mkntfs
  // and mounts it read-write. mkntfs is looked up on PATH, then in /usr/sbin
  // and /sbin.
  TBuildStatus Format(const std::string& imagePath, const TNtfsFormat& format);

  TBuildStatus MakeFolder(const std::string& path);

  // Marks a folder compressed. Files made in it afterwards have compressed
  // data (in units of 16 clusters, as Windows writes them), which needs
  // clusters of at most 4096 bytes.
  TBuildStatus SetFolderCompressed(const std::string& path);

  // A file holding content, its clusters chosen by libntfs-3g's allocator
  // (small files stay resident in their MFT record).
  TBuildStatus MakeFile(const std::string& path, const TContent& content);

  // A sparse file of content.Size() bytes whose bytes in
  // [holeOffset, holeOffset + holeBytes) are a hole and read as zeros; the
  // rest holds content. Hole bounds are whole clusters, and the hole lies
  // strictly inside the file. Not in a compressed folder.
  TBuildStatus MakeSparseFile(const std::string& path, const TContent& content, uint64_t holeOffset,
                              uint64_t holeBytes);

  // A file whose data runs are exactly `extents`, in order, one mapping pair
  // each: an extent that continues the one before stays a run of its own,
  // as other writers may leave them. The extents' clusters must be free and
  // add up to the clusters content needs (the last one may be partly used);
  // holes make the file sparse and read as zeros. Not in a compressed folder.
  TBuildStatus MakePlacedFile(const std::string& path, const TContent& content,
                              const std::vector<TExtent>& extents);

  // A second name at newPath for the file at existing (a hard link): one
  // file, one MFT record, two names in two folder indexes. Files only.
  TBuildStatus MakeHardLink(const std::string& existing, const std::string& newPath);

  // A file in `fragments` runs of nearly equal length (earlier ones take the
  // remainder), gapClusters free clusters apart, placed in the first free
  // stretch at or after searchFromLcn that holds them all. The runs chosen
  // go to *placed when it is given.
  TBuildStatus MakeFragmentedFile(const std::string& path, const TContent& content,
                                  int64_t fragments, int64_t gapClusters, int64_t searchFromLcn,
                                  std::vector<TExtent>* placed = nullptr);

  // The first run of at least `clusters` free clusters starting at or after
  // fromLcn, by the volume's cluster bitmap; its first cluster goes to *lcn.
  TBuildStatus FindFreeRun(int64_t clusters, int64_t fromLcn, int64_t* lcn) const;

  // Geometry of the mounted volume; 0 when none is mounted.
  int64_t ClusterBytes() const;
  int64_t ClusterCount() const;
  // The first cluster past the zone kept free for the MFT to grow into.
  int64_t MftZoneEnd() const;

  // Unmounts cleanly, writing everything out. Later steps fail until the
  // next Format.
  TBuildStatus Finish();

 private:
  struct TState;
  std::unique_ptr<TState> state_;  // owned; holds the mounted volume, if any
};
