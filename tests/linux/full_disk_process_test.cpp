// A whole headless run whose logs and export do not all fit on their file
// system (a small tmpfs, mounted in a mount namespace of the run's own): the
// run ends with status 3 and the system's reason, and the files under their
// names are all the previous run's, never some of each.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "tests/linux/linux_services_test_support.h"
#include "tests/linux/ntfs_tool_output.h"
#include "tests/linux/ntfs_volume_test_image.h"

namespace {

const char* const kOutputNames[] = {"dirlist_free.log", "DirList_rules.log",
                                    "DirList_Optimized.log", "DirList_Moves.log", "drive-D.json"};

// What a folder holds: every file's bytes by name.
std::map<std::string, std::string> FolderFiles(const std::string& folder) {
  std::map<std::string, std::string> files;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    files[entry.path().filename().string()] = ReadFile(entry.path().string());
  }
  return files;
}

// The shell words that run the program on drive D (the image) with its logs
// and export in the working directory, standard error to errFile.
std::string ProgramRun(const std::string& image, const std::string& errFile) {
  return "env -u DISPLAY -u WAYLAND_DISPLAY -u DISKOPT_SNAPSHOT -u DISKOPT_DRIVE_C "
         "QT_QPA_PLATFORM=offscreen DISKOPT_JSON=. DISKOPT_DRIVE_D='" +
         image + "' '" DISKOPT_BINARY "' D >/dev/null 2>'" + errFile + "'";
}

TEST(FullDiskProcess, OutputThatDoesNotFitKeepsThePreviousRunWholeAndEndsWithThree) {
  const TNtfsTestImage& image = SharedNtfsTestImage();
  ASSERT_TRUE(image.built.ok) << image.built.message;
  TScratchFolder scratch;

  // What the run writes where there is room: the new files, byte for byte.
  const std::string roomy = scratch / "roomy";
  std::filesystem::create_directory(roomy);
  ASSERT_EQ(RunTool({"sh", "-c", "cd '" + roomy + "' && " + ProgramRun(image.path, "/dev/null")})
                .exitCode,
            0);
  const std::map<std::string, std::string> fresh = FolderFiles(roomy);
  size_t freshBytes = 0;
  for (const char* name : kOutputNames) {
    ASSERT_EQ(fresh.count(name), 1u) << name;
    freshBytes += fresh.at(name).size();
  }

  // The previous run's files, a page each, and room for half the new ones.
  const std::string small = scratch / "small";
  const std::string after = scratch / "after";
  std::filesystem::create_directory(small);
  std::filesystem::create_directory(after);
  const size_t roomKiB = 4 * std::size(kOutputNames) + freshBytes / 2 / 1024;
  std::string script = "mount -t tmpfs -o size=" + std::to_string(roomKiB) + "k tmpfs '" + small +
                       "' || exit 97; cd '" + small + "' || exit 97; ";
  for (const char* name : kOutputNames) {
    script += "printf 'previous %s' " + std::string(name) + " > " + name + "; ";
  }
  script += ProgramRun(image.path, scratch / "err") + "; echo $? > '" + (scratch / "status") +
            "'; cp -a . '" + after + "'";
  const TToolOutput run =
      RunTool({"unshare", "--mount", "--propagation", "private", "sh", "-c", script});
  if (run.exitCode != 0) GTEST_SKIP() << "cannot mount a tmpfs here: " << run.err;

  EXPECT_EQ(ReadFile(scratch / "status"), "3\n");
  const std::string err = ReadFile(scratch / "err");
  EXPECT_NE(err.find("could not be written: No space left on device"), std::string::npos) << err;
  // Every file is the previous run's whole; no new file is left beside them.
  const std::map<std::string, std::string> kept = FolderFiles(after);
  EXPECT_EQ(kept.size(), std::size(kOutputNames));
  for (const char* name : kOutputNames) {
    const std::string holds = kept.count(name) != 0 ? kept.at(name) : "(none)";
    EXPECT_TRUE(holds == std::string("previous ") + name)
        << name << " holds " << (holds == fresh.at(name) ? "the new run's" : "something else");
  }
}

}  // namespace
