#include "tests/support/Packages.h"

namespace fixtures {

packagewriter::Bytes SetupProgram(size_t size, uint8_t seed) {
  packagewriter::Bytes bytes(size);
  uint32_t state = 0x9E3779B9u ^ seed;
  for (size_t i = 0; i < size; ++i) {
    state = state * 1664525u + 1013904223u;
    // Runs of repeated bytes keep it compressible, like real programs.
    bytes[i] = static_cast<uint8_t>((i % 64) < 40 ? (state >> 24) : seed);
  }
  if (size > 0) bytes[0] = 'M';
  if (size > 1) bytes[1] = 'Z';
  return bytes;
}

packagewriter::PackageSpec DefaultSpec() {
  packagewriter::PackageSpec inputs;
  inputs.stub = packagewriter::MinimalStub();
  inputs.setup32 = SetupProgram(3000, 32);
  inputs.setup64 = SetupProgram(5000, 64);
  inputs.architectureMessage = Text("This program does not run on this architecture.");
  inputs.systemMessage = Text("This program does not run on %USER%.");
  return inputs;
}

void InstallLoader(sim::SimulatedWindows& win, const packagewriter::BuiltPackage& package) {
  win.AddFile(win.modulePath, package.bytes);
}

std::u16string Text(const std::string& utf8) { return packagewriter::TextFromUtf8(utf8); }

}  // namespace fixtures
