// The Linux process entry: its command line, taken from argv element by
// element, and runs of the program itself with no display at all.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "app/folder_statistics.h"
#include "app/linux_command_line.h"
#include "tests/linux/json_read_back.h"
#include "tests/linux/ntfs_tool_output.h"
#include "tests/linux/ntfs_volume_test_image.h"
#include "tests/support/file_bytes.h"

namespace {

using TArguments = std::vector<std::pair<char, std::string>>;

TLinuxCommandLine Parse(std::vector<std::string> elements) {
  elements.insert(elements.begin(), "diskopt");
  std::vector<char*> argv;
  for (std::string& element : elements) argv.push_back(element.data());
  argv.push_back(nullptr);
  return ParseLinuxCommandLine(static_cast<int>(elements.size()), argv.data());
}

TArguments ArgumentsOf(const TLinuxCommandLine& line) {
  TArguments arguments;
  for (const TLinuxArgument& argument : line.arguments) {
    arguments.emplace_back(argument.mode, argument.text);
  }
  return arguments;
}

void Collect(void* context, char mode, const char* text, int length) {
  static_cast<TArguments*>(context)->emplace_back(mode, std::string(text, length));
}

TEST(LinuxCommandLineTest, OptionsChooseWhatTheRunDoes) {
  struct TCase {
    std::vector<std::string> elements;
    TCommandAction action;
    std::string error;
  };
  const TCase cases[] = {
      {{"D"}, TCommandAction::kRun, ""},
      {{"-m", "/srv/"}, TCommandAction::kRun, ""},
      {{"D", "-m", "/srv/", "-o"}, TCommandAction::kRun, ""},
      // Every run names something to analyse or count, and every argument
      // names something.
      {{}, TCommandAction::kUsageError, "no drive or path given"},
      {{"-m"}, TCommandAction::kUsageError, "no drive or path given"},
      {{"-o"}, TCommandAction::kUsageError, "no drive or path given"},
      {{"D", "-m"}, TCommandAction::kUsageError, "option '-m' needs a path after it"},
      {{"-m", "-o", "D"}, TCommandAction::kUsageError, "option '-m' needs a path after it"},
      {{""}, TCommandAction::kUsageError, "an empty argument names no drive or path"},
      {{"D", "-m", ""}, TCommandAction::kUsageError, "an empty argument names no drive or path"},
      {{"--json", "", "D"},
       TCommandAction::kUsageError,
       "option '--json' needs a folder, not an empty value"},
      {{"--json=", "D"},
       TCommandAction::kUsageError,
       "option '--json' needs a folder, not an empty value"},
      // An export to standard output is one drive's.
      {{"--json", "-", "D", "E"},
       TCommandAction::kUsageError,
       "'--json -' writes the export of one drive, and 2 are named"},
      {{"--json=-", "-m", "/srv/"},
       TCommandAction::kUsageError,
       "'--json -' writes the export of one drive, and 0 are named"},
      {{"--json", "-", "D", "-m", "/srv/"}, TCommandAction::kRun, ""},
      // Paths are looked up later: a missing one does not stop the others.
      {{"Cxyz-no-such-file", "-"}, TCommandAction::kRun, ""},
      {{"--help"}, TCommandAction::kHelp, ""},
      {{"-h"}, TCommandAction::kHelp, ""},
      {{"--he"}, TCommandAction::kHelp, ""},  // a long option may be shortened
      {{"D", "-h"}, TCommandAction::kHelp, ""},
      {{"--version"}, TCommandAction::kVersion, ""},
      {{"-V"}, TCommandAction::kVersion, ""},
      // Refused options, in the words of the system's own tools.
      {{"--frob"}, TCommandAction::kUsageError, "unrecognized option '--frob'"},
      {{"--frob=1", "D"}, TCommandAction::kUsageError, "unrecognized option '--frob'"},
      {{"-x", "C"}, TCommandAction::kUsageError, "invalid option -- 'x'"},
      {{"-mx"}, TCommandAction::kUsageError, "invalid option -- 'x'"},
      {{"--help", "-xq"}, TCommandAction::kUsageError, "invalid option -- 'x'"},
      {{"--json"}, TCommandAction::kUsageError, "option '--json' requires an argument"},
      {{"--help=yes"}, TCommandAction::kUsageError, "option '--help' doesn't allow an argument"},
      {{"--defragment"}, TCommandAction::kUsageError, "no drive or path given"},
      {{"--defragment=D"},
       TCommandAction::kUsageError,
       "option '--defragment' doesn't allow an argument"},
  };
  for (const TCase& test : cases) {
    const TLinuxCommandLine line = Parse(test.elements);
    std::string shown = "(none)";
    for (const std::string& element : test.elements) shown += " '" + element + "'";
    EXPECT_EQ(line.action, test.action) << shown;
    EXPECT_EQ(line.error, test.error) << shown;
  }
}

TEST(LinuxCommandLineTest, SwitchesHoldForTheArgumentsAfterThemAndEveryElementStaysWhole) {
  struct TCase {
    std::vector<std::string> elements;
    TArguments expected;
  };
  const TCase cases[] = {
      {{"C", "D:"}, {{'\0', "C"}, {'\0', "D:"}}},
      {{"-o", "C", "-O", "d"}, {{'o', "C"}, {'O', "d"}}},
      {{"-m", "/srv/my data/", "/tmp/", "-o", "D"},
       {{'m', "/srv/my data/"}, {'m', "/tmp/"}, {'o', "D"}}},
      {{"-M", "x", "--json", "out", "E"}, {{'M', "x"}, {'M', "E"}}},
      // One element is one argument, whatever quotes and blanks it holds.
      {{"-m", "/nonexistent\" -o \"D"}, {{'m', "/nonexistent\" -o \"D"}}},
      {{"-m", "\"", "-o", "D"}, {{'m', "\""}, {'o', "D"}}},
      {{"-m", "\"C D\""}, {{'m', "\"C D\""}}},
      // After "--" every element is an argument, under the switch in force.
      {{"-m", "--", "-o", "--help"}, {{'m', "-o"}, {'m', "--help"}}},
      {{"-m", "-"}, {{'m', "-"}}},
      // --defragment holds, like a switch, for what follows it.
      {{"C", "--defragment", "D", "/srv/x.img", "-o", "E"},
       {{'\0', "C"}, {kModeDefragment, "D"}, {kModeDefragment, "/srv/x.img"}, {'o', "E"}}},
      {{"--optimize", "D", "--defragment", "E"}, {{kModeApplyPlan, "D"}, {kModeDefragment, "E"}}},
  };
  for (const TCase& test : cases) {
    const TLinuxCommandLine line = Parse(test.elements);
    EXPECT_EQ(line.action, TCommandAction::kRun) << test.elements[0];
    EXPECT_EQ(ArgumentsOf(line), test.expected) << test.elements[0];
  }
  EXPECT_EQ(Parse({"--json", "out", "D"}).jsonFolder, "out");
  EXPECT_EQ(Parse({"--json=/tmp/x"}).jsonFolder, "/tmp/x");
}

TEST(LinuxCommandLineTest, EveryNonEmptyArgumentIsDispatchedOnceInOrder) {
  std::vector<TLinuxArgument> arguments = {
      {'\0', "E"}, {'\0', ""}, {'m', "/a\" -o \"D"}, {'o', "D"}};
  TArguments dispatched;
  DispatchArguments(arguments, Collect, &dispatched);
  const TArguments expected = {{'\0', "E"}, {'m', "/a\" -o \"D"}, {'o', "D"}};
  EXPECT_EQ(dispatched, expected);
}

TEST(LinuxCommandLineTest, TheSnapshotVariableNamesAFolderOfThisSystem) {
  for (const char* folder : {"shots", "/tmp/shots", "D", "./D:", "1:x"}) {
    EXPECT_EQ(SnapshotVariableError(folder), "") << folder;
  }
  EXPECT_EQ(SnapshotVariableError(nullptr), "");
  for (const char* drive : {"D:", "d:\\shots", "C:shots", "E:/shots"}) {
    EXPECT_EQ(SnapshotVariableError(drive),
              std::string("DISKOPT_SNAPSHOT=") + drive +
                  " names a drive: it takes a folder of this system, such as shots or /tmp/shots")
        << drive;
  }
}

TEST(LinuxCommandLineTest, PathsAreToldFromDriveLetters) {
  for (const char* letter : {"D", "d", "D:", "D:\\", ""}) {
    EXPECT_FALSE(IsPathArgument(letter)) << letter;
  }
  // Everything else is a path, whether or not it names anything.
  for (const char* path : {"/srv/disk.img", "./disk.img", "images/disk.img", "/", "D:/x",
                           "D:\\Users\\", "C:x", "Cxyz-no-such-file", "nosuchthing", "1", "-"}) {
    EXPECT_TRUE(IsPathArgument(path)) << path;
  }
}

// Paths are looked up from the working directory: what names nothing is
// said with the system's reason and left out, and a folder to count means
// its contents whether or not it ends with '/'.
TEST(LinuxCommandLineTest, MissingPathsAreNamedAndFoldersToCountEndWithASlash) {
  QTemporaryDir scratch;
  ASSERT_TRUE(scratch.isValid());
  const std::string here = scratch.path().toStdString();
  ASSERT_TRUE(QDir().mkpath(scratch.filePath(QStringLiteral("docs"))));
  QFile image(scratch.filePath(QStringLiteral("disk.img")));
  ASSERT_TRUE(image.open(QIODevice::WriteOnly));
  TLinuxCommandLine line = Parse({"D:", "nosuchthing", here + "/disk.img", "-m", here + "/docs",
                                  here + "/docs/", here + "/nothing", "-o", "E:\\", "x:\\y"});
  ASSERT_EQ(line.action, TCommandAction::kRun) << line.error;
  TakeOutMissingPaths(&line);
  const TArguments expected = {{'\0', "D:"},
                               {'\0', ""},
                               {'\0', here + "/disk.img"},
                               {'m', here + "/docs/"},
                               {'m', here + "/docs/"},
                               {'m', ""},
                               {'o', "E:\\"},
                               {'o', ""}};
  EXPECT_EQ(ArgumentsOf(line), expected);
  EXPECT_EQ(line.missing, (std::vector<std::string>{"nosuchthing: No such file or directory",
                                                    here + "/nothing: No such file or directory",
                                                    "x:\\y: No such file or directory"}));
}

TEST(LinuxCommandLineTest, PathArgumentsTakeTheFreeLettersFromD) {
  TDriveTable drives;
  drives.Map('E', "/nonexistent/e.img");  // mapped, even though it is missing
  std::vector<TLinuxArgument> arguments = {
      {'\0', "/srv/a.img"}, {'\0', "d:"}, {'o', "/srv/b/"},
      {'m', "/srv/c/"},     {'o', "G"},   {'o', "/srv/d.img"},
  };
  const std::vector<std::string> left = AssignDriveLetters(&arguments, &drives);
  EXPECT_TRUE(left.empty());
  // D is named by a letter argument, E is mapped, G named: F, H, I.
  const TArguments expected = {{'\0', "F"},      {'\0', "d:"}, {'o', "H"},
                               {'m', "/srv/c/"}, {'o', "G"},   {'o', "I"}};
  TArguments assigned;
  for (const TLinuxArgument& argument : arguments)
    assigned.emplace_back(argument.mode, argument.text);
  EXPECT_EQ(assigned, expected);
  EXPECT_EQ(drives.ArgumentPath('F'), "/srv/a.img");
  EXPECT_EQ(drives.ArgumentPath('h'), "/srv/b/");
  EXPECT_EQ(drives.ArgumentPath('I'), "/srv/d.img");
  EXPECT_EQ(drives.ArgumentPath('E'), "");
  EXPECT_EQ(drives.ArgumentPath('D'), "");
  for (char letter : {'F', 'H', 'I'}) EXPECT_TRUE(drives.Mapped(letter)) << letter;
  EXPECT_FALSE(drives.Mapped('G'));
}

TEST(LinuxCommandLineTest, PathsBeyondTheLastLetterAreLeftOutAndNamed) {
  TDriveTable drives;
  std::vector<TLinuxArgument> arguments;
  for (int i = 0; i < 25; ++i) arguments.push_back({'\0', "/srv/" + std::to_string(i) + ".img"});
  const std::vector<std::string> left = AssignDriveLetters(&arguments, &drives);
  // D to Z: 23 letters.
  EXPECT_EQ(left, (std::vector<std::string>{"/srv/23.img", "/srv/24.img"}));
  EXPECT_EQ(arguments[22].text, "Z");
  EXPECT_EQ(arguments[23].text, "");
  EXPECT_EQ(drives.ArgumentPath('Z'), "/srv/22.img");
}

// Runs the program built next to the tests in folder, with no display and
// none of the program's own variables but those given; no shell in between.
TToolOutput RunProgram(const std::string& folder, std::initializer_list<std::string> variables,
                       std::initializer_list<std::string> arguments) {
  std::vector<std::string> argv = {"env", "-C", folder};
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "XDG_RUNTIME_DIR", "DISKOPT_SNAPSHOT",
                           "DISKOPT_DEBUG", "DISKOPT_JSON", "DISKOPT_DRIVE_C", "DISKOPT_DRIVE_D",
                           "DISKOPT_DRIVE_E", "DISKOPT_DRIVE_F"}) {
    argv.insert(argv.end(), {"-u", name});
  }
  argv.insert(argv.end(), variables);
  argv.push_back("QT_QPA_PLATFORM=offscreen");
  argv.push_back(DISKOPT_BINARY);
  argv.insert(argv.end(), arguments);
  return RunTool(argv);
}

