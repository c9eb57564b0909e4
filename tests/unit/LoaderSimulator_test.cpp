// loader-simulator: its options, its code page and JSON output, and the
// loader's decisions as the simulator reports them for a package on disk.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "run/StubCore.h"
#include "tests/support/Packages.h"
#include "tools/loader-simulator/CodePage1252.h"
#include "tools/loader-simulator/Json.h"
#include "tools/loader-simulator/SimulatorMain.h"
#include "tools/loader-simulator/SimulatorOptions.h"
#include "tools/package-writer/PackageWriter.h"

namespace {

using packagewriter::PackageSpec;
using simulator::ParseSimulatorOptions;

// ---- Options -------------------------------------------------------------------

TEST(LoaderSimulatorOptions, DefaultsFollowThePackageFileAndTheVersion) {
  const auto parsed = ParseSimulatorOptions({"out/My Setup.exe"});
  ASSERT_TRUE(parsed.ok) << parsed.error;
  EXPECT_EQ(parsed.options.loaderPath, "C:\\Downloads\\My Setup.exe");
  EXPECT_FALSE(parsed.options.arguments.has_value());
  EXPECT_TRUE(parsed.options.RunsUnderWow64());  // 10.0
  EXPECT_FALSE(ParseSimulatorOptions({"p", "--windows=5.1"}).options.RunsUnderWow64());
  EXPECT_TRUE(ParseSimulatorOptions({"p", "--windows=5.1", "--wow64"}).options.RunsUnderWow64());
  EXPECT_FALSE(ParseSimulatorOptions({"p", "--wow64", "--no-wow64"}).options.RunsUnderWow64());  // last wins
}

TEST(LoaderSimulatorOptions, ValuesComeAfterAnEqualsSignOrAsTheNextArgument) {
  struct Row {
    const char* shows;
    std::vector<std::string> arguments;
    std::string expectedArguments;
  };
  const Row rows[] = {
      {"attached value", {"p", "--command-line=/S"}, "/S"},
      {"attached value that begins with -", {"p", "--command-line=-temp x"}, "-temp x"},
      {"attached value holding =", {"p", "--command-line=/a=b"}, "/a=b"},
      {"attached empty value", {"p", "--command-line="}, ""},
      {"next argument", {"--command-line", "/temp D:\\x", "p"}, "/temp D:\\x"},
      {"next argument, empty", {"p", "--command-line", ""}, ""},
      {"UTF-8 arrives as code page 1252", {"p", "--command-line=caf\xC3\xA9 \xE2\x82\xAC"}, "caf\xE9 \x80"},
  };
  for (const Row& row : rows) {
    const auto parsed = ParseSimulatorOptions(row.arguments);
    ASSERT_TRUE(parsed.ok) << row.shows << ": " << parsed.error;
    EXPECT_EQ(parsed.options.arguments.value_or("<none>"), row.expectedArguments) << row.shows;
  }
}

TEST(LoaderSimulatorOptions, BadOptionsAreRefusedWithOneLine) {
  struct Row {
    const char* shows;
    std::vector<std::string> arguments;
    const char* errorHolds;
  };
  const Row rows[] = {
      {"no package", {"--json"}, "no package"},
      {"two packages", {"a", "b"}, "more than one"},
      {"unknown option", {"p", "--windws=5.1"}, "unknown option --windws"},
      {"flag with a value", {"p", "--json=yes"}, "takes no value"},
      {"value missing at the end", {"p", "--temp"}, "needs a value"},
      {"next argument is an option", {"p", "--command-line", "-x"}, "--command-line=VALUE"},
      {"version without minor", {"p", "--windows=10"}, "MAJOR.MINOR"},
      {"version not a number", {"p", "--windows=xp.1"}, "MAJOR.MINOR"},
      {"platform id not a number", {"p", "--platform-id=-1"}, "--platform-id"},
      {"service pack too large", {"p", "--service-pack=65536"}, "--service-pack"},
      {"hex with an odd digit count", {"p", "--release-id-hex=313"}, "odd"},
      {"hex that is not hex", {"p", "--release-id-hex=zz"}, "hexadecimal"},
      {"map without :=", {"p", "--map=Z=\\\\s\\x"}, "X:="},
      {"loader path without a folder", {"p", "--loader-path=setup.exe"}, "full path"},
      {"a character 1252 lacks", {"p", "--temp=C:\\\xCE\xA9\\"}, "U+03A9"},
      {"invalid UTF-8", {"p", "--command-line=\xC3"}, "not valid UTF-8"},
  };
  for (const Row& row : rows) {
    const auto parsed = ParseSimulatorOptions(row.arguments);
    EXPECT_FALSE(parsed.ok) << row.shows;
    EXPECT_NE(parsed.error.find(row.errorHolds), std::string::npos) << row.shows << ": " << parsed.error;
    EXPECT_EQ(parsed.error.find('\n'), std::string::npos) << row.shows;
  }
}

TEST(LoaderSimulatorOptions, RegistryAndMachineValues) {
  const auto parsed = ParseSimulatorOptions(
      {"p", "--release-id-hex=31 38 30 39 00", "--map=z:=\\\\srv\\share", "--exists=D:\\Scratch\\", "--service-pack", "3"});
  ASSERT_TRUE(parsed.ok) << parsed.error;
  EXPECT_EQ(parsed.options.releaseIdForm, simulator::SimulatorOptions::ReleaseIdForm::RawBytes);
  EXPECT_EQ(parsed.options.releaseId, std::string("1809\0", 5));
  EXPECT_EQ(parsed.options.networkDrives.at('Z'), "\\\\srv\\share");
  EXPECT_EQ(parsed.options.existingPaths, std::vector<std::string>{"D:\\Scratch\\"});
  EXPECT_EQ(parsed.options.servicePackMajor, 3);
}

// ---- Code page and JSON ------------------------------------------------------------

TEST(LoaderSimulatorText, CodePage1252RoundTripsEveryByte) {
  std::string all;
  for (int byte = 1; byte < 256; ++byte) all += static_cast<char>(byte);
  std::string back, problem;
  ASSERT_TRUE(simulator::Utf8ToCodePage1252(simulator::CodePage1252ToUtf8(all), back, problem)) << problem;
  EXPECT_EQ(back, all);
  EXPECT_EQ(simulator::CodePage1252ToUtf8("\x80\x81\x9F\xE9"), "\xE2\x82\xAC\xC2\x81\xC5\xB8\xC3\xA9");
}

TEST(LoaderSimulatorText, JsonStringsAreEscaped) {
  EXPECT_EQ(tooltext::JsonQuoted("a\"b\\c"), R"("a\"b\\c")");
  EXPECT_EQ(tooltext::JsonQuoted("\r\n\t\x01\x7F"), R"("\r\n\t\u0001\u007f")");
  EXPECT_EQ(tooltext::JsonQuoted("\xC3\xA9"), "\"\xC3\xA9\"");
}

// ---- Runs ----------------------------------------------------------------------------

// A package written to a fresh folder on disk as setup.exe, so that the loader
// is C:\Downloads\setup.exe by default.
class LoaderSimulatorRun : public ::testing::Test {
 protected:
  void TearDown() override {
    if (!folder_.empty()) std::filesystem::remove_all(folder_);
  }

