#include "planning/drive_export.h"

#include <utility>

#include "planning/json_writer.h"

namespace {

void WriteRuns(TJsonWriter& json, const TFragment* runs) {
  json.BeginArray();
  for (const TFragment* run = runs; run != nullptr; run = run->next) {
    json.BeginArray();
    json.Int(run->vcn);
    json.Int(run->lcn);
    json.Int(run->length);
    json.EndArray();
  }
  json.EndArray();
}

void WriteSummary(TJsonWriter& json, const TVolumeSummary& summary, TSystemServices& services) {
  // One number under its key.
  const auto count = [&json](const char* key, int64_t value) {
    json.Key(key);
    json.Int(value);
  };
  json.Key("summary");
  json.BeginObject();
  count("items", summary.items);
  count("files", summary.files);
  count("folders", summary.folders);
  count("fragmentedFiles", summary.fragmentedFiles);
  json.Key("fragmentedFilesPercent");
  json.Number(summary.FragmentedFilesPercent());
  count("fragments", summary.fragments);
  json.Key("mostFragmented");
  json.BeginArray();
  for (const TFragmentedFile& file : summary.mostFragmented) {
    json.BeginObject();
    const std::string path = services.TextToUtf8(file.path.c_str());
    json.TextMember("path", path.data(), path.size());
    json.Key("fragments");
    json.Int(file.fragments);
    json.EndObject();
  }
  json.EndArray();
  count("freeClusters", summary.freeClusters);
  count("freeExtents", summary.freeExtents);
  count("largestFreeExtent", summary.largestFreeExtent);
  json.Key("freeOutsideLargestPercent");
  json.Number(summary.FreeOutsideLargestPercent());
  count("itemsPlanned", summary.itemsPlanned);
  count("itemsInPlace", summary.itemsInPlace);
  count("damage", summary.damage);
  // Only where the reader can tell.
  if (summary.clustersHeldByNoFile >= 0)
    count("clustersHeldByNoFile", summary.clustersHeldByNoFile);
  // What administrators' tools report for a volume, for scripts and fleets.
  json.Key("averageFragmentsPerFile");
  json.Number(summary.AverageFragmentsPerFile());
  count("unmovableFiles", summary.unmovableFiles);
  if (summary.clusterBytes > 0) {
    const int64_t used = summary.totalClusters - summary.freeClusters;
    count("clusterBytes", summary.clusterBytes);
    count("volumeBytes", summary.totalClusters * summary.clusterBytes);
    count("usedBytes", used * summary.clusterBytes);
    count("freeBytes", summary.freeClusters * summary.clusterBytes);
  }
  if (summary.mftBytes >= 0) {
    count("mftBytes", summary.mftBytes);
    count("mftFragments", summary.mftFragments);
  }
  json.Key("defragRecommended");
  json.Bool(summary.DefragRecommended());
  json.EndObject();
}

void WritePlanTotals(TJsonWriter& json, const TVolumePlanTotals& totals) {
  json.Key("plan");
  json.BeginObject();
  json.Key("itemsToMove");
  json.Int(totals.itemsToMove);
  json.Key("clustersToMove");
  json.Int(totals.clustersToMove);
  json.Key("fragmentedBefore");
  json.Int(totals.fragmentedBefore);
  json.Key("fragmentedAfter");
  json.Int(totals.fragmentedAfter);
  json.Key("itemsUnplaced");
  json.Int(totals.itemsUnplaced);
  json.EndObject();
}

// Walks the tree as the listing does, the plan's entries following in the
// same pre-order.
class TItemsWriter {
 public:
  TItemsWriter(TJsonWriter& json, const TVolumePlan& plan, TSystemServices& services)
      : json_(json), plan_(plan), services_(services) {}

