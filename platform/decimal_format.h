// Decimal formatting for the logs' hot loops, the same as printf's "%d" and
// "%Nd" (right-aligned in at least N characters, never cut) but without
// parsing a format for every line: a listing writes millions of numbers.
#pragma once

#include <cstddef>
#include <cstdint>

// Writes value right-aligned in at least width characters at out and returns
// the position after it. out must have room for max(width, 20) characters.
inline char* AppendDecimal(char* out, int64_t value, int width = 0) {
  char digits[20];
  int count = 0;
  // Work on the magnitude as unsigned: -2^63 has no signed opposite.
  uint64_t magnitude = value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
  do {
    digits[count++] = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  const int length = count + (value < 0 ? 1 : 0);
  for (int pad = width - length; pad > 0; --pad) *out++ = ' ';
  if (value < 0) *out++ = '-';
  while (count > 0) *out++ = digits[--count];
  return out;
}

// Copies text (without its terminator) to out; returns the position after it.
inline char* AppendText(char* out, const char* text) {
  while (*text != '\0') *out++ = *text++;
  return out;
}
