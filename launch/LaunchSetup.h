#pragma once

#include "package/StubTypes.h"
#include "platform/AnsiString.h"
#include "run/StubCore.h"

namespace loader {

// True when CheckTokenMembership reports the caller's token as a member of
// the built-in Administrators group; every failure counts as false. The
// function's address, once found, is remembered for the rest of the process.
bool IsAdministrator();

// Forgets the remembered address of CheckTokenMembership. The host harness
// calls it before each simulated process; the stub never does.
void ForgetCheckTokenMembership();

// Starts the copy directly (CreateProcessA) or through the shell
// (ShellExecuteExA), then, unless DetachedFileSize is set, waits for it and
// deletes the copy. Returns after that; ends the run with LaunchFailed when
// the start fails.
void LaunchSetup(const platform::AnsiString& copyPath, const platform::AnsiString& setupArguments,
                 const PackageLocator& locator, const PackageHeader& header, const SystemVersion& version);

}  // namespace loader
