#include "launch/LaunchSetup.h"

#include "launch/Arguments.h"
#include "launch/SetupCommandLine.h"
#include "platform/Platform.h"

namespace loader {

namespace {

// Found on the first call that finds it and kept for the rest of the process:
// CheckTokenMembership is missing on Windows 95 to NT 4, so it is never bound
// at load time.
platform::CheckTokenMembershipFunction gCheckTokenMembership = nullptr;

// Windows Vista (6.0) brought User Account Control, and with it the shell
// road for users outside the Administrators group.
constexpr uint32_t kFirstVersionWithElevation = 6;

// ElevationMode values that change the silent shell start.
constexpr uint8_t kElevationRunAs = 1;
constexpr uint8_t kElevationNoAdmin = 2;

// The folder part of `path`: up to and including its last backslash, empty
// when it has none.
platform::AnsiString FolderPart(const platform::AnsiString& path) {
  const ptrdiff_t backslash = path.FindLast('\\');
  return path.Left(static_cast<size_t>(backslash + 1));
}

// True when one of the arguments, searched from the last, is "/silent" or
// "/s" in any case.
bool IsSilent() {
  for (int32_t i = ArgumentCount(); i >= 1; --i) {
    const platform::AnsiString argument = Argument(i);
    if (SwitchEquals(argument, "/silent") || SwitchEquals(argument, "/s")) return true;
  }
  return false;
}

// CreateProcessA in the loader's own folder (drive-letter form, as the module
// name gives it). Ends the run with LaunchFailed when it cannot start.
void StartDirectly(const platform::AnsiString& copyPath, const platform::AnsiString& setupArguments,
                   const PackageLocator& locator) {
  platform::AnsiString commandLine = BuildSetupCommandLine(copyPath, setupArguments);
  const platform::AnsiString directory = FolderPart(LoaderPath());
  platform::ProcessInformation info = {};
  if (!platform::CreateProcessA(commandLine.MutableText(), directory.Text(), info)) {
    ShowFatalError(FatalError::LaunchFailed);
  }
  if (locator.DetachedFileSize() != 0) return;
  platform::WaitForSingleObject(info.Process);
  platform::DeleteFileA(copyPath.Text());
}

// ShellExecuteExA with the verb and parameters that the silent switches and
// ElevationMode choose. Ends the run with LaunchFailed when it cannot start.
void StartThroughShell(const platform::AnsiString& copyPath, const platform::AnsiString& setupArguments,
                       const PackageLocator& locator, const PackageHeader& header) {
  const char* verb = "open";
  platform::AnsiString parameters(setupArguments);
  const uint8_t mode = header.ElevationMode();
  if (!IsSilent() || mode == kElevationNoAdmin) {
    parameters.Append(" /noadmin");
  } else if (mode == kElevationRunAs) {
    verb = "runas";
  }

  platform::ShellExecuteRecord record = {};
  record.Verb = verb;
  record.File = copyPath.Text();
  record.Parameters = parameters.Text();
  if (!platform::ShellExecuteExA(record)) ShowFatalError(FatalError::LaunchFailed);
  if (locator.DetachedFileSize() != 0) return;
  platform::WaitForSingleObject(record.Process);
  platform::CloseHandle(record.Process);
  platform::DeleteFileA(copyPath.Text());
}

}  // namespace

bool IsAdministrator() {
  static const uint8_t kNtAuthority[6] = {0, 0, 0, 0, 0, 5};
  // SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS.
  static const uint32_t kAdministrators[8] = {32, 544, 0, 0, 0, 0, 0, 0};

  platform::Sid sid = nullptr;
  if (!platform::AllocateAndInitializeSid(kNtAuthority, 2, kAdministrators, &sid)) return false;

  if (gCheckTokenMembership == nullptr) {
    // advapi32 is loaded already; it is only looked at, never loaded here.
    platform::Module advapi = platform::GetModuleHandleA("advapi32.dll");
    if (advapi != nullptr) {
      gCheckTokenMembership = reinterpret_cast<platform::CheckTokenMembershipFunction>(
          platform::GetProcAddress(advapi, "CheckTokenMembership"));
    }
  }

  bool member = false;
  if (gCheckTokenMembership != nullptr) {
    int32_t isMember = 0;
    // A null token is the caller's own.
    if (gCheckTokenMembership(nullptr, sid, &isMember) != 0) member = isMember != 0;
  }
  platform::FreeSid(sid);
  return member;
}

void ForgetCheckTokenMembership() { gCheckTokenMembership = nullptr; }

void LaunchSetup(const platform::AnsiString& copyPath, const platform::AnsiString& setupArguments,
                 const PackageLocator& locator, const PackageHeader& header, const SystemVersion& version) {
  if (version.MajorVersion < kFirstVersionWithElevation || IsAdministrator()) {
    StartDirectly(copyPath, setupArguments, locator);
  } else {
    StartThroughShell(copyPath, setupArguments, locator, header);
  }
}

}  // namespace loader
