#pragma once

#include "package/StubTypes.h"
#include "platform/AnsiString.h"
#include "platform/Platform.h"

namespace loader {

// Reads the package text named by `message`, puts `substitution` (ANSI; empty
// for none) in place of every "%USER%" and then every "%user%", shows it in an
// error box captioned with LoaderPath() and ends the process. Ends the run
// with PackageDamaged instead when the text cannot be read whole.
[[noreturn]] void ShowPackageMessage(platform::Handle file, const MessageRef& message,
                                     const platform::AnsiString& substitution);

}  // namespace loader
