// The command-line walk: blank-separated tokens, double quotes grouping
// blanks, the first token (the program's name) skipped, and a token that
// begins with "-" setting the mode from its second character.
#pragma once

// Receives each argument: the current mode character, the argument's first
// character inside the command line (not terminated at length), and its
// length in characters (greater than 0).
using TArgumentSink = void (*)(void* context, char mode, const char* text, int length);

void WalkCommandLine(const char* commandLine, TArgumentSink sink, void* context);

// Whether a token of the command line (after the program's name) is "/?" or
// "--help": the usage is shown and nothing else is done. Other unknown
// switches stay silent.
bool AsksForHelp(const char* commandLine);

// The mode that "--defragment" sets: the drives that follow are analysed,
// then defragmented. No character of a switch gives it.
constexpr char kModeDefragment = 1;
constexpr const char* kDefragmentSwitch = "--defragment";

// The mode that "--optimize" sets: the drives that follow are analysed,
// then their volume-aware zone layout is carried out.
constexpr char kModeApplyPlan = 2;
constexpr const char* kOptimizeSwitch = "--optimize";

// Whether arguments under a mode name drives to optimise: the first mode (0)
// "o" or "O", kModeDefragment and kModeApplyPlan. "m" or "M" report folder statistics; any other
// mode ignores its arguments.
bool ModeOptimisesDrives(char mode);
