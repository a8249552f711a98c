#include "tools/sample_volume.h"

#include <algorithm>
#include <string>
#include <utility>

namespace {

// Makes the items of the sample through one builder and one generator,
// keeping the first failure: later steps are skipped once a step failed, so
// the report names the cause rather than its consequences.
class TSampleWriter {
 public:
  TSampleWriter(TNtfsImageBuilder* builder, uint64_t seed, TSampleSummary* summary)
      : builder_(builder), random_(seed), summary_(summary) {}

  TSplitMix64& Random() { return random_; }
  const TBuildStatus& Status() const { return status_; }

  void Keep(TBuildStatus status) {
    if (status_ && !status) status_ = std::move(status);
  }

  void Folder(const std::string& path) {
    if (!status_) return;
    Keep(builder_->MakeFolder(path));
    ++summary_->folders;
  }

  void File(const std::string& path, const TContent& content) {
    if (!status_) return;
    Keep(builder_->MakeFile(path, content));
    Count(content);
  }

  void Fragmented(const std::string& path, const TContent& content, int64_t fragments,
                  int64_t gapClusters, int64_t searchFromLcn) {
    if (!status_) return;
    Keep(builder_->MakeFragmentedFile(path, content, fragments, gapClusters, searchFromLcn));
    Count(content);
  }

  // In one run, in the first free stretch past the MFT zone that holds it:
  // written like any other file, a big one would land in whatever gaps the
  // allocator finds.
  void Contiguous(const std::string& path, const TContent& content) {
    Fragmented(path, content, 1, 1, builder_->MftZoneEnd());
  }

  void Sparse(const std::string& path, const TContent& content, uint64_t holeOffset,
              uint64_t holeBytes) {
    if (!status_) return;
    Keep(builder_->MakeSparseFile(path, content, holeOffset, holeBytes));
    Count(content);
  }

  void Compressed(const std::string& path) {
    if (!status_) return;
    Keep(builder_->SetFolderCompressed(path));
  }

  // A size in [low, high] bytes, spread evenly over the powers of two in
  // between, as file sizes are: many small files, few big ones.
  uint64_t Size(uint64_t low, uint64_t high) {
    int lowBits = 0;
    while ((2ull << lowBits) <= low) ++lowBits;
    int highBits = lowBits;
    while ((2ull << highBits) <= high) ++highBits;
    const int bits = static_cast<int>(random_.Between(lowBits, highBits));
    const uint64_t from = std::max(low, uint64_t{1} << bits);
    const uint64_t to = std::min(high, (uint64_t{2} << bits) - 1);
    return from <= to ? random_.Between(from, to) : random_.Between(low, high);
  }

  TContent Binary(uint64_t low, uint64_t high) { return TContent::Binary(Size(low, high), Seed()); }
  TContent Text(uint64_t low, uint64_t high) { return TContent::Text(Size(low, high), Seed()); }
  uint64_t Seed() { return random_.Next(); }

  // "prefix" + a number of `digits` digits, e.g. Numbered("IMG_", 4) = "IMG_0421".
  std::string Numbered(const std::string& prefix, int digits) {
    std::string number = std::to_string(random_.Below(10000000));
    while (static_cast<int>(number.size()) < digits) number = "0" + number;
    return prefix + number.substr(number.size() - static_cast<size_t>(digits));
  }

 private:
  void Count(const TContent& content) {
    ++summary_->files;
    summary_->dataBytes += content.Size();
  }

