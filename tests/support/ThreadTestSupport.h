#ifndef TESTS_SUPPORT_THREADTESTSUPPORT_H
#define TESTS_SUPPORT_THREADTESTSUPPORT_H

// Header-only helpers for tests of threaded code: the kernel's view of this process's threads,
// and polling for a condition that another thread brings about.

#include <dirent.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace SvTestSupport {

// The names of the threads of this process, as /proc/self/task/*/comm shows them.
inline std::vector<std::string> ThreadNames() {
    std::vector<std::string> names;
    DIR* dir = opendir("/proc/self/task");
    if (dir == nullptr) return names;
    while (dirent* entry = readdir(dir)) {
        if (entry->d_name[0] == '.') continue;
        std::ifstream comm(std::string("/proc/self/task/") + entry->d_name + "/comm");
        std::string name;
        if (std::getline(comm, name)) names.push_back(name);
    }
    closedir(dir);
    return names;
}

inline int ThreadsNamed(const std::string& name) {
    int count = 0;
    for (const std::string& n : ThreadNames()) count += n == name;
    return count;
}

// The scheduler state of each thread of this process with that name, the letter that
// /proc/self/task/*/stat shows after the name: 'S' asleep in a wait, 'R' running or ready to.
inline std::string ThreadStates(const std::string& name) {
    std::string states;
    DIR* dir = opendir("/proc/self/task");
    if (dir == nullptr) return states;
    while (dirent* entry = readdir(dir)) {
        if (entry->d_name[0] == '.') continue;
        const std::string task = std::string("/proc/self/task/") + entry->d_name;
        std::ifstream comm(task + "/comm");
        std::string threadName;
        if (!std::getline(comm, threadName) || threadName != name) continue;
        std::ifstream statFile(task + "/stat");
        std::string stat;
        std::getline(statFile, stat);
        // "tid (name) state ...": the name may hold spaces and parentheses, the state follows
        // the last ") ".
        const size_t close = stat.rfind(") ");
        if (close != std::string::npos && close + 2 < stat.size()) states += stat[close + 2];
    }
    closedir(dir);
    return states;
}

// Polls until the condition holds; false once the time is up. The limit only bounds a failing
// test: on a loaded machine (sanitizers, parallel ctest) a passing one may need seconds.
inline bool WaitUntil(const std::function<bool()>& condition, int timeoutMs = 10000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

}  // namespace SvTestSupport

#endif
