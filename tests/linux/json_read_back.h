// Reading the JSON export back with a real parser (RapidJSON), and the
// optimized listing it must agree with, for the tests of the export.
#pragma once

#include <rapidjson/document.h>

#include <cstdint>
#include <string>
#include <vector>

#include "tests/linux/ntfs_tool_output.h"

// Parses a whole document strictly; fails the calling test when it does
// not parse as valid Unicode: raw text that is not UTF-8, and escapes that
// stand for no character (a lone surrogate such as \udc80), are refused.
rapidjson::Document ParseJson(const std::string& text);

// The bytes of the text member key of object: its "<key>Bytes" decoded from
// base64 when it has one (a text that is not valid UTF-8), else the string.
std::string ExportedBytes(const rapidjson::Value& object, const char* key);

// [[a, b, c], ...] as runs of vcn, lcn and length.
std::vector<TToolRun> JsonRuns(const rapidjson::Value& array);

// One entry of a tree listing (the rules or optimized log).
struct TListedEntry {
  std::string path;
  int zoneIndex = 0;
  int64_t size = 0;
  int64_t clusters = 0;
  int fragmentCount = 0;
  bool folder = false;
  bool noMove = false;
  std::vector<TToolRun> runs;
  std::vector<TToolRun> planned;
};

// Every entry of a listing's bytes, in order.
std::vector<TListedEntry> ParseListing(const std::string& bytes);
