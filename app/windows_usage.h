// The usage the Windows program shows in a message box for /? and --help:
// its command line, which names drives by letter, in Windows' conventions.
#pragma once

// The usage text, lines ended by "\n"; the caption is kUsageCaption.
const char* WindowsUsage();

constexpr const char* kUsageCaption = "diskopt";
