// Defragmenting a folder whose file system places a file's data itself
// (Linux ext4, XFS, btrfs), where no target can be chosen: each fragmented
// file of the layout is handed to the file system's own atomic operation
// through the services (MakeFileWhole), one file after another, with the
// same progress, pause and stop, journal and summary as moves to chosen
// clusters.
#pragma once

#include <functional>
#include <string>

#include "drive/move_progress.h"
#include "moving/move_executor.h"
#include "moving/move_journal.h"
#include "moving/move_layout.h"
#include "platform/system_services.h"

// Whether the drive's moves are made by its file system's own whole-file
// operation (a Linux folder) rather than to chosen clusters.
bool MovesWholeFiles(TSystemServices& services, char driveLetter);

// Makes every movable file of layout whole: opens its drive's folder for
// that (refused, with the reason as the failure, on other file systems),
// then handles the files in layout order. Pause holds and Stop ends between
// files. journal, when open, gets one line per file tried (path, "$DATA",
// 0, its clusters, where they lay, the first cluster they lie at now,
// "moved", "left: <why>" or "failed: <why>"); a file the operation could not
// handle for a reason of its own is left, a failed kernel call is the run's
// failure. showFile and fileMoved as CarryOutDefragment's.
TMovesDone CarryOutWholeFiles(TSystemServices& services, TMoveLayout layout,
                              const TWholeFileOptions& options, TMoveJournal* journal,
                              TMoveProgress& progress,
                              const std::function<void(const std::string&)>& showFile = {},
                              const TFileMovedCall& fileMoved = {});
