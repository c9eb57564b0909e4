// libFuzzer target: the loader's whole run in the simulated Windows, the
// package, the command line and the Windows profile all taken from the input
// (layout in FuzzInput.h). A run that ends other than in one of the defined
// outcomes aborts with the finding, so libFuzzer keeps the input.
//
// With LOADER_FUZZ_SHOW_OUTCOME set, each input's outcome is printed, so the
// seed corpus can be checked against what each seed is meant to reach.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#include "tests/fuzz/FuzzInput.h"
#include "tests/fuzz/RunJudge.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::RunProfile profile;
  if (!fuzz::ParseRunInput(data, size, profile)) return -1;  // too short: not added to the corpus
  const fuzz::Verdict verdict = fuzz::RunAndJudge(profile);
  if (!verdict.finding.empty()) {
    fprintf(stderr, "FINDING (outcome %s): %s\n", fuzz::OutcomeName(verdict.outcome), verdict.finding.c_str());
    abort();
  }
  if (getenv("LOADER_FUZZ_SHOW_OUTCOME") != nullptr) printf("outcome %s\n", fuzz::OutcomeName(verdict.outcome));
  return 0;
}
