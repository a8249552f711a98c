#include "platform/debug_switch.h"

#include <cstdlib>
#include <cstring>

bool DebugOutputWanted() {
  const char* value = std::getenv("DISKOPT_DEBUG");
  return value != nullptr && std::strcmp(value, "1") == 0;
}
