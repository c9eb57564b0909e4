// Fixture helpers shared by the unit tests: setup programs, a default
// package, and putting a package in place as the loader's own file.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <string>

#include "platform/simulated/SimulatedWindows.h"
#include "tools/package-writer/PackageWriter.h"

namespace fixtures {

// A stand-in setup program of `size` bytes: "MZ" and then bytes made from
// `seed`, so the simulated Windows takes it for an executable and two
// programs never look alike.
packagewriter::Bytes SetupProgram(size_t size, uint8_t seed);

// A package with both builds (32-bit of 3000 bytes, seed 32; 64-bit of 5000
// bytes, seed 64), every system supported, any release, elevation mode 0 and
// two short texts, on MinimalStub().
packagewriter::PackageSpec DefaultSpec();

// Stores the package's bytes as the loader's own file (win.modulePath).
void InstallLoader(sim::SimulatedWindows& win, const packagewriter::BuiltPackage& package);

// UTF-16 text from ASCII or UTF-8.
std::u16string Text(const std::string& utf8);

}  // namespace fixtures
