// A streaming JSON writer: values go out through a fixed buffer to a stdio
// stream as they are given, so its memory never grows with the document.
// Strings are taken as UTF-8; a byte that is not part of a valid UTF-8
// sequence is kept as the escape \udcXX (XX its value, the convention of
// "surrogate escapes"), never dropped.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

class TJsonWriter {
 public:
  explicit TJsonWriter(FILE* stream);  // not owned; flushed by Flush()
  TJsonWriter(const TJsonWriter&) = delete;
  TJsonWriter& operator=(const TJsonWriter&) = delete;

  void BeginObject();
  void EndObject();
  void BeginArray();
  void EndArray();
  // The key of the next member of the open object.
  void Key(const char* key);
  void String(const char* text, size_t length);
  void String(const char* text);
  void Int(int64_t value);
  void Bool(bool value);
  // A finite number with up to 4 decimals (percentages, shares).
  void Number(double value);

  // Writes out what the buffer holds; false if any write so far failed.
  bool Flush();

 private:
  void BeforeValue();
  void Reserve(size_t bytes);
  void Put(char c) { *out_++ = c; }

  static constexpr size_t kBufferBytes = 1 << 16;
  static constexpr int kMaxDepth = 32;  // the export nests 4 deep

  FILE* stream_;
  char buffer_[kBufferBytes];
  char* out_;
  bool failed_;
  int depth_;
  bool first_[kMaxDepth];  // per open container: no member written yet
  bool afterKey_;          // a key was written; its value comes next
};
