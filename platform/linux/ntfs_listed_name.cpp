#include "platform/linux/ntfs_listed_name.h"

#include <algorithm>
#include <cstdlib>

#include "platform/linux/ntfs_library.h"
#include "platform/linux/windows_names.h"
#include "platform/system_services.h"

namespace {

// Whether an ASCII unit lists as it is and may stand in a name: not 0, not
// '/', and kept by ListedName. Built once: listings ask it of every unit.
struct TPlainAscii {
  bool plain[0x80];
  TPlainAscii() : plain() {
    for (unsigned c = 1; c < 0x80; ++c)
      plain[c] = c != '/' && ListedAsIs(static_cast<unsigned char>(c));
  }
};
const TPlainAscii kPlainAscii;

// Names of ASCII units alone, nearly every name, are their own UTF-8: they
// need no conversion, and nothing is allocated for them. False for any
// other name (and for one too long to be a name); listed is then left to
// the caller to fill.
bool AsciiName(const uint16_t* name, size_t length, std::string* listed) {
  char bytes[256];
  if (length == 0 || length > sizeof(bytes)) return false;
  // Most names hold only units that list as they are: one look at each.
  listed->resize(length);
  char* out = &(*listed)[0];
  size_t plain = 0;
  while (plain < length) {
    const uint16_t unit = le16_to_cpu(name[plain]);
    if (unit >= 0x80 || !kPlainAscii.plain[unit]) break;
    out[plain++] = static_cast<char>(unit);
  }
  if (plain == length) return true;
  // Not ASCII, or a 0 or '/' no name holds; else a character that lists
  // mapped.
  for (size_t i = plain; i < length; ++i) {
    const uint16_t unit = le16_to_cpu(name[i]);
    if (unit == 0 || unit >= 0x80 || unit == '/') return false;
    bytes[i] = static_cast<char>(unit);
  }
  std::copy(out, out + plain, bytes);
  *listed = ListedName(bytes, length);
  return true;
}

}  // namespace

bool NtfsListedName(const uint16_t* name, size_t length, std::string* listed) {
  if (AsciiName(name, length, listed)) return listed->size() < static_cast<size_t>(kMaxPath);
  char* utf8 = nullptr;
  const int bytes = ntfs_ucstombs(name, static_cast<int>(length), &utf8, 0);
  bool usable = bytes > 0;
  if (usable) {
    const std::string raw(utf8, static_cast<size_t>(bytes));
    *listed = ListedName(raw.data(), raw.size());
    usable = listed->size() < static_cast<size_t>(kMaxPath) &&
             raw.find_first_of(std::string("/\0", 2)) == std::string::npos;
  }
  std::free(utf8);
  return usable;
}
