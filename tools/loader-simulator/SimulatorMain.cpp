#include "tools/loader-simulator/SimulatorMain.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>

#include <exception>
#include <stdexcept>

#include "tools/loader-simulator/Simulation.h"
#include "tools/loader-simulator/SimulationReport.h"
#include "tools/loader-simulator/SimulatorOptions.h"

namespace simulator {
namespace {

bool ReadWholeFile(const std::string& path, std::vector<uint8_t>& bytes, std::string& problem) {
  FILE* file = fopen(path.c_str(), "rb");
  if (file == nullptr) {
    problem = strerror(errno);
    return false;
  }
  uint8_t buffer[65536];
  size_t count;
  while ((count = fread(buffer, 1, sizeof buffer, file)) > 0) bytes.insert(bytes.end(), buffer, buffer + count);
  const bool failed = ferror(file) != 0;
  const int error = errno;  // a folder opens, and its first read fails
  fclose(file);
  if (failed) problem = strerror(error);
  return !failed;
}

}  // namespace

int SimulatorMain(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err) {
  const ParsedOptions parsed = ParseSimulatorOptions(arguments);
  if (parsed.help) {
    out << SimulatorHelpText();
    return kSimulated;
  }
  if (!parsed.ok) {
    err << "loader-simulator: " << parsed.error << "\n";
    return kBadOption;
  }
  const SimulatorOptions& options = parsed.options;

  std::vector<uint8_t> package;
  std::string problem;
  if (!ReadWholeFile(options.packagePath, package, problem)) {
    err << "loader-simulator: cannot read the package " << options.packagePath << ": " << problem << "\n";
    return kCannotSimulate;
  }

  SimulationResult result;
  try {
    result = Simulate(options, package);
  } catch (const std::invalid_argument& error) {
    err << "loader-simulator: " << error.what() << "\n";
    return kBadOption;
  } catch (const std::exception& error) {
    err << "loader-simulator: the simulation failed: " << error.what() << "\n";
    return kCannotSimulate;
  }
  out << (options.json ? FormatJsonReport(result) : FormatReport(options, result));
  return kSimulated;
}

}  // namespace simulator
