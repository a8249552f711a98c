#include "tests/linux/ntfs_volume_test_image.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>

#include "platform/linux/ntfs_library.h"
#include "tests/linux/linux_services_test_support.h"

namespace {

// libntfs-3g's file access without the fsync of the unmount: a scratch
// image need not reach the disk.
int SyncNothing(struct ntfs_device* device) {
  NDevClearDirty(device);
  return 0;
}

// Gives /Docs/Résumé.txt the short name RESUME~1.TXT beside its long name,
// as Windows gives one to a name that is no 8.3 name; the builder makes long
// names only.
TBuildStatus AddShortName(const std::string& image) {
  static ntfs_device_operations operations = [] {
    ntfs_device_operations copy = ntfs_device_default_io_ops;
    copy.sync = SyncNothing;
    return copy;
  }();
  struct ntfs_device* device = ntfs_device_alloc(image.c_str(), 0, &operations, nullptr);
  if (device == nullptr) return TBuildStatus::Failure("AddShortName: no device");
  ntfs_volume* volume = ntfs_device_mount(device, NTFS_MNT_NONE);
  if (volume == nullptr) {
    ntfs_device_free(device);
    return TBuildStatus::Failure("AddShortName: cannot mount");
  }
  ntfs_inode* folder = ntfs_pathname_to_inode(volume, nullptr, "/Docs");
  ntfs_inode* file = ntfs_pathname_to_inode(volume, nullptr, "/Docs/Résumé.txt");
  const char shortName[] = "RESUME~1.TXT";
  // Closes both inodes, whatever the outcome.
  const bool named =
      folder != nullptr && file != nullptr &&
      ntfs_set_ntfs_dos_name(file, folder, shortName, std::strlen(shortName), 0) == 0;
  const bool unmounted = ntfs_umount(volume, FALSE) == 0;
  if (!named || !unmounted) return TBuildStatus::Failure("AddShortName: not set");
  return TBuildStatus::Success();
}

TNtfsTestImage Build(const std::string& folder) {
  TNtfsTestImage image;
  image.path = folder + "/test.img";
  TNtfsImageBuilder builder;
  TNtfsFormat format;
  format.imageBytes = 32u << 20;
  format.clusterBytes = kTestClusterBytes;
  format.label = "Tests";
  std::vector<TBuildStatus> steps;
  steps.push_back(builder.Format(image.path, format));
  steps.push_back(builder.MakeFolder("/Docs"));
  steps.push_back(builder.MakeFolder("/Docs/Ünïcode 文件夹"));
  steps.push_back(builder.MakeFile("/Docs/Ünïcode 文件夹/inner.txt", TContent::Text(5000, 1)));
  steps.push_back(builder.MakeFile("/Docs/Résumé.txt", TContent::Text(3000, 2)));
  steps.push_back(builder.MakeFile("/Docs/日本語.doc", TContent::Binary(5000, 3)));
  steps.push_back(builder.MakeFile("/Docs/small.txt", TContent::Bytes("hello, NTFS\n")));
  steps.push_back(builder.MakeFile("/empty.txt", TContent::Bytes("")));
  steps.push_back(builder.MakeFolder("/Comp"));
  steps.push_back(builder.SetFolderCompressed("/Comp"));
  steps.push_back(builder.MakeFile("/Comp/log.txt", TContent::Text(300000, 4)));
  steps.push_back(builder.MakeSparseFile("/sparse.bin", TContent::Binary(1 << 20, 5),
                                         16 * kTestClusterBytes, 128 * kTestClusterBytes));
  steps.push_back(builder.MakeFragmentedFile("/frag.bin", TContent::Binary(100000, 6), 7, 3, 3000,
                                             &image.fragmented));
  steps.push_back(builder.MakePlacedFile("/placed.bin",
                                         TContent::Binary(5 * kTestClusterBytes - 100, 7),
                                         {{5000, 2}, {TExtent::kHoleLcn, 2}, {5100, 1}}));
  steps.push_back(builder.MakePlacedFile(
      "/adjacent.bin", TContent::Binary(4 * kTestClusterBytes, 8), {{5150, 2}, {5152, 2}}));
  steps.push_back(builder.MakeFragmentedFile(
      "/many.bin", TContent::Binary(1100 * kTestClusterBytes, 9), 1100, 1, 5200));
  steps.push_back(builder.MakeFolder("/Big"));
  static const char* const kPrefixes[] = {"File ", "file ", "FILE ", "fILE "};
  for (int i = 0; i < 200; ++i) {
    image.bigNames.push_back(kPrefixes[i % 4] + std::to_string((i * 37) % 200) + ".dat");
    steps.push_back(
        builder.MakeFile("/Big/" + image.bigNames.back(), TContent::Binary(100 + i, 10 + i)));
  }
  steps.push_back(builder.MakeFile("/" + TooLongName(), TContent::Bytes("x")));
  steps.push_back(builder.Finish());
  steps.push_back(AddShortName(image.path));
  for (const TBuildStatus& step : steps) {
    if (!step) {
      image.built = step;
      break;
    }
  }
  return image;
}

void CollectItems(const TItem* item, const std::string& path,
                  std::map<std::string, const TItem*>* items) {
  (*items)[path] = item;
  const std::string prefix = path == "/" ? path : path + "/";
  for (const TItem* child = item->firstChild; child != nullptr; child = child->nextSibling) {
    CollectItems(child, prefix + child->name, items);
  }
}

}  // namespace

