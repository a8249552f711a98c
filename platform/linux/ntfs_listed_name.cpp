#include "platform/linux/ntfs_listed_name.h"

#include <cstdlib>

#include "platform/linux/ntfs_library.h"
#include "platform/linux/windows_names.h"
#include "platform/system_services.h"

bool NtfsListedName(const uint16_t* name, size_t length, std::string* listed) {
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
