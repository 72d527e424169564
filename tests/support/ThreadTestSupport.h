#ifndef TESTS_SUPPORT_THREADTESTSUPPORT_H
#define TESTS_SUPPORT_THREADTESTSUPPORT_H

// Header-only helpers for tests of threaded code: the kernel's view of this process's threads,
// and polling for a condition that another thread brings about.

#include <dirent.h>
#include <sys/syscall.h>
#include <unistd.h>

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

// The scheduler state in a /proc/.../stat line, the letter after the name: 0 when unreadable.
// "tid (name) state ...": the name may hold spaces and parentheses, the state follows the last
// ") ".
inline char StateInStat(const std::string& stat) {
    const size_t close = stat.rfind(") ");
    return close != std::string::npos && close + 2 < stat.size() ? stat[close + 2] : 0;
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
        if (const char state = StateInStat(stat)) states += state;
    }
    closedir(dir);
    return states;
}

// The kernel's id of the calling thread, for ThreadState.
inline pid_t ThisThreadId() { return static_cast<pid_t>(syscall(SYS_gettid)); }

// The scheduler state of this process's thread with that id, as ThreadStates reads it; 0 when
// there is none (an id not yet noted, or a thread that has ended).
inline char ThreadState(pid_t tid) {
    if (tid <= 0) return 0;
    std::ifstream statFile("/proc/self/task/" + std::to_string(tid) + "/stat");
    std::string stat;
    if (!std::getline(statFile, stat)) return 0;
    return StateInStat(stat);
}

// The thread is asleep in a wait. A thread that has been woken counts as running from the
// moment the waking call returns, so one seen asleep after a post has already dealt with it,
// or was never woken by it.
inline bool IsAsleep(pid_t tid) { return ThreadState(tid) == 'S'; }

// How often the thread has gone to sleep (its voluntary context switches); -1 when there is no
// such thread.
inline long SleepsOf(pid_t tid) {
    std::ifstream status("/proc/self/task/" + std::to_string(tid) + "/status");
    const std::string label = "voluntary_ctxt_switches:";
    std::string line;
    while (std::getline(status, line)) {
        if (line.compare(0, label.size(), label) == 0) return std::stol(line.substr(label.size()));
    }
    return -1;
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