const char* const kLogNames[] = {"dirlist_free.log", "DirList_rules.log", "DirList_Optimized.log"};

TEST(QtProcessEntryTest, WithNoDisplayTheReportGoesToStandardOutput) {
  QTemporaryDir scratch;
  ASSERT_TRUE(scratch.isValid());
  const QString top = scratch.filePath(QStringLiteral("my data"));
  ASSERT_TRUE(QDir().mkpath(top + QStringLiteral("/sub")));
  for (const QString& name : {QStringLiteral("/one.txt"), QStringLiteral("/sub/two.dat")}) {
    QFile file(top + name);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  }

  const TToolOutput run =
      RunProgram(scratch.path().toStdString(), {}, {"-m", top.toStdString() + "/"});
  const TFolderCounters counters = {2, 1, 14, 3};  // one.txt, two.dat; sub
  char report[500];
  FormatFolderReport(counters, report);
  EXPECT_EQ(run.out, std::string("info: ") + report + "\n");
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.exitCode, 0);
}

TEST(QtProcessEntryTest, HelpAndVersionGoToStandardOutput) {
  QTemporaryDir scratch;
  ASSERT_TRUE(scratch.isValid());
  const std::string folder = scratch.path().toStdString();
  const TToolOutput help = RunProgram(folder, {}, {"--help"});
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_EQ(help.err, "");
  for (const char* part :
       {"Usage: diskopt", "diskopt /srv/disk.img", "DISKOPT_DRIVE_<L>", "DISKOPT_SNAPSHOT",
        "DISKOPT_JSON", "DISKOPT_DEBUG", "DirList_rules.log", "working directory", "\n  0   ",
        "\n  1   ", "\n  2   ", "\n  3   ", "\n  64  "}) {
    EXPECT_NE(help.out.find(part), std::string::npos) << part;
  }
  EXPECT_EQ(RunProgram(folder, {}, {"-h"}).out, help.out);

  for (const char* option : {"--version", "-V"}) {
    const TToolOutput version = RunProgram(folder, {}, {option});
    EXPECT_EQ(version.out, "diskopt " DISKOPT_VERSION "\n") << option;
    EXPECT_EQ(version.err, "") << option;
    EXPECT_EQ(version.exitCode, 0) << option;
  }
  // Nothing ran: no logs.
  for (const char* name : kLogNames) EXPECT_FALSE(QFile::exists(scratch.filePath(name))) << name;
}

