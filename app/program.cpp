#include "app/program.h"

#include <cstdlib>
#include <cstring>

#include "app/command_line.h"
#include "app/folder_statistics.h"
#include "app/windows_usage.h"
#include "drive/drive_optimizer.h"
#include "moving/defragment_stage.h"
#include "moving/moves_summary.h"
#include "moving/optimize_stage.h"
#include "planning/drive_stages.h"
#include "planning/volume_summary.h"

TProgram::TProgram(TSystemServices& systemServices, TWindowSystem& windowSystem)
    : services(systemServices), windows(windowSystem) {}

int TProgram::Run(const char* commandLine) {
  if (AsksForHelp(commandLine)) {
    windows.ShowMessage(WindowsUsage(), kUsageCaption);
    return 0;
  }
  return Run([commandLine](TProgram& program) { program.WalkCommandLine(commandLine); });
}

int TProgram::Run(const std::function<void(TProgram&)>& walkArguments) {
  driveThreads.clear();
  exitStatus = 0;

  if (!services.ResolveFsControl()) {
    windows.ShowMessage("Could not find NtFsControlFile entry point in NTDLL.DLL\n", "Error");
    return 1;
  }
  windows.CreateDrawingResources();
  if (!windows.RegisterFragmentViewClass()) {
    windows.ShowMessage("Could not initialize fragment viewer\n", "Error");
    return 2;
  }

  // Known before the first drive starts: with more than one, each drive
  // keeps its own copy of every log. The first walk only counts.
  driveArguments = 0;
  countingDrives = true;
  walkArguments(*this);
  countingDrives = false;
  walkArguments(*this);

  bool damaged = WaitAndReport(false);
  // A drive whose layout the moves changed is analysed again, so that its
  // logs, export and summary show the layout it has now. What the zone
  // layout's moves did is said after that analysis, which tells the files
  // fragmented after them: the drive made anew keeps it until then.
  std::vector<std::pair<char, TMovesDone>> moved;
  for (const auto& drive : drives) {
    if (drive->movesDone.stepsDone > 0) moved.emplace_back(drive->driveLetter, drive->movesDone);
  }
  drives.clear();
  if (!moved.empty()) {
    for (const auto& done : moved) {
      THandle thread = StartDriveOptimizer(done.first);
      if (done.second.kind == TMovesKind::kOptimize) drives.back()->movesDone = done.second;
      if (thread != InvalidHandle()) AddDriveThread(thread);
    }
    damaged = WaitAndReport(true) || damaged;
    drives.clear();
  }
  return exitStatus == 0 && damaged ? kExitDamaged : exitStatus;
}

bool TProgram::WaitAndReport(bool afterMoves) {
  windows.WaitForDriveThreads(driveThreads.data(), static_cast<int>(driveThreads.size()));
  for (THandle thread : driveThreads) windows.CloseDriveThread(thread);
  driveThreads.clear();
  // Workers of closed windows have been asked to stop; the record pools and
  // everything else they use go only after the last of them has returned.
  WaitForWorkers();
  bool damaged = false;
  for (const auto& drive : drives) {
    if (!drive->FailureReason().empty()) exitStatus = kExitNotAnalysed;
    damaged = damaged || drive->damage.Count() > 0;
    // One drive after another, in argument order, for every drive that was
    // analysed to its end.
    if (drive->summary.items > 0) {
      windows.ReportSummary(FormatSummary(drive->driveLetter, drive->summary).c_str());
    }
    TMovesDone& done = drive->movesDone;
    if (afterMoves && drive->summary.items > 0)
      done.fragmentedAfter = drive->summary.fragmentedFiles;
    const bool awaitsAnalysis =
        !afterMoves && done.kind == TMovesKind::kOptimize && done.stepsDone > 0;
    if (done.asked && !awaitsAnalysis) {
      windows.ReportSummary(FormatMovesSummary(drive->driveLetter, done).c_str());
    }
  }
  return damaged;
}

void TProgram::WalkCommandLine(const char* commandLine) {
  ::WalkCommandLine(
      commandLine,
      [](void* program, char mode, const char* text, int length) {
        static_cast<TProgram*>(program)->DispatchArgument(mode, text, length);
      },
      this);
}

void TProgram::DispatchArgument(char mode, const char* text, int length) {
  if (countingDrives) {
    if (ModeOptimisesDrives(mode)) ++driveArguments;
    return;
  }
  if (ModeOptimisesDrives(mode)) {
    THandle thread = StartDriveOptimizer(text[0], mode);
    // A drive whose thread could not start is skipped: an invalid handle in
    // the list would break the wait for the others.
    if (thread != InvalidHandle()) AddDriveThread(thread);
    return;
  }
  switch (static_cast<signed char>(mode)) {
    case 'M':
    case 'm': {
      char* path = static_cast<char*>(std::malloc(static_cast<size_t>(length) + 1));
      if (path == nullptr) break;
      std::memcpy(path, text, static_cast<size_t>(length));
      path[length] = '\0';
      if (!ReportFolderStatistics(path, services, windows)) exitStatus = kExitNotAnalysed;
      std::free(path);
      break;
    }
    default:
      break;
  }
}

THandle TProgram::StartDriveOptimizer(char driveLetter, char mode) {
  const TPipelineStages& stages = mode == kModeDefragment  ? kDefragmentStages
                                  : mode == kModeApplyPlan ? kOptimizeStages
                                                           : kDriveStages;
  drives.push_back(std::make_unique<TDriveOptimizer>(driveLetter, services, windows, stages));
  drives.back()->perDriveLogs = driveArguments > 1;
  drives.back()->exportFolder = exportFolder;
  drives.back()->wholeFileOptions = wholeFileOptions;
  drives.back()->windowCount = driveArguments;
  drives.back()->windowIndex = static_cast<int>(drives.size()) - 1;
  return windows.StartDriveThread(drives.back().get());
}
