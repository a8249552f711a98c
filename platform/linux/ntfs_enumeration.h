// Directory enumeration inside NTFS volumes: the FindFirst / FindNext handle
// over a folder listing read whole when the enumeration starts.
#pragma once

#include <cstddef>
#include <vector>

#include "platform/handle_object.h"
#include "platform/linux/ntfs_volume.h"
#include "platform/system_services.h"

// One enumeration. It holds its own copy of the listing, so it needs no
// volume after it starts and may be read from any thread, one at a time.
class TNtfsFindHandle : public THandleObject {
 public:
  // The handle over entries with the first of them in entry; none when
  // there is none (FindFirstFileA fails then too). The caller owns it.
  static TNtfsFindHandle* Start(std::vector<TNtfsEntry> entries, TFindData* entry);

  // The next entry; false at the end (and on every call after it).
  bool Next(TFindData* entry);

 private:
  explicit TNtfsFindHandle(std::vector<TNtfsEntry> entries);

  std::vector<TNtfsEntry> entries_;
  size_t next_ = 0;  // index of the entry the next call returns
};
