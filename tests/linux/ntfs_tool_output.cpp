#include "tests/linux/ntfs_tool_output.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <sstream>

extern char** environ;

namespace {

// Reads both pipes until both are closed; poll keeps a tool that fills one
// while we wait on the other from blocking.
void Drain(int outFd, int errFd, std::string* out, std::string* err) {
  pollfd fds[2] = {{outFd, POLLIN, 0}, {errFd, POLLIN, 0}};
  std::string* sinks[2] = {out, err};
  int open = 2;
  char buffer[65536];
  while (open > 0) {
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      const ssize_t got = read(fds[i].fd, buffer, sizeof buffer);
      if (got > 0) {
        sinks[i]->append(buffer, static_cast<size_t>(got));
      } else if (got == 0 || errno != EINTR) {
        fds[i].fd = -1;
        --open;
      }
    }
  }
}

// The text after the first ':' of a "\tKey:\t value" line, trimmed.
std::string ValueOf(const std::string& line) {
  const size_t colon = line.find(':');
  if (colon == std::string::npos) return std::string();
  const size_t start = line.find_first_not_of(" \t", colon + 1);
  if (start == std::string::npos) return std::string();
  const size_t end = line.find_last_not_of(" \t\r");
  return line.substr(start, end - start + 1);
}

bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

// The leading decimal number of a value such as "4096 (0x1000)".
int64_t LeadingNumber(const std::string& value) { return std::strtoll(value.c_str(), nullptr, 10); }

// The number in the last parentheses of a value such as
// "ARCHIVE COMPRESSED (0x00000820)".
uint32_t ParenthesisedHex(const std::string& value) {
  const size_t open = value.rfind('(');
  if (open == std::string::npos) return 0;
  return static_cast<uint32_t>(std::strtoul(value.c_str() + open + 1, nullptr, 16));
}

// A runlist row: three tab-separated columns after leading tabs, the LCN
// either a number or a placeholder such as <HOLE>. Returns false for any
// other line; *skip is set for <RL_NOT_MAPPED>, which ntfsinfo prints for
// the VCNs that other records of the attribute map.
bool ParseRunRow(const std::string& line, TToolRun* run, bool* skip) {
  std::istringstream columns(line);
  std::string vcn;
  std::string lcn;
  std::string length;
  std::string extra;
  if (!(columns >> vcn >> lcn >> length) || (columns >> extra)) return false;
  if (!StartsWith(vcn, "0x") || !StartsWith(length, "0x")) return false;
  *skip = false;
  run->vcn = std::strtoll(vcn.c_str(), nullptr, 16);
  run->length = std::strtoll(length.c_str(), nullptr, 16);
  if (StartsWith(lcn, "0x")) {
    run->lcn = std::strtoll(lcn.c_str(), nullptr, 16);
  } else if (lcn == "<HOLE>") {
    run->lcn = TToolRun::kHoleLcn;
  } else if (lcn == "<RL_NOT_MAPPED>") {
    *skip = true;
  } else if (lcn.front() == '<' && lcn.back() == '>') {
    run->lcn = TToolRun::kUnknownLcn;
  } else {
    return false;
  }
  return true;
}

}  // namespace

