// The one executor of moves: carries out a defragmentation, or the
// volume-aware zone layout, of one volume through the services, step by
// step, each checked by reading the file's runs back. When the volume turns out to differ from what
// the schedule assumed (another program took a target, a file grew or went away), the step fails
// cleanly, the free space is read again and what is left is scheduled anew.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "drive/move_progress.h"
#include "moving/move_journal.h"
#include "moving/move_layout.h"
#include "moving/move_schedule.h"
#include "platform/system_services.h"

// Defragments the volume of layout.driveLetter: opens it for moves, reads
// its free space as it is now, schedules every fragmented file of the
// layout (defragment_schedule.h), proves the schedule on the layout
// (schedule_replay.h), then carries it out. progress is updated as steps
// complete and honoured between them (pause, stop); journal, when open,
// gets a line per step; showFile, when given, is told the path of each file
// as its moves begin; fileMoved, when given, is told each file whose moves
// have ended with at least one step done, with its runs read back after its
// last step (called on the thread that carries out the moves). confirmed,
// when given, is the schedule a question showed the user for this layout:
// the first schedule when the free space read is still the layout's (it is
// moved from then), still proven before the first move.
using TFileMovedCall =
    std::function<void(const TMovableFile& file, const std::vector<TFileRun>& runs)>;
TMovesDone CarryOutDefragment(TSystemServices& services, TMoveLayout layout, TMoveJournal* journal,
                              TMoveProgress& progress,
                              const std::function<void(const std::string&)>& showFile = {},
                              const TFileMovedCall& fileMoved = {},
                              TConfirmedSchedule* confirmed = nullptr);

// Carries out the volume-aware zone layout of layout (LayoutFromPlan: each
// file with its place in layout.places) as CarryOutDefragment carries out a
// defragmentation, scheduled by optimize_schedule.h and proven by
// ReplayOptimize before the first move and after each new schedule. A
// file's steps need not follow one another (it may be parked out of the
// way first and moved to its place later), so each step starts from the
// runs the file's earlier steps left, as read back; a file is done when it
// lies at its place or is left. A stop between steps leaves every file
// whole, maybe parked, where a later run picks it up.
TMovesDone CarryOutOptimize(TSystemServices& services, TMoveLayout layout, TMoveJournal* journal,
                            TMoveProgress& progress,
                            const std::function<void(const std::string&)>& showFile = {},
                            const TFileMovedCall& fileMoved = {},
                            TConfirmedSchedule* confirmed = nullptr);
