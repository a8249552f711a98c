// The folder-index order diskopt sorts listings and looks names up by must
// be libntfs-3g's own, unit for unit: a listing in another order, or a name
// found in the wrong place, changes the tree and every log. Compared on
// names built from the units where case rules are unusual, with the full
// upper-case table and with a short one that leaves most units unmapped.
#include "platform/linux/ntfs_collation.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "platform/linux/ntfs_library.h"

namespace {

int Sign(int value) { return (value > 0) - (value < 0); }

TEST(NtfsCollation, AgreesWithLibntfsOnNamesThatDifferInCaseLengthAndUnmappedUnits) {
  std::vector<ntfschar> upcase(65536);
  ntfs_upcase_table_build(upcase.data(), static_cast<u32>(upcase.size() * sizeof(ntfschar)));
  // ASCII letters and signs, Latin-1 letters whose upper case lies elsewhere
  // (ß has none, ÿ maps beyond Latin-1), dotted and dotless i, a lone
  // surrogate and the last unit.
  const std::vector<uint16_t> alphabet = {'a',  'A',  'b',  'B',   '_',   '~',   '.',    0xE9,
                                          0xC9, 0xDF, 0xFF, 0x178, 0x130, 0x131, 0xD800, 0xFFFF};
  std::mt19937 random(20261208);
  std::uniform_int_distribution<size_t> pick(0, alphabet.size() - 1);
  std::uniform_int_distribution<size_t> length(0, 4);
  const auto name = [&] {
    std::vector<ntfschar> units(length(random));
    for (ntfschar& unit : units) unit = cpu_to_le16(alphabet[pick(random)]);
    return units;
  };
  for (const uint32_t tableLength : {65536u, 0x80u}) {
    for (int i = 0; i < 40000; ++i) {
      const std::vector<ntfschar> a = name();
      // Every fourth pair shares a's start, so ties beyond the first unit
      // and names equal but for case are met often.
      std::vector<ntfschar> b = name();
      if (i % 4 == 0 && !a.empty()) b.insert(b.begin(), a.begin(), a.end() - 1);
      for (const bool ignoreCase : {true, false}) {
        const int expected = ntfs_names_full_collate(
            a.data(), static_cast<u32>(a.size()), b.data(), static_cast<u32>(b.size()),
            ignoreCase ? IGNORE_CASE : CASE_SENSITIVE, upcase.data(), tableLength);
        const int actual =
            NtfsCollate(a.data(), static_cast<uint32_t>(a.size()), b.data(),
                        static_cast<uint32_t>(b.size()), ignoreCase, upcase.data(), tableLength);
        ASSERT_EQ(Sign(actual), Sign(expected))
            << "pair " << i << ", table of " << tableLength << " units, "
            << (ignoreCase ? "ignoring case" : "case-sensitive");
      }
    }
  }
}

}  // namespace
