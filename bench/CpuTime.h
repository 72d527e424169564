#ifndef BENCH_CPU_TIME_H
#define BENCH_CPU_TIME_H
// The CPU benchmarks' clock: user and system seconds this process has used, the threads that
// ended included (a connection's or a player's threads come and go during a run).

#include <sys/resource.h>

namespace bench {

inline double ProcessCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

}  // namespace bench

#endif
