#include "ui/failure_notice.h"

#include <cctype>

namespace {

bool StartsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

bool Holds(const std::string& text, const char* part) {
  return text.find(part) != std::string::npos;
}

// What to do about a reason, by the stage that gave it. The reasons of the
// volume's services often end with a cure of their own ("run diskopt as
// root"); the advice then points at it.
std::string AdviceFor(const std::string& reason) {
  if (Holds(reason, "DISKOPT_DRIVE_") || Holds(reason, "as root") ||
      Holds(reason, "as administrator")) {
    return "Do as the reason says, then analyse the drive again.";
  }
  if (StartsWith(reason, "the volume could not be opened")) {
    if (Holds(reason, "not an NTFS volume")) {
      return "Name an NTFS image or block device, or a folder of a Linux file system; a damaged "
             "NTFS volume can be checked with ntfsfix or, on Windows, chkdsk.";
    }
    return "Check that the image, device or folder is there and can be read (root is needed "
           "for block devices and for a folder's free space), then analyse it again.";
  }
  if (StartsWith(reason, "its free space could not be read") ||
      StartsWith(reason, "the volume has no free cluster")) {
    return "The volume's free-space map could not be read: check the volume for damage "
           "(ntfsfix, chkdsk, or the file system's own checker) and analyse it again.";
  }
  if (StartsWith(reason, "the root folder could not be opened")) {
    return "Check that the volume's root folder can be read (permissions, damage), then analyse "
           "it again.";
  }
  if (Holds(reason, "not enough memory")) {
    return "Close other programs or analyse a smaller volume.";
  }
  if (Holds(reason, "could not be written")) {
    return "Make room in the folder the logs go to (the working folder, or the one "
           "DISKOPT_DRIVE_C names) or make it writable, then analyse the drive again.";
  }
  return "Analyse the drive again; if it fails the same way, check the volume for damage.";
}

}  // namespace

TFailureNotice FailureNoticeOf(const std::string& driveName, const std::string& reason) {
  TFailureNotice notice;
  const bool letter =
      driveName.size() == 1 && std::isalpha(static_cast<unsigned char>(driveName[0]));
  notice.headline = driveName + (letter ? ":" : "") + " could not be analysed";
  notice.reason = reason;
  if (!notice.reason.empty()) {
    notice.reason[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(reason[0])));
    if (notice.reason.back() != '.') notice.reason += '.';
  }
  notice.advice = AdviceFor(reason);
  return notice;
}

std::string FailureNoticeText(const TFailureNotice& notice) {
  return notice.headline + "\n\n" + notice.reason + "\n\nWhat to do: " + notice.advice;
}
