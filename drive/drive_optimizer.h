// All state of one drive: its letter, item tree, free extents, planning
// tables, window handles and the two texts its window shows, with the drive
// thread and the worker pipeline that fill them.
//
// Threads: the worker writes root, freeExtents, totalClusters and the tree
// before it posts WM_FRAGMENTS_READY; the drive thread reads them only after
// receiving it. Afterwards the worker changes only item flags, planned lists
// and the zone tables. The window handles are written by the drive thread
// before the worker starts. The texts are TPublishedText, safe across threads.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "drive/damage_list.h"
#include "drive/move_progress.h"
#include "drive/published_text.h"
#include "drive/work_gate.h"
#include "model/item.h"
#include "model/volume_report.h"
#include "platform/log_file.h"
#include "platform/system_services.h"
#include "platform/window_system.h"

class TClusterMap;
class TFragmentView;
class TDriveOptimizer;

// The pipeline's stages. A drive is given the real ones (kDriveStages, with
// the stages above this layer); tests inject stages with chosen outcomes to
// check the skips and texts of the frame.
struct TPipelineStages {
  void (*createMemoryTree)(TDriveOptimizer&);
  void (*mapFreeSpace)(TDriveOptimizer&);
  void (*fillMemoryTree)(TDriveOptimizer&);
  void (*optimizeTree)(TDriveOptimizer&);
  // Carries out moves once the plan is made; none for an analysis, which
  // never opens a volume for writing.
  void (*applyMoves)(TDriveOptimizer&);
};

constexpr int kZoneCount = 8;

class TDriveOptimizer {
 public:
  // stages: the stages RunPipeline runs; not owned, outlives the drive.
  TDriveOptimizer(char driveLetter, TSystemServices& services, TWindowSystem& windows,
                  const TPipelineStages& stages);
  // Releases the fragment view and the cluster map (through releaseViews),
  // the tree and the free extents. Only once the drive thread and the worker
  // have ended and the drive's windows, the fragment view's among them (it
  // reads the map), are gone.
  ~TDriveOptimizer();
  TDriveOptimizer(const TDriveOptimizer&) = delete;
  TDriveOptimizer& operator=(const TDriveOptimizer&) = delete;

  // The drive thread's work: window, worker, message loop. Returns when the
  // window has been closed (on Qt at once: the GUI thread's event loop serves
  // every drive window).
  void RunDriveThread();
  // Beyond the described drive thread: starts a worker of the drive that
  // runs work(*this), then tells the window that the work is over
  // (PostWorkerFinished); WaitForWorkers waits for it too. False when no
  // thread could be started. The window's thread calls it for a window's own
  // work (moves, an analysis made anew), only while no other worker runs.
  bool StartWorker(std::function<void(TDriveOptimizer&)> work);
  // Forgets what the analysis found, so that RunPipeline can analyse the
  // drive anew: the views (releaseViews; the window deletes its own first),
  // the tree with its planned runs, the free extents, the zone tables, the
  // plan, the summary, the damage and the failure. The run of moves and its
  // result stay. Only on the window's thread while no worker runs.
  void ForgetAnalysis();
  // The worker's stages in order, with the skips and the texts they need:
  // the drive's own stages, or the ones given.
  void RunPipeline() { RunPipeline(stages); }
  void RunPipeline(const TPipelineStages& stagesToRun);
  // The stages in order with their skips, as RunPipeline runs them; may
  // throw (std::bad_alloc), which RunPipeline turns into a failure.
  void RunStages(const TPipelineStages& stagesToRun);

  // Stages; each leaves its result in the fields below.
  void CreateMemoryTree();
  void MapFreeSpace();
  void FillMemoryTree();
  void OptimizeTree();

  // Directory scan: lists the folder at path (ending with "\") into parent.
  void ScanFolder(const char* path, TItem* parent);
  // Fragment retrieval: opens the item at path (no trailing separator), reads
  // its size and runs, then its children's.
  // False when the item cannot be opened: its caller takes it out of the
  // tree and releases it. Called by the worker and by a helper thread, each
  // on subtrees of its own; only the worker's paths are shown (shown), so
  // the two do not take turns at detailText's lock for every item.
  bool FillItem(const char* path, TItem* item, bool shown);
  // Opens the item at path and reads its size and runs, not its children's;
  // false and shown as FillItem.
  bool OpenItem(const char* path, TItem* item, bool shown);
  // Reads the item's runs reply by reply; returns the status of a refused
  // request (the services' LastErrorText says why), kStatusSuccess when the
  // runs were read or the stream has none.
  TNtStatus ReadRetrievalPointers(TItem* item, THandle handle);
  // Says what is wrong with an item just opened at path (its runs refused,
  // with refusal the services' reason; runs no volume holds, which leave it;
  // a negative size). Called by whichever thread opened it.
  void CheckOpenedItem(const char* path, TItem* item, const std::string& refusal);
  // Says where the items' clusters conflict with each other or with the free
  // extents (claim_conflicts.h), once every item's runs are read.
  void ReportClaimConflicts();

