// On-disk NTFS fields read as the plain integers they are. libntfs-3g
// declares many fields with enum types (a name's namespace, file attribute
// flags, record and index flags); a damaged volume holds values that no
// enumerator names (a namespace of 7, an attribute flag in bit 31), and
// loading such a value through its enum type is undefined in C++. Such a
// field is copied out byte by byte into an unsigned integer of its size,
// never loaded (nor referred to) as its declared type, which in a packed
// structure may lie unaligned. Only .cpp files include this.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

template <size_t kBytes>
struct TDiskBitsOf;
template <>
struct TDiskBitsOf<1> {
  using type = uint8_t;
};
template <>
struct TDiskBitsOf<2> {
  using type = uint16_t;
};
template <>
struct TDiskBitsOf<4> {
  using type = uint32_t;
};

// The kBytes bytes at `at` as one unsigned integer, in the order stored.
template <size_t kBytes>
typename TDiskBitsOf<kBytes>::type DiskBitsAt(const void* at) {
  typename TDiskBitsOf<kBytes>::type bits;
  std::memcpy(&bits, at, sizeof bits);
  return bits;
}

// The bits of field `member` of the structure `object` points to, as
// stored (little-endian, as libntfs-3g's enumerators are): for testing
// against those enumerators, or converting with le16_to_cpu or le32_to_cpu.
// Also for fields libntfs-3g copies into memory unchanged (an inode's file
// attribute flags).
#define NTFS_DISK_BITS(object, member)                 \
  DiskBitsAt<sizeof((object)->member)>(                \
      reinterpret_cast<const unsigned char*>(object) + \
      offsetof(std::remove_cv_t<std::remove_pointer_t<decltype(object)>>, member))