  std::string WritePackage(const PackageSpec& inputs) {
    if (folder_.empty()) {
      std::string pattern = ::testing::TempDir() + "loader-simulator-XXXXXX";
      if (mkdtemp(pattern.data()) == nullptr) ADD_FAILURE() << "cannot make a folder under " << ::testing::TempDir();
      folder_ = pattern;
    }
    const packagewriter::BuiltPackage package = packagewriter::BuildPackage(inputs);
    const std::string path = folder_ + "/setup.exe";
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(package.bytes.data()), static_cast<std::streamsize>(package.bytes.size()));
    return path;
  }

  struct Output {
    int code;
    std::string out, err;
  };
  static Output Run(const std::string& package, std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), package);
    std::ostringstream out, err;
    const int code = simulator::SimulatorMain(arguments, out, err);
    return {code, out.str(), err.str()};
  }

 private:
  std::string folder_;
};

PackageSpec Default() { return fixtures::DefaultSpec(); }

// Each row: a package, the simulator's options, and fragments its --json
// output must hold. Together they walk the loader's decision tables.
struct RunRow {
  const char* shows;
  std::function<void(PackageSpec&)> package;  // null: the default package
  std::vector<std::string> options;
  std::vector<std::string> jsonHolds;
};

const char kLaunch64[] = R"({"outcome":"launch","payload":"64")";
const char kLaunch32[] = R"({"outcome":"launch","payload":"32")";
const char kRefused[] = R"({"outcome":"message")";
const char kArchitectureText[] = R"("text":"This program does not run on this architecture.")";
const char kTempCopy[] = R"("temporary_copy":"C:\\Users\\User\\AppData\\Local\\Temp\\setup.exe")";
const char kShellNoAdmin[] = R"("road":"shell","verb":"open","parameters":"\"C:\\Downloads\\setup.exe\" /noadmin")";
const char kDirect[] =
    R"("road":"direct","command_line":"\"C:\\Users\\User\\AppData\\Local\\Temp\\setup.exe\" \"C:\\Downloads\\setup.exe\"","current_directory":"C:\\Downloads\\")";

