// Reading the builder's inputs whole, and writing its output so that no half
// file ever stands under the output's name.
#pragma once

#include <stdint.h>

#include <string>

#include "tools/package-writer/PackageWriter.h"

namespace packagebuilder {

// The whole of `path`. `what` names the input in the error ("setup32",
// "stub"). Throws std::runtime_error when it cannot be read, or when it is
// larger than `limit` bytes (checked before reading).
packagewriter::Bytes ReadWholeFile(const std::string& path, const std::string& what,
                                   uint64_t limit = UINT64_MAX);

// The size of the regular file `path`; throws std::runtime_error as
// ReadWholeFile does when it cannot be read.
uint64_t InputFileSize(const std::string& path, const std::string& what);

// Writes `bytes` to a new temporary file in `path`'s folder, then moves it
// to `path` in one step, replacing a file there. An interrupt (a signal, or
// Ctrl+C on Windows) removes the temporary file. Throws std::runtime_error
// (and leaves nothing behind) when any step fails.
void WriteFileAtomically(const std::string& path, const packagewriter::Bytes& bytes);

// Throws std::runtime_error unless `path` can be written: its folder exists
// and is writable, and `path` itself is not a folder.
void CheckOutputPath(const std::string& path);

// Whether `a` and `b` name the same existing file.
bool SameFile(const std::string& a, const std::string& b);

}  // namespace packagebuilder
