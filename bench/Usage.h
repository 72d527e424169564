#ifndef BENCH_USAGE_H
#define BENCH_USAGE_H

#include <cstdio>
#include <cstring>

namespace bench {

// Prints USAGE on standard output when one of the first COUNT arguments is -h or --help, so that
// a benchmark asked for its usage answers at once and measures nothing. True when it did.
// Programs that pass their arguments on to a command look at the first one only.
inline bool PrintUsageIfAsked(int argc, char** argv, const char* usage, int count = 1 << 30) {
    for (int i = 1; i < argc && i <= count; ++i) {
        if (std::strcmp(argv[i], "-h") == 0 || std::strcmp(argv[i], "--help") == 0) {
            std::fputs(usage, stdout);
            return true;
        }
    }
    return false;
}

}  // namespace bench

#endif  // BENCH_USAGE_H
