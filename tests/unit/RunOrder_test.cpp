// Whole runs around the requirement checks: the architecture is judged before
// the version is asked, the version gate runs only on an answered query, and
// a version refusal shows the package's text with the version's name.
#include <gtest/gtest.h>

#include <string>

#include "platform/simulated/SimulatedWindows.h"
#include "tests/support/Packages.h"

namespace {

constexpr uint64_t kAll = ~0ull;
constexpr uint64_t kWithoutXP = kAll & ~(1ull << 5);

struct RunCase {
  const char* what;
  bool has32;            // the package carries a 32-bit build
  uint64_t supported;
  platform::OsVersionInfo version;
  bool versionQueryFails;
  bool wow64;
  // What the run shows: a box text, or "" for a started setup program.
  std::string shown;
  size_t versionQueries;  // "GetVersionExA" events
};

TEST(RunOrder, RequirementChecksInTheirPlace) {
  const RunCase cases[] = {
      {"no 32-bit build on 32-bit XP that the package excludes: the architecture text", false, kWithoutXP,
       {5, 1, 2600, 2}, false, false, "This program needs 64-bit Windows, not %USER%.", 0},
      {"XP excluded: the system text with the name", true, kWithoutXP, {5, 1, 2600, 2}, false, false,
       "This program does not run on Windows XP.", 1},
      {"failed version query: no refusal, even with nothing supported", true, 0, {5, 1, 2600, 2}, true, false, "",
       1},
      {"Windows 2000 without service pack: a second query after the first", true,
       1ull << 4, {5, 0, 2195, 2}, false, false, "This program does not run on Windows 2000 (no Service Pack).", 2},
      {"supported version runs the setup program", true, kAll, {10, 0, 19045, 2}, false, true, "", 1},
  };
  for (const RunCase& c : cases) {
    SCOPED_TRACE(c.what);
    packagewriter::PackageSpec inputs = fixtures::DefaultSpec();
    if (!c.has32) inputs.setup32.reset();
    inputs.supportedSystems = c.supported;
    inputs.architectureMessage = fixtures::Text("This program needs 64-bit Windows, not %USER%.");
    inputs.systemMessage = fixtures::Text("This program does not run on %USER%.");
    sim::SimulatedWindows win;
    fixtures::InstallLoader(win, packagewriter::BuildPackage(inputs));
    win.version = c.version;
    win.versionQueryFails = c.versionQueryFails;
    win.wow64 = c.wow64;
    win.servicePackMajor = 0;

    const sim::ProcessResult result = sim::RunLoaderProcess();
    EXPECT_TRUE(result.exitProcessCalled);
    EXPECT_EQ(result.exitCode, 0u);
    EXPECT_EQ(win.CountEvents("GetVersionExA"), c.versionQueries);
    if (c.versionQueries == 2) {
      EXPECT_LT(win.FindEvent("GetVersionExA 148"), win.FindEvent("GetVersionExA 156"));
    }
    if (c.shown.empty()) {
      EXPECT_TRUE(win.messageBoxes.empty()) << win.messageBoxes[0].text;
      EXPECT_EQ(win.launches.size(), 1u);
    } else {
      ASSERT_EQ(win.messageBoxes.size(), 1u);
      EXPECT_EQ(win.messageBoxes[0].text, c.shown);
      EXPECT_TRUE(win.launches.empty());
      EXPECT_EQ(win.CountEvents("CreateFileA write"), 0u) << "nothing written before a refusal";
    }
  }
}

}  // namespace
