#ifndef PLATFORM_DESKTOP_WEB_PROCESS_MEMORY_GUARD_H
#define PLATFORM_DESKTOP_WEB_PROCESS_MEMORY_GUARD_H
// A hard bound on the memory of WebKit's helper processes (the web and network processes this
// process started), beside WebKit's own memory-pressure settings.
//
// WebKit checks a web process's memory on that process's main thread once per poll interval,
// and only ends it at the check after the one that found it too large; a page whose pictures
// decode to gigabytes (decoder threads adding 3 GB a second while the main thread is busy
// painting) grew for 6 to 23 s before WebKit ended it, to 5 GB and more. The guard reads the
// resident size of each helper from /proc on the GTK thread and ends one past its limit at once
// with SIGKILL; WebKit then tells each web view on that process that it crashed, and
// EndedTheCrashedProcess says it was the guard, so the view can give the real reason.
//
// A page may start growing at any time, and nothing tells of it sooner than a read does, so the
// reads go on while nothing moves: each comes before the largest helper could have passed the
// limit growing as fast as one was seen to, at most every kLongestPollMs (a still portal page:
// about every 400 ms), at least every kShortestPollMs (one near its limit). They are kept to a
// few small files (the helpers' sizes and the list of this process's children).
//
// The helpers are found as children of this process whose name begins with "WebKit" (WebKit's
// sandbox, which would put them under a launcher, is not used), each held by a pidfd from then
// on: once WebKit has reaped a helper its pid may be another program's, which the guard must
// neither read nor end. GTK thread only.

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace ns::desktop {

class WebProcessMemoryGuard {
public:
    // How far apart the reads come, and how fast a helper may grow between them (decoder
    // threads of a page of huge pictures: 3 GB a second).
    static constexpr unsigned kShortestPollMs = 50;
    static constexpr unsigned kLongestPollMs = 500;
    static constexpr uint64_t kFastestGrowthBytesPerSecond = uint64_t{3} << 30;
    // Well above a portal page's web process (about 0.2 to 0.3 GB resident) and above the
    // footprint at which WebKit ends a process itself, so the guard steps in only when WebKit's
    // own check comes too late.
    static constexpr uint64_t kLimitBytes = uint64_t{1536} << 20;
    // How long after the guard ended a helper a crash report counts as that end.
    static constexpr int64_t kRecentMicroseconds = 5'000'000;

    struct Helper {
        pid_t pid;
        std::string name;
        uint64_t residentBytes;
    };

    // Starts watching with the given limit; later calls do nothing (the guard lives as long as
    // the process).
    static void Start(uint64_t limitBytes = kLimitBytes);
    // WebKit is about to start a web process: look through all of /proc for new helpers on every
    // poll for a while (otherwise those the main thread starts are seen in its list of
    // children).
    static void WatchClosely();
    // Asked as WebKit says a web view's process crashed: whether that process is one the guard
    // ended for its memory. WebKit names no process of a view, so the answer is yes only when
    // the guard ended a web process within the last kRecentMicroseconds and no other web
    // process of this one that was there since has ended (any of them may be the view's).
    static bool EndedTheCrashedProcess();
    // WebKit's helper processes of this process now, with their resident sizes.
    static std::vector<Helper> Helpers();
};

}  // namespace ns::desktop

#endif
