// The simulator's output: what the loader did, for a reader or as JSON.
#pragma once

#include <string>

#include "tools/loader-simulator/Simulation.h"
#include "tools/loader-simulator/SimulatorOptions.h"

namespace simulator {

// The outcome as text for a reader (UTF-8, ends with a line break): the
// simulated Windows, then the box or the start.
std::string FormatReport(const SimulatorOptions& options, const SimulationResult& result);

// The outcome as one JSON object on one line, with a line break after it.
std::string FormatJsonReport(const SimulationResult& result);

}  // namespace simulator
