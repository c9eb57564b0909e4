// The package-builder binary, run as a user runs it: bad build input is
// refused with one line and nothing written, a built package inspects back
// to what was asked, and inspect names each way a package can be broken.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "package/StubTypes.h"
#include "tests/support/Packages.h"
#include "tools/package-writer/PackageWriter.h"

namespace {

namespace fs = std::filesystem;
using packagewriter::Bytes;

struct RunResult {
  int status;
  std::string out, err;
};

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteAll(const fs::path& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }
void WriteAll(const fs::path& path, const Bytes& bytes) { WriteAll(path, std::string(bytes.begin(), bytes.end())); }

class PackageBuilderCli : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "package-builder-cli-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { fs::remove_all(dir_); }

  fs::path In(const std::string& name) const { return dir_ / name; }

  // Runs package-builder in the test's folder with stdout and stderr caught.
  RunResult Run(const std::vector<std::string>& arguments) {
    const fs::path out = dir_ / ".stdout", err = dir_ / ".stderr";
    const pid_t child = fork();
    if (child == 0) {
      if (chdir(dir_.c_str()) != 0 || !freopen(out.c_str(), "w", stdout) || !freopen(err.c_str(), "w", stderr)) _exit(127);
      std::vector<char*> argv{const_cast<char*>(PACKAGE_BUILDER)};
      for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      execv(PACKAGE_BUILDER, argv.data());
      _exit(127);
    }
    int status = 0;
    waitpid(child, &status, 0);
    RunResult result{WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadAll(out), ReadAll(err)};
    fs::remove(out);
    fs::remove(err);
    return result;
  }

  // Name -> size of every file in the folder: what a failed build must leave as it was.
  std::map<std::string, uintmax_t> Listing() const {
    std::map<std::string, uintmax_t> files;
    for (const auto& entry : fs::directory_iterator(dir_))
      files[entry.path().filename().string()] = entry.is_regular_file() ? entry.file_size() : 0;
    return files;
  }

  fs::path dir_;
};

// ---- build: refused input ----

struct BadBuildRow {
  const char* what;
  std::vector<std::string> arguments;
  const char* error;  // part of the one line on stderr
};

const std::vector<BadBuildRow> kBadBuilds = {
    {"setup file missing", {"--setup32", "missing.bin", "-o", "out.exe"}, "cannot read the setup32 missing.bin"},
    {"setup file is a folder", {"--setup64", "folder", "-o", "out.exe"}, "not a regular file"},
    {"stub missing", {"--stub", "none.exe", "--setup32", "s32.bin", "-o", "out.exe"}, "cannot read the stub"},
    {"stub pointing to a PE header at 128",
     {"--stub", "stub128.exe", "--setup32", "s32.bin", "-o", "out.exe"}, "at 128, not 256"},
    {"stub whose locator slot is taken", {"--stub", "stubslot.exe", "--setup32", "s32.bin", "-o", "out.exe"},
     "128..151 are not free"},
    {"stub that already carries a package",
     {"--stub", "packaged.exe", "--setup32", "s32.bin", "-o", "out.exe"}, "already carries a package"},
    {"signed stub: a package after the signature would break it",
     {"--stub", "signed.exe", "--setup32", "s32.bin", "-o", "out.exe"}, "the stub is signed"},
    {"payload above 0x7FFE0000 bytes", {"--setup32", "huge.bin", "-o", "out.exe"}, "at most 2147352576"},
    {"offsets reaching 2^31", {"--setup32", "s32.bin", "--extra-outside", "nearly2g.bin", "-o", "out.exe"},
     "below 2^31"},
    {"text above 65535 UTF-16 units", {"--setup32", "s32.bin", "--system-text-file", "long.txt", "-o", "out.exe"},
     "at most 65535"},
    {"text that is not UTF-8", {"--setup32", "s32.bin", "--architecture-text-file", "latin1.txt", "-o", "out.exe"},
     "not valid UTF-8"},
    {"unknown system name", {"--setup32", "s32.bin", "--systems", "xp,11", "-o", "out.exe"}, "unknown system \"11\""},
    {"release range without a dash", {"--setup32", "s32.bin", "--release-ids", "1507", "-o", "out.exe"}, "MIN-MAX"},
    {"release range of words", {"--setup32", "s32.bin", "--release-ids=a-b", "-o", "out.exe"}, "MIN-MAX"},
    {"release range upside down", {"--setup32", "s32.bin", "--release-ids", "9999-1507", "-o", "out.exe"},
     "MIN is above MAX"},
    {"unknown option", {"--setup32", "s32.bin", "--frobnicate", "-o", "out.exe"}, "unknown option --frobnicate"},
    {"no payload", {"-o", "out.exe"}, "nothing to package"},
    {"no output", {"--setup32", "s32.bin"}, "no output file"},
    {"elevation 3", {"--setup32", "s32.bin", "--elevation", "3", "-o", "out.exe"}, "above 2"},
    {"dictionary of 2 GiB", {"--setup32", "s32.bin", "--dictionary-size", "2G", "-o", "out.exe"}, "2 GiB or more"},
    {"dictionary with a bad suffix", {"--setup32", "s32.bin", "--dictionary-size=4X", "-o", "out.exe"}, "K, M or G"},
    {"lc + lp above 4", {"--setup32", "s32.bin", "--lc", "4", "--lp", "1", "-o", "out.exe"}, "at most 4"},
    {"--no-64bit with --setup64", {"--setup64", "s64.bin", "--no-64bit", "-o", "out.exe"}, "contradicts --setup64"},
    {"option given twice", {"--setup32", "s32.bin", "--setup32", "s64.bin", "-o", "out.exe"}, "given twice"},
    {"value on a switch", {"--setup32", "s32.bin", "--detached=yes", "-o", "out.exe"}, "takes no value"},
    {"value missing at the end", {"-o", "out.exe", "--setup32"}, "needs a value"},
    {"systems given both ways", {"--setup32", "s32.bin", "--systems", "xp", "--systems-raw", "1", "-o", "out.exe"},
     "not both"},
    {"output that is the stub", {"--setup32", "s32.bin", "-o", "stub.exe"}, "is the stub"},
};

