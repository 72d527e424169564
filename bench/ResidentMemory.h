#ifndef BENCH_RESIDENT_MEMORY_H
#define BENCH_RESIDENT_MEMORY_H
// The memory benchmarks' figures: this process's resident size, after freed heap has been
// handed back to the system, so it counts what stays allocated, in MB of 10^6 bytes (the unit
// of every figure the benchmarks print); and its growth over a run.

#include <malloc.h>
#include <unistd.h>

#include <cstdio>

namespace bench {

inline double ResidentMB() {
    malloc_trim(0);
    long pages = 0, resident = 0;
    if (FILE* statm = std::fopen("/proc/self/statm", "re")) {
        if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2) resident = 0;
        std::fclose(statm);
    }
    return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) / 1e6;
}

// The readings of a run, the first (taken after the warm-up) its baseline. The growth judged
// is the highest reading's rise above the first: memory taken mid-run and given back before
// the last reading was still taken, and the last reading alone would hide it.
class ResidentGrowth {
public:
    explicit ResidentGrowth(double first) : first_(first), peak_(first), last_(first) {}
    void Add(double reading) {
        last_ = reading;
        if (reading > peak_) peak_ = reading;
    }
    double Peak() const { return peak_ - first_; }
    double Last() const { return last_ - first_; }

private:
    double first_, peak_, last_;
};

}  // namespace bench

#endif
