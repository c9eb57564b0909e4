// `package-builder inspect`: prints a package's records for a person, or as
// JSON, with the result of every check.
#pragma once

#include "tools/package-builder/CommandLine.h"

namespace packagebuilder {

// Inspects options.file and prints the report on stdout, and one line naming
// the failed checks on stderr. Returns 0 when every check passes, else 1.
// Throws std::runtime_error when the file cannot be read.
int RunInspect(const InspectOptions& options);

}  // namespace packagebuilder
