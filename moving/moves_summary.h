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
std::string FormatMovesSummary(char driveLetter, const TMovesDone& done);
