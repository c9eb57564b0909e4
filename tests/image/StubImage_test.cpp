// The stub image as Windows and the package builder meet it: the layout the
// package locator needs, a GUI image that Windows 95 loads, the manifest, and
// imports that every Windows from 95 on can satisfy.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "PeImage.h"
#include "StubLayout.h"

namespace {

const char* const kLoaderPath = LOADER_EXE_PATH;

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
  return text;
}

// Functions of the DLLs the stub may bind at load time that Windows 95 has.
// Anything outside this list (IsWow64Process, CheckTokenMembership,
// SetDefaultDllDirectories, SetDllDirectoryA...) must be looked up at run time.
const std::map<std::string, std::set<std::string>> kWindows95Functions = {
    {"kernel32.dll",
     {"CloseHandle",        "CreateFileA",        "CreateProcessA",      "DeleteFileA",
      "ExitProcess",        "FindClose",          "FindFirstFileA",      "FindNextFileA",
      "FreeLibrary",        "GetACP",             "GetCommandLineA",     "GetCurrentProcess",
      "GetCurrentProcessId", "GetCurrentThreadId", "GetFileAttributesA", "GetFileSize",
      "GetLastError",       "GetModuleFileNameA", "GetModuleHandleA",    "GetProcAddress",
      "GetProcessHeap",     "GetStartupInfoA",    "GetSystemDirectoryA", "GetTempPathA",
      "GetTickCount",       "GetVersion",         "GetVersionExA",       "GetWindowsDirectoryA",
      "GlobalMemoryStatus", "HeapAlloc",          "HeapFree",            "HeapReAlloc",
      "HeapSize",           "LoadLibraryA",       "MultiByteToWideChar", "ReadFile",
      "SetFilePointer",     "SetLastError",       "Sleep",               "VirtualAlloc",
      "VirtualFree",        "WaitForSingleObject", "WideCharToMultiByte", "WriteFile",
      "lstrlenA"}},
    {"user32.dll", {"CharNextA", "CharPrevA", "MessageBoxA", "wsprintfA"}},
    {"advapi32.dll", {"AllocateAndInitializeSid", "FreeSid", "RegCloseKey", "RegOpenKeyExA", "RegQueryValueExA"}},
    {"shell32.dll", {"ShellExecuteExA", "ShellExecuteA"}},
};

class StubImage : public ::testing::Test {
 protected:
  void SetUp() override {
    std::ifstream in(kLoaderPath, std::ios::binary);
    if (!in) GTEST_SKIP() << kLoaderPath << " has not been built (cross-build the stub to check it)";
    bytes_.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    std::string error;
    ASSERT_TRUE(pe::ReadPeImage(bytes_, image_, error)) << error;
  }

  std::vector<uint8_t> bytes_;
  pe::PeImage image_;
};

TEST_F(StubImage, LeavesTheLocatorSlotFreeWithHeadersAt256) {
  EXPECT_EQ(pe::Read32(bytes_, 0x3C), 256u);
  for (size_t i = 128; i < 256; ++i) ASSERT_EQ(bytes_[i], 0) << "byte " << i;
  EXPECT_EQ(pe::Read32(bytes_, 256), 0x00004550u) << "PE signature at 256";
  std::string error;
  EXPECT_TRUE(pe::CheckStubLayout(bytes_, error)) << error;
}

TEST_F(StubImage, IsA32BitGuiImageThatWindows95Loads) {
  EXPECT_EQ(image_.Machine, pe::kMachineI386);
  EXPECT_EQ(image_.Magic, pe::kMagicPe32);
  EXPECT_EQ(image_.Subsystem, pe::kSubsystemWindowsGui);
  EXPECT_EQ(image_.MajorSubsystemVersion, 4);
  EXPECT_EQ(image_.MinorSubsystemVersion, 0);
  EXPECT_EQ(image_.MajorOperatingSystemVersion, 4);
  EXPECT_EQ(image_.MinorOperatingSystemVersion, 0);
}

TEST_F(StubImage, StaysWithin32KiB) { EXPECT_LE(bytes_.size(), 32768u); }

// Size work must not cost the protections: the image can move (ASLR, with the
// base relocations that moving needs), its data is not executable (DEP), and
// no section is both writable and executable.
TEST_F(StubImage, KeepsAslrAndDep) {
  const uint16_t dllCharacteristics = pe::Read16(bytes_, image_.OptionalHeaderOffset + 70);
  EXPECT_NE(dllCharacteristics & 0x0040, 0) << "IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE";
  EXPECT_NE(dllCharacteristics & 0x0100, 0) << "IMAGE_DLLCHARACTERISTICS_NX_COMPAT";
  EXPECT_GT(image_.Directory(5).Size, 0u) << "no base relocations";
  for (const pe::Section& section : image_.Sections) {
    const uint32_t characteristics = pe::Read32(bytes_, section.HeaderOffset + 36);
    const bool writable = characteristics & 0x80000000u, executable = characteristics & 0x20000000u;
    EXPECT_FALSE(writable && executable) << section.Name << " is writable and executable";
  }
}

TEST_F(StubImage, CarriesTheManifestAndAnIcon) {
  std::vector<uint8_t> data;
  ASSERT_TRUE(pe::FindResource(bytes_, image_, 24, 1, data)) << "no manifest (type 24, id 1)";
  const std::string manifest(data.begin(), data.end());
  const char* const expected[] = {
      "level=\"asInvoker\"",
      "uiAccess=\"false\"",
      ">true</dpiAware>",
      "{e2011457-1546-43c5-a5fe-008deee3d3f0}",  // Windows Vista
      "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",  // Windows 7
      "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",  // Windows 8
      "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",  // Windows 8.1
      "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}",  // Windows 10
  };
  for (const char* text : expected) EXPECT_NE(manifest.find(text), std::string::npos) << "manifest lacks " << text;
  EXPECT_EQ(manifest.find("requireAdministrator"), std::string::npos);
  EXPECT_EQ(manifest.find("highestAvailable"), std::string::npos);
  EXPECT_TRUE(pe::FindResource(bytes_, image_, 14, 1, data)) << "no icon group (type 14, id 1)";
}

TEST_F(StubImage, ImportsOnlyWhatWindows95Has) {
  std::vector<pe::ImportedDll> imports;
  std::string error;
  ASSERT_TRUE(pe::ReadImports(bytes_, image_, imports, error)) << error;
  ASSERT_FALSE(imports.empty());
  for (const pe::ImportedDll& dll : imports) {
    const std::string name = Lower(dll.Name);
    EXPECT_EQ(name.find("msvcr"), std::string::npos) << "C runtime imported: " << dll.Name;
    const auto allowed = kWindows95Functions.find(name);
    if (allowed == kWindows95Functions.end()) {
      ADD_FAILURE() << "unexpected DLL " << dll.Name;
      continue;
    }
    for (const std::string& function : dll.Functions)
      EXPECT_TRUE(allowed->second.count(function)) << dll.Name << "!" << function << " is not on Windows 95";
  }
}

}  // namespace