  void Write(const std::string& path, const TItem* item) {
    const TItemTarget* target = next_ < plan_.items.size() ? &plan_.items[next_] : nullptr;
    ++next_;
    json_.BeginObject();
    json_.TextMember("path", path.data(), path.size());
    json_.Key("folder");
    json_.Bool(item->IsFolder());
    json_.Key("size");
    json_.Int(item->size);
    json_.Key("clusters");
    json_.Int(item->clusters);
    json_.Key("zone");
    json_.Int(item->Zone());
    json_.Key("inPlace");
    json_.Bool((item->flags & kItemNoMove) != 0);
    json_.Key("damaged");
    json_.Bool((item->flags & kItemDamaged) != 0);
    json_.Key("fileId");
    json_.Int(static_cast<int64_t>(item->fileId));
    json_.Key("runs");
    WriteRuns(json_, item->fragments);
    json_.Key("planned");
    WriteRuns(json_, item->planned);
    json_.Key("target");
    json_.BeginArray();
    if (target != nullptr && target->item == item) {
      const TTargetRun* runs = plan_.runs.data() + target->firstRun;
      for (int64_t k = 0; k < target->runCount; ++k) {
        json_.BeginArray();
        json_.Int(runs[k].vcn);
        json_.Int(runs[k].lcn);
        json_.Int(runs[k].length);
        json_.EndArray();
      }
    }
    json_.EndArray();
    json_.Key("moves");
    json_.Bool(target != nullptr && target->item == item && target->Moves());
    json_.EndObject();
    // Children's paths as the listing builds them, from UTF-8 names.
    std::string childPath = path;
    childPath += '\\';
    const size_t nameStart = childPath.size();
    for (const TItem* child = item->firstChild; child != nullptr; child = child->nextSibling) {
      childPath.resize(nameStart);
      childPath += services_.TextToUtf8(child->name);
      Write(childPath, child);
    }
  }

 private:
  TJsonWriter& json_;
  const TVolumePlan& plan_;
  TSystemServices& services_;
  size_t next_ = 0;  // the plan's entry of the next item written
};

}  // namespace

int WriteDriveExport(FILE* stream, const TDriveReport& report, TSystemServices& services) {
  TJsonWriter json(stream);
  json.BeginObject();
  json.Key("drive");
  json.String(&report.driveLetter, 1);
  json.Key("totalClusters");
  json.Int(report.totalClusters);
  json.Key("freeExtents");
  json.BeginArray();
  for (const TFragment* extent = report.freeExtents; extent != nullptr; extent = extent->next) {
    json.BeginArray();
    json.Int(extent->lcn);
    json.Int(extent->length);
    json.EndArray();
  }
  json.EndArray();
  WriteSummary(json, *report.summary, services);
  WritePlanTotals(json, report.plan->totals);
  json.Key("damage");
  json.BeginArray();
  if (report.damage != nullptr) {
    for (const TVolumeDamage& place : *report.damage) {
      json.BeginObject();
      const std::string path = services.TextToUtf8(place.path.c_str());
      json.TextMember("path", path.data(), path.size());
      const std::string what = services.TextToUtf8(place.what.c_str());
      json.TextMember("what", what.data(), what.size());
      json.EndObject();
    }
  }
  json.EndArray();
  json.Key("items");
  json.BeginArray();
  if (report.root != nullptr) TItemsWriter(json, *report.plan, services).Write("", report.root);
  json.EndArray();
  json.EndObject();
  json.Flush();
  return json.Error();
}

std::string ExportPath(const std::string& folder, char driveLetter) {
  std::string path = folder;
  if (!path.empty() && path.back() != '/' && path.back() != '\\') path += '/';
  path += "drive-";
  path += driveLetter;
  path += ".json";
  return path;
}

void ExportDrive(TSystemServices& services, const std::string& folder, const TDriveReport& report,
                 TOutputSet& output) {
  const std::string path = ExportPath(folder, report.driveLetter);
  const std::string what = "the export " + path;
  // Written as the logs are: to a new file, put in place only when whole.
  std::unique_ptr<TReplacementFile> file = services.OpenLog(path.c_str());
  if (!file) {
    output.AddFailure(what, services.LastErrorText());
    return;
  }
  file->Seal(WriteDriveExport(file->Stream(), report, services));
  output.Add(what, std::move(file));
}
