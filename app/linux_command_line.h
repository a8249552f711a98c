// The Linux command line, in getopt_long's conventions: --help, --version,
// --json, and the -o and -m switches, each of which stays in force for the
// arguments after it, as on Windows. Every argv element is one argument
// whatever it holds (blanks, quotes, nothing): the shell has split them
// already. An argument is a drive letter ("D", "D:" or "D:\") or a path,
// which must exist; a path to analyse names a drive of its own, mapped to a
// free letter.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "platform/linux/drive_table.h"
#include "platform/whole_file_result.h"

// What the command line asks for.
enum class TCommandAction {
  kRun,      // analyse the arguments
  kHelp,     // --help, -h: the usage on standard output, status 0
  kVersion,  // --version, -V: "diskopt <version>", status 0
  // An unknown option, a missing or empty value, no argument at all, an
  // empty argument, -m without a path, or an export to standard output of
  // other than one drive: the reason and where help is, on standard error,
  // status 64.
  kUsageError,
};

// One argument, in command-line order.
struct TLinuxArgument {
  char mode;         // the switch in force: 0 before any, else 'o', 'O', 'm' or 'M'
  std::string text;  // the argv element, whole; a path argument's letter once assigned
};

struct TLinuxCommandLine {
  TCommandAction action = TCommandAction::kRun;
  std::vector<TLinuxArgument> arguments;
  std::string jsonFolder;  // --json's value; empty when not given
  // --defragment-shared: files with shared extents are rewritten too.
  TWholeFileOptions wholeFiles;
  std::string error;  // kUsageError: what was wrong, for the user
  // Each path that names nothing here, with the system's reason
  // ("nosuchthing: No such file or directory"), once TakeOutMissingPaths
  // has looked.
  std::vector<std::string> missing;
};

// Reads argv (argc elements, argv[0] the program) with getopt_long and
// checks that the arguments make a run.
TLinuxCommandLine ParseLinuxCommandLine(int argc, char** argv);

// Looks up every path argument from the working directory: one that names
// nothing goes to line->missing and its text is emptied (the others still
// run); a folder to count gets its last '/', since on this system a folder
// named without it still means the folder.
void TakeOutMissingPaths(TLinuxCommandLine* line);

// Why DISKOPT_SNAPSHOT's value (none when unset) cannot be used, for a usage
// error: it names a folder of this system, so a drive-letter form ("D:",
// "D:\shots") is refused. Empty when it is fine.
std::string SnapshotVariableError(const char* value);

// Writes the usage, with examples, the environment, the logs and the exit
// statuses.
void WriteUsage(FILE* to);

// Writes "diskopt <version>" and a line end.
void WriteVersion(FILE* to);

// Whether an argument to optimise names a path rather than a drive letter
// ("D", "D:" or "D:\").
bool IsPathArgument(const std::string& text);

// Gives each path argument to optimise the next letter from D on that the
// table has not mapped and no letter argument names, maps the letter to the
// path (MapArgumentPath) and puts the letter in place of the argument's
// text. Returns the paths left without a letter, whose arguments become
// empty (and are ignored).
std::vector<std::string> AssignDriveLetters(std::vector<TLinuxArgument>* arguments,
                                            TDriveTable* drives);

// Hands every argument with text to sink, in order, with its length: the
// same dispatch the Windows command-line walk feeds. Empty arguments are
// ignored, as the Windows walk ignores an empty token.
void DispatchArguments(const std::vector<TLinuxArgument>& arguments, TArgumentSink sink,
                       void* context);
