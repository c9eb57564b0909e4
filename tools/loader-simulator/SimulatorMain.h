// The whole simulator behind main(): options, the package file, the run and
// the report.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace simulator {

// Exit codes of the simulator.
constexpr int kSimulated = 0;       // the run was simulated, whatever the loader did
constexpr int kCannotSimulate = 1;  // the package cannot be read, or the Windows cannot be set up
constexpr int kBadOption = 2;

// Runs the simulator with `arguments` (after the program name), writing the
// report or the help to `out` and a one-line error to `err`. Returns the exit
// code. Reads nothing from disk but the package file and writes nothing.
int SimulatorMain(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err);

}  // namespace simulator
