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

// Why no file of drive ("drive D:") will be made whole.
std::string NothingMadeWhole(const TMoveLayout& layout, const std::string& drive) {
  return layout.files.empty() ? "No file on " + drive + " is fragmented: nothing to move."
                              : "No fragmented file on " + drive + " can be made whole now.";
}

// The words for a drive that may not be written at all.
TDefragmentConfirmation Refused(char driveLetter, const std::string& refusal) {
  return {"Drive " + std::string(1, driveLetter) + ": " + refusal, false};
}

// text (the question, or where no file moves the words that say so) with
// the files left after it; a question says how the moves go, ending with
// howItGoes.
TDefragmentConfirmation Finished(const TMoveLayout& layout, const TMoveSchedule& moves,
                                 size_t leftShown, std::string text,
                                 const char* howItGoes =
                                     "The files are moved while the volume is in use; Pause and "
                                     "Stop take effect between steps.") {
  AddLeftFiles(layout, moves.left, leftShown, &text);
  if (moves.files == 0) return {text, false};
  return {text + "\n\n" + howItGoes, true};
}

}  // namespace

TDefragmentConfirmation DefragmentConfirmation(const TMoveLayout& layout,
                                               const TMoveSchedule& schedule,
                                               const std::string& refusal, size_t leftShown) {
  if (!refusal.empty()) return Refused(layout.driveLetter, refusal);
  const std::string drive = std::string("drive ") + layout.driveLetter + ":";
  std::string text;
  if (schedule.files == 0) {
    text = NothingMadeWhole(layout, drive);
  } else {
    text = "Defragment " + drive + "?\n\n" + Files(schedule.files) +
           " will be made whole: " + GroupedNumber(schedule.clusters) + " clusters (" +
           Mebibytes(schedule.clusters, layout.clusterBytes) + ") will be moved.";
  }
  return Finished(layout, schedule, leftShown, std::move(text));
}

TDefragmentConfirmation WholeFileConfirmation(const TMoveLayout& layout, const std::string& refusal,
                                              size_t leftShown) {
  if (!refusal.empty()) return Refused(layout.driveLetter, refusal);
  // What the run will try: every file the layout does not keep.
  TMoveSchedule tried;
  for (size_t i = 0; i < layout.files.size(); ++i) {
    const TMovableFile& file = layout.files[i];
    if (!file.notMovable.empty()) {
      tried.left.push_back(TLeftFile{i, std::string(file.notMovable)});
      continue;
    }
    ++tried.files;
    tried.clusters += AllocatedClusters(file.runs);
  }
  const std::string drive = std::string("drive ") + layout.driveLetter + ":";
  std::string text;
  if (tried.files == 0) {
    text = NothingMadeWhole(layout, drive);
  } else {
    text = "Defragment " + drive + "?\n\n" + Files(tried.files) + " (" +
           GroupedNumber(tried.clusters) + " clusters, " +
           Mebibytes(tried.clusters, layout.clusterBytes) +
           ") will be rewritten by the file system in fewer pieces where it can; it chooses "
           "where they go, and a file it cannot make less fragmented stays as it is.";
  }
  return Finished(layout, tried, leftShown, std::move(text),
                  "The files stay in use while they are rewritten; Pause and Stop take effect "
                  "between files.");
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
