// One simulated run of the loader: the simulated Windows set up from the
// options, the loader's own code run on the package, and what it did.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include "tools/loader-simulator/SimulatorOptions.h"

namespace simulator {

// What the loader did. 8-bit strings hold code page 1252 bytes.
struct SimulationResult {
  enum class Outcome {
    Launch,   // the setup program was started
    Fatal,    // one of the loader's own four errors
    Message,  // the package's refusal text
    Ended,    // the process ended with neither (the heap refused a block)
  };
  Outcome outcome = Outcome::Ended;

  // Fatal and Message: the box.
  std::string errorName;  // Fatal: PackageDamaged, PackageTruncated, TempCopyFailed, LaunchFailed
  std::string text;
  std::string caption;

  // Launch.
  int payloadBits = 0;  // 32 or 64; 0 when the copy matches neither descriptor
  std::string temporaryCopy;
  bool shellRoad = false;
  std::string commandLine;       // direct
  std::string currentDirectory;  // direct
  std::string verb;              // shell
  std::string parameters;        // shell
  bool waits = false;            // waits for the setup program
  bool deletesCopy = false;      // deletes the copy afterwards

  // Hints for a human reader (UTF-8): why a copy or a start failed.
  std::vector<std::string> notes;
};

// Runs the loader on `package` (the loader file's bytes) in a simulated
// Windows described by `options`. Throws std::invalid_argument when the
// simulated Windows cannot be set up as described (a path it cannot take).
SimulationResult Simulate(const SimulatorOptions& options, const std::vector<uint8_t>& package);

// One line (UTF-8) describing the simulated Windows of `options`.
std::string DescribeWindows(const SimulatorOptions& options);

}  // namespace simulator