void Only64(PackageSpec& inputs) { inputs.setup32.reset(); }
void Refuse64(PackageSpec& inputs) {
  inputs.setup64.reset();
  inputs.without64 = packagewriter::Declare64::RefuseOn64BitWindows;
}
void NoXp(PackageSpec& inputs) { inputs.supportedSystems &= ~(1ull << packagewriter::SystemElement("xp")); }
void SameSize(PackageSpec& inputs) { inputs.setup64 = fixtures::SetupProgram(inputs.setup32->size(), 64); }
void From1903(PackageSpec& inputs) { inputs.minReleaseId = 1903; }

const RunRow kRunRows[] = {
    // Payload selection.
    {"64-bit Windows by default takes the 64-bit build", nullptr, {}, {kLaunch64, kTempCopy}},
    {"/32 keeps the 32-bit build", nullptr, {"--command-line=/32"}, {kLaunch32}},
    {"32-bit Windows", nullptr, {"--no-wow64"}, {kLaunch32}},
    {"no IsWow64Process counts as 32-bit", nullptr, {"--wow64", "--no-IsWow64Process"}, {kLaunch32}},
    {"Windows XP is 32-bit by default", nullptr, {"--windows=5.1"}, {kLaunch32}},
    {"64-bit only on 32-bit Windows", Only64, {"--no-wow64"}, {kRefused, kArchitectureText}},
    {"64-bit only takes 64 even with /32", Only64, {"--command-line=/32"}, {kLaunch64}},
    {"refusing 64-bit Windows, also with /32", Refuse64, {"--command-line=/32"}, {kRefused, kArchitectureText}},
    {"refusing 64-bit Windows runs on 32-bit", Refuse64, {"--no-wow64"}, {kLaunch32}},
    {"builds of one size told apart: 64", SameSize, {}, {kLaunch64}},
    {"builds of one size told apart: 32", SameSize, {"--command-line=/32"}, {kLaunch32}},
    // The version gate.
    {"Windows XP excluded", NoXp, {"--windows=5.1"}, {kRefused, R"("text":"This program does not run on Windows XP.")"}},
    {"the architecture refusal comes first", [](PackageSpec& s) { Only64(s), NoXp(s); }, {"--windows=5.1"},
     {kRefused, kArchitectureText}},
    {"release 1809 below a minimum of 1903", From1903, {"--release-id=1809"},
     {kRefused, R"("text":"This program does not run on Windows 10 1809 (October 2018 Update).")"}},
    {"the default release 2009 passes 1903", From1903, {}, {kLaunch64}},
    {"raw ReleaseId bytes without a NUL", From1903, {"--release-id-hex=3138303041"},
     {kRefused, R"("text":"This program does not run on Windows 10 1800A.")"}},
    {"no ReleaseId passes", From1903, {"--release-id=1809", "--no-release-id"}, {kLaunch64}},
    {"a failed version query refuses nothing and starts directly", NoXp, {"--windows=5.1", "--version-query-fails"},
     {kLaunch32, kDirect}},
    {"Windows 2000 SP3 when only 2000 is listed", [](PackageSpec& s) { s.supportedSystems = 1u << 4; },
     {"--windows=5.0", "--service-pack=3"},
     {kRefused, R"("text":"This program does not run on Windows 2000 Service Pack 3.")"}},
    // The roads.
    {"not an administrator on 10.0: shell, open, /noadmin", nullptr, {"--no-admin"}, {kShellNoAdmin, R"("wait":true})"}},
    {"administrator on 10.0: direct", nullptr, {"--admin"}, {kDirect}},
    {"Windows XP: direct", nullptr, {"--windows=5.1", "--no-admin"}, {kDirect}},
    {"no CheckTokenMembership: shell", nullptr, {"--admin", "--no-CheckTokenMembership"}, {kShellNoAdmin}},
    {"silent with ElevationMode 1: runas without /noadmin", [](PackageSpec& s) { s.elevationMode = 1; },
     {"--command-line=/S"}, {R"("road":"shell","verb":"runas","parameters":"\"C:\\Downloads\\setup.exe\" /S")"}},
    {"a mapped drive passes the share's path", nullptr,
     {"--loader-path=Z:\\Setup\\setup.exe", "--map=Z:=\\\\server\\share", "--admin"},
     {R"(\"\\\\server\\share\\Setup\\setup.exe\"","current_directory":"Z:\\Setup\\")"}},
    {"detached: no wait", [](PackageSpec& s) { s.detached = true; }, {}, {kLaunch64, R"("wait":false})"}},
    // The temporary folder.
    {"/temp last: the loader's folder, where its own name is taken", nullptr, {"--command-line=/temp"},
     {R"("temporary_copy":"C:\\Downloads\\setup2.exe")"}},
    {"GetTempPathA reports nothing: C:\\", nullptr, {"--temp="}, {R"("temporary_copy":"C:\\setup.exe")"}},
    {"a taken name in the temp folder is numbered", nullptr,
     {"--exists=C:\\Users\\User\\AppData\\Local\\Temp\\setup.exe"},
     {R"("temporary_copy":"C:\\Users\\User\\AppData\\Local\\Temp\\setup2.exe")"}},
    {"/temp to a folder that exists", nullptr, {"--command-line=/temp D:\\Scratch", "--exists=D:\\Scratch\\"},
     {R"("temporary_copy":"D:\\Scratch\\setup.exe")"}},
    {"/temp to a folder that does not exist", nullptr, {"--command-line=/temp D:\\Scratch"},
     {R"({"outcome":"fatal","error":"TempCopyFailed")"}},
    // Faults.
    {"create fails", nullptr, {"--create-fails"}, {R"({"outcome":"fatal","error":"TempCopyFailed")"}},
    {"short write", nullptr, {"--write-short"}, {R"({"outcome":"fatal","error":"TempCopyFailed")"}},
    {"start fails", nullptr, {"--start-fails"}, {R"({"outcome":"fatal","error":"LaunchFailed")"}},
    {"open fails", nullptr, {"--open-fails"},
     {R"({"outcome":"fatal","error":"PackageDamaged","text":"An error occurred while trying to read the setup package.)"}},
};

TEST_F(LoaderSimulatorRun, CrossesTheLoadersDecisionTables) {
  for (const RunRow& row : kRunRows) {
    PackageSpec inputs = Default();
    if (row.package) row.package(inputs);
    std::vector<std::string> options = row.options;
    options.push_back("--json");
    const Output output = Run(WritePackage(inputs), options);
    EXPECT_EQ(output.code, simulator::kSimulated) << row.shows << ": " << output.err;
    for (const std::string& fragment : row.jsonHolds)
      EXPECT_NE(output.out.find(fragment), std::string::npos) << row.shows << "\n  wanted: " << fragment
                                                              << "\n  output: " << output.out;
  }
}

TEST_F(LoaderSimulatorRun, JsonIsOneObjectPerOutcome) {
  const std::string package = WritePackage(Default());
  EXPECT_EQ(Run(package, {"--json"}).out,
            R"({"outcome":"launch","payload":"64","temporary_copy":"C:\\Users\\User\\AppData\\Local\\Temp\\setup.exe",)"
            R"("road":"shell","verb":"open","parameters":"\"C:\\Downloads\\setup.exe\" /noadmin","wait":true})"
            "\n");
  EXPECT_EQ(Run(package, {"--json", "--start-fails"}).out,
            std::string(R"({"outcome":"fatal","error":"LaunchFailed","text":")") +
                loader::FatalErrorText(loader::FatalError::LaunchFailed) +
                R"(","caption":"C:\\Downloads\\setup.exe"})" "\n");
}

