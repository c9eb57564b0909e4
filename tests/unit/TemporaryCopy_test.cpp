// WriteTemporaryCopy: the folder, the free name, the one write, and the two
// ways it fails.
#include <gtest/gtest.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "extract/NoRTLStream.h"
#include "extract/TemporaryCopy.h"
#include "platform/simulated/SimulatedWindows.h"
#include "run/StubCore.h"
#include "tests/support/Packages.h"

namespace {

struct Outcome {
  sim::ProcessResult process{};
  bool returned = false;
  std::string path;
};

// Runs WriteTemporaryCopy on a stream holding `program`, writing `size` bytes.
Outcome WriteCopy(const std::vector<uint8_t>& program, uint32_t size) {
  Outcome o;
  o.process = sim::RunProcess([&] {
    loader::TStream output;
    output.Write(program.data(), static_cast<int32_t>(program.size()));
    const platform::AnsiString path = loader::WriteTemporaryCopy(output, size);
    o.returned = true;
    o.path.assign(path.Text(), path.Length());
  });
  return o;
}

Outcome WriteCopy(const std::vector<uint8_t>& program) {
  return WriteCopy(program, static_cast<uint32_t>(program.size()));
}

// The path the copy was created under, from the create call, whether or not
// the create succeeded.
std::string CreatedPath(const sim::SimulatedWindows& win) {
  const std::string prefix = "CreateFileA write ";
  const ptrdiff_t at = win.FindEvent(prefix);
  return at < 0 ? std::string() : win.events[static_cast<size_t>(at)].substr(prefix.size());
}

// The loader lies in C:\Downloads; the system's temporary folder is C:\Temp\.
struct FolderRow {
  const char* arguments;
  const char* tempPath;
  const char* copyPath;
};

const FolderRow kFolderRows[] = {
    {"", "C:\\Temp\\", "C:\\Temp\\setup.exe"},
    {"", "", "C:\\setup.exe"},
    {"", "C:\\Temp", "C:\\Temp\\setup.exe"},
    {"/temp", "C:\\Temp\\", "C:\\Downloads\\setup.exe"},
    {"/temp D:\\Scratch /temp", "C:\\Temp\\", "C:\\Downloads\\setup.exe"},
    {"/TEMP", "C:\\Temp\\", "C:\\Downloads\\setup.exe"},
    {"/Temp", "C:\\Temp\\", "C:\\Downloads\\setup.exe"},
    {"-temp", "C:\\Temp\\", "C:\\Temp\\setup.exe"},
    {"/temp:", "C:\\Temp\\", "C:\\Temp\\setup.exe"},
    {"/tempdir", "C:\\Temp\\", "C:\\Temp\\setup.exe"},
    {"/temp D:\\Scratch", "C:\\Temp\\", "D:\\Scratch\\setup.exe"},
    {"/temp D:\\Scratch\\", "C:\\Temp\\", "D:\\Scratch\\setup.exe"},
    {"/temp D:\\Scratch x", "", "D:\\Scratch\\setup.exe"},
    {"/temp A /temp B", "C:\\Temp\\", "B\\setup.exe"},
    {"/temp /silent x", "C:\\Temp\\", "/silent\\setup.exe"},
    {"/temp work", "C:\\Temp\\", "work\\setup.exe"},
    {"x /TeMp \"D:\\With Space\"", "C:\\Temp\\", "D:\\With Space\\setup.exe"},
};

TEST(TemporaryCopyTest, ChoosesTheFolder) {
  for (const FolderRow& row : kFolderRows) {
    SCOPED_TRACE(std::string("arguments \"") + row.arguments + "\", temp path \"" + row.tempPath + "\"");
    sim::SimulatedWindows win;
    win.SetArguments(row.arguments);
    win.tempPath = row.tempPath;
    WriteCopy(fixtures::SetupProgram(100, 1));
    EXPECT_EQ(CreatedPath(win), row.copyPath);
  }
}

struct NameRow {
  const char* shows;
  const char* modulePath;
  std::vector<std::string> taken;
  std::vector<std::string> takenFolders;
  const char* copyPath;
};

const NameRow kNameRows[] = {
    {"a free name is the loader's", "C:\\Downloads\\setup.exe", {}, {}, "C:\\Temp\\setup.exe"},
    {"taken by a file", "C:\\Downloads\\setup.exe", {"C:\\Temp\\setup.exe"}, {}, "C:\\Temp\\setup2.exe"},
    {"taken by a folder", "C:\\Downloads\\setup.exe", {}, {"C:\\Temp\\setup.exe"}, "C:\\Temp\\setup2.exe"},
    {"taken in another case", "C:\\Downloads\\setup.exe", {"C:\\Temp\\SETUP.EXE"}, {}, "C:\\Temp\\setup2.exe"},
    {"numbers count up from the unnumbered name",
     "C:\\Downloads\\setup.exe",
     {"C:\\Temp\\setup.exe", "C:\\Temp\\setup2.exe", "C:\\Temp\\setup3.exe"},
     {},
     "C:\\Temp\\setup4.exe"},
    {"after 9 comes 10",
     "C:\\Downloads\\setup.exe",
     {"C:\\Temp\\setup.exe", "C:\\Temp\\setup2.exe", "C:\\Temp\\setup3.exe", "C:\\Temp\\setup4.exe",
      "C:\\Temp\\setup5.exe", "C:\\Temp\\setup6.exe", "C:\\Temp\\setup7.exe", "C:\\Temp\\setup8.exe",
      "C:\\Temp\\setup9.exe"},
     {},
     "C:\\Temp\\setup10.exe"},
    {"the first free number wins", "C:\\Downloads\\setup.exe", {"C:\\Temp\\setup.exe", "C:\\Temp\\setup3.exe"}, {},
     "C:\\Temp\\setup2.exe"},
    {"digits go before the last four characters, extension or not", "C:\\Downloads\\install",
     {"C:\\Temp\\install"}, {}, "C:\\Temp\\ins2tall"},
    {"a short name reaches into the folder", "C:\\Downloads\\a", {"C:\\Temp\\a"}, {}, "C:\\Te2mp\\a"},
};

TEST(TemporaryCopyTest, NumbersATakenName) {
  for (const NameRow& row : kNameRows) {
    SCOPED_TRACE(row.shows);
    sim::SimulatedWindows win;
    win.modulePath = row.modulePath;
    for (const std::string& file : row.taken) win.AddFile(file, std::string("x"));
    for (const std::string& folder : row.takenFolders) win.AddFolder(folder);
    WriteCopy(fixtures::SetupProgram(100, 1));
    EXPECT_EQ(CreatedPath(win), row.copyPath);
  }
}

// A path shorter than four characters has no "last four": the digits go in
// front, and nothing outside the path is read.
TEST(TemporaryCopyTest, NumbersAPathShorterThanFourCharacters) {
  sim::SimulatedWindows win;
  win.modulePath = "C:\\Downloads\\a";
  win.SetArguments("/temp X");
  win.AddFile("C:\\Work\\X\\a", std::string("x"));  // "X\a", relative to the current folder
  WriteCopy(fixtures::SetupProgram(100, 1));
  EXPECT_EQ(CreatedPath(win), "2X\\a");
}

TEST(TemporaryCopyTest, WritesTheProgramWithOneWrite) {
  const struct {
    const char* shows;
    size_t size;
  } rows[] = {
      {"a program", 70000},
      {"an empty program gives an empty file", 0},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.shows);
    sim::SimulatedWindows win;
    const std::vector<uint8_t> program = fixtures::SetupProgram(row.size, 3);
    const Outcome o = WriteCopy(program);
    ASSERT_TRUE(o.returned);
    EXPECT_FALSE(o.process.exitProcessCalled);
    EXPECT_EQ(o.path, "C:\\Temp\\setup.exe");
    EXPECT_TRUE(win.Exists(o.path));
    EXPECT_EQ(win.FileBytes(o.path), std::string(program.begin(), program.end()));
    EXPECT_EQ(win.CountEvents("WriteFile"), 1u);
    EXPECT_EQ(win.CountEvents("WriteFile " + std::to_string(row.size)), 1u);
    EXPECT_LT(win.FindEvent("WriteFile"), win.FindEvent("CloseHandle C:\\Temp\\setup.exe"));
    EXPECT_TRUE(win.messageBoxes.empty());
  }
}

