// Runs ntfs-3g's own command-line tools (ntfsinfo, ntfsls, ntfscat,
// ntfscluster) and reads their output, so tests can check NTFS images
// against a reader that is not ours. Formats are those of ntfs-3g 2022.10.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct TToolOutput {
  int exitCode = -1;  // -1 when the tool could not be started
  std::string out;    // standard output, as bytes
  std::string err;    // standard error, as bytes
};

// Runs argv[0] (looked up on PATH, then in /usr/sbin and /sbin) with no
// shell in between, so names need no quoting, and waits for it.
TToolOutput RunTool(const std::vector<std::string>& argv);

// One run of a stream, in clusters; lcn is kHoleLcn for a sparse stretch
// (or the unused tail of a compression unit).
struct TToolRun {
  static constexpr int64_t kHoleLcn = -1;
  // A placeholder ntfsinfo printed that is neither a cluster nor a hole.
  static constexpr int64_t kUnknownLcn = -2;
  int64_t vcn;
  int64_t lcn;
  int64_t length;

  bool operator==(const TToolRun& other) const {
    return vcn == other.vcn && lcn == other.lcn && length == other.length;
  }
};

// One attribute record as `ntfsinfo -v -F <path> <image>` dumps it. An
// attribute mapped by several MFT records (through an attribute list) gives
// one record each.
struct TNtfsinfoAttribute {
  std::string type;        // "$DATA", "$INDEX_ALLOCATION", ...
  std::string name;        // "$I30" and the like; empty when unnamed
  uint64_t mftRecord = 0;  // the record holding this attribute record
  bool resident = false;
  uint32_t flags = 0;           // attribute flags: 0x0001 compressed, 0x8000 sparse
  uint32_t fileAttributes = 0;  // $STANDARD_INFORMATION and $FILE_NAME only
  int64_t dataSize = -1;        // bytes; -1 when ntfsinfo did not show it
  int64_t lowestVcn = 0;        // first VCN this record maps
  std::vector<TToolRun> runs;   // what this record maps, in VCN order
};

std::vector<TNtfsinfoAttribute> ParseNtfsinfoAttributes(const std::string& ntfsinfoOutput);

// The runs of the attribute of that type and name over all its records, in
// VCN order, as stored (neighbours that continue each other not merged).
std::vector<TToolRun> AttributeRuns(const std::vector<TNtfsinfoAttribute>& attributes,
                                    const std::string& type, const std::string& name = "");

// Runs merged where one continues the other (the next VCN at the next LCN,
// or holes back to back), as Windows reports retrieval pointers.
std::vector<TToolRun> MergeRuns(const std::vector<TToolRun>& runs);

// The names `ntfsls` lists, one a line ("." and ".." kept if listed).
std::vector<std::string> ParseNtfslsNames(const std::string& ntfslsOutput);

// "clusters of free space" from `ntfscluster -i <image>`; -1 when missing.
int64_t ParseNtfsclusterFreeClusters(const std::string& ntfsclusterOutput);

// One owner `ntfscluster -c <first>-<last> <image>` reports for a cluster
// range: the item and its attribute ("/Big/$INDEX_ALLOCATION($I30)" gives
// path "/Big" and attribute "$INDEX_ALLOCATION($I30)"). Listed once each,
// in the order first reported; none for a free range.
struct TClusterOwner {
  uint64_t inode;
  std::string path;
  std::string attribute;
};
std::vector<TClusterOwner> ParseNtfsclusterOwners(const std::string& ntfsclusterOutput);

// The leading number of a "\tKey: value" line of `ntfsinfo -m <image>`
// ("Volume Size in Clusters", "Cluster Size", "MFT Zone End", ...); -1 when
// there is no such line.
int64_t ParseNtfsinfoNumber(const std::string& ntfsinfoOutput, const std::string& key);

// A stretch of free clusters.
struct TFreeExtent {
  int64_t lcn;
  int64_t length;

  bool operator==(const TFreeExtent& other) const {
    return lcn == other.lcn && length == other.length;
  }
};

// The free stretches of the first clusterCount clusters of a cluster bitmap
// (bit i of byte i / 8 set for a cluster in use), as `ntfscat <image>
// '$Bitmap'` prints it; bits past clusterCount are ignored.
std::vector<TFreeExtent> FreeExtentsFromBitmap(const std::string& bitmap, int64_t clusterCount);
