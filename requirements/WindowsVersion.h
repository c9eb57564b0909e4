#pragma once

#include "package/StubTypes.h"
#include "platform/Platform.h"
#include "run/StubCore.h"

namespace loader {

// Returns when the package supports the running Windows; otherwise shows the
// SystemMessage with the running version's name and ends the process.
void CheckWindowsVersion(platform::Handle file, const PackageHeader& header, const SystemVersion& version);

// Windows 2000 with none of 95, 98 and ME supported: refuses service packs
// below 4 (from a second version query). Returns or refuses.
void CheckWindows2000ServicePack(platform::Handle file, const PackageHeader& header);

// Windows 10.0: refuses a ReleaseId outside MinReleaseId..MaxReleaseId.
// Returns or refuses; a key or value that cannot be read passes.
void CheckReleaseId(platform::Handle file, const PackageHeader& header);

}  // namespace loader
