#include "app/command_line.h"

#include <cstring>

namespace {

// Calls token(start, length) for each blank-separated token after the first
// (the program's own name), in order; double quotes group blanks and stay
// in the token.
template <typename TTokenSink>
void ForEachToken(const char* line, TTokenSink token) {
  const size_t length = std::strlen(line);
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
      firstTokenPending = false;
    } else {
      token(tokenStart, p - tokenStart);
    }
    tokenStart = p + 1;
  }
}

bool TokenIs(const char* line, size_t start, size_t length, const char* text) {
  return length == std::strlen(text) && std::strncmp(line + start, text, length) == 0;
}

}  // namespace

void WalkCommandLine(const char* line, TArgumentSink sink, void* context) {
  char mode = 0;
  ForEachToken(line, [&](size_t tokenStart, size_t length) {
    if (TokenIs(line, tokenStart, length, kDefragmentSwitch)) {
      mode = kModeDefragment;
    } else if (TokenIs(line, tokenStart, length, kOptimizeSwitch)) {
      mode = kModeApplyPlan;
    } else if (line[tokenStart] == '-') {
      // A lone dash takes the separator that ended it: a blank or the
      // terminator.
      mode = line[tokenStart + 1];
    } else {
      size_t start = tokenStart;
      long argumentLength = static_cast<long>(length);
      if (line[tokenStart] == '"') {
        start += 1;
        argumentLength -= 2;
      }
      if (argumentLength > 0) sink(context, mode, line + start, static_cast<int>(argumentLength));
    }
  });
}

bool AsksForHelp(const char* line) {
  bool asked = false;
  ForEachToken(line, [&](size_t start, size_t length) {
    asked = asked || TokenIs(line, start, length, "/?") || TokenIs(line, start, length, "--help");
  });
  return asked;
}

bool ModeOptimisesDrives(char mode) {
  return mode == 0 || mode == 'O' || mode == 'o' || mode == kModeDefragment ||
         mode == kModeApplyPlan;
}
