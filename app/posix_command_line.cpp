#include "app/posix_command_line.h"

#include <cstring>

std::string JoinCommandLine(int argc, const char* const* argv) {
  std::string line;
  for (int i = 0; i < argc; ++i) {
    if (i > 0) line += ' ';
    const char* argument = argv[i];
    const bool quoted = argument[0] == '\0' || std::strchr(argument, ' ') != nullptr;
    if (quoted) line += '"';
    line += argument;
    if (quoted) line += '"';
  }
  return line;
}
