// The journal of a run of moves, DirList_Applied.log: one line per step as
// it completes, written through to the file before the next step begins,
// so that a run stopped or killed shows exactly what was done:
//   path TAB stream TAB vcn TAB clusters TAB from TAB to TAB result CR LF
// path as the logs write it, stream "$DATA" or "$I30", from the moved
// clusters where they lay (" lcn:length" each), to the target's first
// cluster, result "moved" or "failed: <why>".
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "moving/move_layout.h"
#include "moving/move_schedule.h"
#include "platform/system_services.h"

constexpr const char* kAppliedLogName = "C:\\DirList_Applied.log";

class TMoveJournal {
 public:
  // Starts the journal at name, in place at once; IsOpen() tells whether it
  // could (FailureText says why not).
  TMoveJournal(TSystemServices& services, const std::string& name);
  TMoveJournal(const TMoveJournal&) = delete;
  TMoveJournal& operator=(const TMoveJournal&) = delete;

  bool IsOpen() const { return file_ != nullptr; }
  // The line of one step: from are the clusters it moved, where they lay.
  void Step(const TMovableFile& file, const TMoveStep& step, const std::vector<TFileRun>& from,
            const std::string& result);
  // Closes the journal: empty when every line reached the file, else why not.
  std::string Close();
  const std::string& FailureText() const { return failure_; }

 private:
  std::string name_;
  std::unique_ptr<TReplacementFile> file_;  // none when it could not be started
  std::string failure_;                     // the first failure, in words
};
