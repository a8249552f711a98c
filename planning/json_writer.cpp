#include "planning/json_writer.h"

#include <cstring>

#include "platform/decimal_format.h"

namespace {

const char kHex[] = "0123456789abcdef";

// Length of the valid UTF-8 sequence at text (at most length bytes), or 0
// when the byte there does not begin one: overlong forms, surrogates and
// values above U+10FFFF are not valid.
size_t ValidSequence(const unsigned char* text, size_t length) {
  const unsigned char lead = text[0];
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
    return 0;
  }
  if (count > length) return 0;
  if (text[1] < low || text[1] > high) return 0;
  for (size_t k = 2; k < count; ++k) {
    if (text[k] < 0x80 || text[k] > 0xBF) return 0;
  }
  return count;
}

}  // namespace

TJsonWriter::TJsonWriter(FILE* stream)
    : stream_(stream), out_(buffer_), failed_(false), depth_(0), first_{}, afterKey_(false) {}

void TJsonWriter::Reserve(size_t bytes) {
  if (static_cast<size_t>(buffer_ + kBufferBytes - out_) >= bytes) return;
  const size_t used = static_cast<size_t>(out_ - buffer_);
  if (std::fwrite(buffer_, 1, used, stream_) != used) failed_ = true;
  out_ = buffer_;
}

bool TJsonWriter::Flush() {
  Reserve(kBufferBytes);
  if (std::fflush(stream_) != 0) failed_ = true;
  return !failed_;
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
    Reserve(8);  // the longest form of one byte, \udcXX, or one sequence
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
    } else if (const size_t count = ValidSequence(bytes + k, length - k); count > 0) {
      for (size_t m = 0; m < count; ++m) Put(static_cast<char>(bytes[k + m]));
      k += count;
    } else {
      Put('\\');
      Put('u');
      Put('d');
      Put('c');
      Put(kHex[c >> 4]);
      Put(kHex[c & 15]);
      ++k;
    }
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
