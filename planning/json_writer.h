// A streaming JSON writer: values go out through a fixed buffer to a stdio
// stream as they are given, so its memory never grows with the document.
// The document is valid Unicode, which strict parsers accept: strings are
// taken as UTF-8, and bytes that are not (names of host folders in another
// encoding, NTFS names holding a lone surrogate, which arrive as its 3-byte
// generalised UTF-8 form) become U+FFFD, one for each maximal part of an
// ill-formed sequence as Unicode recommends (what Python's
// bytes.decode("utf-8", "replace") and web browsers give). TextMember keeps
// such a text's bytes beside it, in base64, so that it maps back.
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
  // A member of the open object holding text: "<key>": the text as String
  // writes it and, only when text is not valid UTF-8, "<key>Bytes": its
  // bytes exactly, in base64 (RFC 4648, with padding).
  void TextMember(const char* key, const char* text, size_t length);
  void Int(int64_t value);
  void Bool(bool value);
  // A finite number with up to 4 decimals (percentages, shares).
  void Number(double value);

  // Writes out what the buffer holds; false if any write so far failed.
  bool Flush();
  // The errno of the first write or flush that failed; 0 while none did.
  int Error() const { return error_; }

 private:
  void BeforeValue();
  void Reserve(size_t bytes);
  // Keeps errno as the reason of a failed write, unless one is kept.
  void Failed();
  void Put(char c) { *out_++ = c; }

  static constexpr size_t kBufferBytes = 1 << 16;
  static constexpr int kMaxDepth = 32;  // the export nests 4 deep

  FILE* stream_;
  char buffer_[kBufferBytes];
  char* out_;
  int error_;  // see Error
  int depth_;
  bool first_[kMaxDepth];  // per open container: no member written yet
  bool afterKey_;          // a key was written; its value comes next
};
