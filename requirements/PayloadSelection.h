#pragma once

#include "package/StubTypes.h"
#include "platform/Platform.h"

namespace loader {

// True when the loader runs under WOW64; IsWow64Process is looked up anew at
// every call, and a missing function or a failed call counts as false.
bool Is64BitWindows();

// Chooses Payload32 or Payload64 by the header's declarations, "/32" and the
// architecture. Returns a copy of the chosen descriptor; refuses with the
// ArchitectureMessage (which ends the process) when the package does not fit.
PayloadDescriptor SelectPayload(platform::Handle file, const PackageHeader& header);

}  // namespace loader