  // Placement rules: a zone for item and everything below it, with the
  // zones' cluster totals.
  void ClassifyTree(TItem* item);
  void ApplyRules();
  // Zone placement: a planned run per item with clusters and NOMOVE marks;
  // then the rules log, the optimized log and the reports (WriteReports),
  // made at once.
  void OptimizeFragments();
  void PlanZones(TItem* item);
  void MarkItemsInPlace(TItem* item);
  // The logs one listing of the tree writes at once: the rules logs, as the
  // rules left the tree (no NOMOVE, no planned runs), and the optimized logs,
  // with the plan. None owned.
  struct TTreeLogs {
    std::vector<TLogFile*> rules;
    std::vector<TLogFile*> optimized;
  };
  // Writes the entry of item and its whole subtree to logs; path is the
  // item's listing path (empty for the root), extended for the subtree's
  // paths and given back as it came. Only a listing with the plan shows its
  // paths in the window.
  void ListTree(std::string& path, const TItem* item, const TTreeLogs& logs);
  // Lists the tree, in one walk, into the rules log and the optimized log
  // (each under every one of its LogNames), for output.
  void ListLogs();
  // Beside the described plan: the volume-aware plan and its moves log, the
  // summary, and the JSON export when exportFolder names one. Reads the
  // finished zone plan and writes volumePlan, summary and its own files
  // alone, so it may run beside the optimized log's listing; the files go
  // to reports, a set of their own, which the caller adds to output once
  // the listing's files are there, so that the files (and their failures)
  // keep one order whichever thread ends first.
  void WriteReports(TOutputSet& reports);

  // The names a log with a fixed name (such as "C:\\dirlist_free.log") is
  // written under: the fixed name, where the last drive to write it wins,
  // and, when more than one drive runs, the drive's own copy beside it
  // ("C:\\dirlist_free-D.log"), so no drive's result is lost.
  std::vector<std::string> LogNames(const char* fixedName) const;

  // Asks the worker to end early, for good (its window's "Stop", or the
  // window has been closed): the stages look at it between items and
  // unwind, moves end after the step under way, and a held worker wakes.
  // Any thread.
  void RequestStop() {
    work.Stop();
    moves.Stop();
  }
  bool StopRequested() const { return work.Stopped(); }
  // Holds the worker at the next item of any stage, moves included, until
  // Resume or a stop; any thread (the window's, as a rule).
  void Pause() {
    work.Pause();
    moves.Pause();
  }
  void Resume() {
    work.Resume();
    moves.Resume();
  }
  bool Paused() const { return work.Paused(); }
  // Called by the threads that do the stages' work, between two items:
  // waits while the work is paused; true once a stop has been asked for (at
  // once, or while held), when the caller unwinds.
  bool HoldOrStop() { return !work.WaitToGoOn(); }

  // A stage could not do its work (the volume, its free space, the root
  // folder or a log): reason says what failed, in words, with the system's
  // error text. The first reason stays, and none is taken once a stop has
  // been asked for; at the end the status bar shows it in place of
  // "Finished". Called by the worker and, once the worker has ended, by the
  // drive window when a picture of it cannot be saved.
  void Fail(const std::string& reason);
  // The reason of the first failure; empty while nothing failed.
  std::string FailureReason() const { return failureReason.Get(); }
  // The volume contradicts itself at path (a listing path, \docs\a.txt):
  // what says how. The item there, when there is one (not owned), is marked
  // kItemDamaged so that no plan moves it. Called by the worker and the
  // retrieval's helper thread, each for items of its own.
  void ReportDamage(TItem* item, std::string path, std::string what);
  // Takes what the services found wrong with the volume since last asked,
  // marking each item named there (the tree's shape is read only).
  void TakeVolumeDamage();

