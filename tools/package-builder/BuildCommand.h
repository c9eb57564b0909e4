// `package-builder build`: reads the inputs, builds the package and writes it.
#pragma once

#include "tools/package-builder/CommandLine.h"

namespace packagebuilder {

// Builds the package that `options` describe and writes it to
// options.output, then prints one summary line on stdout. Throws
// std::runtime_error with a one-line reason, having written nothing, when an
// input cannot be read or the loader could not use the package.
void RunBuild(const BuildOptions& options);

}  // namespace packagebuilder
