// What a drive window shows where its map would be when the drive could not
// be analysed: that it failed, why, and what to do, in words. Free of any
// window system.
#pragma once

#include <string>

struct TFailureNotice {
  std::string headline;  // "D: could not be analysed"
  std::string reason;    // the drive's failure reason as a sentence
  std::string advice;    // what to do about it
};

// The notice for drive driveName (its letter, or the path it was named by)
// that failed for reason (TDriveOptimizer::FailureReason, not empty).
TFailureNotice FailureNoticeOf(const std::string& driveName, const std::string& reason);

// The notice as lines of text, a blank line between its parts.
std::string FailureNoticeText(const TFailureNotice& notice);
