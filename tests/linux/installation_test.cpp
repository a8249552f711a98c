// What an installation holds: every file staged by `cmake --install`, the
// man page agreeing with --help, bash completion as a shell runs it, and
// the Debian package with its files and the libraries it depends on.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "app/linux_command_line.h"
#include "tests/linux/linux_services_test_support.h"
#include "tests/linux/ntfs_tool_output.h"
#include "tests/support/file_bytes.h"

namespace {

// Every file below root, as paths relative to it.
std::set<std::string> FilesBelow(const std::string& root) {
  std::set<std::string> files;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
    if (!entry.is_directory()) files.insert(std::filesystem::relative(entry.path(), root).string());
  }
  return files;
}

const std::set<std::string> kInstalled = {
    "bin/diskopt",
    "share/applications/diskopt.desktop",
    "share/bash-completion/completions/diskopt",
    "share/doc/diskopt/README.md",
    "share/icons/hicolor/scalable/apps/diskopt.svg",
    "share/man/man1/diskopt.1",
};

// Each distinct match of pattern's first group in text.
std::set<std::string> Matches(const std::string& text, const std::string& pattern) {
  std::set<std::string> found;
  const std::regex expression(pattern);
  for (auto it = std::sregex_iterator(text.begin(), text.end(), expression);
       it != std::sregex_iterator(); ++it) {
    found.insert((*it)[1].str());
  }
  return found;
}

TEST(Installation, StagesEveryFileAndNothingElse) {
  TScratchFolder stage;
  const TToolOutput install =
      RunTool({CMAKE_COMMAND, "--install", DISKOPT_BUILD_DIR, "--prefix", stage.Path()});
  ASSERT_EQ(install.exitCode, 0) << install.err;
  EXPECT_EQ(FilesBelow(stage.Path()), kInstalled);

  const std::string manual = FileBytes(stage / "share/man/man1/diskopt.1");
  EXPECT_NE(manual.find("\"diskopt " DISKOPT_VERSION "\""), std::string::npos)
      << "the version is filled in";
  EXPECT_EQ(manual.find('@'), std::string::npos);
  const std::string desktop = FileBytes(stage / "share/applications/diskopt.desktop");
  EXPECT_NE(desktop.find("\nExec=diskopt %F\n"), std::string::npos) << desktop;
  EXPECT_NE(desktop.find("\nIcon=diskopt\n"), std::string::npos) << "the installed icon's name";
  const TToolOutput version = RunTool({stage / "bin/diskopt", "--version"});
  EXPECT_EQ(version.out, "diskopt " DISKOPT_VERSION "\n");
}

TEST(Installation, TheManPageAndHelpNameTheSameOptionsAndVariables) {
  char* text = nullptr;
  size_t length = 0;
  FILE* stream = open_memstream(&text, &length);
  ASSERT_NE(stream, nullptr);
  WriteUsage(stream);
  std::fclose(stream);
  const std::string help(text, length);
  std::free(text);
  // The man page writes a dash as \-.
  std::string manual = FileBytes(DISKOPT_SOURCE_DIR "/packaging/linux/diskopt.1");
  manual = std::regex_replace(manual, std::regex(R"(\\-)"), "-");
  const std::string option = R"((?:^|[\s,(])(--?[A-Za-z][a-z-]*))";
  const std::set<std::string> helpOptions = Matches(help, option);
  EXPECT_EQ(Matches(manual, option), helpOptions);
  EXPECT_GE(helpOptions.size(), 8u) << "every option, short and long, is found";
  const std::string variable = R"((DISKOPT_[A-Z]+_?|QT_QPA_PLATFORM))";
  EXPECT_EQ(Matches(manual, variable), Matches(help, variable));
  // Every exit status.
  EXPECT_EQ(Matches(manual, R"(\.TP\n\.B (\d+)\n)"), Matches(help, R"(\n  (\d+) +[a-z])"));
}

// What bash offers after the words, the last being the one completed.
std::vector<std::string> Completions(const std::string& folder, const std::string& words,
                                     const std::string& environment = "") {
  const std::string script = "cd '" + folder + "' && " + environment + " source '" +
                             DISKOPT_SOURCE_DIR "/packaging/linux/diskopt.bash-completion' && " +
                             "COMP_WORDS=(" + words +
                             ") && COMP_CWORD=$((${#COMP_WORDS[@]} - 1)) " +
                             "&& _diskopt && printf '%s\\n' \"${COMPREPLY[@]}\" | sort";
  const TToolOutput run = RunTool({"bash", "-c", script});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < run.out.size()) {
    const size_t end = run.out.find('\n', start);
    if (end > start) lines.push_back(run.out.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

TEST(Installation, BashCompletesOptionsDriveLettersAndPaths) {
  TScratchFolder here;
  std::filesystem::create_directory(here / "images");
  WriteFile(here / "disk.img", "");
  using TWords = std::vector<std::string>;
  EXPECT_EQ(Completions(here.Path(), "diskopt --de"),
            (TWords{"--defragment", "--defragment-shared"}));
  EXPECT_EQ(Completions(here.Path(), "diskopt --o"), TWords{"--optimize"});
  EXPECT_EQ(Completions(here.Path(), "diskopt -"),
            (TWords{"--defragment", "--defragment-shared", "--help", "--json", "--optimize",
                    "--version", "-m", "-o"}));
  // Mapped letters beside the files and folders here.
  EXPECT_EQ(Completions(here.Path(), "diskopt ''", "export DISKOPT_DRIVE_E=/srv/e.img;"),
            (TWords{"E", "disk.img", "images"}));
  // Folders only where a folder is wanted; "-" is standard output for --json.
  EXPECT_EQ(Completions(here.Path(), "diskopt -m ''"), TWords{"images"});
  EXPECT_EQ(Completions(here.Path(), "diskopt --json ''"), (TWords{"-", "images"}));
  EXPECT_EQ(Completions(here.Path(), "diskopt -m images -o d"), TWords{"disk.img"});
}

TEST(Installation, TheDebianPackageHoldsTheFilesAndDependsOnTheLibrariesItLinks) {
  TScratchFolder packages;
  const TToolOutput pack = RunTool({CMAKE_CPACK_COMMAND, "-G", "DEB", "--config",
                                    DISKOPT_BUILD_DIR "/CPackConfig.cmake", "-B", packages.Path()});
  ASSERT_EQ(pack.exitCode, 0) << pack.out << pack.err;
  const std::string deb = packages / ("diskopt_" DISKOPT_VERSION "_amd64.deb");
  ASSERT_TRUE(std::filesystem::exists(deb)) << pack.out;
  const TToolOutput fields = RunTool({"dpkg-deb", "-f", deb, "Package", "Depends"});
  ASSERT_EQ(fields.exitCode, 0) << fields.err;
  EXPECT_NE(fields.out.find("Package: diskopt\n"), std::string::npos) << fields.out;
  for (const char* library :
       {"libqt6widgets6", "libqt6gui6", "libntfs-3g", "libext2fs2", "libc6"}) {
    EXPECT_NE(fields.out.find(library), std::string::npos) << library << "\n" << fields.out;
  }
  const TToolOutput contents = RunTool({"dpkg-deb", "-c", deb});
  ASSERT_EQ(contents.exitCode, 0) << contents.err;
  std::set<std::string> files;
  for (const std::string& path : Matches(contents.out, R"( \./usr/(\S*[^/])\n)"))
    files.insert(path);
  EXPECT_EQ(files, kInstalled);
}

}  // namespace
