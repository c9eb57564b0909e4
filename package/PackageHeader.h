#pragma once

#include "package/StubTypes.h"
#include "platform/Platform.h"

namespace loader {

// Reads the 70-byte header at the locator's HeaderOffset. Returns it as
// stored; ends the run with PackageDamaged when it cannot be read whole.
PackageHeader ReadPackageHeader(platform::Handle file, const PackageLocator& locator);

}  // namespace loader
