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

char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// An extension of at most four characters packed one byte a character into
// an integer, the first highest: the lists below, compared as integers.
template <size_t N>
constexpr uint32_t Packed(const char (&extension)[N]) {
  static_assert(N >= 2 && N <= 5, "an extension of one to four characters");
  uint32_t key = 0;
  for (size_t i = 0; i + 1 < N; ++i) key = key << 8 | static_cast<unsigned char>(extension[i]);
  return key;
}

constexpr uint32_t kProgramExtensions[] = {
    Packed("exe"), Packed("dll"), Packed("sys"), Packed("cpl"), Packed("drv"), Packed("ocx"),
    Packed("ax"),  Packed("bpl"), Packed("dpl"), Packed("chm"), Packed("hlp")};
constexpr uint32_t kArchiveExtensions[] = {
    Packed("zip"),  Packed("rar"), Packed("7z"),  Packed("avi"), Packed("mpg"),
    Packed("mpeg"), Packed("flv"), Packed("mp3"), Packed("mp4"), Packed("wmv"),
    Packed("wma"),  Packed("wav"), Packed("ogg"), Packed("mpa"), Packed("mpv")};

// The text after the last '.' of name, lower-cased and packed as the lists
// are; 0 for a name without one, or with one longer than any listed.
uint32_t PackedExtension(const char* name) {
  const char* dot = std::strrchr(name, '.');
  if (dot == nullptr) return 0;
  uint32_t key = 0;
  int length = 0;
  for (const char* c = dot + 1; *c != '\0'; ++c) {
    if (++length > 4) return 0;
    key = key << 8 | static_cast<unsigned char>(LowerAscii(*c));
  }
  return key;
}

template <size_t N>
bool PackedIn(uint32_t extension, const uint32_t (&list)[N]) {
  if (extension == 0) return false;
  for (uint32_t entry : list) {
    if (entry == extension) return true;
  }
  return false;
}

}  // namespace

int ZoneOf(const TItem& item) {
  if (item.IsFolder()) return kZoneFolders;
  // The name's extension is found once for both lists.
  const uint32_t extension = PackedExtension(item.name);
  if (PackedIn(extension, kProgramExtensions)) return kZonePrograms;
  if (PackedIn(extension, kArchiveExtensions)) return kZoneArchives;
  return item.size <= kSmallFileLimit ? kZoneSmallFiles : kZoneLargeFiles;
}

bool TItem::HasProgramExtension() const {
  return PackedIn(PackedExtension(name), kProgramExtensions);
}

bool TItem::HasArchiveExtension() const {
  return PackedIn(PackedExtension(name), kArchiveExtensions);
}

void TDriveOptimizer::ClassifyTree(TItem* item) {
  // A stop leaves the rest unclassified: nothing of a stopped drive's plan
  // is written or shown.
  if (HoldOrStop()) return;
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

void TDriveOptimizer::ListLogs() {
  // A pause holds here, before the logs' locks are taken (see ListTree).
  if (HoldOrStop()) return;
  // Opened in one order by every drive, so that drives listing at once never
  // wait for each other's logs in a circle: each name's lock is held while
  // its log is open.
  std::vector<std::unique_ptr<TLogFile>> open;
  TTreeLogs logs;
  for (const bool withPlan : {false, true}) {
    for (const std::string& name :
         LogNames(withPlan ? "c:\\DirList_Optimized.log" : "C:\\DirList_rules.log")) {
      open.push_back(std::make_unique<TLogFile>(services, name.c_str(), output));
      if (!open.back()->IsOpen()) continue;
      (withPlan ? logs.optimized : logs.rules).push_back(open.back().get());
    }
  }
  if (logs.rules.empty() && logs.optimized.empty()) return;
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