TEST(TemporaryCopyTest, FailuresEndInTempCopyFailed) {
  const struct {
    const char* shows;
    const char* arguments;
    bool createFails;
    int64_t writeLimit;
    int64_t freeDiskSpace;
    bool deleted;  // the file was made, then deleted before the box
  } rows[] = {
      {"a folder that does not exist", "/temp D:\\Nowhere", false, -1, -1, false},
      {"the create fails", "", true, -1, -1, false},
      {"a short write", "", false, 1000, -1, true},
      {"a full disk", "", false, -1, 10, true},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.shows);
    sim::SimulatedWindows win;
    win.SetArguments(row.arguments);
    win.createFails = row.createFails;
    win.writeLimit = row.writeLimit;
    win.freeDiskSpace = row.freeDiskSpace;
    const std::vector<std::string> before = win.Files();
    const Outcome o = WriteCopy(fixtures::SetupProgram(5000, 4));

    EXPECT_FALSE(o.returned);
    EXPECT_TRUE(o.process.exitProcessCalled);
    EXPECT_EQ(o.process.exitCode, 0u);
    ASSERT_EQ(win.messageBoxes.size(), 1u);
    EXPECT_EQ(win.messageBoxes[0].text, loader::FatalErrorText(loader::FatalError::TempCopyFailed));
    EXPECT_EQ(win.Files(), before) << "no copy is left behind";
    EXPECT_FALSE(win.Exists("D:\\Nowhere")) << "no folder is created";
    const std::string path = CreatedPath(win);
    if (row.deleted) {
      // Written, closed, deleted, and only then the box.
      const ptrdiff_t write = win.FindEvent("WriteFile");
      const ptrdiff_t close = win.FindEvent("CloseHandle " + path);
      const ptrdiff_t remove = win.FindEvent("DeleteFileA " + path);
      const ptrdiff_t box = win.FindEvent("MessageBoxA");
      EXPECT_GE(write, 0);
      EXPECT_LT(write, close);
      EXPECT_LT(close, remove);
      EXPECT_LT(remove, box);
    } else {
      EXPECT_EQ(win.CountEvents("WriteFile"), 0u);
      EXPECT_EQ(win.CountEvents("DeleteFileA"), 0u);
    }
  }
}

TEST(TemporaryCopyTest, PathExistsAsksFindFirstFileAndClosesTheSearch) {
  sim::SimulatedWindows win;
  win.AddFile("C:\\Temp\\file.bin", std::string("x"));
  EXPECT_TRUE(loader::PathExists("C:\\Temp\\file.bin"));
  EXPECT_TRUE(loader::PathExists("C:\\Temp"));
  EXPECT_FALSE(loader::PathExists("C:\\Temp\\other.bin"));
  EXPECT_EQ(win.CountEvents("FindFirstFileA"), 3u);
  EXPECT_EQ(win.CountEvents("FindClose"), 2u);
}

}  // namespace
