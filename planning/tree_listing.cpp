// The tree listing of the rules and optimized logs: one entry per item in
// pre-order, its item line, its current runs and, if it has one, its plan.
// Lines are composed by hand rather than through printf: a listing of a
// large volume writes millions of them.
#include <cstring>
#include <string>
#include <vector>

#include "drive/drive_optimizer.h"
#include "platform/decimal_format.h"

namespace {

// Writes bytes to every log of logs.
void WriteAll(const std::vector<TLogFile*>& logs, const char* bytes, size_t length) {
  for (TLogFile* log : logs) log->WriteBytes(bytes, length);
}

// Writes bytes to every log of both listings.
void WriteBoth(const TDriveOptimizer::TTreeLogs& logs, const char* bytes, size_t length) {
  WriteAll(logs.rules, bytes, length);
  WriteAll(logs.optimized, bytes, length);
}

// "\t%10I64d\t- %10I64d:\t%10I64d\t(%I64d)\n": vcn, the vcn after the run,
// lcn and length, at line; returns its length.
size_t FormatRun(char* line, const TFragment* run) {
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
  return static_cast<size_t>(out - line);
}

// The runs, each line formatted once and written by write.
template <typename TWrite>
void WriteRuns(const TFragment* runs, TWrite write) {
  char line[128];
  for (const TFragment* run = runs; run != nullptr; run = run->next)
    write(line, FormatRun(line, run));
}

// "[%d]: %10I64d bytes,\t %10I64d clusters in\t %3d fragments;\t flags = %3s %6s \t"
// at line, the flags without NOMOVE; returns its length and in *noMove where
// NOMOVE would go.
size_t FormatItemLine(char* line, const TItem* item, size_t* noMove) {
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
  *noMove = static_cast<size_t>(out - line);
  out = AppendLiteral(out, "        \t");
  return static_cast<size_t>(out - line);
}

}  // namespace

void TDriveOptimizer::ListTree(std::string& path, const TItem* item, const TTreeLogs& logs) {
  // A stop leaves the logs unfinished: the pipeline then puts none of them
  // in place. A pause does not hold here: the listing holds the locks of
  // the fixed log names, which the other drives' listings wait for.
  if (StopRequested()) return;
  // The window shows the path of the listing with the plan; a copy, so the
  // text stays valid after this level's path is gone.
  if (!logs.optimized.empty()) detailText.Set(path.c_str());
  // The item line, then the path as plain text and the line end; the same
  // in both listings but for NOMOVE, which only the plan sets.
  char line[192];
  size_t noMove = 0;
  const size_t length = FormatItemLine(line, item, &noMove);
  WriteAll(logs.rules, line, length);
  if ((item->flags & kItemNoMove) != 0) AppendLiteral(line + noMove, " NOMOVE ");
  WriteAll(logs.optimized, line, length);
  WriteBoth(logs, path.data(), path.size());
  WriteBoth(logs, "\r\n", 2);
  WriteRuns(item->fragments,
            [&logs](const char* bytes, size_t size) { WriteBoth(logs, bytes, size); });
  if (item->planned != nullptr && !logs.optimized.empty()) {
    WriteAll(logs.optimized, "\tOptimized into:\r\n", 18);
    WriteRuns(item->planned,
              [&logs](const char* bytes, size_t size) { WriteAll(logs.optimized, bytes, size); });
    WriteAll(logs.optimized, "\r\n", 2);
  }
  // Children's paths grow as deep as the tree goes; nothing is cut. One
  // buffer serves the whole listing: each child's name replaces the last.
  const size_t pathLength = path.size();
  path += '\\';
  const size_t nameStart = path.size();
  for (const TItem* child = item->firstChild; child != nullptr; child = child->nextSibling) {
    path.resize(nameStart);
    path += child->name;
    ListTree(path, child, logs);
  }
  path.resize(pathLength);
}
