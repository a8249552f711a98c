// NTFS names holding a lone surrogate (Windows allows any 16-bit units in a
// name) in the JSON export: the document parses strictly, the shown path
// holds U+FFFD, and the path's bytes beside it name the very item again,
// down to its UTF-16 units.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "planning/drive_stages.h"
#include "platform/linux/ntfs_library.h"
#include "tests/linux/json_read_back.h"
#include "tests/linux/linux_services_test_support.h"
#include "tests/linux/ntfs_volume_test_image.h"
#include "tests/support/fake_window_system.h"

namespace {

// The UTF-16 units a listed name's bytes stand for, as libntfs-3g reads
// them back.
std::vector<uint16_t> Units(const std::string& bytes) {
  ntfschar* units = nullptr;
  const int length = ntfs_mbstoucs(bytes.c_str(), &units);
  std::vector<uint16_t> result;
  for (int k = 0; k < length; ++k) result.push_back(le16_to_cpu(units[k]));
  free(units);
  return result;
}

TEST(NtfsExportNames, LoneSurrogatesAreExportedAsValidUnicodeThatMapsBack) {
  TScratchFolder scratch;
  const std::string image = scratch / "names.img";
  TNtfsImageBuilder builder;
  TNtfsFormat format;
  format.imageBytes = 8 << 20;
  ASSERT_TRUE(builder.Format(image, format).ok);
  // Names given in generalised UTF-8, which libntfs-3g turns into the units:
  // a lone high surrogate, a lone low one, and a pair for comparison.
  const struct {
    std::string bytes;  // the name's listed bytes
    std::vector<uint16_t> units;
    bool valid;  // UTF-8 as it is
  } names[] = {
      {"a\xED\xA0\x80"
       "b.txt",
       {'a', 0xD800, 'b', '.', 't', 'x', 't'},
       false},
      {"\xED\xBF\xBF", {0xDFFF}, false},
      {"\xF0\x9F\x98\x80.txt", {0xD83D, 0xDE00, '.', 't', 'x', 't'}, true},
  };
  for (const auto& name : names) {
    ASSERT_TRUE(builder.MakeFile("/" + name.bytes, TContent::Bytes("x")).ok);
  }
  ASSERT_TRUE(builder.Finish().ok);

  const std::unique_ptr<TLinuxServices> services = ServicesWithDrive(scratch.Path(), 'D', image);
  TFakeWindowSystem windows;
  TDriveOptimizer drive('D', *services, windows, kDriveStages);
  drive.exportFolder = scratch.Path();
  drive.RunPipeline();
  ASSERT_EQ(drive.FailureReason(), "");

  const rapidjson::Document exported = ParseJson(ReadFile(scratch / "drive-D.json"));
  ASSERT_TRUE(exported.IsObject());
  std::map<std::string, const rapidjson::Value*> byBytes;
  for (const rapidjson::Value& item : exported["items"].GetArray()) {
    byBytes[ExportedBytes(item, "path")] = &item;
  }
  for (const auto& name : names) {
    const std::string path = "\\" + name.bytes;
    ASSERT_EQ(byBytes.count(path), 1u) << path;
    const rapidjson::Value& item = *byBytes[path];
    EXPECT_EQ(item.HasMember("pathBytes"), !name.valid) << path;
    const std::string shown = item["path"].GetString();
    EXPECT_EQ(shown.find("\xEF\xBF\xBD") != std::string::npos, !name.valid) << shown;
    // The bytes are the name's units, and open the item itself.
    EXPECT_EQ(Units(name.bytes), name.units) << path;
    const THandle file = services->OpenForRead(("D:" + path).c_str(), false);
    EXPECT_NE(file, InvalidHandle()) << path;
    if (file != InvalidHandle()) services->Close(file);
  }
}

}  // namespace
