#include "tests/linux/json_read_back.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

rapidjson::Document ParseJson(const std::string& text) {
  rapidjson::Document document;
  document.Parse(text.c_str(), text.size());
  EXPECT_FALSE(document.HasParseError())
      << "parse error " << document.GetParseError() << " at " << document.GetErrorOffset();
  return document;
}

std::string UnescapedBytes(const rapidjson::Value& string) {
  const std::string text(string.GetString(), string.GetStringLength());
  std::string bytes;
  for (size_t k = 0; k < text.size(); ++k) {
    const auto c = static_cast<unsigned char>(text[k]);
    const auto next = k + 1 < text.size() ? static_cast<unsigned char>(text[k + 1]) : 0;
    // U+DC80..U+DCFF is ED B2 80..ED B3 BF.
    if (c == 0xED && (next == 0xB2 || next == 0xB3) && k + 2 < text.size()) {
      const auto last = static_cast<unsigned char>(text[k + 2]);
      bytes += static_cast<char>(((next & 1) << 6 | (last & 0x3F)) + 0x80);
      k += 2;
    } else {
      bytes += text[k];
    }
  }
  return bytes;
}

std::vector<TToolRun> JsonRuns(const rapidjson::Value& array) {
  std::vector<TToolRun> runs;
  for (const rapidjson::Value& run : array.GetArray()) {
    runs.push_back(TToolRun{run[0].GetInt64(), run[1].GetInt64(), run[2].GetInt64()});
  }
  return runs;
}

std::vector<TListedEntry> ParseListing(const std::string& bytes) {
  std::vector<TListedEntry> entries;
  bool planned = false;
  size_t start = 0;
  while (start < bytes.size()) {
    size_t end = bytes.find("\r\n", start);
    if (end == std::string::npos) end = bytes.size();
    const std::string line = bytes.substr(start, end - start);
    start = end + 2;
    if (!line.empty() && line[0] == '[') {
      TListedEntry entry;
      long long size = 0, clusters = 0;
      EXPECT_EQ(std::sscanf(line.c_str(), "[%d]: %lld bytes,\t %lld clusters in\t %d fragments;",
                            &entry.zoneIndex, &size, &clusters, &entry.fragmentCount),
                4)
          << line;
      entry.size = size;
      entry.clusters = clusters;
      const size_t flags = line.find("flags = ") + std::strlen("flags = ");
      entry.folder = line.compare(flags, 3, "DIR") == 0;
      entry.noMove = line.compare(flags + 4, 6, "NOMOVE") == 0;
      entry.path = line.substr(flags + 3 + 1 + 6 + 2);
      entries.push_back(entry);
      planned = false;
    } else if (line == "\tOptimized into:") {
      planned = true;
    } else if (!line.empty() && line[0] == '\t' && !entries.empty()) {
      long long vcn = 0, after = 0, lcn = 0, length = 0;
      EXPECT_EQ(
          std::sscanf(line.c_str(), "\t%lld\t- %lld:\t%lld\t(%lld)", &vcn, &after, &lcn, &length),
          4)
          << line;
      (planned ? entries.back().planned : entries.back().runs)
          .push_back(TToolRun{vcn, lcn, length});
    }
  }
  return entries;
}
