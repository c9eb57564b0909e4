// The whole run of the loader in the simulated Windows, set up from a fuzz
// profile, and the judgement of how it ended. A run must end in exactly one
// of the defined outcomes, each with what it leaves behind; anything else is
// a finding.
#pragma once

#include <string>

#include "tests/fuzz/FuzzInput.h"

namespace fuzz {

enum class Outcome {
  Started,           // the setup program was started (and, unless detached, waited for)
  PackageDamaged,    // the four fatal messages
  PackageTruncated,
  TempCopyFailed,
  LaunchFailed,
  PackageMessage,    // one of the package's refusal texts
  OutOfMemory,       // silent end, exit code 0, right after a refused allocation
};

const char* OutcomeName(Outcome outcome);

struct Verdict {
  Outcome outcome = Outcome::Started;
  std::string finding;  // empty when the run ended as it may
};

// Runs the loader once in a fresh simulated Windows made from `profile` and
// judges the end: the process ended through ExitProcess(0); at most one
// message box, captioned with the loader's path and styled MB_ICONERROR, and
// never after a start; nothing written to disk before the copy, no partial
// copy after TempCopyFailed, the whole copy after LaunchFailed and when the
// setup program starts, none after a waited-for start; the loader's file
// closed and the streams released while the setup program runs;
// no heap request larger than the package's sizes allow; a silent end only
// right after an allocation the heap refused.
Verdict RunAndJudge(const RunProfile& profile);

}  // namespace fuzz
