// Placement rules: every item goes into a zone by three tests (is it a
// folder, what is its extension, how large is it), and each zone's clusters
// are totalled for the zone placement.
#include "planning/placement_rules.h"

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "drive/drive_optimizer.h"

namespace {

const char* const kProgramExtensions[] = {"exe", "dll", "sys", "cpl", "drv", "ocx",
                                          "ax",  "bpl", "dpl", "chm", "hlp"};
const char* const kArchiveExtensions[] = {"zip", "rar", "7z",  "avi", "mpg", "mpeg", "flv", "mp3",
                                          "mp4", "wmv", "wma", "wav", "ogg", "mpa",  "mpv"};

char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// The text after the last '.' of name, or the empty text without one.
const char* Extension(const char* name) {
  const char* dot = std::strrchr(name, '.');
  return dot == nullptr ? "" : dot + 1;
}

template <size_t N>
bool ExtensionIn(const char* name, const char* const (&list)[N]) {
  const char* extension = Extension(name);
  if (*extension == '\0') return false;
  for (const char* entry : list) {
    size_t i = 0;
    while (entry[i] != '\0' && LowerAscii(extension[i]) == entry[i]) ++i;
    if (entry[i] == '\0' && extension[i] == '\0') return true;
  }
  return false;
}

}  // namespace

int ZoneOf(const TItem& item) {
  if (item.IsFolder()) return kZoneFolders;
  if (item.HasProgramExtension()) return kZonePrograms;
  if (item.HasArchiveExtension()) return kZoneArchives;
  return item.size <= kSmallFileLimit ? kZoneSmallFiles : kZoneLargeFiles;
}

bool TItem::HasProgramExtension() const { return ExtensionIn(name, kProgramExtensions); }

bool TItem::HasArchiveExtension() const { return ExtensionIn(name, kArchiveExtensions); }

void TDriveOptimizer::ClassifyTree(TItem* item) {
  const int zone = ZoneOf(*item);
  item->SetZone(zone);
  for (TItem* child = item->firstChild; child != nullptr; child = child->nextSibling) {
    ClassifyTree(child);
  }
  zoneClusters[zone - 1] += item->clusters;
}

void TDriveOptimizer::ApplyRules() {
  if (root == nullptr) return;
  ClassifyTree(root);
  // The rules log is listed once the plan is made, beside the optimized log
  // (see OptimizeFragments): it shows the tree as the rules left it all the
  // same.
  statusText.Set("Listing tree");
}

void TDriveOptimizer::ListLogs(std::vector<std::string>* failures) {
  // Opened in one order by every drive, so that drives listing at once never
  // wait for each other's logs in a circle: each name's lock is held while
  // its log is open.
  std::vector<std::unique_ptr<TLogFile>> open;
  TTreeLogs logs;
  for (const bool withPlan : {false, true}) {
    for (const std::string& name :
         LogNames(withPlan ? "c:\\DirList_Optimized.log" : "C:\\DirList_rules.log")) {
      open.push_back(std::make_unique<TLogFile>(services, name.c_str()));
      if (!open.back()->IsOpen()) {
        failures->push_back("the log " + name +
                            " could not be written: " + services.LastErrorText());
        continue;
      }
      (withPlan ? logs.optimized : logs.rules).push_back(open.back().get());
      logs.all.push_back(open.back().get());
    }
  }
  if (logs.all.empty()) return;
  std::string path;
  ListTree(path, root, logs);
}

void TDriveOptimizer::OptimizeTree() {
  statusText.Set("Optimizing the memory tree");
  detailText.Set("Applying rules to the tree");
  ApplyRules();
  detailText.Set("Optimizing fragments");
  OptimizeFragments();
}
