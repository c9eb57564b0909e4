// One timed run of the loader's road from the package check to the written
// copy, in the simulated Windows: the loader's own operations, called in the
// order RunLoader calls them, each timed on its own.
#pragma once

#include <string>
#include <vector>

#include "bench/TimedPlatform.h"

namespace bench {

// The time of one step, and how much of it was spent inside the Windows calls.
struct StepTime {
  const char* name;
  double seconds = 0;
  CallTimes windows;
  double Own() const { return seconds - windows.Total(); }
};

struct RoadRun {
  std::vector<StepTime> steps;  // CheckPackage, ReadPackageHeader, SelectPayload
                                // and CheckWindowsVersion, DecodePayload, WriteTemporaryCopy
  double Seconds() const;
  double Own() const;           // Seconds() less the time in the Windows calls
  CallTimes Windows() const;
  bool ok = false;              // no message box, and the copy holds the program
  size_t heapPeak = 0;          // the most heap the process held at once
  std::string problem;          // why not ok
};

// How the loader's own file is reached.
enum class FileMode { InMemory, OnDisk };

// Runs the road once on a fresh simulated 64-bit Windows 10 (the loader
// under WOW64, so Payload64 is chosen). `package` is the whole loader file;
// in the OnDisk mode it is read from `hostPackage` instead and the copy goes
// to `hostFolder`. `expected` is the program the copy must hold (checked
// after the timing; pass null to skip the check).
RoadRun RunRoad(const std::string& package, FileMode mode, const std::string& hostPackage,
                const std::string& hostFolder, const std::string* expected);

}  // namespace bench
