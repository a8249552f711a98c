// A folder the user names for the program's output (pictures, the JSON
// export): made when missing, never the path leading to it, so a mistyped
// parent fails with the system's reason instead of growing a new tree.
#pragma once

#include <string>

// Makes folder (a host path, relative to the working directory or absolute)
// unless it is there already. Empty when the folder is there, otherwise why
// not, naming it, in the system's words.
std::string MakeNamedFolder(const std::string& folder);
