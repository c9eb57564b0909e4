#pragma once

#include <stdint.h>

#include "extract/NoRTLStream.h"
#include "platform/AnsiString.h"

namespace loader {

// True when a file or folder of that name exists (FindFirstFileA).
bool PathExists(const platform::AnsiString& path);

// Chooses the copy's folder ("/temp", or the system's temporary folder) and a
// free name (the loader's, numbered when taken), and writes `size` bytes of
// the output stream there with one write. Returns the copy's path; ends the
// run with TempCopyFailed when the file cannot be created or written whole.
platform::AnsiString WriteTemporaryCopy(const TStream& output, uint32_t size);

}  // namespace loader