TEST_F(PackageBuilderCli, BadBuildInputIsRefusedAndNothingWritten) {
  const Bytes minimal = packagewriter::MinimalStub();
  const std::string stub(minimal.begin(), minimal.end());
  WriteAll(In("stub.exe"), stub);
  WriteAll(In("s32.bin"), fixtures::SetupProgram(2000, 1));
  WriteAll(In("s64.bin"), fixtures::SetupProgram(3000, 2));
  Bytes stub128 = packagewriter::MinimalStub();
  loader::WriteLittle32(stub128.data() + 0x3C, 128);
  WriteAll(In("stub128.exe"), stub128);
  Bytes stubSlot = packagewriter::MinimalStub();
  stubSlot[140] = 1;
  WriteAll(In("stubslot.exe"), stubSlot);
  // A PE32 optional header whose certificate table (data directory 4) is
  // not empty: a signed loader image.
  Bytes signedStub = packagewriter::MinimalStub();
  loader::WriteLittle16(signedStub.data() + 256 + 24, 0x10B);
  loader::WriteLittle32(signedStub.data() + 256 + 24 + 92, 16);
  loader::WriteLittle32(signedStub.data() + 256 + 24 + 96 + 4 * 8, 1024);
  loader::WriteLittle32(signedStub.data() + 256 + 24 + 96 + 4 * 8 + 4, 2000);
  WriteAll(In("signed.exe"), signedStub);
  packagewriter::PackageSpec packaged;
  packaged.stub = packagewriter::MinimalStub();
  packaged.setup32 = fixtures::SetupProgram(100, 3);
  WriteAll(In("packaged.exe"), packagewriter::BuildPackage(packaged).bytes);
  WriteAll(In("long.txt"), std::string(65536, 'a'));
  WriteAll(In("latin1.txt"), std::string("caf\xE9"));
  fs::create_directory(In("folder"));
  // Sparse files: sized past the limits without taking disk or being read.
  WriteAll(In("huge.bin"), "");
  fs::resize_file(In("huge.bin"), 0x7FFE0001);
  WriteAll(In("nearly2g.bin"), "");
  fs::resize_file(In("nearly2g.bin"), 0x7FFFFF00);

  for (const BadBuildRow& row : kBadBuilds) {
    SCOPED_TRACE(row.what);
    std::vector<std::string> arguments{"build"};
    if (std::find(row.arguments.begin(), row.arguments.end(), "--stub") == row.arguments.end())
      arguments.insert(arguments.end(), {"--stub", "stub.exe"});
    arguments.insert(arguments.end(), row.arguments.begin(), row.arguments.end());
    const auto before = Listing();
    const RunResult result = Run(arguments);
    EXPECT_NE(result.status, 0);
    EXPECT_NE(result.err.find(row.error), std::string::npos) << result.err;
    EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(Listing(), before);
    EXPECT_EQ(ReadAll(In("stub.exe")), stub);
  }
}

