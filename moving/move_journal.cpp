#include "moving/move_journal.h"

#include <cinttypes>
#include <cstdio>

TMoveJournal::TMoveJournal(TSystemServices& services, const std::string& name) : name_(name) {
  file_ = services.OpenLog(name.c_str());
  if (!file_) {
    failure_ = "the journal " + name + " could not be written: " + services.LastErrorText();
  } else if (!file_->PutInPlaceNow()) {
    failure_ = "the journal " + name + " could not be written: " + file_->FailureText();
    file_.reset();
  }
}

void TMoveJournal::Step(const TMovableFile& file, const TMoveStep& step,
                        const std::vector<TFileRun>& from, const std::string& result) {
  if (!file_) return;
  std::string line = file.listingPath + "\t" + StreamName(file.stream) + "\t" +
                     std::to_string(step.vcn) + "\t" + std::to_string(step.clusters) + "\t";
  for (const TFileRun& run : from) {
    line += " " + std::to_string(run.lcn) + ":" + std::to_string(run.length);
  }
  line += "\t" + std::to_string(step.targetLcn) + "\t" + result + "\r\n";
  FILE* stream = file_->Stream();
  // Through to the file at once: the next step may be the last the process
  // lives to see.
  if (std::fwrite(line.data(), 1, line.size(), stream) != line.size() || std::fflush(stream) != 0) {
    if (failure_.empty()) failure_ = "the journal " + name_ + " could not be written";
  }
}

std::string TMoveJournal::Close() {
  if (file_ && !file_->Seal() && failure_.empty()) {
    failure_ = "the journal " + name_ + " could not be written: " + file_->FailureText();
  }
  file_.reset();
  return failure_;
}
