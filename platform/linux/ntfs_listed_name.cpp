#include "platform/linux/ntfs_listed_name.h"

#include <cstdlib>

#include "platform/linux/ntfs_library.h"
#include "platform/system_services.h"

bool ListedName(const uint16_t* name, size_t length, std::string* listed) {
  char* utf8 = nullptr;
  const int bytes = ntfs_ucstombs(name, static_cast<int>(length), &utf8, 0);
  const bool usable = bytes >= 0 && bytes < kMaxPath;
  if (usable) listed->assign(utf8, static_cast<size_t>(bytes));
  std::free(utf8);
  return usable;
}
