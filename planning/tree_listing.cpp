// The tree listing of the rules and optimized logs: one entry per item in
// pre-order, its item line, its current runs and, if it has one, its plan.
#include <cinttypes>
#include <cstring>

#include "app/drive_optimizer.h"

namespace {

void WriteRun(TLogFile& log, const TFragment* run) {
  log.Print("\t%10" PRId64 "\t- %10" PRId64 ":\t%10" PRId64 "\t(%" PRId64 ")\n", run->vcn,
            run->vcn + run->length, run->lcn, run->length);
}

}  // namespace

void TDriveOptimizer::ListTree(const std::string& path, const TItem* item, TLogFile& log) {
  // The window shows a copy, so the text stays valid after this level's
  // path is gone.
  detailText.Set(path.c_str());
  log.Print("[%d]: %10" PRId64 " bytes,\t %10" PRId64
            " clusters in\t %3d fragments;\t flags = %3s %6s \t",
            item->Zone() - 1, item->size, item->clusters, item->fragmentCount,
            item->IsFolder() ? "DIR" : "", (item->flags & kItemNoMove) != 0 ? "NOMOVE" : "");
  log.Write(path.c_str());
  log.Write("\n");
  for (const TFragment* run = item->fragments; run != nullptr; run = run->next) WriteRun(log, run);
  if (item->planned != nullptr) {
    log.Write("\tOptimized into:\n");
    for (const TFragment* run = item->planned; run != nullptr; run = run->next) WriteRun(log, run);
    log.Write("\n");
  }
  // Children's paths grow as deep as the tree goes; nothing is cut.
  std::string childPath = path;
  childPath += '\\';
  const size_t nameStart = childPath.size();
  for (const TItem* child = item->firstChild; child != nullptr; child = child->nextSibling) {
    childPath.resize(nameStart);
    childPath += child->name;
    ListTree(childPath, child, log);
  }
}
