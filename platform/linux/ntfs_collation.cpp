#include "platform/linux/ntfs_collation.h"

#include <algorithm>

#include "platform/linux/ntfs_library.h"

int NtfsCollate(const uint16_t* a, uint32_t aLength, const uint16_t* b, uint32_t bLength,
                bool ignoreCase, const uint16_t* upcase, uint32_t upcaseLength) {
  // Units equal as written are equal upper-cased: the table is looked at
  // only where the names differ.
  const uint32_t common = std::min(aLength, bLength);
  for (uint32_t i = 0; i < common; ++i) {
    uint16_t x = le16_to_cpu(a[i]);
    uint16_t y = le16_to_cpu(b[i]);
    if (x == y) continue;
    x = NtfsUpperUnit(x, upcase, upcaseLength);
    y = NtfsUpperUnit(y, upcase, upcaseLength);
    if (x != y) return x < y ? -1 : 1;
  }
  if (aLength != bLength) return aLength < bLength ? -1 : 1;
  if (ignoreCase) return 0;
  // Equal but for case: the case-sensitive order's tie-break is libntfs-3g's.
  return ntfs_names_full_collate(a, aLength, b, bLength, CASE_SENSITIVE, upcase, upcaseLength);
}
