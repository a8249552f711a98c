// Whether the user asked for the program's diagnostics: the debugger output
// lines and the window toolkit's own warnings, which are for developers and
// stay quiet unless DISKOPT_DEBUG=1.
#pragma once

// True when DISKOPT_DEBUG is "1"; read at each call.
bool DebugOutputWanted();
