// The words Windows gives for an error code (FormatMessage), as every
// failure the Win32 build reports is worded.
#pragma once

#include <windows.h>

#include <string>

// The system's text for error, without its trailing line break, and the
// likely cure where one is known (administrator rights).
std::string Win32ErrorText(DWORD error);
