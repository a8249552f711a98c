// How the volume's file table (the MFT) lies: its size and the physically
// contiguous pieces it forms. The table grows in pieces as files are added,
// and every lookup of a file crosses them, so administrators' reports give
// both; moves never touch it.
#pragma once

#include <cstdint>

class TDriveOptimizer;

struct TMftLayout {
  int64_t bytes = -1;      // the $MFT's data size; -1 where it cannot be read
  int64_t fragments = -1;  // its physically contiguous pieces; -1 likewise
};

// Opens \$MFT of the drive's volume for its size and runs, reply by reply as
// any item's; both -1 where the drive is no NTFS volume or the services
// refuse (a folder of a Linux file system, a volume without the right to
// open its metafiles). Opens nothing for writing.
TMftLayout MftLayoutOfDrive(TDriveOptimizer& drive);
