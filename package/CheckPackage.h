#pragma once

#include "package/StubTypes.h"
#include "platform/Platform.h"

namespace loader {

// Reads the locator at offset 128 of the loader's open file, tests the file
// size against it and verifies the CRC-32 of the checksum range. Returns the
// locator; otherwise ends the run with PackageDamaged or PackageTruncated.
PackageLocator CheckPackage(platform::Handle file);

}  // namespace loader
