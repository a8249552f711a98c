// The Linux process entry: its command line, joined from argv as Windows
// presents one, and a run of the program with no display at all.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "app/command_line.h"
#include "app/folder_statistics.h"
#include "app/posix_command_line.h"

namespace {

using TArguments = std::vector<std::pair<char, std::string>>;

void Collect(void* context, char mode, const char* text, int length) {
  static_cast<TArguments*>(context)->emplace_back(mode, std::string(text, length));
}

TEST(QtProcessEntryTest, JoinsArgumentsWithSingleBlanks) {
  const char* argv[] = {"diskopt", "-o", "C", "D:"};
  EXPECT_EQ(JoinCommandLine(4, argv), "diskopt -o C D:");
}

TEST(QtProcessEntryTest, QuotesArgumentsWithBlanksAndEmptyArguments) {
  const char* argv[] = {"/opt/disk tools/diskopt", "-m", "/srv/my data/", ""};
  EXPECT_EQ(JoinCommandLine(4, argv), "\"/opt/disk tools/diskopt\" -m \"/srv/my data/\" \"\"");
}

TEST(QtProcessEntryTest, TheWalkGetsEveryArgumentBackWhole) {
  const char* argv[] = {"/opt/disk tools/diskopt", "C", "", "-m", "/srv/my data/", "/tmp/"};
  const std::string line = JoinCommandLine(6, argv);
  TArguments arguments;
  WalkCommandLine(line.c_str(), Collect, &arguments);
  // The empty argument stays a token of its own, which the walk ignores.
  const TArguments expected = {{'\0', "C"}, {'m', "/srv/my data/"}, {'m', "/tmp/"}};
  EXPECT_EQ(arguments, expected);
}

// Needs the program built next to the tests.
TEST(QtProcessEntryTest, WithNoDisplayTheReportGoesToStandardOutput) {
  QTemporaryDir scratch;
  ASSERT_TRUE(scratch.isValid());
  const QString top = scratch.filePath(QStringLiteral("my data"));
  ASSERT_TRUE(QDir().mkpath(top + QStringLiteral("/sub")));
  for (const QString& name : {QStringLiteral("/one.txt"), QStringLiteral("/sub/two.dat")}) {
    QFile file(top + name);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  }

  const std::string command =
      "env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM -u "
      "DISKOPT_SNAPSHOT '" DISKOPT_BINARY "' -m '" +
      top.toStdString() + "/'";
  FILE* program = popen(command.c_str(), "r");
  ASSERT_NE(program, nullptr);
  std::string output;
  char chunk[256];
  size_t got;
  while ((got = std::fread(chunk, 1, sizeof chunk, program)) > 0) output.append(chunk, got);
  const int status = pclose(program);

  const TFolderCounters counters = {2, 1, 14, 3};  // one.txt, two.dat; sub
  char report[500];
  FormatFolderReport(counters, report);
  EXPECT_EQ(output, std::string("info: ") + report + "\n");
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