  TNtfsImageBuilder* builder_;  // not owned
  TSplitMix64 random_;
  TSampleSummary* summary_;  // not owned
  TBuildStatus status_;
};

constexpr const char* kSystemWords[] = {
    "kernel", "user",  "gdi",   "shell",  "comctl", "ole",    "rpc",   "crypt", "net",
    "win",    "http",  "dx",    "d3d",    "audio",  "media",  "print", "font",  "input",
    "power",  "wmi",   "setup", "update", "sec",    "auth",   "cert",  "dns",   "tcp",
    "usb",    "hid",   "disk",  "vol",    "ntfs",   "cache",  "mem",   "task",  "sched",
    "event",  "trace", "perf",  "clip",   "ime",    "speech", "ink",   "xml",   "json",
};
constexpr const char* kSuffixes[] = {"",    "32",   "64", "srv", "svc",
                                     "api", "core", "ui", "ext", "mgr"};
constexpr const char* kDocumentWords[] = {
    "Budget",  "Invoice", "Letter", "Notes", "Report", "Minutes", "Plan",   "Draft",
    "Summary", "Recipe",  "Travel", "Taxes", "Offer",  "Agenda",  "Review", "Contract",
};

template <size_t N>
const char* Pick(TSplitMix64& random, const char* const (&words)[N]) {
  return words[random.Below(N)];
}

std::string SystemName(TSampleWriter& w) {
  return std::string(Pick(w.Random(), kSystemWords)) + Pick(w.Random(), kSuffixes);
}

// The fixed layouts first, while the volume is empty, so each finds a free
// stretch where it is asked to start.
void MakeFixedLayouts(TSampleWriter& w, int64_t clusterCount) {
  w.Folder("/Windows");
  w.Folder("/Windows/System32");
  w.Folder("/Windows/System32/config");
  w.Folder("/Users");
  w.Folder("/Users/alice");
  w.Folder("/Users/alice/Videos");
  w.Folder("/Users/alice/Documents");
  w.Folder("/Users/alice/Downloads");
  w.Folder("/Users/bob");
  w.Folder("/Users/bob/Backups");
  const uint64_t cluster = kSampleClusterBytes;
  // Each starts at its own fraction of the volume; the gaps between the
  // runs stay free and fragment the free space as well.
  const int64_t startFraction[] = {55, 70, 80};
  const uint64_t sizes[] = {w.Size(3000000, 4000000), w.Size(2100000, 3000000),
                            w.Size(300000, 600000)};
  for (size_t i = 0; i < 3; ++i) {
    w.Fragmented(kSampleFragmentedFiles[i], TContent::Binary(sizes[i], w.Seed()),
                 kSampleFragmentedRuns[i], static_cast<int64_t>(w.Random().Between(2, 40)),
                 clusterCount * startFraction[i] / 100);
  }
  // One cluster per run, one free cluster between runs.
  w.Fragmented(kSampleManyRunsFile, TContent::Binary(kSampleManyRuns * cluster - 1000, w.Seed()),
               kSampleManyRuns, 1, clusterCount * 85 / 100);
  // Later on the allocator's spread leaves no stretch long enough.
  w.Contiguous(kSampleLargeFiles[0], w.Binary(6000000, 8000000));
  w.Contiguous(kSampleLargeFiles[1], w.Binary(2500000, 3500000));
  w.Contiguous(kSampleLargeFiles[2], w.Binary(3000000, 3500000));
}

void MakeWindows(TSampleWriter& w) {
  w.File("/Windows/System32/config/SYSTEM", w.Binary(800000, 1500000));
  w.File("/Windows/System32/config/SAM", w.Binary(32768, 65536));
  w.File("/Windows/System32/config/SECURITY", w.Binary(32768, 65536));
  w.File("/Windows/System32/config/DEFAULT", w.Binary(100000, 300000));
  const int dlls = static_cast<int>(w.Random().Between(300, 340));
  for (int i = 0; i < dlls; ++i) {
    w.File("/Windows/System32/" + SystemName(w) + std::to_string(i) + ".dll",
           w.Binary(1024, 48000));
  }
  const int exes = static_cast<int>(w.Random().Between(90, 120));
  for (int i = 0; i < exes; ++i) {
    w.File("/Windows/System32/" + SystemName(w) + std::to_string(i) + ".exe",
           w.Binary(2048, 100000));
  }
  for (int i = 0; i < 40; ++i) {
    w.File("/Windows/System32/" + SystemName(w) + std::to_string(i) + ".nls", w.Binary(300, 4000));
  }
  w.Folder("/Windows/System32/drivers");
  w.Folder("/Windows/System32/drivers/etc");
  w.File("/Windows/System32/drivers/etc/hosts", TContent::Text(824, w.Seed()));
  const int drivers = static_cast<int>(w.Random().Between(110, 140));
  for (int i = 0; i < drivers; ++i) {
    w.File("/Windows/System32/drivers/" + SystemName(w) + std::to_string(i) + ".sys",
           w.Binary(4096, 48000));
  }
  w.Folder("/Windows/Fonts");
  for (int i = 0; i < 30; ++i) {
    w.File("/Windows/Fonts/" + w.Numbered("font", 3) + "_" + std::to_string(i) + ".ttf",
           w.Binary(20000, 200000));
  }
  w.Folder("/Windows/WinSxS");
  for (int i = 0; i < 45; ++i) {
    const std::string folder = "/Windows/WinSxS/amd64_microsoft-windows-" + SystemName(w) + "_" +
                               w.Numbered("31bf3856ad364e35_10.0.19041.", 4) + "_none_" +
                               std::to_string(i);
    w.Folder(folder);
    const int files = static_cast<int>(w.Random().Between(3, 8));
    for (int j = 0; j < files; ++j) {
      w.File(folder + "/" + SystemName(w) + std::to_string(j) + ".dll", w.Binary(1024, 40000));
    }
    w.File(folder + "/" + SystemName(w) + ".manifest", w.Text(400, 3000));
  }
  w.Folder(kSampleCompressedFolder);
  w.Compressed(kSampleCompressedFolder);
  for (int i = 0; i < 30; ++i) {
    w.File(std::string(kSampleCompressedFolder) + "/" + w.Numbered("setup-", 6) + "_" +
               std::to_string(i) + ".log",
           w.Text(70000, 200000));
  }
  w.Folder("/Windows/INF");
  for (int i = 0; i < 150; ++i) {
    w.File("/Windows/INF/" + SystemName(w) + std::to_string(i) + ".inf", w.Text(300, 6000));
  }
  w.Folder("/Windows/Temp");
  for (int i = 0; i < 25; ++i) {
    w.File("/Windows/Temp/" + w.Numbered("~tmp", 5) + "_" + std::to_string(i) + ".tmp",
           w.Binary(0, 40000));
  }
}

void MakePrograms(TSampleWriter& w) {
  const char* const vendors[] = {"Contoso", "Fabrikam",  "Northwind", "Tailspin",
                                 "Litware", "Proseware", "Adatum",    "Woodgrove",
                                 "Wingtip", "Humongous", "Lucerne",   "Margie",
                                 "Coho",    "Alpine",    "Trey",      "Blue Yonder"};
  const char* const products[] = {"Studio", "Player", "Office", "Sync", "Viewer", "Tools"};
  const char* const locales[] = {"en-US", "de-DE", "fr-FR", "ja-JP", "es-ES", "pt-BR"};
  w.Folder("/Program Files");
  w.Folder("/Program Files (x86)");
  int index = 0;
  for (const char* vendor : vendors) {
    const std::string root =
        std::string(index % 3 == 2 ? "/Program Files (x86)/" : "/Program Files/") + vendor;
    const std::string app = root + "/" + Pick(w.Random(), products);
    w.Folder(root);
    w.Folder(app);
    w.File(app + "/" + vendor + ".exe", w.Binary(50000, 500000));
    w.File(app + "/readme.txt", w.Text(500, 8000));
    w.File(app + "/license.txt", w.Text(2000, 20000));
    w.Folder(app + "/bin");
    const int dlls = static_cast<int>(w.Random().Between(6, 16));
    for (int i = 0; i < dlls; ++i) {
      w.File(app + "/bin/" + SystemName(w) + std::to_string(i) + ".dll", w.Binary(4096, 120000));
    }
    w.Folder(app + "/resources");
    w.Folder(app + "/resources/locales");
    for (const char* locale : locales) {
      const std::string folder = app + "/resources/locales/" + locale;
      w.Folder(folder);
      w.File(folder + "/strings.txt", w.Text(600, 12000));
      w.File(folder + "/help.zip", w.Binary(5000, 60000));
    }
    w.Folder(app + "/plugins");
    const int plugins = static_cast<int>(w.Random().Between(2, 6));
    for (int i = 0; i < plugins; ++i) {
      const std::string plugin = app + "/plugins/" + SystemName(w) + std::to_string(i);
      w.Folder(plugin);
      w.File(plugin + "/plugin.dll", w.Binary(8000, 100000));
      w.File(plugin + "/plugin.ini", w.Text(100, 900));
    }
    ++index;
  }
}

// The usual folders of a user; home, its Downloads and the documents folder
// exist already.
void MakeUser(TSampleWriter& w, const std::string& home, const std::string& documents, int scale) {
  w.Folder(home + "/Music");
  w.Folder(home + "/Pictures");
  for (int i = 0; i < 5 * scale; ++i) {
    const std::string album =
        home + "/Pictures/" + w.Numbered("Album ", 3) + "-" + std::to_string(i);
    w.Folder(album);
    const int photos = static_cast<int>(w.Random().Between(5, 15));
    for (int j = 0; j < photos; ++j) {
      w.File(album + "/" + w.Numbered("IMG_", 4) + "_" + std::to_string(j) + ".jpg",
             w.Binary(10000, 80000));
    }
  }
  for (int i = 0; i < 8 * scale; ++i) {
    w.File(home + "/Music/" + w.Numbered("Track ", 2) + "_" + std::to_string(i) + ".mp3",
           w.Binary(80000, 300000));
  }
  for (int i = 0; i < 60 * scale; ++i) {
    const char* extension = i % 3 == 0 ? ".doc" : ".txt";
    w.File(documents + "/" + Pick(w.Random(), kDocumentWords) + " " + std::to_string(2000 + i) +
               extension,
           i % 3 == 0 ? w.Binary(8000, 120000) : w.Text(100, 20000));
  }
  for (int i = 0; i < 5 * scale; ++i) {
    w.File(home + "/Downloads/" + w.Numbered("setup_", 4) + "_" + std::to_string(i) +
               (i % 2 == 0 ? ".zip" : ".exe"),
           w.Binary(30000, 400000));
  }
}

// A source tree `depth` folders deep below root, branching in two at every
// fourth level.
void MakeProject(TSampleWriter& w, const std::string& root, int depth) {
  w.Folder(root);
  const int files = static_cast<int>(w.Random().Between(4, 10));
  for (int i = 0; i < files; ++i) {
    const char* extension = i % 2 == 0 ? ".cpp" : ".h";
    w.File(root + "/" + SystemName(w) + "_" + std::to_string(i) + extension, w.Text(200, 12000));
  }
  if (depth == 0) return;
  const int children = depth % 4 == 0 ? 2 : 1;
  for (int i = 0; i < children; ++i) {
    MakeProject(w, root + "/" + SystemName(w) + std::to_string(i), depth - 1);
  }
}

void MakeUsers(TSampleWriter& w) {
  MakeUser(w, "/Users/alice", "/Users/alice/Documents", 2);
  w.File(kSampleNonAsciiNames[0], w.Text(1000, 9000));
  w.File(kSampleNonAsciiNames[1], w.Binary(20000, 90000));
  w.File(kSampleNonAsciiNames[2], w.Binary(300000, 700000));
  for (int i = 0; i < 4; ++i) {
    w.File("/Users/alice/Videos/" + w.Numbered("Clip ", 3) + "_" + std::to_string(i) + ".avi",
           w.Binary(200000, 800000));
  }
  w.Folder("/Users/alice/Projects");
  MakeProject(w, "/Users/alice/Projects/diskopt", 12);
  MakeProject(w, "/Users/alice/Projects/website", 5);

  w.Folder("/Users/bob/Документы");
  w.Folder("/Users/bob/Downloads");
  MakeUser(w, "/Users/bob", "/Users/bob/Документы", 1);
  w.File(kSampleNonAsciiNames[3], w.Binary(20000, 90000));

  w.Folder("/Users/Public");
  w.Folder("/Users/Public/Documents");
  for (int i = 0; i < 20; ++i) {
    w.File("/Users/Public/Documents/" + std::string(Pick(w.Random(), kDocumentWords)) + "-" +
               std::to_string(i) + ".txt",
           w.Text(100, 4000));
  }
}

void MakeProgramData(TSampleWriter& w) {
  w.Folder("/ProgramData");
  w.Folder("/ProgramData/Search");
  const uint64_t cluster = kSampleClusterBytes;
  // A database that reserved room it has not used yet: its head and tail
  // are written, the middle never was.
  const uint64_t head = cluster * w.Random().Between(16, 64);
  const uint64_t hole = cluster * w.Random().Between(256, 1024);
  const uint64_t tail = cluster * w.Random().Between(8, 32);
  w.Sparse(kSampleSparseFile, TContent::Binary(head + hole + tail, w.Seed()), head, hole);
  w.Folder("/ProgramData/Cache");
  for (int i = 0; i < 80; ++i) {
    w.File("/ProgramData/Cache/" + w.Numbered("entry", 6) + "_" + std::to_string(i) + ".bin",
           w.Binary(0, 3000));
  }
}

}  // namespace

TBuildStatus BuildSampleVolume(const std::string& imagePath, uint64_t seed,
                               TSampleSummary* summary) {
  *summary = TSampleSummary{};
  TNtfsImageBuilder builder;
  TNtfsFormat format;
  format.imageBytes = kSampleImageBytes;
  format.clusterBytes = kSampleClusterBytes;
  format.label = "Sample";
  if (TBuildStatus status = builder.Format(imagePath, format); !status) return status;
  TSampleWriter w(&builder, seed, summary);
  MakeFixedLayouts(w, builder.ClusterCount());
  MakeWindows(w);
  MakePrograms(w);
  MakeUsers(w);
  MakeProgramData(w);
  w.Keep(builder.Finish());
  return w.Status();
}
