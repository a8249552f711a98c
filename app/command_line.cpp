#include "app/command_line.h"

#include <cstring>

void WalkCommandLine(const char* line, TArgumentSink sink, void* context) {
  const size_t length = std::strlen(line);
  char mode = 0;
  bool insideQuotes = false;
  bool firstTokenPending = true;
  size_t tokenStart = 0;
  // Positions 0 to length inclusive: the terminator ends the last token,
  // unless it lies inside quotes, where it ends nothing.
  for (size_t p = 0; p <= length; ++p) {
    const char c = line[p];
    if (c == '"') {
      insideQuotes = !insideQuotes;
      continue;
    }
    if ((c != ' ' && c != '\0') || insideQuotes) continue;
    if (firstTokenPending) {
      firstTokenPending = false;  // the program's own name
    } else if (p - tokenStart == std::strlen(kDefragmentSwitch) &&
               std::strncmp(line + tokenStart, kDefragmentSwitch, p - tokenStart) == 0) {
      mode = kModeDefragment;
    } else if (p - tokenStart == std::strlen(kOptimizeSwitch) &&
               std::strncmp(line + tokenStart, kOptimizeSwitch, p - tokenStart) == 0) {
      mode = kModeApplyPlan;
    } else if (line[tokenStart] == '-') {
      // A lone dash takes the separator that ended it: a blank or the
      // terminator.
      mode = line[tokenStart + 1];
    } else {
      size_t start = tokenStart;
      long argumentLength = static_cast<long>(p - tokenStart);
      if (line[tokenStart] == '"') {
        start += 1;
        argumentLength -= 2;
      }
      if (argumentLength > 0) sink(context, mode, line + start, static_cast<int>(argumentLength));
    }
    tokenStart = p + 1;
  }
}

bool ModeOptimisesDrives(char mode) {
  return mode == 0 || mode == 'O' || mode == 'o' || mode == kModeDefragment ||
         mode == kModeApplyPlan;
}