// What the user gets wrong on the command line, or in DISKOPT_SNAPSHOT, is a
// usage error: one line with the reason and one with where help is, on
// standard error, status 64, and nothing analysed, written or made.
TEST(QtProcessEntryTest, CommandLineMistakesSayWhatAndWhereHelpIsAndEndWith64) {
  QTemporaryDir scratch;
  ASSERT_TRUE(scratch.isValid());
  const std::string folder = scratch.path().toStdString();
  const struct {
    std::initializer_list<std::string> variables;
    std::initializer_list<std::string> arguments;
    std::string error;
  } cases[] = {
      {{}, {"--frobnicate", "C"}, "unrecognized option '--frobnicate'"},
      {{}, {"-x", "C"}, "invalid option -- 'x'"},
      {{}, {}, "no drive or path given"},
      {{}, {"-m"}, "no drive or path given"},
      {{}, {""}, "an empty argument names no drive or path"},
      {{}, {"--json", "", "C"}, "option '--json' needs a folder, not an empty value"},
      {{}, {"--json", "-", "C", "D"}, "'--json -' writes the export of one drive, and 2 are named"},
      {{"DISKOPT_SNAPSHOT=C:\\shots"},
       {"C"},
       "DISKOPT_SNAPSHOT=C:\\shots names a drive: it takes a folder of this system, such as "
       "shots or /tmp/shots"},
  };
  for (const auto& c : cases) {
    const TToolOutput run = RunProgram(folder, c.variables, c.arguments);
    EXPECT_EQ(run.exitCode, 64) << c.error;
    EXPECT_EQ(run.out, "") << c.error;
    EXPECT_EQ(run.err, "diskopt: " + c.error + "\nTry 'diskopt --help'.\n");
  }
  EXPECT_TRUE(QDir(scratch.path()).isEmpty());
}

