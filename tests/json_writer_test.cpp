// The streaming JSON writer: separators, numbers, and strings that stay
// valid Unicode whatever their bytes, with the bytes kept where asked.
#include "planning/json_writer.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace {

// What a writer put into a temporary stream.
template <typename Write>
std::string Written(Write write) {
  FILE* stream = std::tmpfile();
  EXPECT_NE(stream, nullptr);
  {
    TJsonWriter json(stream);
    write(json);
    EXPECT_TRUE(json.Flush());
  }
  std::string text;
  std::rewind(stream);
  char buffer[4096];
  for (size_t n; (n = std::fread(buffer, 1, sizeof(buffer), stream)) > 0;) text.append(buffer, n);
  std::fclose(stream);
  return text;
}

std::string StringJson(const std::string& bytes) {
  return Written([&](TJsonWriter& json) { json.String(bytes.data(), bytes.size()); });
}

TEST(JsonWriter, NestsWithCommasOnlyBetweenValues) {
  EXPECT_EQ(Written([](TJsonWriter& json) {
              json.BeginObject();
              json.Key("drive");
              json.String("T");
              json.Key("n");
              json.Int(-9223372036854775807LL - 1);
              json.Key("runs");
              json.BeginArray();
              for (int k = 0; k < 2; ++k) {
                json.BeginArray();
                json.Int(k);
                json.Int(-1);
                json.EndArray();
              }
              json.EndArray();
              json.Key("empty");
              json.BeginArray();
              json.EndArray();
              json.Key("o");
              json.BeginObject();
              json.EndObject();
              json.Key("b");
              json.Bool(false);
              json.Key("share");
              json.Number(42.857142);
              json.EndObject();
            }),
            "{\"drive\":\"T\",\"n\":-9223372036854775808,\"runs\":[[0,-1],[1,-1]],"
            "\"empty\":[],\"o\":{},\"b\":false,\"share\":42.8571}");
}

struct TStringCase {
  const char* name;
  std::string bytes;
  std::string json;
};

// Strings are valid Unicode whatever bytes they are given: what is not
// UTF-8 becomes U+FFFD, one for each maximal part of an ill-formed sequence.
TEST(JsonWriter, StringsAreValidUnicodeWhateverTheirBytes) {
  const std::string kReplacement = "\xEF\xBF\xBD";
  const TStringCase cases[] = {
      {"plain", "\\docs\\old", "\"\\\\docs\\\\old\""},
      {"quote and controls", "a\"b\tc\x01", "\"a\\\"b\\u0009c\\u0001\""},
      {"valid UTF-8 as it is", "R\xC3\xA9sum\xC3\xA9 \xE6\x96\x87 \xF0\x9F\x98\x80",
       "\"R\xC3\xA9sum\xC3\xA9 \xE6\x96\x87 \xF0\x9F\x98\x80\""},
      {"a Latin-1 byte", "caf\xE9", "\"caf" + kReplacement + "\""},
      {"a lone continuation byte", "\x80x", "\"" + kReplacement + "x\""},
      {"an overlong slash", "\xC0\xAF", "\"" + kReplacement + kReplacement + "\""},
      // A lone surrogate of an NTFS name, in its 3-byte form: the lead byte
      // allows no A0 after it, so each byte is a part of its own.
      {"an encoded surrogate",
       "a\xED\xA0\x80"
       "b",
       "\"a" + kReplacement + kReplacement + kReplacement + "b\""},
      {"past U+10FFFF", "\xF4\x90\x80\x80",
       "\"" + kReplacement + kReplacement + kReplacement + kReplacement + "\""},
      // A sequence cut off is one part, however many of its bytes came.
      {"cut off at the end", "ab\xE6\x96", "\"ab" + kReplacement + "\""},
      {"cut off by an ASCII byte", "\xF0\x9F\x98x", "\"" + kReplacement + "x\""},
      {"a zero byte inside", std::string("a\0b", 3), "\"a\\u0000b\""},
  };
  for (const TStringCase& c : cases) EXPECT_EQ(StringJson(c.bytes), c.json) << c.name;
}

// A text member keeps the bytes of a text that is not UTF-8 beside it, in
// base64, and adds nothing to one that is.
TEST(JsonWriter, TextMembersKeepTheBytesOfTextsThatAreNotUtf8) {
  const TStringCase cases[] = {
      {"valid", "\\R\xC3\xA9sum\xC3\xA9", "{\"path\":\"\\\\R\xC3\xA9sum\xC3\xA9\",\"n\":1}"},
      {"empty", "", "{\"path\":\"\",\"n\":1}"},
      {"one byte over", "\\caf\xE9",
       "{\"path\":\"\\\\caf\xEF\xBF\xBD\",\"pathBytes\":\"XGNhZuk=\",\"n\":1}"},
      {"two bytes over", "\\\xFF",
       "{\"path\":\"\\\\\xEF\xBF\xBD\",\"pathBytes\":\"XP8=\",\"n\":1}"},
      {"whole groups",
       "a\xED\xA0\x80"
       "b",
       "{\"path\":\"a\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"
       "b\",\"pathBytes\":\"Ye2ggGI=\",\"n\":1}"},
  };
  for (const TStringCase& c : cases) {
    EXPECT_EQ(Written([&](TJsonWriter& json) {
                json.BeginObject();
                json.TextMember("path", c.bytes.data(), c.bytes.size());
                json.Key("n");
                json.Int(1);
                json.EndObject();
              }),
              c.json)
        << c.name;
  }
}

TEST(JsonWriter, LongOutputCrossesTheBufferWhole) {
  // Strings of escapes and multibyte characters longer than the buffer.
  std::string bytes;
  for (int k = 0; k < 40000; ++k)
    bytes += (k % 3 == 0) ? "\xE6\x96\x87" : (k % 3 == 1 ? "\xFF" : "\"");
  std::string expected = "[";
  for (int round = 0; round < 3; ++round) {
    expected += round == 0 ? "\"" : ",\"";
    for (int k = 0; k < 40000; ++k) {
      expected += (k % 3 == 0) ? "\xE6\x96\x87" : (k % 3 == 1 ? "\xEF\xBF\xBD" : "\\\"");
    }
    expected += "\"";
  }
  expected += "]";
  EXPECT_EQ(Written([&](TJsonWriter& json) {
              json.BeginArray();
              for (int round = 0; round < 3; ++round) json.String(bytes.data(), bytes.size());
              json.EndArray();
            }),
            expected);
}

}  // namespace
