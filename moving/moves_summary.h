// What a run of moves did, as lines of text for the user ("\n" line ends):
// printed after the drive's summary, and shown by the window.
#pragma once

#include <string>

#include "drive/move_progress.h"

//   Drive D: defragmentation
//     Made whole:         12 files, 3,400 clusters moved in 14 steps
//     Left as they were:  2 files
//       \big.bin: needs 5,000 clusters; the largest free extent holds 3,320
//     Stopped before the end: run --defragment again to go on
//     Failed: <why>
// or, for the zone layout carried out, in place of "Made whole":
//   Drive D: optimized layout
//     Items moved:        2,421
//     Clusters moved:     19,000 in 150 steps, 1,328 of them parked out of
//                         the way first (1.08 moved for each that had to)
//     Fragmented files:   31 before, 0 after
std::string FormatMovesSummary(char driveLetter, const TMovesDone& done);
