#include <gtest/gtest.h>

#include <string>

#include "platform/linux/wildcard_match.h"

namespace {

struct TWildcardCase {
  const char* pattern;
  const char* name;
  bool matches;
};

class WildcardMatchTable : public testing::TestWithParam<TWildcardCase> {};

TEST_P(WildcardMatchTable, Matches) {
  const TWildcardCase& c = GetParam();
  EXPECT_EQ(WildcardMatch(c.pattern, c.name), c.matches) << c.pattern << " / " << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    Patterns, WildcardMatchTable,
    testing::Values(
        // A trailing ".*" is optional, so "*.*" matches names without a dot.
        TWildcardCase{"*.*", "README", true}, TWildcardCase{"*.*", "..", true},
        TWildcardCase{"Data*.*", "Data", true}, TWildcardCase{"Data*.*", "data.TXT", true},
        TWildcardCase{"Data*.*", "MyData", false}, TWildcardCase{"a.*", "ab", false},
        TWildcardCase{"*.txt", "a.txt.bak", false}, TWildcardCase{"*.", "a", false},
        // Only ASCII letters fold: É and é differ.
        TWildcardCase{"\xC3\x89", "\xC3\xA9", false}, TWildcardCase{"[a]", "[A]", true},
        // '?' is one character, a UTF-8 sequence being one.
        TWildcardCase{"?", "", false}, TWildcardCase{"a?c", "ac", false},
        TWildcardCase{"?.txt", "\xC3\xA9.txt", true},
        TWildcardCase{"??.txt", "\xC3\xA9.txt", false},
        // Stars backtrack to the split that works.
        TWildcardCase{"*a*b*c", "xaxbxaxbc", true}, TWildcardCase{"*ab", "abb", false},
        TWildcardCase{"a*a", "a", false}, TWildcardCase{"", "a", false}));

TEST(WildcardMatch, ManyStarsOnALongNameFinishQuickly) {
  // Backtracking to every earlier star would take exponential time here.
  EXPECT_FALSE(WildcardMatch("*a*a*a*a*a*a*a*a*a*a*a*a*b", std::string(250, 'a').c_str()));
}

}  // namespace
