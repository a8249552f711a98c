// The arithmetic of making a host file whole, apart from the kernel calls
// (host_whole_file.h): which operation a file system offers, how many
// pieces a layout is in, and which reason a file's attributes or a call's
// error give.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/linux/host_fiemap.h"
#include "platform/whole_file_result.h"

// The file system of statfs's f_type when it has an operation that makes a
// file whole: true and *system; false for any other.
bool WholeFileSystemOf(unsigned long magic, TWholeFileSystem* system);

// Physically contiguous pieces of extents (in file order), as the summary
// counts them: an extent that starts where the one before it ends on the
// device continues its piece. Extents with no blocks of their own (inline,
// packed tails) count for nothing; 0 for a file with no blocks.
int64_t PiecesOfExtents(const std::vector<TFiemapExtent>& extents);

// Whether any extent is shared with another file or a snapshot.
bool HasSharedExtents(const std::vector<TFiemapExtent>& extents);

// Whether a file of sizeBytes has stretches without blocks (holes) below its
// last block of blockBytes, which a copy would fill with zeros.
bool HasHoles(const std::vector<TFiemapExtent>& extents, uint64_t sizeBytes, uint64_t blockBytes);

// The reason FS_IOC_GETFLAGS's flags give for never moving a file:
// kImmutable, kAppendOnly, or kNone.
TWholeFileReason ReasonOfAttributes(long flags);

// The reason an errno of the operation on a file gives, where it is one a
// user can act on (no room, a swap file, written meanwhile, not supported);
// kSystemError for anything else.
TWholeFileReason ReasonOfError(int error);

// The identities (st_dev, st_ino) of files, with a set lookup.
using TFileIdentities = std::set<std::pair<dev_t, ino_t>>;

// The paths of the swap files /proc/swaps lists (its text), partitions left
// out; the kernel writes a blank, tab, newline or backslash in a name as
// \040, \011, \012 or \134.
std::vector<std::string> SwapFilePaths(const std::string& procSwaps);
