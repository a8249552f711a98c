// The tree listing of the rules and optimized logs: one entry per item in
// pre-order, its item line, its current runs and, if it has one, its plan.
// Lines are composed by hand rather than through printf: a listing of a
// large volume writes millions of them.
#include <cstring>

#include "drive/drive_optimizer.h"
#include "platform/decimal_format.h"

namespace {

// "\t%10I64d\t- %10I64d:\t%10I64d\t(%I64d)\n": vcn, the vcn after the run,
// lcn and length.
void WriteRun(TLogFile& log, const TFragment* run) {
  char line[128];
  char* out = line;
  *out++ = '\t';
  out = AppendDecimal(out, run->vcn, 10);
  out = AppendLiteral(out, "\t- ");
  out = AppendDecimal(out, run->vcn + run->length, 10);
  out = AppendLiteral(out, ":\t");
  out = AppendDecimal(out, run->lcn, 10);
  out = AppendLiteral(out, "\t(");
  out = AppendDecimal(out, run->length);
  out = AppendLiteral(out, ")\r\n");
  log.WriteBytes(line, static_cast<size_t>(out - line));
}

// "[%d]: %10I64d bytes,\t %10I64d clusters in\t %3d fragments;\t flags = %3s %6s \t",
// then the path as plain text and the line end.
void WriteItemLine(TLogFile& log, const TItem* item, const std::string& path, bool withPlan) {
  char line[192];
  char* out = line;
  *out++ = '[';
  out = AppendDecimal(out, item->Zone() - 1);
  out = AppendLiteral(out, "]: ");
  out = AppendDecimal(out, item->size, 10);
  out = AppendLiteral(out, " bytes,\t ");
  out = AppendDecimal(out, item->clusters, 10);
  out = AppendLiteral(out, " clusters in\t ");
  out = AppendDecimal(out, item->fragmentCount, 3);
  out = AppendLiteral(out, " fragments;\t flags = ");
  out = AppendLiteral(out, item->IsFolder() ? "DIR" : "   ");
  const bool noMove = withPlan && (item->flags & kItemNoMove) != 0;
  out = AppendLiteral(out, noMove ? " NOMOVE \t" : "        \t");
  log.WriteBytes(line, static_cast<size_t>(out - line));
  log.WriteBytes(path.data(), path.size());
  log.WriteBytes("\r\n", 2);
}

}  // namespace

void TDriveOptimizer::ListTree(std::string& path, const TItem* item, TLogFile& log, bool withPlan) {
  // The window shows the path of the listing with the plan; a copy, so the
  // text stays valid after this level's path is gone.
  if (withPlan) detailText.Set(path.c_str());
  WriteItemLine(log, item, path, withPlan);
  for (const TFragment* run = item->fragments; run != nullptr; run = run->next) WriteRun(log, run);
  if (withPlan && item->planned != nullptr) {
    log.WriteBytes("\tOptimized into:\r\n", 18);
    for (const TFragment* run = item->planned; run != nullptr; run = run->next) WriteRun(log, run);
    log.WriteBytes("\r\n", 2);
  }
  // Children's paths grow as deep as the tree goes; nothing is cut. One
  // buffer serves the whole listing: each child's name replaces the last.
  const size_t length = path.size();
  path += '\\';
  const size_t nameStart = path.size();
  for (const TItem* child = item->firstChild; child != nullptr; child = child->nextSibling) {
    path.resize(nameStart);
    path += child->name;
    ListTree(path, child, log, withPlan);
  }
  path.resize(length);
}