// A path that names nothing is said in the system's words, as other tools
// of this system say it, and the run ends with status 3; the other
// arguments still run.
TEST(QtProcessEntryTest, APathThatNamesNothingIsSaidAndEndsWithThree) {
  QTemporaryDir scratch;
  ASSERT_TRUE(scratch.isValid());
  const std::string folder = scratch.path().toStdString();
  const TToolOutput alone = RunProgram(folder, {}, {"nosuchthing"});
  EXPECT_EQ(alone.err, "diskopt: nosuchthing: No such file or directory\n");
  EXPECT_EQ(alone.out, "");
  EXPECT_EQ(alone.exitCode, 3);
  EXPECT_TRUE(QDir(scratch.path()).isEmpty()) << "nothing was analysed";

  const QString top = scratch.filePath(QStringLiteral("top"));
  ASSERT_TRUE(QDir().mkpath(top));
  QFile file(top + QStringLiteral("/one.txt"));
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  const TToolOutput mixed = RunProgram(folder, {}, {"-m", "gone", "top"});
  EXPECT_EQ(mixed.err, "diskopt: gone: No such file or directory\n");
  EXPECT_EQ(mixed.exitCode, 3);
  char report[500];
  FormatFolderReport(TFolderCounters{1, 0, 7, 0}, report);
  EXPECT_EQ(mixed.out, std::string("info: ") + report + "\n") << "the folder named without '/'";
}

