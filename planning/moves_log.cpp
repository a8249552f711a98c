#include "planning/moves_log.h"

#include <string>

#include "planning/fragment_pieces.h"
#include "platform/decimal_format.h"

namespace {

void WriteRun(TLogFile& log, int64_t lcn, int64_t length) {
  char text[48];
  char* out = text;
  *out++ = ' ';
  out = AppendDecimal(out, lcn);
  *out++ = ':';
  out = AppendDecimal(out, length);
  log.WriteBytes(text, static_cast<size_t>(out - text));
}

void WriteMove(TLogFile& log, const std::string& path, const TItem& item, const TVolumePlan& plan,
               const TItemTarget& target) {
  char text[32];
  char* out = text;
  *out++ = '\t';
  out = AppendDecimal(out, AllocatedClusters(item.fragments));
  out = AppendLiteral(out, "\tfrom");
  log.WriteBytes(path.data(), path.size());
  log.WriteBytes(text, static_cast<size_t>(out - text));
  int64_t lcn = -1;
  int64_t length = 0;
  for (const TFragment* run = item.fragments; run != nullptr; run = run->next) {
    if (run->lcn < 0 || run->length <= 0) continue;
    if (length > 0 && lcn + length == run->lcn) {
      length += run->length;
      continue;
    }
    if (length > 0) WriteRun(log, lcn, length);
    lcn = run->lcn;
    length = run->length;
  }
  if (length > 0) WriteRun(log, lcn, length);
  log.WriteBytes("\tto", 3);
  for (int64_t k = 0; k < target.runCount; ++k) {
    const TTargetRun& run = plan.runs[static_cast<size_t>(target.firstRun + k)];
    WriteRun(log, run.lcn, run.length);
  }
  log.WriteBytes("\r\n", 2);
}

class TMovesWriter {
 public:
  TMovesWriter(TLogFile& log, const TVolumePlan& plan) : log_(log), plan_(plan) {}

  // path is the item's; one buffer serves the whole log, each child's name
  // replacing the last, and is left as it was given.
  void Write(std::string& path, const TItem* item) {
    if (next_ < plan_.items.size()) {
      const TItemTarget& target = plan_.items[next_++];
      if (target.item == item && target.Moves()) WriteMove(log_, path, *item, plan_, target);
    }
    const size_t length = path.size();
    path += '\\';
    const size_t nameStart = path.size();
    for (const TItem* child = item->firstChild; child != nullptr; child = child->nextSibling) {
      path.resize(nameStart);
      path += child->name;
      Write(path, child);
    }
    path.resize(length);
  }

 private:
  TLogFile& log_;
  const TVolumePlan& plan_;
  size_t next_ = 0;  // the plan's entry of the next item
};

}  // namespace

void WriteMovesLog(TLogFile& log, const TItem* root, const TVolumePlan& plan) {
  std::string path;
  if (root != nullptr) TMovesWriter(log, plan).Write(path, root);
}
