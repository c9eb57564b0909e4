// The setup program's arguments and command line, and the network form of
// the loader's path.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "launch/Arguments.h"
#include "launch/SetupCommandLine.h"
#include "platform/simulated/SimulatedWindows.h"

namespace {

std::string Str(const platform::AnsiString& s) { return std::string(s.Text(), s.Length()); }

TEST(SetupCommandLineTest, WorkedExample) {
  sim::SimulatedWindows win;
  win.modulePath = "C:\\Downloads\\setup.exe";
  win.commandLine = "\"C:\\Downloads\\setup.exe\" /S alpha \"two words\"  \"\"  /temp D:\\Scratch";

  ASSERT_EQ(loader::ArgumentCount(), 5);
  const std::vector<std::string> expected = {"/S", "alpha", "two words", "/temp", "D:\\Scratch"};
  for (int32_t i = 1; i <= 5; ++i) EXPECT_EQ(Str(loader::Argument(i)), expected[i - 1]) << "argument " << i;

  const platform::AnsiString arguments = loader::BuildSetupArguments();
  EXPECT_EQ(Str(arguments), "\"C:\\Downloads\\setup.exe\" /S alpha \"two words\" /temp D:\\Scratch");
  EXPECT_EQ(Str(loader::BuildSetupCommandLine("D:\\Scratch\\setup.exe", arguments)),
            "\"D:\\Scratch\\setup.exe\" \"C:\\Downloads\\setup.exe\" /S alpha \"two words\" /temp D:\\Scratch");
  // The local drive was asked about and its path kept.
  EXPECT_EQ(win.CountEvents("WNetGetUniversalNameA C:\\Downloads\\setup.exe"), 1u);
}

struct ArgumentsRow {
  const char* what;
  std::string commandLine;  // after the quoted loader path; empty = none
  std::string setupArguments;
};

const ArgumentsRow kArgumentsRows[] = {
    {"no arguments: the quoted loader path alone", "", "\"C:\\Downloads\\setup.exe\""},
    {"a tab but no space goes on unquoted", "\"a\tb\" c", "\"C:\\Downloads\\setup.exe\" a\tb c"},
    {"a quoted run inside an argument is passed quoted", "a\"b c\"d", "\"C:\\Downloads\\setup.exe\" \"ab cd\""},
    {"pairs of quotes pass nothing", "\"\" x \"\"", "\"C:\\Downloads\\setup.exe\" x"},
    {"switches are passed on", "/32 /temp", "\"C:\\Downloads\\setup.exe\" /32 /temp"},
    {"an unclosed run ending in spaces is quoted", "\"a  ", "\"C:\\Downloads\\setup.exe\" \"a  \""},
};

TEST(SetupCommandLineTest, BuildsSetupArguments) {
  for (const ArgumentsRow& row : kArgumentsRows) {
    SCOPED_TRACE(row.what);
    sim::SimulatedWindows win;
    win.SetArguments(row.commandLine);
    EXPECT_EQ(Str(loader::BuildSetupArguments()), row.setupArguments);
  }
}

TEST(SetupCommandLineTest, CommandLineWithoutArguments) {
  sim::SimulatedWindows win;
  win.SetArguments("");
  EXPECT_EQ(Str(loader::BuildSetupCommandLine("C:\\Temp\\setup.exe", loader::BuildSetupArguments())),
            "\"C:\\Temp\\setup.exe\" \"C:\\Downloads\\setup.exe\"");
}

TEST(SetupCommandLineTest, ArgumentsCarryTheUniversalFormOfAMappedDrive) {
  sim::SimulatedWindows win;
  win.networkDrives['Z'] = "\\\\server\\share";
  win.modulePath = "Z:\\Tools\\setup.exe";
  win.SetArguments("/S");
  EXPECT_EQ(Str(loader::BuildSetupArguments()), "\"\\\\server\\share\\Tools\\setup.exe\" /S");
}

struct UniversalRow {
  const char* what;
  std::string path;
  bool hasMpr;
  std::string result;
  bool queried;  // WNetGetUniversalNameA was called
};

const UniversalRow kUniversalRows[] = {
    {"mapped drive: universal form", "Z:\\Tools\\setup.exe", true, "\\\\server\\share\\Tools\\setup.exe", true},
    {"local drive: asked, unchanged", "C:\\Downloads\\setup.exe", true, "C:\\Downloads\\setup.exe", true},
    {"network path: never asked", "\\\\server\\share\\setup.exe", true, "\\\\server\\share\\setup.exe", false},
    {"relative path: never asked", "setup.exe", true, "setup.exe", false},
    {"one character: never asked", "Z", true, "Z", false},
    {"no mpr.dll: unchanged", "Z:\\Tools\\setup.exe", false, "Z:\\Tools\\setup.exe", false},
};

TEST(SetupCommandLineTest, UniversalPath) {
  for (const UniversalRow& row : kUniversalRows) {
    SCOPED_TRACE(row.what);
    sim::SimulatedWindows win;
    win.networkDrives['Z'] = "\\\\server\\share";
    win.hasMpr = row.hasMpr;
    EXPECT_EQ(Str(loader::UniversalPath(row.path.c_str())), row.result);
    EXPECT_EQ(win.CountEvents("WNetGetUniversalNameA"), row.queried ? 1u : 0u);
    // The query's buffer is given back.
    EXPECT_EQ(win.CountEvents("HeapAlloc 2000"), win.CountEvents("HeapFree 2000"));
    EXPECT_EQ(win.CountEvents("HeapAlloc 2000"), row.queried ? 1u : 0u);
  }
}

TEST(SetupCommandLineTest, LoadsMprFromTheSystemFolderByFullPath) {
  sim::SimulatedWindows win;
  win.systemDirectory = "D:\\WinNT\\System32";
  win.networkDrives['Z'] = "\\\\server\\share";
  EXPECT_EQ(Str(loader::UniversalPath("Z:\\a.exe")), "\\\\server\\share\\a.exe");
  EXPECT_EQ(win.CountEvents("LoadLibraryA"), 1u);
  EXPECT_EQ(win.CountEvents("LoadLibraryA D:\\WinNT\\System32\\mpr.dll"), 1u);
  EXPECT_EQ(win.CountEvents("GetProcAddress WNetGetUniversalNameA"), 1u);
}

}  // namespace
