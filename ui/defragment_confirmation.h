// What the drive window says before it moves anything: the files and
// clusters a defragmentation will move and the files it will leave, and why,
// as the text of a Yes/No question; or, where nothing would move, the words
// that say so, shown without a question.
#pragma once

#include <cstddef>
#include <string>

#include "drive/move_progress.h"
#include "moving/move_layout.h"
#include "moving/move_schedule.h"
#include "moving/optimize_schedule.h"

struct TDefragmentConfirmation {
  std::string text;  // "\n" line ends
  bool ask;          // a Yes/No question; false: a message, and nothing moves
};

constexpr const char* kDefragmentCaption = "Defragment";
constexpr const char* kOptimizeCaption = "Optimize layout";
// The caption of the question and messages for moves of kind.
constexpr const char* CaptionFor(TMovesKind kind) {
  return kind == TMovesKind::kOptimize ? kOptimizeCaption : kDefragmentCaption;
}
// The message after a Yes when no thread could be started for the moves.
constexpr const char* kMovesNotStartedText =
    "Nothing was moved: no thread could be started for the moves.";
// The drive's detail while the question is worked out, for
// "Defragment..." and for "Optimize layout...".
constexpr const char* kWorkingOutText = "Working out which files to move...";
constexpr const char* kWorkingOutLayoutText = "Working out the moves of the zone layout...";
// The message when the question could not be worked out.
constexpr const char* kQuestionOutOfMemoryText =
    "Nothing was moved: there was not memory enough to work out the moves.";
// What "Optimize layout..." says on a drive whose file system places every
// file's data itself (a Linux folder), after "Drive X: ".
constexpr const char* kWholeFileOptimizeRefusal =
    "its file system chooses where each file's data goes, so the zone layout cannot be carried "
    "out there: only defragmenting is offered.";
// Files left that the question names one by one; it counts the rest.
constexpr size_t kLeftFilesShown = 10;

// The confirmation for drive's layout and the schedule made of it; refusal,
// when not empty, is why the drive may not be written at all (it is said
// instead). At most leftShown files left are named.
TDefragmentConfirmation DefragmentConfirmation(const TMoveLayout& layout,
                                               const TMoveSchedule& schedule,
                                               const std::string& refusal,
                                               size_t leftShown = kLeftFilesShown);

// The confirmation for defragmenting a drive whose file system places every
// file's data itself (a Linux folder): each movable fragmented file of
// layout is rewritten by the file system in fewer pieces where it can, so
// the question counts the files and clusters tried, not where they go; the
// files the layout never moves are named as left.
TDefragmentConfirmation WholeFileConfirmation(const TMoveLayout& layout, const std::string& refusal,
                                              size_t leftShown = kLeftFilesShown);

// The confirmation for carrying out the drive's zone layout (the layout made
// from its plan and the schedule made of it), as DefragmentConfirmation's:
// the files that go to their places, the clusters moved with those moved
// out of the way first, and the files left.
TDefragmentConfirmation OptimizeConfirmation(const TMoveLayout& layout,
                                             const TOptimizeSchedule& schedule,
                                             const std::string& refusal,
                                             size_t leftShown = kLeftFilesShown);
