// A run of one stream as the move engine and the windows that follow its
// moves see it: plain numbers, apart from the item tree's linked fragments.
#pragma once

#include <cstdint>

// One run of a stream: length clusters from virtual cluster vcn, at volume
// cluster lcn (negative: no clusters on the volume, a hole).
struct TFileRun {
  int64_t vcn;
  int64_t lcn;
  int64_t length;

  bool operator==(const TFileRun& other) const {
    return vcn == other.vcn && lcn == other.lcn && length == other.length;
  }
  bool operator!=(const TFileRun& other) const { return !(*this == other); }
};
