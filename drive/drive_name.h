// How titles and messages name a drive: by the path the command line gave
// for it, or by its letter.
#pragma once

#include <string>

class TDriveOptimizer;

// The path a path argument named the drive by (Linux), else its letter
// alone, exactly as taken from the command line ("D", "c").
std::string DriveName(const TDriveOptimizer& drive);