TEST_F(LoaderSimulatorRun, TextsAndPathsAreShownFromCodePage1252) {
  PackageSpec inputs = Default();
  inputs.supportedSystems = 0;
  inputs.systemMessage = fixtures::Text("Pas sur %USER% \xE2\x80\x94 d\xC3\xA9sol\xC3\xA9.\nAu revoir.");
  const std::string package = WritePackage(inputs);
  const std::vector<std::string> options = {"--loader-path=C:\\T\xC3\xA9l\xC3\xA9" "chargements\\setup.exe"};

  std::vector<std::string> json = options;
  json.push_back("--json");
  EXPECT_EQ(Run(package, json).out,
            "{\"outcome\":\"message\",\"text\":\"Pas sur Windows 10 \xE2\x80\x94 d\xC3\xA9sol\xC3\xA9.\\r\\nAu revoir.\","
            "\"caption\":\"C:\\\\T\xC3\xA9l\xC3\xA9" "chargements\\\\setup.exe\"}\n");

  const std::string human = Run(package, options).out;
  EXPECT_NE(human.find("Caption:           C:\\T\xC3\xA9l\xC3\xA9" "chargements\\setup.exe\n"), std::string::npos) << human;
  EXPECT_NE(human.find("Text:              Pas sur Windows 10 \xE2\x80\x94 d\xC3\xA9sol\xC3\xA9.\n"
                       "                   Au revoir.\n"),
            std::string::npos)
      << human;
}

