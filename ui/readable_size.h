// Sizes as people read them: bytes below 1 KiB, then KiB, MiB, GiB and TiB
// (powers of 1024) with one decimal.
#pragma once

#include <cstdint>
#include <string>

// "512 bytes", "1 byte", "36.0 KiB", "1.5 MiB", "2.0 GiB"; a negative size
// (a damaged record) as its bytes.
std::string ReadableSize(int64_t bytes);
