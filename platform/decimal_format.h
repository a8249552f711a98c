// Decimal formatting for the logs' hot loops, the same as printf's "%d" and
// "%Nd" (right-aligned in at least N characters, never cut) but without
// parsing a format for every line: a listing writes millions of numbers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

// Writes value right-aligned in at least width characters at out and returns
// the position after it. out must have room for max(width, 20) characters.
inline char* AppendDecimal(char* out, int64_t value, int width = 0) {
  // Two digits at a time: half the divisions of one at a time.
  static constexpr char kPairs[] =
      "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
      "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
      "8081828384858687888990919293949596979899";
  char digits[20];
  char* const end = digits + sizeof(digits);
  char* first = end;
  // Work on the magnitude as unsigned: -2^63 has no signed opposite.
  uint64_t magnitude = value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
  while (magnitude >= 100) {
    first -= 2;
    std::memcpy(first, kPairs + 2 * (magnitude % 100), 2);
    magnitude /= 100;
  }
  if (magnitude >= 10) {
    first -= 2;
    std::memcpy(first, kPairs + 2 * magnitude, 2);
  } else {
    *--first = static_cast<char>('0' + magnitude);
  }
  const int count = static_cast<int>(end - first);
  const int length = count + (value < 0 ? 1 : 0);
  if (width > length) {
    std::memset(out, ' ', static_cast<size_t>(width - length));
    out += width - length;
  }
  if (value < 0) *out++ = '-';
  std::memcpy(out, first, static_cast<size_t>(count));
  return out + count;
}

// Copies text (without its terminator) to out; returns the position after it.
inline char* AppendText(char* out, const char* text) {
  while (*text != '\0') *out++ = *text++;
  return out;
}

// Copies a string literal (without its terminator) to out; returns the
// position after it. Its length is known where it is written, so the copy
// is a few moves.
template <size_t N>
inline char* AppendLiteral(char* out, const char (&text)[N]) {
  std::memcpy(out, text, N - 1);
  return out + N - 1;
}