TEST_F(PackageBuilderCli, HelpPrintsUsage) {
  const RunResult result = Run({"--help"});
  EXPECT_EQ(result.status, 0);
  EXPECT_NE(result.out.find("package-builder build [options] -o OUT"), std::string::npos);
  EXPECT_NE(result.out.find("package-builder inspect FILE [--json]"), std::string::npos);
  EXPECT_EQ(Run({}).status, 2);
  EXPECT_EQ(Run({"inspect"}).status, 2);
}

// ---- build, then inspect ----

TEST_F(PackageBuilderCli, BuildThenInspectGivesBackWhatWasAsked) {
  const Bytes s32 = fixtures::SetupProgram(40000, 32), s64 = fixtures::SetupProgram(60000, 64);
  WriteAll(In("stub.exe"), packagewriter::MinimalStub(2048));
  WriteAll(In("s32.bin"), s32);
  WriteAll(In("s64.bin"), s64);
  WriteAll(In("system.txt"), std::string("\xEF\xBB\xBFNot on %USER%.\nSorry, caf\xC3\xA9."));
  WriteAll(In("inside.bin"), std::string(40, 'i'));
  WriteAll(In("outside.bin"), std::string(30, 'o'));

  const RunResult build = Run({"build", "--stub", "stub.exe", "--setup32", "s32.bin", "--setup64=s64.bin",
                               "--systems", "XP,vista,7,8,8.1,10,later", "--release-ids", "1507-9999",
                               "--elevation=2", "--architecture-text", "Needs a 64-bit %USER%",
                               "--system-text-file", "system.txt", "--extra-inside", "inside.bin",
                               "--extra-outside", "outside.bin", "--detached", "--lzma-preset", "3",
                               "--dictionary-size", "64K", "--lc", "1", "--lp", "2", "--pb", "1", "--end-marker",
                               "-o", "out.exe"});
  ASSERT_EQ(build.status, 0) << build.err;
  EXPECT_EQ(build.err, "");
  EXPECT_EQ(std::count(build.out.begin(), build.out.end(), '\n'), 1) << build.out;
  EXPECT_NE(build.out.find("wrote out.exe"), std::string::npos) << build.out;

  // The same inputs through the library give the same bytes.
  packagewriter::PackageSpec inputs;
  inputs.stub = packagewriter::MinimalStub(2048);
  inputs.setup32 = s32;
  inputs.setup64 = s64;
  inputs.supportedSystems = 0x80000000000007E0ull;
  inputs.minReleaseId = 1507;
  inputs.maxReleaseId = 9999;
  inputs.elevationMode = 2;
  inputs.architectureMessage = u"Needs a 64-bit %USER%";
  inputs.systemMessage = u"Not on %USER%.\r\nSorry, caf\u00E9.";
  inputs.extraInside = Bytes(40, 'i');
  inputs.extraOutside = Bytes(30, 'o');
  inputs.detached = true;
  inputs.lzma = {3, 64 * 1024, 1, 2, 1, true};
  const Bytes expected = packagewriter::BuildPackage(inputs).bytes;
  EXPECT_TRUE(ReadAll(In("out.exe")) == std::string(expected.begin(), expected.end()));
  EXPECT_EQ(fs::status(In("out.exe")).permissions() & fs::perms::owner_exec, fs::perms::owner_exec);

  const RunResult text = Run({"inspect", "out.exe"});
  EXPECT_EQ(text.status, 0) << text.out << text.err;
  EXPECT_EQ(text.err, "");
  for (const char* fact : {"lc 1, lp 2, pb 1), dictionary 65536 bytes", "xp, vista, 7, 8, 8.1, 10, later",
                           "1507-9999", "ElevationMode      2 (\"open\" with /noadmin)",
                           "decompressed 40000", "decompressed 60000", "    | Needs a 64-bit %USER%",
                           "    | Not on %USER%.\n    | Sorry, caf\xC3\xA9.\n", "detached: no wait",
                           "Result: all 10 checks passed"})
    EXPECT_NE(text.out.find(fact), std::string::npos) << fact << "\n" << text.out;

  const RunResult json = Run({"inspect", "--json", "out.exe"});
  EXPECT_EQ(json.status, 0) << json.err;
  for (const char* fact : {"\"dictionarySize\": 65536", "\"lc\": 1", "\"supportedSystems\": \"0x80000000000007E0\"",
                           "\"minReleaseId\": 1507", "\"maxReleaseId\": 9999", "\"elevationMode\": 2",
                           "\"decompressedSize\": 40000", "\"decompressedSize\": 60000",
                           "\"text\": \"Not on %USER%.\\r\\nSorry, caf\xC3\xA9.\"", "\"windows64\": \"payload64\"",
                           "\"otherElements\": []"})
    EXPECT_NE(json.out.find(fact), std::string::npos) << fact << "\n" << json.out;
  EXPECT_EQ(json.out.front(), '{');
  const std::string end = "\n  \"passed\": true\n}\n";
  EXPECT_EQ(json.out.compare(json.out.size() - end.size(), end.size(), end), 0) << json.out;
}

