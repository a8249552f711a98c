// Names from Linux as the stages see them. A Linux name may hold characters
// a Windows name cannot hold: '\' and ':' would split the paths the stages
// compose, '*' and '?' would act as wildcards, a line feed would split a log
// line. Such a character c is listed as the private-use character U+F000 + c
// (UTF-8 encoded: '\' appears as U+F05C), the convention Windows-on-POSIX
// layers use, and mapped back when a path is opened. Host folders and NTFS
// volumes use this one pair.
#pragma once

#include <cstddef>
#include <string>

// The listed form of a Linux name of `length` bytes: each of \ : * ? " < > |
// and the control characters 1 to 31 replaced by U+F000 + the character,
// every other byte kept.
std::string ListedName(const char* name, size_t length);

// Whether ListedName keeps byte c as it is: anything but \ : * ? " < > |
// and the control characters 1 to 31. Inline: listings ask it of every
// byte of every name.
inline bool ListedAsIs(unsigned char c) {
  switch (c) {
    case '\\':
    case ':':
    case '*':
    case '?':
    case '"':
    case '<':
    case '>':
    case '|':
      return false;
    default:
      return c == 0 || c > 31;
  }
}

// A listed name or '/'-separated path back in Linux bytes: each U+F000 + c
// for a character c of that set becomes c again, everything else is kept.
// It never yields '/' or a terminator, so the components of a path stay as
// they were. A Linux name that itself holds such a private-use character
// comes back as the mapped character: the convention cannot tell them apart.
std::string LinuxName(const std::string& listed);

// Whether LinuxName may change listed: only a name or path holding a mapped
// character (its UTF-8 leads with 0xEF) needs mapping back. Inline: every
// open asks it.
inline bool MayHoldMappedCharacter(const std::string& listed) {
  return listed.find('\xEF') != std::string::npos;
}
