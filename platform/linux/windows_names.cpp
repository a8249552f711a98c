#include "platform/linux/windows_names.h"

namespace {

constexpr unsigned kPrivateUseBase = 0xF000;

}  // namespace

std::string ListedName(const char* name, size_t length) {
  std::string listed;
  listed.reserve(length);
  for (size_t i = 0; i < length; ++i) {
    const unsigned char c = static_cast<unsigned char>(name[i]);
    if (ListedAsIs(c)) {
      listed.push_back(static_cast<char>(c));
      continue;
    }
    // U+F000 + c in UTF-8: three bytes, 1110xxxx 10xxxxxx 10xxxxxx.
    const unsigned code = kPrivateUseBase + c;
    listed.push_back(static_cast<char>(0xE0 | (code >> 12)));
    listed.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
    listed.push_back(static_cast<char>(0x80 | (code & 0x3F)));
  }
  return listed;
}

std::string LinuxName(const std::string& listed) {
  if (!MayHoldMappedCharacter(listed)) return listed;
  std::string name;
  name.reserve(listed.size());
  for (size_t i = 0; i < listed.size(); ++i) {
    // U+F000 to U+FFFF in UTF-8 lead with 0xEF.
    if (i + 2 < listed.size() && static_cast<unsigned char>(listed[i]) == 0xEF) {
      const unsigned char second = static_cast<unsigned char>(listed[i + 1]);
      const unsigned char third = static_cast<unsigned char>(listed[i + 2]);
      if ((second & 0xC0) == 0x80 && (third & 0xC0) == 0x80) {
        const unsigned code = 0xF000u | ((second & 0x3Fu) << 6) | (third & 0x3Fu);
        if (code - kPrivateUseBase < 0x80 &&
            !ListedAsIs(static_cast<unsigned char>(code - kPrivateUseBase))) {
          name.push_back(static_cast<char>(code - kPrivateUseBase));
          i += 2;
          continue;
        }
      }
    }
    name.push_back(listed[i]);
  }
  return name;
}
