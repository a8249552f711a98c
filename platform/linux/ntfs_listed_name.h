// The one turning of a name stored on an NTFS volume into the 8-bit name a
// folder listing gives, used by every way the volume is listed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// The listed form of an NTFS name of `length` UTF-16 units as stored
// (little-endian): UTF-8. False when the name is not valid UTF-16 or its
// listed form does not fit a path buffer; listings leave such names out, as
// the host listings leave out names that do not fit.
bool ListedName(const uint16_t* name, size_t length, std::string* listed);
