// package-builder: builds setup packages onto the loader image and inspects
// existing ones.
#include <stdio.h>

#include <exception>
#include <string>
#include <vector>

#include "tools/package-builder/BuildCommand.h"
#include "tools/package-builder/CommandLine.h"
#include "tools/package-builder/HostSystem.h"
#include "tools/package-builder/InspectCommand.h"

int main(int argc, char** argv) {
  using namespace packagebuilder;
  const std::vector<std::string> arguments = ProgramArguments(argc, argv);
  ShowUtf8OnConsole();
  CommandLine line;
  try {
    line = ParseCommandLine(arguments);
  } catch (const UsageError& e) {
    fprintf(stderr, "package-builder: %s (see package-builder --help)\n", e.what());
    return 2;
  }
  try {
    switch (line.command) {
      case CommandLine::Command::Help:
        fputs(UsageText(), stdout);
        return 0;
      case CommandLine::Command::Build:
        RunBuild(line.build);
        return 0;
      case CommandLine::Command::Inspect:
        return RunInspect(line.inspect);
    }
  } catch (const std::exception& e) {
    fflush(stdout);
    fprintf(stderr, "package-builder: error: %s\n", e.what());
    return 1;
  }
  return 1;
}
