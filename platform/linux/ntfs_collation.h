// The order of an NTFS folder index: names compared unit by unit after the
// volume's upper-case table, shorter first on a tie, then (when case counts)
// as written. Listings are sorted and names looked up by it hundreds of
// thousands of times, so the common cases are decided here and only names
// equal but for case reach libntfs-3g's own collation.
#pragma once

#include <cstdint>

// Compares a and b (`aLength` and `bLength` UTF-16 units, little-endian as
// stored) by the upper-case table upcase of upcaseLength units: negative,
// zero or positive as a sorts before, with or after b. Ignoring case, names
// that differ only in case are equal; otherwise they are ordered as
// libntfs-3g's full collation orders them.
int NtfsCollate(const uint16_t* a, uint32_t aLength, const uint16_t* b, uint32_t bLength,
                bool ignoreCase, const uint16_t* upcase, uint32_t upcaseLength);

// A unit (in CPU order) upper-cased by the table upcase of upcaseLength
// units (little-endian as stored); a unit past the table stays as it is.
inline uint16_t NtfsUpperUnit(uint16_t unit, const uint16_t* upcase, uint32_t upcaseLength) {
  if (unit >= upcaseLength) return unit;
  const auto* bytes = reinterpret_cast<const uint8_t*>(upcase + unit);
  return static_cast<uint16_t>(bytes[0] | bytes[1] << 8);
}
