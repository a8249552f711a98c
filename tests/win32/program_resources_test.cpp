// The built program's resources, read back out of the .exe as Windows reads
// them: the manifest asks for an administrator, per-monitor DPI awareness
// and the version 6 common controls; the version resource carries the
// project's version and names the product; the icon is there.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

namespace {

// The program's path as Windows names it: the build's host path on the
// drive that maps the host's root.
std::string ProgramPath() {
  std::string path = "Z:" DISKOPT_BINARY;
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  return path;
}

class ProgramResources : public testing::Test {
 protected:
  void SetUp() override {
    module_ = LoadLibraryExA(ProgramPath().c_str(), nullptr,
                             LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(module_, nullptr) << ProgramPath() << ": error " << GetLastError();
  }
  void TearDown() override {
    if (module_ != nullptr) FreeLibrary(module_);
  }

  // The bytes of resource id of type, empty when there is none.
  std::string Resource(LPCSTR type, int id) {
    HRSRC found = FindResourceA(module_, MAKEINTRESOURCEA(id), type);
    if (found == nullptr) return std::string();
    HGLOBAL loaded = LoadResource(module_, found);
    const char* bytes = static_cast<const char*>(LockResource(loaded));
    return std::string(bytes, SizeofResource(module_, found));
  }

  HMODULE module_ = nullptr;
};

TEST_F(ProgramResources, TheManifestAsksForAnAdministratorPerMonitorDpiAndCommonControls6) {
  const std::string manifest = Resource(MAKEINTRESOURCEA(24), 1);
  ASSERT_FALSE(manifest.empty()) << "no manifest for the process (RT_MANIFEST 1)";
  for (const char* part :
       {"level=\"requireAdministrator\"", "uiAccess=\"false\"", "PerMonitorV2", "true/pm",
        "name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\"",
        "version=\"" DISKOPT_VERSION ".0\""}) {
    EXPECT_NE(manifest.find(part), std::string::npos) << part << "\n" << manifest;
  }
}

TEST_F(ProgramResources, TheVersionResourceCarriesTheProjectsVersionAndNames) {
  const std::string path = ProgramPath();
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeA(path.c_str(), &ignored);
  ASSERT_GT(size, 0u) << "no version resource";
  std::vector<char> block(size);
  ASSERT_TRUE(GetFileVersionInfoA(path.c_str(), 0, size, block.data()));
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueA(block.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
  const std::string version = std::to_string(HIWORD(fixed->dwFileVersionMS)) + "." +
                              std::to_string(LOWORD(fixed->dwFileVersionMS)) + "." +
                              std::to_string(HIWORD(fixed->dwFileVersionLS));
  EXPECT_EQ(version, DISKOPT_VERSION);
  EXPECT_EQ(fixed->dwProductVersionMS, fixed->dwFileVersionMS);
  EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));
  const auto text = [&](const char* name) {
    char* value = nullptr;
    UINT chars = 0;
    const std::string key = std::string("\\StringFileInfo\\040904B0\\") + name;
    if (!VerQueryValueA(block.data(), key.c_str(), reinterpret_cast<void**>(&value), &chars)) {
      return std::string("(none)");
    }
    return std::string(value);
  };
  EXPECT_EQ(text("ProductName"), "diskopt");
  EXPECT_EQ(text("ProductVersion"), DISKOPT_VERSION);
  EXPECT_EQ(text("FileVersion"), DISKOPT_VERSION);
  EXPECT_EQ(text("OriginalFilename"), "diskopt.exe");
  EXPECT_NE(text("FileDescription").find("NTFS"), std::string::npos) << text("FileDescription");
}

TEST_F(ProgramResources, TheIconHoldsEverySizeTheShellShows) {
  HRSRC group = FindResourceA(module_, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(14));
  ASSERT_NE(group, nullptr) << "no icon group";
  for (int size : {16, 32, 48, 256}) {
    HICON icon = static_cast<HICON>(
        LoadImageA(module_, MAKEINTRESOURCEA(1), IMAGE_ICON, size, size, LR_DEFAULTCOLOR));
    EXPECT_NE(icon, nullptr) << size;
    if (icon != nullptr) DestroyIcon(icon);
  }
}

}  // namespace
