#include "platform/linux/host_ext_metadata.h"

#include <ext2fs/ext2fs.h>

#include <algorithm>

void TMetadataStretches::Add(TKind kind, int64_t first, int64_t blocks) {
  if (blocks <= 0) return;
  TBlockStretch& open = open_[kind];
  if (open.second > 0 && open.first + open.second == first) {
    open.second += blocks;
    return;
  }
  if (open.second > 0) closed_[kind].push_back(open);
  open = TBlockStretch(first, blocks);
}

void TMetadataStretches::AddSuperAndDescriptors(ext2_filsys fs, uint32_t group) {
  blk64_t super = 0;
  blk64_t oldDescriptors = 0;
  blk64_t newDescriptor = 0;
  ext2fs_super_and_bgd_loc2(fs, group, &super, &oldDescriptors, &newDescriptor, nullptr);
  // The descriptor table's copies count the blocks kept for it to grow into;
  // with meta_bg only the groups before the first meta group keep a table.
  const int64_t oldBlocks =
      ext2fs_has_feature_meta_bg(fs->super)
          ? int64_t{fs->super->s_first_meta_bg}
          : static_cast<int64_t>(fs->desc_blocks) + int64_t{fs->super->s_reserved_gdt_blocks};
  // Group 0's superblock counts even where it lies at block 0.
  if (super != 0 || group == 0) Add(kSuperAndDescriptors, static_cast<int64_t>(super), 1);
  if (oldDescriptors != 0) {
    const int64_t end = static_cast<int64_t>(ext2fs_blocks_count(fs->super));
    const int64_t first = static_cast<int64_t>(oldDescriptors);
    Add(kSuperAndDescriptors, first, std::min(oldBlocks, end - first));
  }
  if (newDescriptor != 0) Add(kSuperAndDescriptors, static_cast<int64_t>(newDescriptor), 1);
}

int64_t SuperAndDescriptorBlocks(ext2_filsys fs, uint32_t group) {
  blk_t used = 0;
  ext2fs_super_and_bgd_loc2(fs, group, nullptr, nullptr, nullptr, &used);
  return int64_t{used};
}

std::vector<TBlockStretch> TMetadataStretches::Take() {
  std::vector<TBlockStretch> all;
  for (int kind = 0; kind < kKinds; ++kind) {
    std::vector<TBlockStretch>& stretches = closed_[kind];
    if (open_[kind].second > 0) stretches.push_back(open_[kind]);
    open_[kind] = TBlockStretch();
    if (!std::is_sorted(stretches.begin(), stretches.end())) {
      std::sort(stretches.begin(), stretches.end());
    }
    const size_t before = all.size();
    all.insert(all.end(), stretches.begin(), stretches.end());
    std::inplace_merge(all.begin(), all.begin() + static_cast<std::ptrdiff_t>(before), all.end());
    stretches = std::vector<TBlockStretch>();
  }
  return all;
}

std::vector<TBlockStretch> Joined(const std::vector<TBlockStretch>& a,
                                  const std::vector<TBlockStretch>& b) {
  std::vector<TBlockStretch> joined;
  const auto join = [&joined](const TBlockStretch& stretch) {
    const auto [first, blocks] = stretch;
    if (!joined.empty() && first <= joined.back().first + joined.back().second) {
      joined.back().second = std::max(joined.back().second, first + blocks - joined.back().first);
    } else {
      joined.push_back(stretch);
    }
  };
  size_t i = 0;
  size_t j = 0;
  while (i < a.size() || j < b.size()) {
    join(j == b.size() || (i < a.size() && a[i] < b[j]) ? a[i++] : b[j++]);
  }
  return joined;
}

int64_t BlocksWithin(const std::vector<TBlockStretch>& metadata, int64_t first, int64_t blocks,
                     size_t* at) {
  const int64_t end = first + blocks;
  while (*at < metadata.size() && metadata[*at].first + metadata[*at].second <= first) ++*at;
  int64_t within = 0;
  for (size_t i = *at; i < metadata.size() && metadata[i].first < end; ++i) {
    within +=
        std::min(end, metadata[i].first + metadata[i].second) - std::max(first, metadata[i].first);
  }
  return within;
}

std::vector<TBlockStretch> Less(const std::vector<TBlockStretch>& free,
                                const std::vector<TBlockStretch>& metadata) {
  std::vector<TBlockStretch> kept;
  size_t at = 0;
  for (const auto& [first, blocks] : free) {
    int64_t from = first;
    const int64_t end = first + blocks;
    while (at < metadata.size() && metadata[at].first + metadata[at].second <= from) ++at;
    for (size_t i = at; i < metadata.size() && metadata[i].first < end; ++i) {
      if (metadata[i].first > from) kept.emplace_back(from, metadata[i].first - from);
      from = std::max(from, metadata[i].first + metadata[i].second);
    }
    if (from < end) kept.emplace_back(from, end - from);
  }
  return kept;
}
