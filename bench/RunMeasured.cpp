// Runs a command and appends "CPU_SECONDS WALL_SECONDS PEAK_KB" of it to a file, for the
// benchmark scripts (bench_lib.sh's bench_measure):
//   RunMeasured FILE COMMAND [ARGUMENTS...]
// CPU is the user and system time the kernel counts for the reaped command and the descendants
// it waited for, every thread included, to the microsecond (GNU time prints two decimals, and
// /proc ticks are 10 ms). Wall runs from the spawn to the reaping. PEAK_KB is the largest
// resident size among them; it starts from this small program's own (about 1 MB), which a
// spawned child shares until it runs the command. Exits with the command's status (128 + the
// signal that ended it, 127 when it could not start).

#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "bench/Usage.h"

extern char** environ;

int main(int argc, char** argv) {
    // Only the first argument: the ones after FILE are the command's own.
    if (bench::PrintUsageIfAsked(
            argc, argv,
            "usage: RunMeasured FILE COMMAND [ARGUMENTS...]\n"
            "\n"
            "Runs COMMAND and appends \"CPU_SECONDS WALL_SECONDS PEAK_KB\" of it to FILE: user "
            "and\n"
            "system time of the command and the descendants it waited for, to the microsecond,\n"
            "the wall time from spawn to reaping and the largest resident size. Exits with the\n"
            "command's status (128 + a signal that ended it, 127 when it could not start).\n",
            1)) {
        return 0;
    }
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s FILE COMMAND [ARGUMENTS...]\n", argv[0]);
        return 2;
    }
    timespec start{};
    clock_gettime(CLOCK_MONOTONIC, &start);
    pid_t child = 0;
    const int failed = posix_spawnp(&child, argv[2], nullptr, nullptr, argv + 2, environ);
    if (failed != 0) {
        std::fprintf(stderr, "%s: %s\n", argv[2], std::strerror(failed));
        return 127;
    }
    int status = 0;
    rusage usage{};
    while (wait4(child, &status, 0, &usage) < 0) {
        if (errno != EINTR) {
            std::perror("wait4");
            return 1;
        }
    }
    timespec end{};
    clock_gettime(CLOCK_MONOTONIC, &end);
    const double wall =
        double(end.tv_sec - start.tv_sec) + double(end.tv_nsec - start.tv_nsec) / 1e9;
    auto seconds = [](const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
    FILE* out = std::fopen(argv[1], "a");
    if (out == nullptr ||
        std::fprintf(out, "%.6f %.6f %ld\n", seconds(usage.ru_utime) + seconds(usage.ru_stime),
                     wall, usage.ru_maxrss) < 0 ||
        std::fclose(out) != 0) {
        std::fprintf(stderr, "cannot append to %s\n", argv[1]);
        return 1;
    }
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : 1;
}
