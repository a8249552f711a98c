// The fixed metadata of an ext volume's block groups, as stretches of
// blocks: each group's block and inode bitmaps and inode table (flex_bg
// packs a flex group's into its first group), and the superblock and
// descriptor copies a group holds. A group whose descriptor counts every
// block free but those needs no bitmap read: its free space is the group
// less the metadata in it. On a nearly full volume in flex groups that is
// every flex group's first group, half of all the groups that hold free
// blocks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

struct struct_ext2_filsys;

// A stretch of blocks: first block, blocks.
using TBlockStretch = std::pair<int64_t, int64_t>;

// Metadata stretches as the descriptors give them, each joined to the one
// before of its kind where it goes on from it: flex_bg lays a flex group's
// block bitmaps side by side, and its inode bitmaps and its inode tables
// each, so sixteen groups give three stretches, not forty-eight.
class TMetadataStretches {
 public:
  enum TKind { kBlockBitmap, kInodeBitmap, kInodeTable, kSuperAndDescriptors, kKinds };

  void Add(TKind kind, int64_t first, int64_t blocks);
  // The superblock and descriptor copies group holds (none in most groups):
  // the superblock, the descriptor table and the blocks kept for it to
  // grow into, or with meta_bg its own group's descriptor block.
  void AddSuperAndDescriptors(struct_ext2_filsys* fs, uint32_t group);
  // Every stretch added, ascending by first block, some side by side or
  // overlapping; leaves none. Each kind's stretches mostly come in order
  // already (descriptors list groups in the order they lie), so they are
  // merged, not sorted together.
  std::vector<TBlockStretch> Take();

 private:
  TBlockStretch open_[kKinds] = {};
  std::vector<TBlockStretch> closed_[kKinds];
};

// How many blocks the superblock and descriptor copies of group take.
int64_t SuperAndDescriptorBlocks(struct_ext2_filsys* fs, uint32_t group);

// The stretches of a and b (each ascending by first block) in ascending
// order, those that overlap or go on from one another joined.
std::vector<TBlockStretch> Joined(const std::vector<TBlockStretch>& a,
                                  const std::vector<TBlockStretch>& b);

// The blocks of metadata (as Joined gives it) within [first, first +
// blocks). *at is the caller's, kept across calls whose first ascends (0
// to begin): the first stretch that may reach that far.
int64_t BlocksWithin(const std::vector<TBlockStretch>& metadata, int64_t first, int64_t blocks,
                     size_t* at);

// free (ascending, apart) less the blocks of metadata (as Joined gives it).
std::vector<TBlockStretch> Less(const std::vector<TBlockStretch>& free,
                                const std::vector<TBlockStretch>& metadata);
