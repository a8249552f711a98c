// Waiting for any number of Win32 handles at once. WaitForMultipleObjects
// takes at most MAXIMUM_WAIT_OBJECTS (64) handles and none for a count of 0,
// so longer lists are waited for in groups; waiting for every group in turn
// lasts until every handle of the list is signalled.
#pragma once

#include <windows.h>

#include <algorithm>

// Returns once every one of the count handles is signalled; at once for 0.
inline void WaitForAllHandles(const HANDLE* handles, int count) {
  for (int first = 0; first < count; first += MAXIMUM_WAIT_OBJECTS) {
    const int group = std::min(count - first, static_cast<int>(MAXIMUM_WAIT_OBJECTS));
    WaitForMultipleObjects(static_cast<DWORD>(group), handles + first, TRUE, INFINITE);
  }
}
