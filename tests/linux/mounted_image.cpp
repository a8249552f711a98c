#include "tests/linux/mounted_image.h"

#include <unistd.h>

#include <filesystem>

const TFileSystemKind kExt4 = {"ext4", {"mkfs.ext4", "-q", "-F", "-b", "4096"}, {"e2fsck", "-fn"}};
const TFileSystemKind kXfs = {"xfs", {"mkfs.xfs", "-q", "-f"}, {"xfs_repair", "-n"}};
const TFileSystemKind kBtrfs = {"btrfs", {"mkfs.btrfs", "-q", "-f"}, {"btrfs", "check"}};

std::string KindName(const ::testing::TestParamInfo<const TFileSystemKind*>& info) {
  return info.param->name;
}

TMountedImage::TMountedImage(const TFileSystemKind& kind) : kind_(kind) {
  image_ = scratch_ / "image";
  mountPoint_ = scratch_ / "mnt";
  std::filesystem::create_directories(mountPoint_);
  WriteFile(image_, "");
  // Sparse: 300 MiB of address, a few MiB on the disk.
  if (truncate(image_.c_str(), 300 << 20) != 0) {
    reason_ = "cannot size the image";
    return;
  }
  std::vector<std::string> make = kind.make;
  make.push_back(image_);
  const TToolOutput made = RunTool(make);
  if (made.exitCode != 0) {
    reason_ = make[0] + " is missing or failed: " + made.err;
    return;
  }
  const TToolOutput mount = RunTool({"mount", "-o", "loop", image_, mountPoint_});
  if (mount.exitCode != 0) {
    reason_ = "cannot loop-mount: " + mount.err;
    return;
  }
  mounted_ = true;
}

bool TMountedImage::Unmount() {
  if (mounted_ && RunTool({"umount", mountPoint_}).exitCode == 0) mounted_ = false;
  return !mounted_;
}

TToolOutput TMountedImage::Check() {
  if (mounted_ && RunTool({"umount", mountPoint_}).exitCode != 0) {
    TToolOutput busy;
    busy.err = "the image could not be unmounted";
    return busy;
  }
  mounted_ = false;
  std::vector<std::string> check = kind_.check;
  check.push_back(image_);
  return RunTool(check);
}

void TMountedImageTest::SetUp() {
  if (geteuid() != 0) GTEST_SKIP() << "loop mounts need root";
  volume_ = std::make_unique<TMountedImage>(*GetParam());
  if (!volume_->Mounted()) GTEST_SKIP() << volume_->Reason();
}
