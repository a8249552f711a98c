// Images of Linux file systems made and loop-mounted by a test (root only),
// and a test fixture over a kind of them that skips, with the reason, where
// the test is not root or the image cannot be made or mounted.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "tests/linux/linux_services_test_support.h"
#include "tests/linux/ntfs_tool_output.h"

// How a file system is made, and how it checks itself once unmounted.
struct TFileSystemKind {
  const char* name;
  std::vector<std::string> make;   // the image's path is appended
  std::vector<std::string> check;  // the image's path is appended; exit 0 when sound
};

extern const TFileSystemKind kExt4;
extern const TFileSystemKind kXfs;
extern const TFileSystemKind kBtrfs;

// The kind's name, for the names of parameterised tests.
std::string KindName(const ::testing::TestParamInfo<const TFileSystemKind*>& info);

// An image of one kind (300 MiB, sparse), made and loop-mounted for the
// life of the object.
class TMountedImage {
 public:
  explicit TMountedImage(const TFileSystemKind& kind);
  ~TMountedImage() { Unmount(); }

  // False while a program still holds the file system (it stays mounted,
  // and the destructor tries again).
  bool Unmount();
  // The file system's own checker on the unmounted image.
  TToolOutput Check();

  bool Mounted() const { return mounted_; }
  const std::string& Reason() const { return reason_; }
  const std::string& MountPoint() const { return mountPoint_; }
  // A folder beside the image, outside the file system: for logs.
  std::string Logs() const { return scratch_.Path(); }

 private:
  const TFileSystemKind& kind_;
  TScratchFolder scratch_;
  std::string image_;
  std::string mountPoint_;
  std::string reason_;
  bool mounted_ = false;
};

// A test over a mounted image of the kind it is given.
class TMountedImageTest : public ::testing::TestWithParam<const TFileSystemKind*> {
 protected:
  void SetUp() override;

  std::unique_ptr<TMountedImage> volume_;
};
