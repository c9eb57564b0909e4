// Starting the setup program directly or through the shell, waiting for it,
// deleting the copy; and the Administrators membership test that picks the
// road.
#include <gtest/gtest.h>

#include <string>

#include "launch/LaunchSetup.h"
#include "launch/SetupCommandLine.h"
#include "platform/simulated/SimulatedWindows.h"
#include "run/StubCore.h"

namespace {

const char kCopy[] = "C:\\Temp\\setup.exe";
const char kLoader[] = "\"C:\\Downloads\\setup.exe\"";  // quoted, as the setup arguments start

using Road = sim::LaunchRecord::Road;

loader::PackageLocator Locator(bool detached) {
  loader::PackageLocator locator = {};
  if (detached) loader::WriteLittle32(locator.Bytes + 20, 0x12345);
  return locator;
}

loader::PackageHeader Header(uint8_t elevationMode) {
  loader::PackageHeader header = {};
  header.Bytes[17] = elevationMode;
  return header;
}

// A machine with the copy in place and the loader's arguments `arguments`.
void Prepare(sim::SimulatedWindows& win, const std::string& arguments) {
  win.AddFile(kCopy, "MZ setup program");
  win.SetArguments(arguments);
}

// Runs LaunchSetup as the loader's last step on Windows `major`, with the
// setup arguments built from the machine's command line.
sim::ProcessResult Launch(uint32_t major, uint8_t elevationMode, bool detached = false) {
  return sim::RunProcess([&] {
    const platform::AnsiString setupArguments = loader::BuildSetupArguments();
    const loader::SystemVersion version = {major, 0, loader::kPlatformWin32Nt};
    loader::LaunchSetup(kCopy, setupArguments, Locator(detached), Header(elevationMode), version);
  });
}

// The setup arguments for loader arguments without spaces.
std::string SetupArguments(const std::string& arguments) {
  return arguments.empty() ? kLoader : std::string(kLoader) + " " + arguments;
}

struct RoadRow {
  const char* what;
  uint32_t major;
  bool administrator;
  bool hasCheckTokenMembership;
  const char* arguments;
  Road road;
  bool membershipTested;  // AllocateAndInitializeSid ran
};

const RoadRow kRoadRows[] = {
    {"Windows 95 family, silent user", 4, false, false, "/silent", Road::Direct, false},
    {"Windows XP, non-admin, silent", 5, false, true, "/silent", Road::Direct, false},
    {"failed version query (major 0)", 0, false, true, "", Road::Direct, false},
    {"Vista, administrator", 6, true, true, "/S", Road::Direct, true},
    {"Windows 10, administrator", 10, true, true, "", Road::Direct, true},
    {"Vista, non-admin", 6, false, true, "", Road::Shell, true},
    {"Windows 10, non-admin", 10, false, true, "/s", Road::Shell, true},
    {"administrator without CheckTokenMembership", 10, true, false, "", Road::Shell, true},
    {"major version compared unsigned", 0x80000000u, false, true, "", Road::Shell, true},
};

TEST(LaunchSetupTest, ChoosesTheRoad) {
  for (const RoadRow& row : kRoadRows) {
    for (uint8_t mode : {0, 1, 2}) {
      SCOPED_TRACE(std::string(row.what) + ", ElevationMode " + std::to_string(mode));
      sim::SimulatedWindows w;
      Prepare(w, row.arguments);
      w.administrator = row.administrator;
      w.hasCheckTokenMembership = row.hasCheckTokenMembership;
      const sim::ProcessResult result = Launch(row.major, mode);
      EXPECT_FALSE(result.exitProcessCalled);
      ASSERT_EQ(w.launches.size(), 1u);
      EXPECT_EQ(w.launches[0].road, row.road);
      EXPECT_EQ(w.CountEvents("AllocateAndInitializeSid"), row.membershipTested ? 1u : 0u);
      if (row.road == Road::Direct) {
        // ElevationMode and the silent switches play no part here.
        EXPECT_EQ(w.launches[0].commandLine,
                  std::string("\"") + kCopy + "\" " + SetupArguments(row.arguments));
        EXPECT_EQ(w.launches[0].commandLine.find("/noadmin"), std::string::npos);
      }
    }
  }
}

struct ShellRow {
  const char* what;
  uint8_t elevationMode;
  const char* arguments;
  const char* verb;
  bool noadmin;
};

const ShellRow kShellRows[] = {
    {"not silent, mode 0", 0, "", "open", true},
    {"not silent, mode 1", 1, "/x", "open", true},
    {"not silent, mode 2", 2, "", "open", true},
    {"not silent, mode 3", 3, "", "open", true},
    {"not silent, mode 255", 255, "", "open", true},
    {"/silent=1 is not silent", 1, "/silent=1", "open", true},
    {"/silent: is not silent", 1, "/silent:", "open", true},
    {"silent /S, mode 0", 0, "/S", "open", false},
    {"silent /S, mode 1", 1, "/S", "runas", false},
    {"silent /S, mode 2", 2, "/S", "open", true},
    {"silent /S, mode 3", 3, "/S", "open", false},
    {"silent /S, mode 255", 255, "/S", "open", false},
    {"silent /SILENT, mode 1", 1, "/SILENT", "runas", false},
    {"silent /silent, mode 2", 2, "/silent", "open", true},
    {"silent /s first among others, mode 1", 1, "/s a /temp D:\\x", "runas", false},
    {"silent /Silent last, mode 0", 0, "a b /Silent", "open", false},
};

TEST(LaunchSetupTest, ShellVerbAndParameters) {
  for (const ShellRow& row : kShellRows) {
    SCOPED_TRACE(row.what);
    sim::SimulatedWindows w;
    Prepare(w, row.arguments);
    const sim::ProcessResult result = Launch(6, row.elevationMode);
    EXPECT_FALSE(result.exitProcessCalled);
    ASSERT_EQ(w.launches.size(), 1u);
    const sim::LaunchRecord& launch = w.launches[0];
    EXPECT_EQ(launch.road, Road::Shell);
    EXPECT_EQ(launch.verb, row.verb);
    EXPECT_EQ(launch.file, kCopy);  // without quotes
    EXPECT_EQ(launch.parameters, SetupArguments(row.arguments) + (row.noadmin ? " /noadmin" : ""));
  }
}

TEST(LaunchSetupTest, DirectStartRunsInTheLoadersFolderInDriveLetterForm) {
  sim::SimulatedWindows win;
  win.networkDrives['Z'] = "\\\\server\\share";
  win.modulePath = "Z:\\Tools\\setup.exe";
  Prepare(win, "/S");
  const sim::ProcessResult result = Launch(5, 0);
  EXPECT_FALSE(result.exitProcessCalled);
  ASSERT_EQ(win.launches.size(), 1u);
  EXPECT_EQ(win.launches[0].road, Road::Direct);
  EXPECT_EQ(win.launches[0].currentDirectory, "Z:\\Tools\\");
  EXPECT_EQ(win.launches[0].commandLine, "\"C:\\Temp\\setup.exe\" \"\\\\server\\share\\Tools\\setup.exe\" /S");
}

TEST(LaunchSetupTest, DirectStartWaitsThenDeletesTheCopy) {
  sim::SimulatedWindows win;
  Prepare(win, "");
  bool copyPresentWhileRunning = false;
  win.whileSetupRuns = [&](const sim::LaunchRecord&) { copyPresentWhileRunning = win.Exists(kCopy); };
  Launch(5, 0);
  ASSERT_EQ(win.launches.size(), 1u);
  EXPECT_EQ(win.launches[0].currentDirectory, "C:\\Downloads\\");
  EXPECT_TRUE(win.launches[0].waitedFor);
  EXPECT_TRUE(copyPresentWhileRunning);
  EXPECT_FALSE(win.Exists(kCopy));
  EXPECT_LT(win.FindEvent("CreateProcessA"), win.FindEvent("WaitForSingleObject"));
  EXPECT_LT(win.FindEvent("WaitForSingleObject"), win.FindEvent(std::string("DeleteFileA ") + kCopy));
}

TEST(LaunchSetupTest, ShellStartWaitsClosesThenDeletes) {
  sim::SimulatedWindows win;
  Prepare(win, "");
  bool copyPresentWhileRunning = false;
  win.whileSetupRuns = [&](const sim::LaunchRecord&) { copyPresentWhileRunning = win.Exists(kCopy); };
  Launch(10, 0);
  ASSERT_EQ(win.launches.size(), 1u);
  EXPECT_TRUE(win.launches[0].waitedFor);
  EXPECT_TRUE(win.launches[0].processHandleClosed);
  EXPECT_TRUE(copyPresentWhileRunning);
  EXPECT_FALSE(win.Exists(kCopy));
  const ptrdiff_t wait = win.FindEvent("WaitForSingleObject");
  const ptrdiff_t close = win.FindEvent("CloseHandle process");
  const ptrdiff_t remove = win.FindEvent(std::string("DeleteFileA ") + kCopy);
  EXPECT_LT(win.FindEvent("ShellExecuteExA"), wait);
  EXPECT_LT(wait, close);
  EXPECT_LT(close, remove);
}

TEST(LaunchSetupTest, ShellWithoutProcessHandleStillClosesAndDeletes) {
  sim::SimulatedWindows win;
  Prepare(win, "");
  win.shellGivesNoProcess = true;
  const sim::ProcessResult result = Launch(10, 0);
  EXPECT_FALSE(result.exitProcessCalled);
  EXPECT_EQ(win.CountEvents("WaitForSingleObject"), 1u);
  EXPECT_LT(win.FindEvent("WaitForSingleObject"), win.FindEvent(std::string("DeleteFileA ") + kCopy));
  EXPECT_FALSE(win.Exists(kCopy));
}

TEST(LaunchSetupTest, DetachedStartNeitherWaitsNorDeletes) {
  struct Row {
    const char* what;
    uint32_t major;
    Road road;
  };
  for (const Row& row : {Row{"direct", 5, Road::Direct}, Row{"shell", 10, Road::Shell}}) {
    SCOPED_TRACE(row.what);
    sim::SimulatedWindows w;
    Prepare(w, "");
    const sim::ProcessResult result = Launch(row.major, 0, true);
    EXPECT_FALSE(result.exitProcessCalled);
    ASSERT_EQ(w.launches.size(), 1u);
    EXPECT_EQ(w.launches[0].road, row.road);
    EXPECT_FALSE(w.launches[0].waitedFor);
    EXPECT_FALSE(w.launches[0].processHandleClosed);
    EXPECT_EQ(w.CountEvents("WaitForSingleObject"), 0u);
    EXPECT_EQ(w.CountEvents("CloseHandle process"), 0u);
    EXPECT_EQ(w.CountEvents("DeleteFileA"), 0u);
    EXPECT_TRUE(w.Exists(kCopy));
  }
}

TEST(LaunchSetupTest, FailedStartShowsLaunchFailedAndLeavesTheCopy) {
  for (uint32_t major : {5u, 10u}) {
    SCOPED_TRACE("major " + std::to_string(major));
    sim::SimulatedWindows w;
    Prepare(w, "/S");
    w.startFails = true;
    const sim::ProcessResult result = Launch(major, 1);
    EXPECT_TRUE(result.exitProcessCalled);
    EXPECT_EQ(result.exitCode, 0u);
    ASSERT_EQ(w.messageBoxes.size(), 1u);
    EXPECT_EQ(w.messageBoxes[0].text, loader::FatalErrorText(loader::FatalError::LaunchFailed));
    EXPECT_EQ(w.messageBoxes[0].caption, "C:\\Downloads\\setup.exe");
    EXPECT_EQ(w.messageBoxes[0].style, 0x10u);
    EXPECT_EQ(w.CountEvents("WaitForSingleObject"), 0u);
    EXPECT_EQ(w.CountEvents("DeleteFileA"), 0u);
    EXPECT_TRUE(w.Exists(kCopy));
  }
}

struct MembershipRow {
  const char* what;
  bool administrator;
  bool hasCheckTokenMembership;
  bool checkFails;
  bool allocateFails;
  bool result;
  size_t freeSid;
};

const MembershipRow kMembershipRows[] = {
    {"member", true, true, false, false, true, 1},
    {"not a member", false, true, false, false, false, 1},
    {"CheckTokenMembership missing", true, false, false, false, false, 1},
    {"CheckTokenMembership fails", true, true, true, false, false, 1},
    {"SID not created: nothing freed", true, true, false, true, false, 0},
};

TEST(IsAdministratorTest, EveryFailureCountsAsNoMembership) {
  for (const MembershipRow& row : kMembershipRows) {
    SCOPED_TRACE(row.what);
    sim::SimulatedWindows win;
    win.administrator = row.administrator;
    win.hasCheckTokenMembership = row.hasCheckTokenMembership;
    win.checkTokenMembershipFails = row.checkFails;
    win.allocateSidFails = row.allocateFails;
    bool member = !row.result;
    const sim::ProcessResult result = sim::RunProcess([&] { member = loader::IsAdministrator(); });
    EXPECT_FALSE(result.exitProcessCalled);
    EXPECT_EQ(member, row.result);
    EXPECT_EQ(win.CountEvents("FreeSid"), row.freeSid);
    if (row.freeSid == 1) {
      EXPECT_LT(win.FindEvent("AllocateAndInitializeSid"), win.FindEvent("FreeSid"));
      EXPECT_EQ(win.CountEvents("GetModuleHandleA advapi32.dll"), 1u);
    }
    if (row.hasCheckTokenMembership && !row.allocateFails) {
      EXPECT_LT(win.FindEvent("CheckTokenMembership"), win.FindEvent("FreeSid"));
    }
  }
}

TEST(IsAdministratorTest, LooksUpCheckTokenMembershipOncePerProcess) {
  sim::SimulatedWindows win;
  win.administrator = true;
  bool first = false, second = false;
  sim::RunProcess([&] {
    first = loader::IsAdministrator();
    second = loader::IsAdministrator();
  });
  EXPECT_TRUE(first);
  EXPECT_TRUE(second);
  EXPECT_EQ(win.CountEvents("GetProcAddress CheckTokenMembership"), 1u);
  EXPECT_EQ(win.CountEvents("CheckTokenMembership"), 2u);
  EXPECT_EQ(win.CountEvents("FreeSid"), 2u);

  // A new process looks it up again.
  sim::RunProcess([&] { loader::IsAdministrator(); });
  EXPECT_EQ(win.CountEvents("GetProcAddress CheckTokenMembership"), 2u);
}

}  // namespace