TToolOutput RunTool(const std::vector<std::string>& argv) {
  TToolOutput result;
  if (argv.empty()) return result;
  int outPipe[2];
  int errPipe[2];
  if (pipe2(outPipe, O_CLOEXEC) != 0) return result;
  if (pipe2(errPipe, O_CLOEXEC) != 0) {
    close(outPipe[0]);
    close(outPipe[1]);
    return result;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, outPipe[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, errPipe[1], STDERR_FILENO);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  std::vector<char*> args;
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  pid_t child = -1;
  int error = posix_spawnp(&child, argv[0].c_str(), &actions, nullptr, args.data(), environ);
  // Some of the tools live in sbin, which is not on every user's PATH.
  for (const char* folder : {"/usr/sbin/", "/sbin/"}) {
    if (error != ENOENT || argv[0].find('/') != std::string::npos) break;
    const std::string path = folder + argv[0];
    error = posix_spawn(&child, path.c_str(), &actions, nullptr, args.data(), environ);
  }
  posix_spawn_file_actions_destroy(&actions);
  close(outPipe[1]);
  close(errPipe[1]);
  if (error == 0) Drain(outPipe[0], errPipe[0], &result.out, &result.err);
  close(outPipe[0]);
  close(errPipe[0]);
  if (error != 0) return result;
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return result;
}

std::vector<TNtfsinfoAttribute> ParseNtfsinfoAttributes(const std::string& ntfsinfoOutput) {
  std::vector<TNtfsinfoAttribute> attributes;
  std::istringstream lines(ntfsinfoOutput);
  std::string line;
  bool inRunlist = false;
  while (std::getline(lines, line)) {
    // "Dumping attribute $DATA (0x80) from mft record 73 (0x49)"
    const std::string dumping = "Dumping attribute ";
    if (StartsWith(line, dumping)) {
      TNtfsinfoAttribute attribute;
      const size_t typeEnd = line.find(' ', dumping.size());
      attribute.type = line.substr(dumping.size(), typeEnd - dumping.size());
      const std::string record = "from mft record ";
      const size_t at = line.find(record);
      if (at != std::string::npos) {
        attribute.mftRecord = std::strtoull(line.c_str() + at + record.size(), nullptr, 10);
      }
      attributes.push_back(attribute);
      inRunlist = false;
      continue;
    }
    if (attributes.empty() || line.empty() || line[0] != '\t') {
      inRunlist = false;
      continue;
    }
    TNtfsinfoAttribute& attribute = attributes.back();
    if (inRunlist) {
      TToolRun run{};
      bool skip = false;
      if (ParseRunRow(line, &run, &skip)) {
        if (!skip) attribute.runs.push_back(run);
        continue;
      }
      inRunlist = false;
    }
    // Only the attribute's own lines, which have one leading tab; index
    // blocks and attribute list entries dumped below them have two.
    if (line.size() < 2 || line[1] == '\t') continue;
    const size_t colon = line.find(':');
    const std::string key = line.substr(1, colon == std::string::npos ? colon : colon - 1);
    const std::string value = ValueOf(line);
    if (StartsWith(key, "Resident")) {
      attribute.resident = value == "Yes";
    } else if (key == "Attribute name") {
      attribute.name =
          value.size() >= 2 && value.front() == '\'' ? value.substr(1, value.size() - 2) : value;
    } else if (key == "Attribute flags") {
      attribute.flags = static_cast<uint32_t>(std::strtoul(value.c_str(), nullptr, 16));
    } else if (key == "File attributes") {
      attribute.fileAttributes = ParenthesisedHex(value);
    } else if (key == "Data size") {
      attribute.dataSize = LeadingNumber(value);
    } else if (StartsWith(line, "\tLowest VCN")) {
      // ntfsinfo prints this key without a colon.
      attribute.lowestVcn =
          std::strtoll(line.c_str() + line.find_first_of("0123456789"), nullptr, 10);
    } else if (StartsWith(line, "\tRunlist:")) {
      inRunlist = true;
    }
  }
  return attributes;
}

std::vector<TToolRun> AttributeRuns(const std::vector<TNtfsinfoAttribute>& attributes,
                                    const std::string& type, const std::string& name) {
  std::vector<const TNtfsinfoAttribute*> records;
  for (const TNtfsinfoAttribute& attribute : attributes) {
    if (attribute.type == type && attribute.name == name) records.push_back(&attribute);
  }
  std::stable_sort(records.begin(), records.end(),
                   [](const TNtfsinfoAttribute* a, const TNtfsinfoAttribute* b) {
                     return a->lowestVcn < b->lowestVcn;
                   });
  std::vector<TToolRun> runs;
  for (const TNtfsinfoAttribute* record : records) {
    runs.insert(runs.end(), record->runs.begin(), record->runs.end());
  }
  return runs;
}

std::vector<TToolRun> MergeRuns(const std::vector<TToolRun>& runs) {
  std::vector<TToolRun> merged;
  for (const TToolRun& run : runs) {
    if (!merged.empty()) {
      TToolRun& last = merged.back();
      const bool bothHoles = last.lcn == TToolRun::kHoleLcn && run.lcn == TToolRun::kHoleLcn;
      const bool continues = last.lcn >= 0 && run.lcn == last.lcn + last.length;
      if (run.vcn == last.vcn + last.length && (bothHoles || continues)) {
        last.length += run.length;
        continue;
      }
    }
    merged.push_back(run);
  }
  return merged;
}

std::vector<std::string> ParseNtfslsNames(const std::string& ntfslsOutput) {
  std::vector<std::string> names;
  std::istringstream lines(ntfslsOutput);
  std::string line;
  while (std::getline(lines, line)) {
    if (!line.empty()) names.push_back(line);
  }
  return names;
}

int64_t ParseNtfsclusterFreeClusters(const std::string& ntfsclusterOutput) {
  std::istringstream lines(ntfsclusterOutput);
  std::string line;
  while (std::getline(lines, line)) {
    if (StartsWith(line, "clusters of free space")) return LeadingNumber(ValueOf(line));
  }
  return -1;
}

std::vector<TClusterOwner> ParseNtfsclusterOwners(const std::string& ntfsclusterOutput) {
  std::vector<TClusterOwner> owners;
  std::istringstream lines(ntfsclusterOutput);
  std::string line;
  while (std::getline(lines, line)) {
    // "Inode 78 /Big/$INDEX_ALLOCATION($I30)"; the extent notes ("Inode 74
    // is an extent of inode 73.") name no path.
    if (!StartsWith(line, "Inode ")) continue;
    char* end = nullptr;
    const uint64_t inode = std::strtoull(line.c_str() + 6, &end, 10);
    if (end == nullptr || *end != ' ' || end[1] != '/') continue;
    const std::string full(end + 1);
    const size_t split = full.rfind("/$");
    if (split == std::string::npos) continue;
    TClusterOwner owner{inode, split == 0 ? "/" : full.substr(0, split), full.substr(split + 1)};
    const bool seen = std::any_of(owners.begin(), owners.end(), [&](const TClusterOwner& o) {
      return o.inode == owner.inode && o.attribute == owner.attribute;
    });
    if (!seen) owners.push_back(owner);
  }
  return owners;
}

int64_t ParseNtfsinfoNumber(const std::string& ntfsinfoOutput, const std::string& key) {
  std::istringstream lines(ntfsinfoOutput);
  std::string line;
  while (std::getline(lines, line)) {
    if (StartsWith(line, "\t" + key + ":")) return LeadingNumber(ValueOf(line));
  }
  return -1;
}

std::vector<TFreeExtent> FreeExtentsFromBitmap(const std::string& bitmap, int64_t clusterCount) {
  std::vector<TFreeExtent> extents;
  const int64_t bits = std::min<int64_t>(clusterCount, static_cast<int64_t>(bitmap.size()) * 8);
  for (int64_t lcn = 0; lcn < bits; ++lcn) {
    const bool used =
        (static_cast<unsigned char>(bitmap[static_cast<size_t>(lcn / 8)]) >> (lcn % 8)) & 1u;
    if (used) continue;
    if (!extents.empty() && extents.back().lcn + extents.back().length == lcn) {
      ++extents.back().length;
    } else {
      extents.push_back(TFreeExtent{lcn, 1});
    }
  }
  return extents;
}