// A picture that cannot be saved says why, and the run ends with status 3;
// only the folder the user named is ever made.
TEST(QtProcessEntryTest, ASnapshotThatCannotBeSavedSaysWhyAndEndsWithThree) {
  const TNtfsTestImage& image = SharedNtfsTestImage();
  ASSERT_TRUE(image.built.ok) << image.built.message;
  QTemporaryDir scratch;
  ASSERT_TRUE(scratch.isValid());
  const std::string folder = scratch.path().toStdString();
  const TToolOutput deep = RunProgram(
      folder, {"DISKOPT_DRIVE_D=" + image.path, "DISKOPT_SNAPSHOT=missing/shots"}, {"D"});
  EXPECT_EQ(deep.exitCode, 3) << deep.err;
  EXPECT_NE(deep.err.find("diskopt: D: the snapshot folder could not be made: missing/shots: No "
                          "such file or directory\n"),
            std::string::npos)
      << deep.err;
  EXPECT_FALSE(QFile::exists(scratch.filePath(QStringLiteral("missing"))));

  const TToolOutput made =
      RunProgram(folder, {"DISKOPT_DRIVE_D=" + image.path, "DISKOPT_SNAPSHOT=shots"}, {"D"});
  EXPECT_EQ(made.exitCode, 0) << made.err;
  EXPECT_TRUE(QFile::exists(scratch.filePath(QStringLiteral("shots/drive-D.png"))));

  // A folder at the picture's name: it is never replaced.
  ASSERT_TRUE(QDir().mkpath(scratch.filePath(QStringLiteral("taken/drive-D.png"))));
  const TToolOutput taken =
      RunProgram(folder, {"DISKOPT_DRIVE_D=" + image.path, "DISKOPT_SNAPSHOT=taken"}, {"D"});
  EXPECT_EQ(taken.exitCode, 3) << taken.err;
  EXPECT_NE(taken.err.find("diskopt: D: the picture taken/drive-D.png could not be saved: "
                           "taken/drive-D.png: a folder is there, which is never replaced by a "
                           "file\n"),
            std::string::npos)
      << taken.err;
}

