// The log of moves, DirList_Moves.log: one line per item the volume-aware
// plan moves, in the listing's order:
//   path TAB clusters TAB "from" runs TAB "to" runs CR LF
// path as the tree listing writes it, clusters the item's allocated
// clusters, each run " lcn:length": from where the allocated clusters lie
// now (physically contiguous runs joined), to their target.
#pragma once

#include "model/item.h"
#include "planning/volume_plan.h"
#include "platform/log_file.h"

constexpr const char* kMovesLogName = "C:\\DirList_Moves.log";

void WriteMovesLog(TLogFile& log, const TItem* root, const TVolumePlan& plan);
