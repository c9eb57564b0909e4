// Choosing the 32-bit or 64-bit build by the package's declarations, the
// "/32" switch and WOW64, and refusing the architecture.
#include <gtest/gtest.h>

#include <string>

#include "platform/simulated/SimulatedWindows.h"
#include "requirements/PayloadSelection.h"
#include "tests/support/Packages.h"

namespace {

using loader::PayloadDescriptor;

constexpr uint32_t kNone = 0;
constexpr uint32_t kRefuse64 = 0xFFFFFFFF;
constexpr uint32_t kAt32 = 1000;
constexpr uint32_t kAt64 = 2000;

const char16_t kArchitectureText[] = u"This build is not for %USER% here.";

// How the simulated Windows answers the 64-bit question.
enum class Wow { Yes, No, Missing, FailsWithFlagSet };
enum class Outcome { Payload32, Payload64, Refused };

struct Case {
  const char* what;
  uint32_t offset32;
  uint32_t offset64;
  const char* arguments;
  Wow wow;
  Outcome outcome;
  bool asks64;  // whether IsWow64Process is looked up at all
};

void Configure(sim::SimulatedWindows& win, Wow wow) {
  win.hasIsWow64Process = wow != Wow::Missing;
  win.isWow64ProcessFails = wow == Wow::FailsWithFlagSet;
  win.wow64 = wow == Wow::Yes || wow == Wow::FailsWithFlagSet;
}

// The package's header with the two offsets set; the sizes tell the two
// descriptors apart.
loader::PackageHeader HeaderWith(const packagewriter::BuiltPackage& package, uint32_t offset32, uint32_t offset64) {
  loader::PackageHeader header = package.header;
  uint8_t* at32 = header.Bytes + loader::header_offset::Payload32;
  uint8_t* at64 = header.Bytes + loader::header_offset::Payload64;
  loader::WriteLittle32(at32, offset32);
  loader::WriteLittle32(at32 + 4, 32);
  loader::WriteLittle32(at32 + 8, 3200);
  loader::WriteLittle32(at64, offset64);
  loader::WriteLittle32(at64 + 4, 64);
  loader::WriteLittle32(at64 + 8, 6400);
  return header;
}

packagewriter::BuiltPackage BuildFixture() {
  packagewriter::PackageSpec inputs = fixtures::DefaultSpec();
  inputs.architectureMessage = kArchitectureText;
  return packagewriter::BuildPackage(inputs);
}

const packagewriter::BuiltPackage& Fixture() {
  static const packagewriter::BuiltPackage package = BuildFixture();
  return package;
}

TEST(SelectPayload, FollowsTheDecisionTable) {
  const Case cases[] = {
      // No 32-bit build: 64-bit Windows only.
      {"no 32-bit build, 64-bit Windows", kNone, kAt64, "", Wow::Yes, Outcome::Payload64, true},
      {"no 32-bit build, /32 not looked at", kNone, kAt64, "/32", Wow::Yes, Outcome::Payload64, true},
      {"no 32-bit build: Payload64 taken as it stands (offset 0)", kNone, kNone, "", Wow::Yes, Outcome::Payload64,
       true},
      {"no 32-bit build: Payload64 taken as it stands (0xFFFFFFFF)", kNone, kRefuse64, "", Wow::Yes,
       Outcome::Payload64, true},
      {"no 32-bit build, 32-bit Windows", kNone, kAt64, "", Wow::No, Outcome::Refused, true},
      {"no 32-bit build, 32-bit Windows, /32 given", kNone, kAt64, "/32", Wow::No, Outcome::Refused, true},
      {"no 32-bit build, IsWow64Process missing", kNone, kAt64, "", Wow::Missing, Outcome::Refused, true},
      {"no 32-bit build, IsWow64Process fails", kNone, kAt64, "", Wow::FailsWithFlagSet, Outcome::Refused, true},
      // The package refuses 64-bit Windows.
      {"refuses 64-bit, 32-bit Windows", kAt32, kRefuse64, "", Wow::No, Outcome::Payload32, true},
      {"refuses 64-bit, IsWow64Process missing", kAt32, kRefuse64, "", Wow::Missing, Outcome::Payload32, true},
      {"refuses 64-bit, 64-bit Windows", kAt32, kRefuse64, "", Wow::Yes, Outcome::Refused, true},
      {"refuses 64-bit, 64-bit Windows, /32 given", kAt32, kRefuse64, "/32", Wow::Yes, Outcome::Refused, true},
      // No 64-bit build: the 32-bit one everywhere, without asking.
      {"no 64-bit build, 64-bit Windows", kAt32, kNone, "", Wow::Yes, Outcome::Payload32, false},
      {"no 64-bit build, 32-bit Windows", kAt32, kNone, "", Wow::No, Outcome::Payload32, false},
      // Both builds.
      {"both, 64-bit Windows", kAt32, kAt64, "", Wow::Yes, Outcome::Payload64, true},
      {"both, 32-bit Windows", kAt32, kAt64, "", Wow::No, Outcome::Payload32, true},
      {"both, IsWow64Process missing", kAt32, kAt64, "", Wow::Missing, Outcome::Payload32, true},
      {"both, IsWow64Process fails", kAt32, kAt64, "", Wow::FailsWithFlagSet, Outcome::Payload32, true},
      {"both, 32-bit Windows, /32 given", kAt32, kAt64, "/32", Wow::No, Outcome::Payload32, false},
      {"both, /32 alone", kAt32, kAt64, "/32", Wow::Yes, Outcome::Payload32, false},
      {"both, /32 first", kAt32, kAt64, "/32 /silent x", Wow::Yes, Outcome::Payload32, false},
      {"both, /32 between", kAt32, kAt64, "a /32 b", Wow::Yes, Outcome::Payload32, false},
      {"both, /32 last", kAt32, kAt64, "a b /32", Wow::Yes, Outcome::Payload32, false},
      {"both, -32 is not the switch", kAt32, kAt64, "-32", Wow::Yes, Outcome::Payload64, true},
      {"both, /32x is not the switch", kAt32, kAt64, "/32x", Wow::Yes, Outcome::Payload64, true},
      {"both, x/32 is not the switch", kAt32, kAt64, "x/32", Wow::Yes, Outcome::Payload64, true},
      {"both, /3 is not the switch", kAt32, kAt64, "/3 2", Wow::Yes, Outcome::Payload64, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    sim::SimulatedWindows win;
    fixtures::InstallLoader(win, Fixture());
    win.SetArguments(c.arguments);
    Configure(win, c.wow);
    const loader::PackageHeader header = HeaderWith(Fixture(), c.offset32, c.offset64);

    PayloadDescriptor chosen = {};
    const sim::ProcessResult result = sim::RunProcess([&] {
      platform::Handle file = platform::OpenFileForReading(win.modulePath.c_str());
      chosen = loader::SelectPayload(file, header);
    });

    EXPECT_EQ(win.CountEvents("GetProcAddress IsWow64Process"), c.asks64 ? 1u : 0u);
    if (c.outcome == Outcome::Refused) {
      EXPECT_TRUE(result.exitProcessCalled);
      EXPECT_EQ(result.exitCode, 0u);
      // No substitution text: the placeholder is shown as written.
      ASSERT_EQ(win.messageBoxes.size(), 1u);
      EXPECT_EQ(win.messageBoxes[0].text, "This build is not for %USER% here.");
      continue;
    }
    EXPECT_FALSE(result.exitProcessCalled);
    EXPECT_TRUE(win.messageBoxes.empty());
    const PayloadDescriptor expected =
        c.outcome == Outcome::Payload32 ? header.Payload32() : header.Payload64();
    EXPECT_EQ(chosen.FileOffset, expected.FileOffset);
    EXPECT_EQ(chosen.CompressedSize, expected.CompressedSize);
    EXPECT_EQ(chosen.DecompressedSize, expected.DecompressedSize);
  }
}

TEST(Is64BitWindows, LooksUpIsWow64ProcessAtEveryCall) {
  sim::SimulatedWindows win;
  win.wow64 = true;
  bool first = false;
  bool second = false;
  sim::RunProcess([&] {
    first = loader::Is64BitWindows();
    second = loader::Is64BitWindows();
  });
  EXPECT_TRUE(first);
  EXPECT_TRUE(second);
  EXPECT_EQ(win.CountEvents("GetModuleHandleA kernel32"), 2u);
  EXPECT_EQ(win.CountEvents("GetProcAddress IsWow64Process"), 2u);
  EXPECT_EQ(win.CountEvents("IsWow64Process"), 2u);
}

}  // namespace
