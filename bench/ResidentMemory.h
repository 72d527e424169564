#ifndef BENCH_RESIDENT_MEMORY_H
#define BENCH_RESIDENT_MEMORY_H
// The memory benchmarks' figure: this process's resident size, after freed heap has been
// handed back to the system, so it counts what stays allocated.

#include <malloc.h>
#include <unistd.h>

#include <cstdio>

namespace bench {

inline double ResidentMiB() {
    malloc_trim(0);
    long pages = 0, resident = 0;
    if (FILE* statm = std::fopen("/proc/self/statm", "re")) {
        if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2) resident = 0;
        std::fclose(statm);
    }
    return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) /
           (1024.0 * 1024.0);
}

}  // namespace bench

#endif
