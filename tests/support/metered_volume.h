// A scripted volume whose scan and retrieval go on only as far as the test
// lets them, for the tests of a drive window's progress: its folder listings
// and item opens wait until the test allows more.
#pragma once

#include <condition_variable>
#include <mutex>

#include "tests/support/scripted_volume.h"

class TMeteredVolume : public TScriptedVolume {
 public:
  // Lets through count more listings (scan) or opens (retrieval).
  void Allow(int listings, int opens);
  void AllowAll();
  // Whether a call waits for more within timeoutMs.
  bool WaitUntilHeld(int timeoutMs);

  THandle FindFirst(const char* pattern, TFindData* entry) override;
  THandle OpenForRead(const char* path, bool backupSemantics) override;

 private:
  void Take(int* left);

  // Guards the counts, written by the test and the worker's threads.
  std::mutex lock;
  std::condition_variable changed;
  int listingsLeft = 0;
  int opensLeft = 0;
  int waiting = 0;  // calls waiting for more
};

// Four folders f0 ... f3 of 30 one-cluster files each on drive D: of 8,192
// clusters: 125 items to read, the root among them.
constexpr int kMeteredFolders = 4;
constexpr int kMeteredFilesPerFolder = 30;
void PopulateMeteredVolume(TScriptedVolume& volume);