// A path argument is the drive its letter would be: the same logs, byte for
// byte, whether the image is named by path (absolute or relative) or mapped
// to D.
TEST(QtProcessEntryTest, PathArgumentWritesTheLogsOfItsMappedLetter) {
  const TNtfsTestImage& image = SharedNtfsTestImage();
  ASSERT_TRUE(image.built.ok) << image.built.message;
  QTemporaryDir byLetter, byPath, byRelativePath;
  ASSERT_TRUE(byLetter.isValid() && byPath.isValid() && byRelativePath.isValid());
  ASSERT_TRUE(CopyFile(image.path, byRelativePath.filePath("disk.img").toStdString()));

  const TToolOutput letter =
      RunProgram(byLetter.path().toStdString(), {"DISKOPT_DRIVE_D=" + image.path}, {"D"});
  const TToolOutput path = RunProgram(byPath.path().toStdString(), {}, {image.path});
  const TToolOutput relative = RunProgram(byRelativePath.path().toStdString(), {}, {"disk.img"});
  const std::string copied = byRelativePath.filePath("disk.img").toStdString();
  const std::pair<const TToolOutput*, std::string> runs[] = {
      {&letter, image.path}, {&path, image.path}, {&relative, copied}};
  // The drive's summary, the same whichever way the drive was named, apart
  // from the image it names (a relative path made absolute).
  const auto withoutImage = [](std::string out, const std::string& image) {
    const std::string named = "  Analysed:           " + image + ", an NTFS volume\n";
    const size_t at = out.find(named);
    return at == std::string::npos ? out : out.erase(at, named.size());
  };
  for (const auto& run : runs) {
    EXPECT_EQ(run.first->exitCode, 0) << run.first->err;
    EXPECT_NE(run.first->out.find(run.second + ", an NTFS volume\n"), std::string::npos)
        << run.first->out;
    EXPECT_EQ(withoutImage(run.first->out, run.second), withoutImage(letter.out, image.path));
    EXPECT_EQ(run.first->out.rfind("Drive D: summary\n", 0), 0u) << run.first->out;
  }
  for (const char* name : kLogNames) {
    const std::string expected = FileBytes(byLetter.filePath(name).toStdString());
    EXPECT_FALSE(expected.empty()) << name;
    EXPECT_EQ(FileBytes(byPath.filePath(name).toStdString()), expected) << name;
    EXPECT_EQ(FileBytes(byRelativePath.filePath(name).toStdString()), expected) << name;
  }
  // Messages name the drive by the path given, a letter by its letter.
  EXPECT_NE(path.err.find("diskopt: " + image.path + ": "), std::string::npos) << path.err;
  EXPECT_NE(relative.err.find("diskopt: disk.img: "), std::string::npos) << relative.err;
  EXPECT_NE(letter.err.find("diskopt: D: "), std::string::npos) << letter.err;
}

