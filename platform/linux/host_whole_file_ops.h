// The kernel's own operations that rewrite a host file in fewer pieces while
// it stays in use, one per file system. Each takes the file open read-write
// (fd, of sizeBytes in blocks of blockBytes, in piecesBefore pieces) and the
// folder where its temporary file is made (an O_PATH descriptor on the same
// file system), and checks the new layout by FIEMAP before and after.
//
// "Kept as it was" means the file's blocks are not exchanged: each
// operation first checks that the space the file system gave the temporary
// file is in fewer pieces than the file. After the exchange the file is read
// again; where it is still not in fewer pieces (another program took the
// space meanwhile), ext4 moves the blocks back, since its operation carries
// the file's current data either way; XFS does not, since a write that
// reached the file after the commit would go back with the old blocks; btrfs
// rewrites only what it finds worth it, and keeps no old blocks to go back to.
#pragma once

#include <cstdint>
#include <string>

#include "platform/whole_file_result.h"

// ext4: EXT4_IOC_MOVE_EXT from a donor file made with O_TMPFILE and
// preallocated with fallocate, which the kernel removes when it is closed
// (even after a crash, as an orphan). The kernel moves the data under the
// file's lock, so writers are neither disturbed nor lost.
TWholeFileResult SwapExt4Blocks(int fd, int folder, uint64_t sizeBytes, uint64_t blockBytes,
                                int64_t piecesBefore, std::string* failure);

// XFS: a copy in an O_TMPFILE file preallocated with fallocate, exchanged
// with the file by XFS_IOC_COMMIT_RANGE (Linux 6.13 and later, on file
// systems made with the exchange feature), else by XFS_IOC_SWAPEXT (the
// superuser only). Both refuse (EBUSY) when the file changed after the copy
// began: such a file is left as it was (kChangedDuringCopy). Neither
// possible: kNotSupported.
TWholeFileResult CommitXfsCopy(int fd, int folder, uint64_t sizeBytes, int64_t piecesBefore,
                               std::string* failure);

// btrfs: BTRFS_IOC_DEFRAG_RANGE over the whole file, written out at once.
// It unshares extents shared with reflinked copies and snapshots.
TWholeFileResult DefragmentBtrfsRange(int fd, int64_t piecesBefore, std::string* failure);
