// loader-simulator: runs the setup loader's own code on a package file in a
// simulated Windows and prints what the loader would do.
#include <iostream>
#include <string>
#include <vector>

#include "tools/loader-simulator/SimulatorMain.h"

int main(int argc, char** argv) {
  std::vector<std::string> arguments(argv + 1, argv + argc);
  return simulator::SimulatorMain(arguments, std::cout, std::cerr);
}
