// The scripted volume with moves: it opens itself and its files for moves
// and carries out FSCTL_MOVE_FILE as NTFS does (the range must be allocated
// and the target free; the file's runs then point at the target, and the
// clusters it left are free), so the window's and the stage's moves can be
// run end to end without a disk. A gate holds each move until the test lets
// it go, so a test can act (pause, stop, close) while a step is under way.
#pragma once

#include <condition_variable>
#include <map>
#include <mutex>
#include <string>

#include "tests/support/scripted_volume.h"

class TScriptedMovesVolume : public TScriptedVolume {
 public:
  using TScriptedVolume::TScriptedVolume;
  ~TScriptedMovesVolume() override;

  THandle OpenVolumeForMoves(char driveLetter) override;
  THandle OpenFileForMoves(THandle volume, const char* path, bool folder) override;
  void Close(THandle handle) override;
  TNtStatus FsControl(THandle handle, TIoStatusBlock* io, uint32_t code, void* input,
                      uint32_t inputLength, void* output, uint32_t outputLength) override;

  // Lets count more moves go on (each waits for one); -1 lets every move go.
  void AllowMoves(int count);
  // Waits until a move is held at the gate, at most timeoutMs milliseconds;
  // whether one is.
  bool WaitForHeldMove(int timeoutMs);
  // Moves carried out, and volumes opened for moves.
  int MovesDone();
  int VolumesOpened();

 private:
  std::mutex lock_;
  std::condition_variable changed_;
  int allowed_ = 0;  // moves that may go on; -1: all; guarded by lock_
  int held_ = 0;     // moves waiting at the gate; guarded by lock_
  int done_ = 0;     // guarded by lock_
  int volumesOpened_ = 0;
  std::map<THandle, std::string> files_;  // handles opened for moves -> path; guarded by lock_
  THandle volume_ = nullptr;              // the volume opened for moves; guarded by lock_
};
