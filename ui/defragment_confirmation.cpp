#include "ui/defragment_confirmation.h"

#include <cstdio>

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

}  // namespace

TDefragmentConfirmation DefragmentConfirmation(const TMoveLayout& layout,
                                               const TMoveSchedule& schedule,
                                               const std::string& refusal, size_t leftShown) {
  const std::string drive = std::string("drive ") + layout.driveLetter + ":";
  if (!refusal.empty())
    return {"Drive " + std::string(1, layout.driveLetter) + ": " + refusal, false};
  std::string text;
  if (schedule.files == 0) {
    text = layout.files.empty() ? "No file on " + drive + " is fragmented: nothing to move."
                                : "No fragmented file on " + drive + " can be made whole now.";
  } else {
    text = "Defragment " + drive + "?\n\n" + Files(schedule.files) +
           " will be made whole: " + GroupedNumber(schedule.clusters) + " clusters (" +
           Mebibytes(schedule.clusters, layout.clusterBytes) + ") will be moved.";
  }
  if (!schedule.left.empty()) {
    text += "\n\n" + Files(static_cast<int64_t>(schedule.left.size())) +
            (schedule.left.size() == 1 ? " will be left as it is:" : " will be left as they are:");
    for (size_t i = 0; i < schedule.left.size() && i < leftShown; ++i) {
      const TLeftFile& left = schedule.left[i];
      text += "\n  " + layout.files[left.file].listingPath + ": " + left.reason;
    }
    if (schedule.left.size() > leftShown) {
      text += "\n  and " + GroupedNumber(static_cast<int64_t>(schedule.left.size() - leftShown)) +
              " more";
    }
  }
  if (schedule.files == 0) return {text, false};
  text +=
      "\n\nThe files are moved while the volume is in use; Pause and Stop take effect "
      "between steps.";
  return {text, true};
}
