// A drive window's "Defragment..." and "Optimize layout..." actions, free of
// any window system: when
// it may be offered, the question asked first, the run of moves on a worker
// of the drive, the map following the files as they move, and the analysis
// made anew when the moves end. Either shell keeps one per drive window and
// binds its button, menu item, refresh and worker's end to it; Pause and
// Stop act on the moves through ui/work_controls.h.
//
// Threads: lives on the window's thread, which alone calls it. The question
// is worked out and the moves run on workers of the drive (StartWorker),
// never on the window's thread: on a volume of a million files the schedule
// alone takes seconds. The asking worker only reads the tree, as the
// window's map does, and writes the layout, the schedule and the question
// into a record it shares with this object (the window may close, and this
// object go, before it ends), which the window's thread reads only once
// that worker's end has been told (WorkerEnded), after its last write. The
// moves' worker reads only the layout handed to it (a copy made here), never
// the tree; it hands each moved file's runs back through the drive's queue
// (drive.moves.movedFiles, guarded), which the window's refresh takes and
// writes into the tree and map, which only the window's thread touches while
// the moves run. The counts, pause and stop go through drive.moves
// (move_progress.h). When the worker has ended (its end is told to the
// window's thread after its last write), the window's thread releases the
// view, map and tree and starts the analysis anew on a new worker.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "drive/drive_optimizer.h"
#include "moving/move_layout.h"
#include "moving/move_schedule.h"
#include "ui/defragment_confirmation.h"

class TWindowMoves {
 public:
  // The drive outlives the object. Made with the window, whose drive starts
  // its analysis at once: until that worker's end has been told
  // (WorkerEnded), nothing is offered, even once the texts say "Finished",
  // so that its late notice is never taken for the end of moves.
  explicit TWindowMoves(TDriveOptimizer& drive);

  // Whether either action may be offered: the analysis has finished without
  // failure and with a tree, and no work of the window's runs.
  bool CanDefragment() const;
  // Whether "Optimize layout..." may be offered too: as CanDefragment, on a
  // drive whose clusters diskopt chooses (not a Linux folder, whose file
  // system places its files itself).
  bool CanOptimize() const { return CanDefragment() && !wholeFiles; }
  // The question for moves of kind on the drive as analysed now (its
  // fragmented files, or its volume-aware plan), or the message that says
  // why nothing would move; the layout shown is kept for Start. Worked out
  // on the calling thread.
  TDefragmentConfirmation Confirm(TMovesKind kind = TMovesKind::kDefragment);
  // Confirm on a worker of the drive, while the window goes on answering;
  // nothing else is offered meanwhile, and the drive's detail says what is
  // being worked out. Its end is told as kQuestionReady, and Question() is
  // then the answer. False, with nothing started, when the moves are not
  // offered or no thread could be started.
  bool Ask(TMovesKind kind);
  // The question the last Ask worked out and the kind it was asked for;
  // read once its end has been told.
  const TDefragmentConfirmation& Question() const { return question; }
  TMovesKind Kind() const { return kind; }
  // Starts the moves of the layout shown by the last Confirm on a worker of
  // the drive, in the stage "Defragmenting" or "Applying optimized tree";
  // false when no thread could be started (nothing moved).
  bool Start();
  bool Moving() const { return state == TState::kMoving; }

  // On the window's refresh, while the moves run: writes the runs of the
  // files moved since the last call into their items and builds the map
  // again over them. True when the map changed (the view must find its
  // cells again and repaint).
  bool ApplyMovedFiles();
  // What the status bar shows, detail being the drive's detailText: while
  // the moves run, the file being moved and how far the moves have come,
  // secondsMoving after they began; once the drive is analysed anew after
  // them, what they did; otherwise detail.
  std::string StatusLine(const std::string& detail, double secondsMoving) const;

  // What a worker's end means to the window.
  enum class TEnd {
    kMovesEnded,     // the moves ended: release the view, then Reanalyse
    kAnalysisEnded,  // an analysis ended, the first or one made anew
    kQuestionReady,  // Ask's worker ended: ask Question(), Start on Yes
  };
  // On the worker's end (its notice to the window's thread).
  TEnd WorkerEnded();
  // Once the shell has deleted its view: forgets the analysis and starts it
  // anew on a worker; false when no thread could be started (the drive's
  // failure then says so).
  bool Reanalyse();
  // What the last run of moves did, on one line for the status bar; empty
  // before any run.
  const std::string& SummaryLine() const { return summaryLine; }
  // What the last run of moves did (FormatMovesSummary), for the summary
  // box; empty before any run.
  const std::string& Summary() const { return summary; }

 private:
  enum class TState { kIdle, kAsking, kMoving, kAnalysing };

  TDriveOptimizer& drive;  // not owned
  // The drive's files are made whole by its file system's own operation
  // (MovesWholeFiles): fixed for the drive's life.
  const bool wholeFiles;
  TState state = TState::kAnalysing;  // the window's first analysis runs
  TMoveLayout layout;                 // the layout of the last question asked
  // The schedule that question was made from, handed to the moves' worker
  // by Start, so that the moves need not make it again; none for a Linux
  // folder, and none once handed over.
  std::optional<TConfirmedSchedule> confirmed;
  TMovesKind kind = TMovesKind::kDefragment;    // the kind of moves it was asked for
  TDefragmentConfirmation question{"", false};  // what Ask worked out
  // What Ask's worker works out, shared with it until its end is told.
  struct TWorkedOut {
    TMoveLayout layout;
    std::optional<TConfirmedSchedule> confirmed;
    TDefragmentConfirmation question{"", false};
  };
  std::shared_ptr<TWorkedOut> workedOut;
  // Made from drive.movesDone once the moves' worker has ended, so the
  // window's thread never reads it while a worker writes it.
  std::string summary;
  std::string summaryLine;
};
