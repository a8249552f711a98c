#include "planning/json_writer.h"

#include <cerrno>
#include <cstring>
#include <string>

#include "platform/decimal_format.h"

namespace {

const char kHex[] = "0123456789abcdef";
const char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// The UTF-8 sequence that begins at text (at most length bytes): in *valid
// its length when it is whole and valid, else 0; returned, the bytes it
// spans as far as they could still belong to one valid sequence, at least
// 1 (the maximal part that one U+FFFD stands for). Overlong forms,
// surrogates and values above U+10FFFF are not valid.
size_t Sequence(const unsigned char* text, size_t length, size_t* valid) {
  const unsigned char lead = text[0];
  *valid = 0;
  size_t count = 0;
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    count = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    count = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    count = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 1;
  }
  size_t k = 1;
  for (; k < count && k < length; ++k) {
    if (text[k] < low || text[k] > high) return k;
    low = 0x80;
    high = 0xBF;
  }
  if (k == count) *valid = count;
  return k;
}

bool IsValidUtf8(const unsigned char* text, size_t length) {
  for (size_t k = 0; k < length;) {
    if (text[k] < 0x80) {
      ++k;
      continue;
    }
    size_t valid = 0;
    Sequence(text + k, length - k, &valid);
    if (valid == 0) return false;
    k += valid;
  }
  return true;
}

}  // namespace

TJsonWriter::TJsonWriter(FILE* stream)
    : stream_(stream), out_(buffer_), error_(0), depth_(0), first_{}, afterKey_(false) {}

void TJsonWriter::Reserve(size_t bytes) {
  if (static_cast<size_t>(buffer_ + kBufferBytes - out_) >= bytes) return;
  const size_t used = static_cast<size_t>(out_ - buffer_);
  errno = 0;
  if (std::fwrite(buffer_, 1, used, stream_) != used) Failed();
  out_ = buffer_;
}

bool TJsonWriter::Flush() {
  Reserve(kBufferBytes);
  errno = 0;
  if (std::fflush(stream_) != 0) Failed();
  return error_ == 0;
}

void TJsonWriter::Failed() {
  // A short write without an errno still lost bytes.
  if (error_ == 0) error_ = errno != 0 ? errno : EIO;
}

void TJsonWriter::BeforeValue() {
  Reserve(2);
  if (afterKey_) {
    afterKey_ = false;
    return;
  }
  if (depth_ > 0) {
    // Past kMaxDepth levels the separators are wrong but memory is safe.
    const int level = (depth_ < kMaxDepth ? depth_ : kMaxDepth) - 1;
    if (!first_[level]) Put(',');
    first_[level] = false;
  }
}

void TJsonWriter::BeginObject() {
  BeforeValue();
  Reserve(1);
  Put('{');
  if (depth_ < kMaxDepth) first_[depth_] = true;
  ++depth_;
}

void TJsonWriter::EndObject() {
  Reserve(1);
  Put('}');
  --depth_;
}

void TJsonWriter::BeginArray() {
  BeforeValue();
  Reserve(1);
  Put('[');
  if (depth_ < kMaxDepth) first_[depth_] = true;
  ++depth_;
}

void TJsonWriter::EndArray() {
  Reserve(1);
  Put(']');
  --depth_;
}

void TJsonWriter::Key(const char* key) {
  String(key);
  Reserve(1);
  Put(':');
  afterKey_ = true;
}

void TJsonWriter::String(const char* text) { String(text, std::strlen(text)); }

void TJsonWriter::String(const char* text, size_t length) {
  BeforeValue();
  Reserve(1);
  Put('"');
  const auto* bytes = reinterpret_cast<const unsigned char*>(text);
  size_t k = 0;
  while (k < length) {
    Reserve(8);  // the longest form of one byte, \u00XX, or one sequence
    const unsigned char c = bytes[k];
    if (c >= 0x20 && c < 0x80 && c != '"' && c != '\\') {
      Put(static_cast<char>(c));
      ++k;
    } else if (c == '"' || c == '\\') {
      Put('\\');
      Put(static_cast<char>(c));
      ++k;
    } else if (c < 0x20) {
      Put('\\');
      Put('u');
      Put('0');
      Put('0');
      Put(kHex[c >> 4]);
      Put(kHex[c & 15]);
      ++k;
    } else {
      size_t valid = 0;
      const size_t spanned = Sequence(bytes + k, length - k, &valid);
      if (valid > 0) {
        for (size_t m = 0; m < valid; ++m) Put(static_cast<char>(bytes[k + m]));
      } else {
        Put('\xEF');  // U+FFFD
        Put('\xBF');
        Put('\xBD');
      }
      k += spanned;
    }
  }
  Reserve(1);
  Put('"');
}

void TJsonWriter::TextMember(const char* key, const char* text, size_t length) {
  Key(key);
  String(text, length);
  const auto* bytes = reinterpret_cast<const unsigned char*>(text);
  if (IsValidUtf8(bytes, length)) return;
  Key((std::string(key) + "Bytes").c_str());
  BeforeValue();
  Reserve(1);
  Put('"');
  // Three bytes at a time become four characters; the last group is padded.
  for (size_t k = 0; k < length; k += 3) {
    Reserve(4);
    const size_t taken = length - k < 3 ? length - k : 3;
    uint32_t group = static_cast<uint32_t>(bytes[k]) << 16;
    if (taken > 1) group |= static_cast<uint32_t>(bytes[k + 1]) << 8;
    if (taken > 2) group |= bytes[k + 2];
    Put(kBase64[group >> 18 & 63]);
    Put(kBase64[group >> 12 & 63]);
    Put(taken > 1 ? kBase64[group >> 6 & 63] : '=');
    Put(taken > 2 ? kBase64[group & 63] : '=');
  }
  Reserve(1);
  Put('"');
}

void TJsonWriter::Int(int64_t value) {
  BeforeValue();
  Reserve(24);
  out_ = AppendDecimal(out_, value);
}

void TJsonWriter::Bool(bool value) {
  BeforeValue();
  Reserve(5);
  out_ = AppendText(out_, value ? "true" : "false");
}

void TJsonWriter::Number(double value) {
  BeforeValue();
  Reserve(40);
  // Not a number or infinite has no JSON form; such a share is 0.
  if (!(value > -1e15 && value < 1e15)) value = 0;
  const int length = std::snprintf(out_, 40, "%.4f", value);
  if (length > 0) out_ += length;
}
