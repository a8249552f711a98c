#include "platform/linux/wildcard_match.h"

#include <cstring>

namespace {

char FoldCase(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool IsContinuationByte(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

// The character after the one at text: one byte, or a UTF-8 lead byte and
// its continuation bytes.
const char* NextCharacter(const char* text) {
  ++text;
  while (IsContinuationByte(*text)) ++text;
  return text;
}

// Pattern [pattern, patternEnd) against the whole of name. Backtracks only
// to the most recent '*', which is enough because a later '*' can absorb
// whatever an earlier one would have: linear in practice, never exponential.
bool MatchRange(const char* pattern, const char* patternEnd, const char* name) {
  const char* starPattern = nullptr;  // just after the last '*' met
  const char* starName = nullptr;     // where that '*''s run currently ends
  while (*name != '\0') {
    if (pattern < patternEnd && *pattern == '*') {
      starPattern = ++pattern;
      starName = name;
    } else if (pattern < patternEnd && *pattern == '?') {
      ++pattern;
      name = NextCharacter(name);
    } else if (pattern < patternEnd && FoldCase(*pattern) == FoldCase(*name)) {
      ++pattern;
      ++name;
    } else if (starPattern != nullptr) {
      // Let the last '*' take one more character and retry from there.
      pattern = starPattern;
      starName = NextCharacter(starName);
      name = starName;
    } else {
      return false;
    }
  }
  while (pattern < patternEnd && *pattern == '*') ++pattern;
  return pattern == patternEnd;
}

}  // namespace

bool WildcardMatch(const char* pattern, const char* name) {
  // Every listing of a whole folder asks this of each of its names.
  if (std::strcmp(pattern, "*.*") == 0 || std::strcmp(pattern, "*") == 0) return true;
  const size_t length = std::strlen(pattern);
  if (MatchRange(pattern, pattern + length, name)) return true;
  const bool endsInDotStar =
      length >= 2 && pattern[length - 2] == '.' && pattern[length - 1] == '*';
  return endsInDotStar && MatchRange(pattern, pattern + length - 2, name);
}