// ---- inspect: broken packages ----

struct BrokenRow {
  const char* what;
  std::function<void(packagewriter::BuiltPackage&)> breakIt;
  const char* check;    // the failed check's name
  const char* problem;  // part of its detail
};

const uint32_t kPayloadSize = 3000;

packagewriter::BuiltPackage GoodPackage(bool endMarker = false) {
  packagewriter::PackageSpec inputs;
  inputs.stub = packagewriter::MinimalStub();
  inputs.setup32 = fixtures::SetupProgram(kPayloadSize, 32);
  inputs.setup64 = fixtures::SetupProgram(kPayloadSize + 1000, 64);
  inputs.architectureMessage = u"Architecture refused";
  inputs.systemMessage = u"System %USER% refused";
  inputs.extraOutside = Bytes(20, 'x');
  inputs.lzma.endMarker = endMarker;
  return packagewriter::BuildPackage(inputs);
}

void SetDescriptor(packagewriter::BuiltPackage& p, unsigned field, unsigned part, uint32_t value) {
  loader::WriteLittle32(p.header.Bytes + field + 4 * part, value);
  packagewriter::Rewrite(p);
}

const std::vector<BrokenRow> kBroken = {
    {"file cut before the package ends", [](auto& p) { p.bytes.resize(p.bytes.size() - 10); }, "size", "truncated"},
    {"detached file cut short",
     [](auto& p) {
       loader::WriteLittle32(p.locator.Bytes + 20, static_cast<uint32_t>(p.bytes.size()));
       packagewriter::Rewrite(p);
       p.bytes.pop_back();
     },
     "size", "below DetachedFileSize"},
    {"byte changed in the checksum range",
     [](auto& p) { p.bytes[p.header.ArchitectureMessage().Offset] ^= 1; }, "checksum", "mismatch"},
    {"checksum range beyond the end",
     [](auto& p) {
       loader::WriteLittle32(p.locator.Bytes + 4, static_cast<uint32_t>(p.bytes.size()));
       packagewriter::Rewrite(p);
     },
     "checksum", "beyond the end"},
    {"header beyond the end",
     [](auto& p) {
       loader::WriteLittle32(p.locator.Bytes + 0, static_cast<uint32_t>(p.bytes.size() - 30));
       loader::WriteLittle32(p.locator.Bytes + 4, 0);
       packagewriter::Rewrite(p);
     },
     "header", "beyond the end"},
    {"no package: HeaderOffset 0",
     [](auto& p) {
       loader::WriteLittle32(p.locator.Bytes, 0);
       packagewriter::Rewrite(p, false);
     },
     "locator", "no package"},
    {"file shorter than the locator", [](auto& p) { p.bytes.resize(140); }, "locator", "too short"},
    {"payload stated longer than it decodes",
     [](auto& p) { SetDescriptor(p, loader::header_offset::Payload32, 2, kPayloadSize + 100); }, "payload32",
     "does not decode to the stated size"},
    {"payload stream cut short",
     [](auto& p) { SetDescriptor(p, loader::header_offset::Payload64, 1, p.header.Payload64().CompressedSize / 2); },
     "payload64", "does not decode to the stated size"},
    {"payload stream reaching past the end",
     [](auto& p) { SetDescriptor(p, loader::header_offset::Payload64, 1, 0x100000); }, "payload64",
     "beyond the end of the file"},
    {"properties byte 225",
     [](auto& p) {
       p.header.Bytes[0] = 225;
       packagewriter::Rewrite(p);
     },
     "lzma-properties", "225"},
    {"dictionary of 0x80000000",
     [](auto& p) {
       loader::WriteLittle32(p.header.Bytes + 1, 0x80000000u);
       packagewriter::Rewrite(p);
     },
     "lzma-properties", "2^31"},
    {"system text beyond the end",
     [](auto& p) {
       loader::WriteLittle32(p.header.Bytes + loader::header_offset::SystemMessage,
                             static_cast<uint32_t>(p.bytes.size() - 4));
       packagewriter::Rewrite(p);
     },
     "system-text", "beyond the end"},
    {"no payload at all",
     [](auto& p) {
       loader::WriteLittle32(p.header.Bytes + loader::header_offset::Payload32, 0);
       loader::WriteLittle32(p.header.Bytes + loader::header_offset::Payload64, loader::kRefuse64BitWindows);
       packagewriter::Rewrite(p);
     },
     "payloads", "no payload"},
};

