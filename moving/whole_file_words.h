// The words for making files whole on file systems that place data
// themselves (whole_file_result.h): why a file was left, and what the user
// must know of the run as a whole.
#pragma once

#include <string>
#include <vector>

#include "platform/whole_file_result.h"

// "ext4", "XFS" or "btrfs".
const char* WholeFileSystemName(TWholeFileSystem system);

// Why result left the file (or what failed), in words; detail is the
// services' LastErrorText, said for kSystemError and kFailed.
std::string WholeFileReasonText(const TWholeFileResult& result, const std::string& detail);

// What the summary says of a run on folder beyond its counts: that btrfs
// unshares extents (and whether shared ones were skipped), and that a run
// not by the superuser moves the user's own files only.
std::vector<std::string> WholeFileNotes(const TWholeFileFolder& folder,
                                        const TWholeFileOptions& options);
