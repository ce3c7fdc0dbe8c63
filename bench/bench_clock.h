// Clocks the benchmarks read, in microseconds.
#pragma once

#include <time.h>

#include <chrono>

namespace oxlo::bench {

inline double WallUs() {
  return std::chrono::duration<double, std::micro>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// User plus system time of every thread, as getrusage(RUSAGE_SELF) counts it,
// but in nanoseconds: single waits last only tens of microseconds.
inline double CpuUs() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) * 1e6 + static_cast<double>(now.tv_nsec) / 1e3;
}

}  // namespace oxlo::bench