// --json takes its folder as a value: made when missing (its parent is
// not), or "-" for standard output, which then carries the export alone;
// a folder that cannot be made ends the run before any analysis.
TEST(QtProcessEntryTest, TheExportGoesToAFolderMadeForItOrToStandardOutput) {
  const TNtfsTestImage& image = SharedNtfsTestImage();
  ASSERT_TRUE(image.built.ok) << image.built.message;
  QTemporaryDir scratch;
  ASSERT_TRUE(scratch.isValid());
  const std::string folder = scratch.path().toStdString();

  const TToolOutput made = RunProgram(folder, {}, {"--json", "exports", image.path});
  EXPECT_EQ(made.exitCode, 0) << made.err;
  const std::string written = FileBytes(folder + "/exports/drive-D.json");
  EXPECT_TRUE(ParseJson(written).IsObject()) << written.substr(0, 200);
  EXPECT_NE(made.out.find("Drive D: summary\n"), std::string::npos) << made.out;

  const TToolOutput piped = RunProgram(folder, {}, {"--json", "-", image.path});
  EXPECT_EQ(piped.exitCode, 0) << piped.err;
  EXPECT_EQ(piped.out, written) << "the same export, and nothing else";
  EXPECT_NE(piped.err.find("Drive D: summary\n"), std::string::npos) << piped.err;

  // The variable stands in for the option, and is made the same way.
  const TToolOutput variable = RunProgram(folder, {"DISKOPT_JSON=by variable"}, {image.path});
  EXPECT_EQ(variable.exitCode, 0) << variable.err;
  EXPECT_EQ(FileBytes(folder + "/by variable/drive-D.json"), written);

  const TToolOutput unmade = RunProgram(folder, {}, {"--json", "no/such/parent", image.path});
  EXPECT_EQ(unmade.exitCode, 3);
  EXPECT_EQ(unmade.err, "diskopt: no/such/parent: No such file or directory\n");
  EXPECT_EQ(unmade.out, "");
  EXPECT_FALSE(QFile::exists(scratch.filePath("no"))) << "a parent is never made";
}

TEST(QtProcessEntryTest, AnImageAndAFolderAreAnalysedSideBySide) {
  const TNtfsTestImage& image = SharedNtfsTestImage();
  ASSERT_TRUE(image.built.ok) << image.built.message;
  QTemporaryDir scratch, shots;
  ASSERT_TRUE(scratch.isValid() && shots.isValid());
  const QString folder = scratch.filePath(QStringLiteral("tree"));
  ASSERT_TRUE(QDir().mkpath(folder + QStringLiteral("/sub")));

  const TToolOutput run =
      RunProgram(scratch.path().toStdString(), {"DISKOPT_SNAPSHOT=" + shots.path().toStdString()},
                 {image.path, folder.toStdString()});
  // 3 where the folder's free space cannot be read (GETFSMAP needs root).
  EXPECT_TRUE(run.exitCode == 0 || run.exitCode == 3) << run.err;
  // D and E, each with its window's picture and its own progress.
  EXPECT_TRUE(QFile::exists(shots.filePath(QStringLiteral("drive-D.png"))));
  EXPECT_TRUE(QFile::exists(shots.filePath(QStringLiteral("drive-E.png"))));
  EXPECT_NE(run.err.find("diskopt: " + image.path + ": "), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("diskopt: " + folder.toStdString() + ": "), std::string::npos) << run.err;
}

TEST(QtProcessEntryTest, PathsBeyondTheLastLetterAreNamedAndEndWithStatus3) {
  QTemporaryDir scratch;
  ASSERT_TRUE(scratch.isValid());
  std::vector<std::string> argv = {"env",         "-C",      scratch.path().toStdString(),
                                   "-u",          "DISPLAY", "QT_QPA_PLATFORM=offscreen",
                                   DISKOPT_BINARY};
  // Paths that exist (empty files, no volumes): missing ones never take a
  // letter.
  for (int i = 0; i < 24; ++i) {
    const std::string path = scratch.filePath(QString::number(i) + ".img").toStdString();
    QFile file(QString::fromStdString(path));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    argv.push_back(path);
  }
  const TToolOutput run = RunTool(argv);
  EXPECT_EQ(run.exitCode, 3);
  EXPECT_NE(run.err.find("diskopt: " + argv.back() + ": no drive letter is left for it\n"),
            std::string::npos)
      << run.err;
  EXPECT_NE(run.err.find("diskopt: " + argv[argv.size() - 2] + ": "), std::string::npos);
}

