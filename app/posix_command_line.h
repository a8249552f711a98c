// The command line of a POSIX process, taken whole as the program expects
// it: one string, program name included, as GetCommandLineA presents it on
// Windows.
#pragma once

#include <string>

// argv[0] and every argument joined by single blanks; an argument that holds
// a blank, or is empty, is wrapped in double quotes so that the command-line
// walk sees it as one token. argv holds argc entries.
std::string JoinCommandLine(int argc, const char* const* argv);
