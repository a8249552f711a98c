// The one turning of a name stored on an NTFS volume into the 8-bit name a
// folder listing gives, used by every way the volume is listed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// The listed form of an NTFS name of `length` UTF-16 units as stored
// (little-endian): UTF-8, with the characters a Windows name cannot hold
// (POSIX-namespace names may) mapped as windows_names.h maps them. False
// when the name is empty or not valid UTF-16, holds '/' or a terminator
// (only a damaged index does), or its listed form does not fit a path
// buffer; listings leave such names out, as the host listings leave out
// names that do not fit.
bool NtfsListedName(const uint16_t* name, size_t length, std::string* listed);
