// The process's main function and its command line: start-up checks, one
// drive optimizer with its drive thread per drive argument, a folder
// statistics report per -m path, and the wait for every drive thread.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "drive/drive_optimizer.h"
#include "platform/system_services.h"
#include "platform/window_system.h"

// The exit code of a run in which a drive could not be analysed, a log could
// not be written, a -m path could not be listed, or a volume could not be
// opened for moves or a move failed.
constexpr int kExitNotAnalysed = 3;
// The exit code of a run that analysed every drive to its end but found a
// volume that contradicts itself (kExitNotAnalysed wins over it).
constexpr int kExitDamaged = 4;

class TProgram {
 public:
  TProgram(TSystemServices& services, TWindowSystem& windows);
  TProgram(const TProgram&) = delete;
  TProgram& operator=(const TProgram&) = delete;

  // The whole run over a command line taken whole, program name included;
  // with "/?" or "--help" among its tokens, only the usage in a message.
  // Returns the exit code: 0, 1 without NtFsControlFile, 2 when the fragment
  // view class cannot be registered, kExitNotAnalysed when a drive could not
  // be analysed, a log not written or a -m path not listed, else
  // kExitDamaged when a volume was found damaged.
  int Run(const char* commandLine);
  // The same run with the arguments already split (the Linux argv):
  // walkArguments calls DispatchArgument for each.
  int Run(const std::function<void(TProgram&)>& walkArguments);

  // The command-line walk: every argument token goes to DispatchArgument.
  void WalkCommandLine(const char* commandLine);
  // One argument: mode is the current switch character, text the argument's
  // first character inside the command line, length its characters (> 0).
  void DispatchArgument(char mode, const char* text, int length);
  // A drive optimizer for driveLetter and its drive thread's handle; under
  // the mode kModeDefragment its stages defragment the drive after the
  // analysis, under kModeApplyPlan they carry out its zone layout.
  THandle StartDriveOptimizer(char driveLetter, char mode = 0);
  // Waits for every drive thread and worker started, then reports each
  // drive's summary and moves; notes failures in exitStatus. True when a
  // volume was found damaged. afterMoves: the drives are analysed anew
  // after moves, and the moves of the zone layout (kept by the drive made
  // anew) are said with the files fragmented now; else those are said only
  // then.
  bool WaitAndReport(bool afterMoves);
  // Appends a handle to the drive-thread list.
  void AddDriveThread(THandle handle) { driveThreads.push_back(handle); }

  // The drive threads started, in argument order; touched by the main thread
  // alone.
  std::vector<THandle> driveThreads;
  int driveArguments = 0;       // drive arguments of the command line; main thread only
  bool countingDrives = false;  // the first walk of Run, which only counts drive arguments
  int exitStatus = 0;           // 0, or kExitNotAnalysed once something failed; main thread only
  // Where each drive's JSON export goes (TDriveOptimizer::exportFolder);
  // set before Run.
  std::string exportFolder;
  // What each drive's moves by its own file system may do
  // (TDriveOptimizer::wholeFileOptions); set before Run.
  TWholeFileOptions wholeFileOptions;

  // Every drive optimizer started; they live until Run has waited for every
  // drive thread and worker, then go with their trees.
  std::vector<std::unique_ptr<TDriveOptimizer>> drives;

 private:
  TSystemServices& services;  // not owned
  TWindowSystem& windows;     // not owned
};
