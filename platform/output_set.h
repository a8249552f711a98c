// The files one drive writes in a run: its logs (and their per-drive
// copies), its moves log and its export. Each is written whole to a new file
// beside its name (replacement_file.h) and sealed; at the end of the run
// they are put in place together, and only when every one of them was
// written. A full file system or an I/O error in any of them leaves every
// file of the previous run untouched: the files under the fixed names never
// describe two runs at once, as they did when each was renamed as soon as
// it was written and some did not fit. The cost is room for both runs'
// files while the new ones are written.
//
// Sets of drives that end at once are put in place one after the other,
// under one process-wide lock, so the fixed names hold one drive's whole
// set. A rename that fails once others are done cannot be undone; it is
// reported, and the rest are still put in place.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/replacement_file.h"

class TOutputSet {
 public:
  TOutputSet() = default;
  TOutputSet(const TOutputSet&) = delete;
  TOutputSet& operator=(const TOutputSet&) = delete;

  // Takes a file once written: what names it for the user ("the log
  // C:\dirlist_free.log"), file its new file, sealed (a failed Seal makes
  // the file's FailureText the set's reason).
  void Add(const std::string& what, std::unique_ptr<TReplacementFile> file);
  // Records a file that could not even be made, and why (reason in the
  // system's words).
  void AddFailure(const std::string& what, const std::string& reason);

  // Takes every entry of other, after those here, in other's order; other
  // is empty afterwards.
  void Absorb(TOutputSet& other);

  // Puts every file in place when none failed, else removes every new one.
  // Returns what failed, in the order added, each as "<what> could not be
  // written: <reason>", separated by "; ", and then, when other files were
  // kept back for it, that they were; empty when all went in place. The set
  // is empty afterwards and may be used again.
  std::string Commit();
  // Removes every new file: the run ended early and its files stay unused.
  void Discard();

 private:
  struct TEntry {
    std::string what;
    std::unique_ptr<TReplacementFile> file;  // none for a file that could not be made
    std::string failure;                     // empty when the file was written whole
  };
  // A set may be handed between threads (the reports' set is written on a
  // thread of its own and absorbed by the worker's); entries_ is guarded by
  // lock_.
  std::mutex lock_;
  std::vector<TEntry> entries_;
};
