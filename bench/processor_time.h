// Timing and failing of the benchmark programs that measure themselves.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace bench_time {

// This thread's processor time: on a machine shared with other work it varies
// far less than the wall clock.
inline double CpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

[[noreturn]] inline void Fail(const char* what) {
    std::fprintf(stderr, "%s\n", what);
    std::exit(1);
}

}  // namespace bench_time
