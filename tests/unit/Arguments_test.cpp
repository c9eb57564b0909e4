// Splitting the loader's command line into arguments, and the two ways an
// argument is compared with a switch.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "launch/Arguments.h"
#include "platform/simulated/SimulatedWindows.h"
#include "run/StubCore.h"

namespace {

std::string Str(const platform::AnsiString& s) { return std::string(s.Text(), s.Length()); }

struct SplitRow {
  const char* what;
  uint32_t codePage;
  std::string commandLine;
  std::vector<std::string> arguments;
};

const SplitRow kSplitRows[] = {
    {"program name alone", 1252, "\"C:\\Downloads\\setup.exe\"", {}},
    {"blank command line", 1252, "  \t ", {}},
    {"program name with a space, quoted", 1252, "\"C:\\Program Files\\setup.exe\" a", {"a"}},
    {"runs of spaces between arguments", 1252, "setup.exe   a  b   ", {"a", "b"}},
    {"tabs and control characters separate", 1252, "setup.exe\ta\x01" "b\x1f" "c\r\nd", {"a", "b", "c", "d"}},
    {"quoted run keeps its spaces", 1252, "setup.exe \"two words\" x", {"two words", "x"}},
    {"quoted run inside an argument", 1252, "setup.exe a\"b c\"d", {"ab cd"}},
    {"quoted run keeps a tab", 1252, "setup.exe \"a\tb\" c", {"a\tb", "c"}},
    {"lone pair of quotes adds nothing", 1252, "setup.exe \"\" x \"\"", {"x"}},
    {"pair of quotes before an argument", 1252, "setup.exe \"\"abc", {"abc"}},
    {"pairs repeat before an argument", 1252, "setup.exe \"\"\"\"\"abc\" d", {"abc", "d"}},
    {"pair of quotes inside an argument is dropped", 1252, "setup.exe a\"\"b", {"ab"}},
    {"lone quote at the end adds nothing", 1252, "setup.exe a \"", {"a"}},
    {"quote opening at the end of an argument", 1252, "setup.exe ab\"", {"ab"}},
    {"unclosed run takes the rest, separators included", 1252, "setup.exe a \"b  c\td ", {"a", "b  c\td "}},
    {"backslash is no escape before a quote", 1252, "setup.exe \"C:\\x\\\" y", {"C:\\x\\", "y"}},
    {"bytes 0x80 and above are argument characters", 1252, "setup.exe \xA0\xFF \x80" "a\x85", {"\xA0\xFF", "\x80" "a\x85"}},
    {"double-byte character with trail byte 0x5C", 932, "setup.exe \"\x83\x5C\" \x83\x5C" "x", {"\x83\x5C", "\x83\x5C" "x"}},
};

TEST(ArgumentsTest, SplitsCommandLines) {
  for (const SplitRow& row : kSplitRows) {
    SCOPED_TRACE(row.what);
    sim::SimulatedWindows win;
    win.codePage = row.codePage;
    win.commandLine = row.commandLine;

    const int32_t count = loader::ArgumentCount();
    ASSERT_EQ(count, static_cast<int32_t>(row.arguments.size()));
    for (int32_t i = 1; i <= count; ++i) EXPECT_EQ(Str(loader::Argument(i)), row.arguments[i - 1]) << "argument " << i;
    EXPECT_EQ(Str(loader::Argument(count + 1)), "");
  }
}

// A lead byte takes the byte after it into the same character, whatever that
// byte is: the splitter steps whole characters, never bytes.
TEST(ArgumentsTest, StepsWholeDoubleByteCharacters) {
  sim::SimulatedWindows win;
  win.codePage = 932;
  win.commandLine = "setup.exe a\x81\"b c\" d\x81";
  ASSERT_EQ(loader::ArgumentCount(), 2);
  EXPECT_EQ(Str(loader::Argument(1)), "a\x81\"b");
  EXPECT_EQ(Str(loader::Argument(2)), "c d\x81");

  // The same bytes in a single-byte code page: the quote opens a run.
  win.codePage = 1252;
  ASSERT_EQ(loader::ArgumentCount(), 2);
  EXPECT_EQ(Str(loader::Argument(1)), "a\x81" "b c");
  EXPECT_EQ(Str(loader::Argument(2)), "d\x81");
}

TEST(ArgumentsTest, ArgumentZeroIsTheLoaderPathAndIndexesPastTheEndAreEmpty) {
  sim::SimulatedWindows win;
  win.modulePath = "D:\\Some Folder\\loader.exe";
  win.commandLine = "other.exe /x y";

  EXPECT_EQ(Str(loader::Argument(0)), "D:\\Some Folder\\loader.exe");
  EXPECT_EQ(Str(loader::Argument(0)), Str(loader::LoaderPath()));
  EXPECT_EQ(Str(loader::Argument(2)), "y");
  EXPECT_EQ(Str(loader::Argument(3)), "");
  EXPECT_EQ(Str(loader::Argument(1000)), "");
  EXPECT_EQ(Str(loader::Argument(-1)), "");
}

TEST(ArgumentsTest, ReadsTheCommandLineAnewAtEachCall) {
  sim::SimulatedWindows win;
  win.SetArguments("first");
  EXPECT_EQ(Str(loader::Argument(1)), "first");
  win.SetArguments("second third");
  EXPECT_EQ(Str(loader::Argument(1)), "second");
  EXPECT_EQ(loader::ArgumentCount(), 2);
}

struct CompareRow {
  const char* what;
  std::string argument;
  const char* switchText;
  bool switchEquals;
  bool exactEquals;
};

const CompareRow kCompareRows[] = {
    {"same bytes", "/s", "/s", true, true},
    {"upper case", "/SILENT", "/silent", true, false},
    {"mixed case", "/Silent", "/silent", true, false},
    {"short switch upper case", "/S", "/s", true, false},
    {"switch text in upper case", "/temp", "/TEMP", true, false},
    {"digits", "/32", "/32", true, true},
    {"trailing text", "/silent=1", "/silent", false, false},
    {"trailing colon", "/silent:", "/silent", false, false},
    {"leading space", " /s", "/s", false, false},
    {"prefix only", "/sil", "/silent", false, false},
    {"two empty strings", "", "", true, true},
    {"edge letters a and z", "AZ", "az", true, false},
    {"backquote is not an upper-case @", "`", "@", false, false},
    {"brace is not an upper-case bracket", "{", "[", false, false},
    {"0xE1 is not mapped onto 0xC1", "\xE1", "\xC1", false, false},
    {"0xE9 is not mapped onto 0xC9", "/\xE9t\xE9", "/\xC9T\xC9", false, false},
    {"high bytes compare unchanged", "/\xE9", "/\xE9", true, true},
};

TEST(ArgumentsTest, ComparesSwitches) {
  sim::SimulatedWindows win;
  for (const CompareRow& row : kCompareRows) {
    SCOPED_TRACE(row.what);
    const platform::AnsiString argument(row.argument.c_str(), row.argument.size());
    EXPECT_EQ(loader::SwitchEquals(argument, row.switchText), row.switchEquals);
    EXPECT_EQ(loader::ExactEquals(argument, row.switchText), row.exactEquals);
  }
}

}  // namespace
