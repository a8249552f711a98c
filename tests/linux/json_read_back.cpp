#include "tests/linux/json_read_back.h"

#include <gtest/gtest.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <cstdio>
#include <cstring>

rapidjson::Document ParseJson(const std::string& text) {
  rapidjson::Document document;
  document.Parse<rapidjson::kParseValidateEncodingFlag>(text.c_str(), text.size());
  EXPECT_FALSE(document.HasParseError())
      << "parse error " << document.GetParseError() << " at " << document.GetErrorOffset();
  // The parse takes an escaped lone surrogate into its string as it is;
  // writing the document again with validation refuses any string that is
  // not valid Unicode.
  rapidjson::StringBuffer again;
  rapidjson::Writer<rapidjson::StringBuffer, rapidjson::UTF8<>, rapidjson::UTF8<>,
                    rapidjson::CrtAllocator, rapidjson::kWriteValidateEncodingFlag>
      writer(again);
  EXPECT_TRUE(document.HasParseError() || document.Accept(writer))
      << "a string is not valid Unicode";
  return document;
}

std::string ExportedBytes(const rapidjson::Value& object, const char* key) {
  const std::string bytesKey = std::string(key) + "Bytes";
  if (!object.HasMember(bytesKey.c_str())) {
    return std::string(object[key].GetString(), object[key].GetStringLength());
  }
  static const std::string alphabet =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  const std::string base64 = object[bytesKey.c_str()].GetString();
  EXPECT_EQ(base64.size() % 4, 0u) << base64;
  std::string bytes;
  uint32_t group = 0;
  int bits = 0;
  for (const char c : base64) {
    if (c == '=') break;
    const size_t value = alphabet.find(c);
    EXPECT_NE(value, std::string::npos) << base64;
    group = group << 6 | static_cast<uint32_t>(value & 63);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      bytes += static_cast<char>(group >> bits & 0xFF);
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