  char driveLetter;   // exactly the character taken from the command line
  bool perDriveLogs;  // more than one drive runs; set before the drive thread starts
  // The drive's window among the run's drive windows, for its place on the
  // screen: its index from 0 and their count; set before the drive thread
  // starts.
  int windowIndex;
  int windowCount;
  // Where the JSON export goes: a folder, "-" for standard output, or empty
  // for none. Set before the drive thread starts, read by the worker.
  std::string exportFolder;
  // What the user asked of moves made by a Linux folder's own file system
  // (--defragment-shared). Set before the drive thread starts, read by the
  // worker.
  TWholeFileOptions wholeFileOptions;
  TItem* root;                       // root of the drive's tree; none if there is none
  TFragment* freeExtents;            // free extents in ascending lcn, chained by next
  TClusterMap* clusterMap;           // built by the drive window on the notice; see releaseViews
  TFragmentView* fragmentView;       // made on the notice; see releaseViews
  int64_t totalClusters;             // clusters of the volume
  int64_t zoneCursor[kZoneCount];    // per zone (slot = zone - 1): next planned cluster
  int64_t zoneClusters[kZoneCount];  // per zone: total clusters of its items
  TFragment* zoneFreeCursor[kZoneCount];  // per zone: free extent to place around; never set
  bool quitRequested;        // stops the drive thread's loop; written and read by it alone
  TWindowHandle mainWindow;  // the drive window
  TWindowHandle statusBar;   // shows detailText
  TWindowHandle pauseButton;
  TWindowHandle stopButton;
  TWindowHandle stageLabel;   // shows statusText
  TPublishedText statusText;  // the current stage
  TPublishedText detailText;  // detail of the stage: a path, a sub-step, or empty
  // Written by the worker in the optimizing stage, before it publishes
  // "Finished"; other threads read them only after seeing "Finished" (the
  // text's lock orders the two).
  TVolumePlan volumePlan;
  TVolumeSummary summary;
  TDamageList damage;  // where the volume contradicts itself; see damage_list.h
  // Clusters marked used that no file holds, as the services found them
  // once the items were read (-1: they cannot tell). Written by the worker
  // at the end of the retrieval; read by the reports, which run after it on
  // the worker or a thread it starts then.
  int64_t clustersHeldByNoFile = -1;
  // The run of moves, when the stages carry some out (move_progress.h says
  // who reads and writes what).
  TMoveProgress moves;
  TMovesDone movesDone;
  // Items the directory scan has found plus items the fragment retrieval has
  // read, for the progress a headless run shows. Bumped by the worker, read
  // by the GUI thread about once a second; relaxed, as a count that orders
  // nothing else.
  std::atomic<int64_t> itemsCounted{0};
  // For the window's progress bar: the items the retrieval will read (the
  // tree the scan built, counted when the retrieval begins), -1 until then;
  // and itemsCounted when the retrieval began, so the items read so far are
  // itemsCounted less it. Written by the worker, readFrom first, then
  // itemsToRead with release; the window's thread reads itemsToRead with
  // acquire every tick and, once it is known, readFrom after it, so it
  // never pairs a total with the base of an earlier run. Reset with the
  // analysis (ForgetAnalysis), before any worker of the new one starts.
  std::atomic<int64_t> itemsToRead{-1};
  std::atomic<int64_t> readFrom{0};
  // The files this run writes (logs, export): each stage that writes one
  // hands it here, and the pipeline's end puts them all in place, or none
  // when any failed. The worker and the reports' thread add at once; it
  // guards itself.
  TOutputSet output;

  TSystemServices& services;      // not owned; outlives the drive optimizer
  TWindowSystem& windows;         // not owned; outlives the drive optimizer
  const TPipelineStages& stages;  // not owned; outlives the drive optimizer
  // Set by the window layer that made clusterMap and fragmentView: releases
  // what of them the drive optimizer owns (the map always; the view where it
  // outlives its window, as on Win32, not where the window deletes it, as on
  // Qt). None while there is nothing to release.
  void (*releaseViews)(TDriveOptimizer& drive);

 private:
  // The end of the free-space stage once freeExtents and totalClusters are
  // read: closes volume, writes the free-space log, and fails the drive
  // when nothing is free.
  void FinishFreeSpace(THandle volume);

  // Pause and stop of the analysis (work_gate.h): set by the window's thread
  // (a stop also by whoever ends the drive), waited on by the worker and its
  // helper thread between items. Never reopened: a stop is for good.
  TWorkGate work;
  TPublishedText failureReason;  // see Fail; written by the worker, read by any thread
};

// The status bar's text, and the summary's line, for a volume found damaged
// in `problems` places: "Damage: 3 problems, see the export".
std::string DamageSummaryText(size_t problems);

// Start routine of the drive thread; the parameter is the drive optimizer.
// Returns 0.
unsigned DriveThreadProc(void* parameter);

// Blocks until every worker thread started so far has returned from its
// pipeline, so that nothing a worker uses is torn down under it at exit.
void WaitForWorkers();