std::string TooLongName() {
  std::string name;
  for (int i = 0; i < 200; ++i) name += "é";
  return name;
}

const TNtfsTestImage& SharedNtfsTestImage() {
  // Removed at exit, after every test of the process.
  static const TScratchFolder folder;
  static const TNtfsTestImage image = Build(folder.Path());
  return image;
}

std::unique_ptr<TLinuxServices> ServicesWithDrive(const std::string& logFolder, char letter,
                                                  const std::string& image) {
  TDriveTable drives;
  drives.Map('C', logFolder);
  drives.Map(letter, image);
  return std::make_unique<TLinuxServices>(drives);
}

void RunAnalysisStages(TDriveOptimizer& drive) {
  drive.CreateMemoryTree();
  if (drive.root == nullptr) return;
  drive.MapFreeSpace();
  if (drive.freeExtents == nullptr) return;
  drive.FillMemoryTree();
}

std::map<std::string, const TItem*> ItemsByPath(const TItem* root) {
  std::map<std::string, const TItem*> items;
  if (root != nullptr) CollectItems(root, "/", &items);
  return items;
}

std::vector<std::string> ListedPaths(const std::string& image) {
  const TToolOutput tree = RunTool({"ntfsls", "-R", "-p", "/", image});
  EXPECT_EQ(tree.exitCode, 0) << tree.err;
  std::vector<std::string> paths;
  std::string folder;
  for (const std::string& line : ParseNtfslsNames(tree.out)) {
    if (line.front() == '/' && line.back() == ':') {
      folder = line.substr(0, line.size() - 1);
    } else if (line != "." && line != "..") {
      paths.push_back((folder == "/" ? "" : folder) + "/" + line);
    }
  }
  return paths;
}

std::vector<TToolRun> Fragments(const TItem* item) {
  std::vector<TToolRun> runs;
  for (const TFragment* fragment = item->fragments; fragment != nullptr;
       fragment = fragment->next) {
    runs.push_back(TToolRun{fragment->vcn, fragment->lcn, fragment->length});
  }
  return runs;
}

bool CopyFile(const std::string& from, const std::string& to) {
  std::ifstream in(from, std::ios::binary);
  std::ofstream out(to, std::ios::binary | std::ios::trunc);
  out << in.rdbuf();
  return in.good() && out.good();
}
