#include "ui/defragment_confirmation.h"

#include <cstdio>
#include <utility>

namespace {

// "1 file" or "12 files", the count grouped by commas.
std::string Files(int64_t count) {
  return GroupedNumber(count) + (count == 1 ? " file" : " files");
}

// Bytes as MiB with one decimal: "13.3 MiB".
std::string Mebibytes(int64_t clusters, uint32_t clusterBytes) {
  char text[64];
  std::snprintf(text, sizeof text, "%.1f MiB",
                static_cast<double>(clusters) * clusterBytes / (1024.0 * 1024.0));
  return text;
}

// The files the schedule leaves, at most leftShown of them by name, after
// the question; none adds nothing.
void AddLeftFiles(const TMoveLayout& layout, const std::vector<TLeftFile>& left, size_t leftShown,
                  std::string* text) {
  if (left.empty()) return;
  *text += "\n\n" + Files(static_cast<int64_t>(left.size())) +
           (left.size() == 1 ? " will be left as it is:" : " will be left as they are:");
  for (size_t i = 0; i < left.size() && i < leftShown; ++i) {
    *text += "\n  " + layout.files[left[i].file].listingPath + ": " + left[i].reason;
  }
  if (left.size() > leftShown) {
    *text += "\n  and " + GroupedNumber(static_cast<int64_t>(left.size() - leftShown)) + " more";
  }
}

// The words for a drive that may not be written at all.
TDefragmentConfirmation Refused(char driveLetter, const std::string& refusal) {
  return {"Drive " + std::string(1, driveLetter) + ": " + refusal, false};
}

// text (the question, or where no file moves the words that say so) with
// the files left after it; a question says how the moves go.
TDefragmentConfirmation Finished(const TMoveLayout& layout, const TMoveSchedule& moves,
                                 size_t leftShown, std::string text) {
  AddLeftFiles(layout, moves.left, leftShown, &text);
  if (moves.files == 0) return {text, false};
  return {text +
              "\n\nThe files are moved while the volume is in use; Pause and Stop take effect "
              "between steps.",
          true};
}

}  // namespace

TDefragmentConfirmation DefragmentConfirmation(const TMoveLayout& layout,
                                               const TMoveSchedule& schedule,
                                               const std::string& refusal, size_t leftShown) {
  if (!refusal.empty()) return Refused(layout.driveLetter, refusal);
  const std::string drive = std::string("drive ") + layout.driveLetter + ":";
  std::string text;
  if (schedule.files == 0) {
    text = layout.files.empty() ? "No file on " + drive + " is fragmented: nothing to move."
                                : "No fragmented file on " + drive + " can be made whole now.";
  } else {
    text = "Defragment " + drive + "?\n\n" + Files(schedule.files) +
           " will be made whole: " + GroupedNumber(schedule.clusters) + " clusters (" +
           Mebibytes(schedule.clusters, layout.clusterBytes) + ") will be moved.";
  }
  return Finished(layout, schedule, leftShown, std::move(text));
}

TDefragmentConfirmation OptimizeConfirmation(const TMoveLayout& layout,
                                             const TOptimizeSchedule& schedule,
                                             const std::string& refusal, size_t leftShown) {
  if (!refusal.empty()) return Refused(layout.driveLetter, refusal);
  const std::string drive = std::string("drive ") + layout.driveLetter + ":";
  const TMoveSchedule& moves = schedule.moves;
  std::string text;
  if (moves.files == 0) {
    text = layout.files.empty()
               ? "Every file of " + drive + " lies where the plan puts it: nothing to move."
               : "No file of " + drive + " can be moved to where the plan puts it now.";
  } else {
    text = "Optimize the layout of " + drive + "?\n\n" + Files(moves.files) +
           " will be moved to where the plan puts " + (moves.files == 1 ? "it: " : "them: ") +
           GroupedNumber(moves.clusters) + " clusters (" +
           Mebibytes(moves.clusters, layout.clusterBytes) + ") will be moved";
    if (schedule.clustersParked > 0) {
      text += ", " + GroupedNumber(schedule.clustersParked) +
              " of them out of the way first, to move again later";
    }
    text += ".";
  }
  return Finished(layout, moves, leftShown, std::move(text));
}
