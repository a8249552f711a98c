#include "platform/linux/ntfs_listed_name.h"

#include <cstdlib>

#include "platform/linux/ntfs_library.h"
#include "platform/linux/windows_names.h"
#include "platform/system_services.h"

namespace {

// Names of ASCII units alone, nearly every name, are their own UTF-8: they
// need no conversion, and nothing is allocated for them. False for any
// other name (and for one too long to be a name).
bool AsciiName(const uint16_t* name, size_t length, std::string* listed) {
  char bytes[256];
  if (length == 0 || length > sizeof(bytes)) return false;
  bool asIs = true;
  for (size_t i = 0; i < length; ++i) {
    const uint16_t unit = le16_to_cpu(name[i]);
    if (unit == 0 || unit >= 0x80 || unit == '/') return false;
    bytes[i] = static_cast<char>(unit);
    asIs = asIs && ListedAsIs(static_cast<unsigned char>(unit));
  }
  if (asIs) {
    listed->assign(bytes, length);
  } else {
    *listed = ListedName(bytes, length);
  }
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
