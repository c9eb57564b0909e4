// The clock of every timing in the bench: the monotonic wall clock.
#pragma once

#include <time.h>

namespace bench {

// Seconds since an arbitrary start.
inline double Now() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

}  // namespace bench
