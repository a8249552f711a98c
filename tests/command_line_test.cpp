#include "app/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct TCall {
  int mode;  // the mode character as a signed byte
  std::string argument;
  bool operator==(const TCall& other) const {
    return mode == other.mode && argument == other.argument;
  }
};

std::ostream& operator<<(std::ostream& out, const TCall& call) {
  return out << "{" << call.mode << ", \"" << call.argument << "\"}";
}

std::vector<TCall> Walk(const std::string& line) {
  std::vector<TCall> calls;
  WalkCommandLine(
      line.c_str(),
      [](void* context, char mode, const char* text, int length) {
        static_cast<std::vector<TCall>*>(context)->push_back(
            TCall{static_cast<signed char>(mode), std::string(text, static_cast<size_t>(length))});
      },
      &calls);
  return calls;
}

struct TWalkCase {
  const char* name;
  std::string line;
  std::vector<TCall> expected;
};

class CommandLineWalk : public testing::TestWithParam<TWalkCase> {};

TEST_P(CommandLineWalk, DispatchesExactlyTheExpectedArguments) {
  EXPECT_EQ(Walk(GetParam().line), GetParam().expected);
}

const TWalkCase kWalkCases[] = {
    {"ProgramNameOnly", "diskopt.exe", {}},
    {"EmptyLine", "", {}},
    {"TwoDrives", "diskopt C D", {{0, "C"}, {0, "D"}}},
    {"OptimizeSwitchLower", "diskopt -o C", {{'o', "C"}}},
    {"OptimizeSwitchUpper", "diskopt -O C", {{'O', "C"}}},
    {"QuotedProgramPathWithBlanks", "\"C:\\Program Files\\diskopt.exe\" C", {{0, "C"}}},
    {"QuotedFolderKeepsBlank", "diskopt -m \"C:\\My Folder\\\"", {{'m', "C:\\My Folder\\"}}},
    {"ReportThenDrive", "diskopt -m C:\\a\\ -o D", {{'m', "C:\\a\\"}, {'o', "D"}}},
    {"UnknownSwitchKeepsMode", "diskopt -x C", {{'x', "C"}}},
    {"LoneDashTakesBlank", "diskopt - C", {{' ', "C"}}},
    {"LoneDashAtEndTakesTerminator", "diskopt C -", {{0, "C"}}},
    {"LoneDashAtEndThenNothing", "diskopt -m a -", {{'m', "a"}}},
    {"WholeArgumentHandedOver", "diskopt Cxyz", {{0, "Cxyz"}}},
    {"LowerCaseLetterUnchanged", "diskopt c", {{0, "c"}}},
    {"TwoQuotesAloneAreNothing", "diskopt \"\"", {}},
    {"RunsOfBlanks", "diskopt     C   D  ", {{0, "C"}, {0, "D"}}},
    {"TabIsPartOfToken", "diskopt C\tD", {{0, "C\tD"}}},
    {"UnterminatedQuoteDropsRest", "diskopt C \"D E F", {{0, "C"}}},
    {"QuoteInsideTokenStays", "diskopt -m C:\\a\"b c\"d", {{'m', "C:\\a\"b c\"d"}}},
    {"QuotedDriveLetter", "diskopt \"D:\"", {{0, "D:"}}},
    {"SwitchLaterInForce", "diskopt -m a b -o C", {{'m', "a"}, {'m', "b"}, {'o', "C"}}},
    {"HighByteMode", "diskopt -\xCF C", {{static_cast<signed char>('\xCF'), "C"}}},
    // A quoted token whose closing quote is not its last character loses
    // that last character instead: first and last characters are dropped.
    {"QuotedTokenDropsLastCharacter", "diskopt \"ab\"c", {{0, "ab\""}}},
    {"SingleQuoteCharacterToken", "diskopt \"\" \"x\"", {{0, "x"}}},
    // --defragment has a mode of its own, which no one-letter switch gives;
    // any other long switch still takes its second character, a dash.
    {"DefragmentSwitch",
     "diskopt --defragment D E",
     {{kModeDefragment, "D"}, {kModeDefragment, "E"}}},
    {"DefragmentThenAnalyse", "diskopt --defragment D -o E", {{kModeDefragment, "D"}, {'o', "E"}}},
    {"OtherLongSwitch", "diskopt --defragmentx D", {{'-', "D"}}},
    // --optimize carries out the zone layout: a mode of its own too.
    {"OptimizeThenDefragment",
     "diskopt --optimize D --defragment E",
     {{kModeApplyPlan, "D"}, {kModeDefragment, "E"}}},
    {"OptimizeBeforeAnalysis", "diskopt -o C --optimize D", {{'o', "C"}, {kModeApplyPlan, "D"}}},
};

INSTANTIATE_TEST_SUITE_P(Cases, CommandLineWalk, testing::ValuesIn(kWalkCases),
                         [](const testing::TestParamInfo<TWalkCase>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