// Quotes inside one argv element group nothing: the element is one -m path,
// which does not exist, and no drive starts.
TEST(QtProcessEntryTest, OneElementIsOneArgumentWhateverQuotesItHolds) {
  const TNtfsTestImage& image = SharedNtfsTestImage();
  ASSERT_TRUE(image.built.ok) << image.built.message;
  QTemporaryDir scratch;
  ASSERT_TRUE(scratch.isValid());
  const std::string folder = scratch.path().toStdString();

  const TToolOutput quoted =
      RunProgram(folder, {"DISKOPT_DRIVE_D=" + image.path}, {"-m", "/nonexistent\" -o \"D"});
  EXPECT_EQ(quoted.err.find("Creating memory tree"), std::string::npos) << quoted.err;
  for (const char* name : kLogNames) {
    EXPECT_FALSE(QFile::exists(scratch.filePath(name))) << name;
  }

  // A lone quote is a -m path of its own (which does not exist) and
  // swallows nothing: D after it is analysed.
  const TToolOutput lone =
      RunProgram(folder, {"DISKOPT_DRIVE_D=" + image.path}, {"-m", "\"", "-o", "D"});
  EXPECT_NE(lone.err.find("diskopt: \": No such file or directory\n"), std::string::npos)
      << lone.err;
  EXPECT_NE(lone.err.find("diskopt: D: "), std::string::npos) << lone.err;
  EXPECT_FALSE(FileBytes(folder + "/DirList_Optimized.log").empty());
}

// Lines of text that start with prefix, in order.
std::vector<std::string> LinesStartingWith(const std::string& text, const std::string& prefix) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(start, end - start);
    if (line.compare(0, prefix.size(), prefix) == 0) lines.push_back(line.substr(prefix.size()));
    start = end + 1;
  }
  return lines;
}

// What a line holds after its elapsed time ("0.12 s "): a stage or a count.
std::string AfterTime(const std::string& line) {
  const size_t at = line.find(" s ");
  return at == std::string::npos ? line : line.substr(at + 3);
}

TEST(QtProcessEntryTest, HeadlessRunShowsItsStagesAndCountsAndNoNoise) {
  const TNtfsTestImage& image = SharedNtfsTestImage();
  ASSERT_TRUE(image.built.ok) << image.built.message;
  QTemporaryDir scratch;
  ASSERT_TRUE(scratch.isValid());
  const std::string folder = scratch.path().toStdString();

  const TToolOutput run = RunProgram(folder, {"DISKOPT_DRIVE_D=" + image.path}, {"D"});
  EXPECT_EQ(run.exitCode, 0);
  std::vector<std::string> shown;
  for (const std::string& line : LinesStartingWith(run.err, "diskopt: D: ")) {
    shown.push_back(AfterTime(line));
  }
  // Stages in order, and after each counting stage its final count: the
  // scan lists every entry below the root, the retrieval reads them and the
  // root (/Big's 200 files among them).
  const auto at = [&](const std::string& text) {
    for (size_t i = 0; i < shown.size(); ++i) {
      if (shown[i] == text) return static_cast<int>(i);
    }
    return -1;
  };
  const int scan = at("Creating memory tree");
  const int map = at("Mapping free space");
  const int fill = at("Filling data into the memory tree");
  const int optimize = at("Optimizing the memory tree");
  const int finished = at("Finished");
  ASSERT_TRUE(scan >= 0 && scan + 1 < map && map < fill && fill + 1 < optimize &&
              optimize < finished)
      << run.err;
  const std::string scanned = shown[map - 1];
  ASSERT_EQ(scanned.substr(scanned.find(' ')), " items") << scanned;
  const long entries = std::stol(scanned);
  EXPECT_GT(entries, 200);
  EXPECT_EQ(shown[optimize - 1], std::to_string(entries + 1) + " items") << run.err;
  // Every line is the program's own: no toolkit warning, no debug output.
  EXPECT_EQ(run.err.find("XDG_RUNTIME_DIR"), std::string::npos) << run.err;
  EXPECT_EQ(run.err.find("Total sectors"), std::string::npos) << run.err;
  EXPECT_EQ(LinesStartingWith(run.err, "diskopt: ").size(), LinesStartingWith(run.err, "").size())
      << run.err;

  // Asked for, both come back.
  const TToolOutput debug =
      RunProgram(folder, {"DISKOPT_DRIVE_D=" + image.path, "DISKOPT_DEBUG=1"}, {"D"});
  EXPECT_NE(debug.err.find("XDG_RUNTIME_DIR"), std::string::npos) << debug.err;
  EXPECT_NE(debug.err.find("Total sectors: "), std::string::npos) << debug.err;
}

}  // namespace
