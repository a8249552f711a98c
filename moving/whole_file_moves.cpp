#include "moving/whole_file_moves.h"

#include <vector>

#include "moving/volume_reads.h"
#include "moving/whole_file_words.h"

namespace {

// The runs of the file at path as they lie now; none when they cannot be
// read (the file is whole in its data either way).
std::vector<TFileRun> RunsNow(TSystemServices& services, const std::string& path) {
  std::vector<TFileRun> runs;
  const THandle file = services.OpenForRead(path.c_str(), false);
  if (file == InvalidHandle()) return runs;
  if (!ReadStreamRuns(services, file, &runs)) runs.clear();
  services.Close(file);
  return runs;
}

// The first cluster of runs on the volume; -1 when none lies there.
int64_t FirstLcn(const std::vector<TFileRun>& runs) {
  for (const TFileRun& run : runs) {
    if (run.lcn >= 0) return run.lcn;
  }
  return -1;
}

}  // namespace

bool MovesWholeFiles(TSystemServices& services, char driveLetter) {
  return services.DriveOrigin(driveLetter).kind == TDriveOrigin::TKind::kFolder;
}

TMovesDone CarryOutWholeFiles(TSystemServices& services, TMoveLayout layout,
                              const TWholeFileOptions& options, TMoveJournal* journal,
                              TMoveProgress& progress,
                              const std::function<void(const std::string&)>& showFile,
                              const TFileMovedCall& fileMoved) {
  TMovesDone done;
  done.kind = TMovesKind::kDefragment;
  done.asked = true;
  TWholeFileFolder folder;
  const THandle handle = services.OpenFolderForWholeFiles(layout.driveLetter, options, &folder);
  if (handle == InvalidHandle()) {
    done.failure = "the folder could not be opened for moves: " + services.LastErrorText();
    return done;
  }
  done.started = true;
  done.notes = WholeFileNotes(folder, options);
  int64_t files = 0;
  int64_t clusters = 0;
  for (const TMovableFile& file : layout.files) {
    if (!file.notMovable.empty()) continue;
    ++files;
    clusters += AllocatedClusters(file.runs);
  }
  progress.clusterBytes.store(layout.clusterBytes, std::memory_order_relaxed);
  progress.filesTotal.store(files, std::memory_order_relaxed);
  progress.clustersTotal.store(clusters, std::memory_order_relaxed);
  progress.active.store(true, std::memory_order_relaxed);
  for (size_t index = 0; index < layout.files.size(); ++index) {
    const TMovableFile& file = layout.files[index];
    if (!file.notMovable.empty()) {
      done.left.push_back(TFileLeft{file.listingPath, std::string(file.notMovable)});
      continue;
    }
    if (!progress.WaitToGoOn()) {
      done.stopped = true;
      for (size_t rest = index; rest < layout.files.size(); ++rest) {
        done.left.push_back(
            TFileLeft{layout.files[rest].listingPath, "the moves were stopped before it"});
      }
      break;
    }
    const std::string path = MovePath(layout.driveLetter, file);
    if (showFile) showFile(path);
    const TWholeFileResult result = services.MakeFileWhole(handle, path.c_str());
    const bool moved = result.outcome == TWholeFileOutcome::kFewerPieces;
    const std::string why =
        moved ? std::string() : WholeFileReasonText(result, services.LastErrorText());
    const std::vector<TFileRun> runs = RunsNow(services, path);
    const int64_t fileClusters = AllocatedClusters(file.runs);
    if (journal != nullptr) {
      const TMoveStep step{index, 0, fileClusters, FirstLcn(moved ? runs : file.runs)};
      journal->Step(file, step, file.runs,
                    moved                                        ? "moved"
                    : result.outcome == TWholeFileOutcome::kLeft ? "left: " + why
                                                                 : "failed: " + why);
    }
    if (moved) {
      ++done.filesMoved;
      ++done.stepsDone;
      done.clustersMoved += fileClusters;
      progress.filesDone.fetch_add(1, std::memory_order_relaxed);
      progress.clustersDone.fetch_add(fileClusters, std::memory_order_relaxed);
      if (fileMoved) fileMoved(file, runs);
    } else {
      done.left.push_back(TFileLeft{file.listingPath, why});
      if (result.outcome == TWholeFileOutcome::kFailed && done.failure.empty())
        done.failure = "moving " + file.listingPath + " failed: " + why;
    }
  }
  progress.active.store(false, std::memory_order_relaxed);
  services.Close(handle);
  return done;
}