// The JSON check object named `name` says "passed": false.
bool JsonCheckFailed(const std::string& json, const std::string& name) {
  const size_t at = json.find("\"name\": \"" + name + "\"");
  if (at == std::string::npos) return false;
  const size_t passed = json.find("\"passed\": ", at);
  return passed != std::string::npos && json.compare(passed + 10, 5, "false") == 0;
}

TEST_F(PackageBuilderCli, InspectNamesEachBrokenPackage) {
  for (const BrokenRow& row : kBroken) {
    SCOPED_TRACE(row.what);
    packagewriter::BuiltPackage package = GoodPackage();
    row.breakIt(package);
    WriteAll(In("broken.exe"), package.bytes);

    const RunResult text = Run({"inspect", "broken.exe"});
    EXPECT_EQ(text.status, 1);
    const std::string line = std::string("FAIL  ") + row.check + ": ";
    const size_t at = text.out.find(line);
    ASSERT_NE(at, std::string::npos) << text.out;
    EXPECT_NE(text.out.substr(at, text.out.find('\n', at) - at).find(row.problem), std::string::npos) << text.out;
    EXPECT_NE(text.err.find(row.check), std::string::npos) << text.err;

    const RunResult json = Run({"inspect", "broken.exe", "--json"});
    EXPECT_EQ(json.status, 1);
    EXPECT_TRUE(JsonCheckFailed(json.out, row.check)) << json.out;
  }
}

TEST_F(PackageBuilderCli, InspectFollowsTheLoadersDecodingRule) {
  // An end marker exactly at the stated size is fine; stating fewer bytes
  // than the stream holds is fine too, as the loader stops there.
  packagewriter::BuiltPackage marked = GoodPackage(/*endMarker=*/true);
  WriteAll(In("marked.exe"), marked.bytes);
  EXPECT_EQ(Run({"inspect", "marked.exe"}).status, 0);
  SetDescriptor(marked, loader::header_offset::Payload32, 2, kPayloadSize - 1);
  WriteAll(In("shorter.exe"), marked.bytes);
  EXPECT_EQ(Run({"inspect", "shorter.exe"}).status, 0);

  // With an end marker, a stated size past it stops at the marker.
  SetDescriptor(marked, loader::header_offset::Payload32, 2, kPayloadSize + 1);
  WriteAll(In("longer.exe"), marked.bytes);
  const RunResult result = Run({"inspect", "longer.exe"});
  EXPECT_EQ(result.status, 1);
  EXPECT_NE(result.out.find("FAIL  payload32: offset"), std::string::npos) << result.out;
  EXPECT_NE(result.out.find("end marker stops decoding after 3000 bytes"), std::string::npos) << result.out;

  const RunResult missing = Run({"inspect", "missing.exe"});
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.err.find("cannot read missing.exe"), std::string::npos) << missing.err;
}

}  // namespace
