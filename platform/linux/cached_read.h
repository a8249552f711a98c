// Reading what the page cache holds without waiting for the device: a
// reader that finds its bytes missing can then ask the device for what
// follows too, so that a cold start has many requests in flight instead of
// one a thread.
#pragma once

#include <sys/types.h>

#include <cstddef>

// Reads what of the `bytes` bytes at offset of fd the page cache holds, from
// their start, without waiting for the device: the bytes read, fewer (0
// too) when the rest must come from the device; -1 when fd cannot tell (its
// file system or device refuses reads that do not wait).
ssize_t ReadCachedPart(int fd, void* out, size_t bytes, off_t offset);
