#pragma once

#include "platform/AnsiString.h"

namespace loader {

// The path, or its network form when it lies on a drive letter mapped to a
// network share (WNetGetUniversalNameA from the system folder's mpr.dll).
platform::AnsiString UniversalPath(const platform::AnsiString& path);

// The setup program's arguments: the loader's universal path in double
// quotes, then every argument, quoted when it holds a space.
platform::AnsiString BuildSetupArguments();

// The direct start's command line: the copy's path in double quotes, a
// space, then the setup arguments.
platform::AnsiString BuildSetupCommandLine(const platform::AnsiString& copyPath,
                                           const platform::AnsiString& setupArguments);

}  // namespace loader