TEST_F(LoaderSimulatorRun, HumanReportOfAStartAndOfAMissingTempFolder) {
  const std::string package = WritePackage(Default());
  const std::string started = Run(package, {"--admin", "--command-line=/S \"two words\""}).out;
  for (const char* line : {"Windows:           10.0, platform 2, 64-bit (WOW64), administrator\n",
                           "Payload:           64-bit\n", "Road:              direct (CreateProcessA)\n",
                           "Command line:      \"C:\\Users\\User\\AppData\\Local\\Temp\\setup.exe\" "
                           "\"C:\\Downloads\\setup.exe\" /S \"two words\"\n",
                           "Current directory: C:\\Downloads\\\n",
                           "Wait:              yes: waits for the setup program, then deletes the copy\n"})
    EXPECT_NE(started.find(line), std::string::npos) << line << "\nin:\n" << started;

  const std::string failed = Run(package, {"--command-line=/temp D:\\Scratch"}).out;
  EXPECT_NE(failed.find("fatal: the loader's own error TempCopyFailed"), std::string::npos) << failed;
  EXPECT_NE(failed.find("Note:              the folder D:\\Scratch\\ does not exist in the simulated Windows; "
                        "--exists=D:\\Scratch\\ makes it"),
            std::string::npos)
      << failed;
}

TEST_F(LoaderSimulatorRun, RefusesWhatItCannotSimulateWithOneLine) {
  const Output help = Run("--help", {});
  EXPECT_EQ(help.code, simulator::kSimulated);
  EXPECT_NE(help.out.find("Usage: loader-simulator PACKAGE [options]"), std::string::npos);

  const Output missing = Run(::testing::TempDir() + "no-such-package.exe", {});
  EXPECT_EQ(missing.code, simulator::kCannotSimulate);
  EXPECT_TRUE(missing.out.empty());
  EXPECT_EQ(std::count(missing.err.begin(), missing.err.end(), '\n'), 1) << missing.err;

  const Output bad = Run(WritePackage(Default()), {"--windows=ten"});
  EXPECT_EQ(bad.code, simulator::kBadOption);
  EXPECT_EQ(std::count(bad.err.begin(), bad.err.end(), '\n'), 1) << bad.err;
}

}  // namespace
