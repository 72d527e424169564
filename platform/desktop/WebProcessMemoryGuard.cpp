#include "platform/desktop/WebProcessMemoryGuard.h"

#include <dirent.h>
#include <fcntl.h>
#include <glib.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <set>

#include "platform/core/LogWriter.h"

namespace ns::desktop {

namespace {

// A full look through /proc takes a few milliseconds with a few hundred processes, so it runs
// only on every poll for kCloseWatchMs after WebKit says it starts a web process. Otherwise new
// helpers are told by the list of the main thread's children (WebKit starts its helpers from
// that thread), which the kernel keeps in one small file; where it keeps none, the full look
// runs every kFullScanMs instead.
constexpr int64_t kFullScanMs = 2000;
constexpr int64_t kCloseWatchMs = 3000;

// A helper found, with a pidfd that stands for that very process: once WebKit has reaped it,
// its pid may be another program's, but the pidfd then only says it is gone. (A pidfd is
// close-on-exec from the start.)
struct Tracked {
    WebProcessMemoryGuard::Helper helper;
    int pidfd;
};

// A web process the guard ended, and when.
struct End {
    pid_t pid;
    int64_t at;  // g_get_monotonic_time()
};

struct State {
    uint64_t limitBytes = 0;
    int64_t nextFullScan = 0;
    int64_t closeWatchUntil = 0;
    std::vector<Tracked> helpers;  // as last found
    std::vector<pid_t> children;   // of the main thread, as last listed
    std::vector<pid_t> listing;    // the list being read (kept for its storage)
    std::vector<End> ends;         // within kRecentMicroseconds
    // Every web process of ours seen since the earliest of `ends` (other than those ended).
    std::set<pid_t> watched;
};

State& Guard() {
    static State* state = new State();  // deliberately never destroyed
    return *state;
}

// The polls of a still page read the same few files again and again: into a buffer of the
// caller's, with nothing allocated. The text of the small /proc file "/proc/<pid><name>" (the
// first bytes of it that fit, ended by a NUL), its length; -1 when it cannot be read (the
// process has gone).
ssize_t ReadProcFile(pid_t pid, const char* name, char* buffer, size_t size) {
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%d%s", static_cast<int>(pid), name);
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return -1;
    const ssize_t n = read(fd, buffer, size - 1);
    close(fd);
    buffer[n > 0 ? n : 0] = '\0';
    return n;
}

// The text of a small /proc file ("" when it cannot be read: the process has gone).
std::string ReadSmallFile(pid_t pid, const char* name) {
    char buffer[1024];
    return ReadProcFile(pid, name, buffer, sizeof buffer) > 0 ? std::string(buffer) : std::string();
}

// The n-th space-separated field (0: the first) of text from `at` on; null past the end.
const char* Field(const std::string& text, size_t at, int n) {
    const char* p = text.c_str() + std::min(at, text.size());
    for (; *p == ' '; ++p) {
    }
    for (int i = 0; i < n && *p != '\0'; ++i) {
        for (; *p != ' ' && *p != '\0'; ++p) {
        }
        for (; *p == ' '; ++p) {
        }
    }
    return *p != '\0' ? p : nullptr;
}

// From /proc/<pid>/stat: "pid (name) state ppid ... rss ..." where the name may hold spaces
// and parentheses, so the fields are counted from the last ')': the parent is the fourth
// field of the line, the resident size in pages the twenty-fourth.
bool ParseStat(const std::string& stat, std::string* name, pid_t* parent, uint64_t* pages) {
    const size_t open = stat.find('(');
    const size_t close = stat.rfind(')');
    if (open == std::string::npos || close == std::string::npos || close < open) return false;
    const char* ppid = Field(stat, close + 1, 1);
    const char* rss = Field(stat, close + 1, 21);
    if (ppid == nullptr || rss == nullptr) return false;
    *name = stat.substr(open + 1, close - open - 1);
    *parent = static_cast<pid_t>(std::strtol(ppid, nullptr, 10));
    *pages = std::strtoull(rss, nullptr, 10);
    return true;
}

uint64_t PageBytes() { return static_cast<uint64_t>(sysconf(_SC_PAGESIZE)); }

// Through syscall(): this C library's <sys/pidfd.h> declares them without C linkage.
int OpenPidfd(pid_t pid) { return static_cast<int>(syscall(SYS_pidfd_open, pid, 0)); }
int SignalPidfd(int pidfd, int signal) {
    return static_cast<int>(syscall(SYS_pidfd_send_signal, pidfd, signal, nullptr, 0));
}

// "WebKitWebProcess" as the kernel keeps it (15 bytes).
bool IsWebProcess(const WebProcessMemoryGuard::Helper& helper) {
    return helper.name == "WebKitWebProces";
}

// Whether the process a pidfd stands for is still there (a zombie not reaped yet counts).
bool Alive(int pidfd) { return SignalPidfd(pidfd, 0) == 0; }

// The helper with this pid, from its /proc/<pid>/stat, when it is one of this process's.
bool ReadHelper(pid_t pid, WebProcessMemoryGuard::Helper* helper) {
    uint64_t pages = 0;
    pid_t parent = 0;
    if (!ParseStat(ReadSmallFile(pid, "/stat"), &helper->name, &parent, &pages) ||
        parent != getpid() || helper->name.compare(0, 6, "WebKit") != 0) {
        return false;
    }
    helper->pid = pid;
    helper->residentBytes = pages * PageBytes();
    return true;
}

// The children of the main thread, in ascending order; false when the kernel lists none.
bool ListChildren(std::vector<pid_t>* children) {
    char name[32];
    std::snprintf(name, sizeof name, "/task/%d/children", static_cast<int>(getpid()));
    char text[4096];
    children->clear();
    if (ReadProcFile(getpid(), name, text, sizeof text) < 0) return false;
    const char* p = text;
    for (char* end = nullptr;; p = end) {
        const long pid = std::strtol(p, &end, 10);
        if (end == p) break;
        children->push_back(static_cast<pid_t>(pid));
    }
    std::sort(children->begin(), children->end());
    return true;
}

// The helpers among these processes and those found before.
std::vector<WebProcessMemoryGuard::Helper> HelpersAmong(std::vector<pid_t> pids,
                                                        const std::vector<Tracked>& known) {
    for (const Tracked& tracked : known) pids.push_back(tracked.helper.pid);
    std::sort(pids.begin(), pids.end());
    pids.erase(std::unique(pids.begin(), pids.end()), pids.end());
    std::vector<WebProcessMemoryGuard::Helper> helpers;
    WebProcessMemoryGuard::Helper helper;
    for (const pid_t pid : pids) {
        if (ReadHelper(pid, &helper)) helpers.push_back(helper);
    }
    return helpers;
}

// /proc/<pid>/stat of a child of this process named as WebKit's helpers are, now.
bool IsOurHelper(pid_t pid) {
    WebProcessMemoryGuard::Helper helper;
    return ReadHelper(pid, &helper);
}

void Forget(std::vector<Tracked>& helpers) {
    for (const Tracked& tracked : helpers) close(tracked.pidfd);
    helpers.clear();
}

// The helpers found, each held by a pidfd taken before its name and parent were read again (so
// the pidfd is that helper's); those held already keep theirs.
std::vector<Tracked> Find(std::vector<Tracked>& known,
                          const std::vector<WebProcessMemoryGuard::Helper>& helpers) {
    std::vector<Tracked> found;
    for (const WebProcessMemoryGuard::Helper& helper : helpers) {
        auto held = std::find_if(known.begin(), known.end(), [&](const Tracked& t) {
            return t.helper.pid == helper.pid && Alive(t.pidfd);
        });
        if (held != known.end()) {
            found.push_back(Tracked{helper, held->pidfd});
            known.erase(held);
            continue;
        }
        const int pidfd = OpenPidfd(helper.pid);
        if (pidfd < 0) continue;  // gone already
        if (!IsOurHelper(helper.pid)) {
            close(pidfd);
            continue;
        }
        found.push_back(Tracked{helper, pidfd});
    }
    Forget(known);
    return found;
}

// The helpers found before, read again ("size resident ..." in pages); those gone are dropped.
// A pid is another process's only after the helper was reaped, which its pidfd tells: read
// first, then asked whether the helper is still there.
void ReadKnown(std::vector<Tracked>& known) {
    char statm[128];
    for (auto tracked = known.begin(); tracked != known.end();) {
        const bool read = ReadProcFile(tracked->helper.pid, "/statm", statm, sizeof statm) > 0;
        char* resident = nullptr;
        const char* size = statm;
        std::strtoull(size, &resident, 10);
        if (!read || resident == size || !Alive(tracked->pidfd)) {
            close(tracked->pidfd);
            tracked = known.erase(tracked);
            continue;
        }
        tracked->helper.residentBytes = std::strtoull(resident, nullptr, 10) * PageBytes();
        ++tracked;
    }
}

// Drops the ends of more than kRecentMicroseconds ago, and what was watched for them.
void DropOldEnds(State& guard, int64_t now) {
    guard.ends.erase(std::remove_if(guard.ends.begin(), guard.ends.end(),
                                    [&](const End& end) {
                                        return now - end.at >
                                               WebProcessMemoryGuard::kRecentMicroseconds;
                                    }),
                     guard.ends.end());
    if (guard.ends.empty()) guard.watched.clear();
}

// While an end is recent, every web process found is one whose end would make a crash report
// ambiguous.
void Watch(State& guard) {
    if (guard.ends.empty()) return;
    for (const Tracked& tracked : guard.helpers) {
        if (IsWebProcess(tracked.helper)) guard.watched.insert(tracked.helper.pid);
    }
}

// Reads the helpers and ends those past the limit; the milliseconds until the next read.
unsigned Check() {
    State& guard = Guard();
    const int64_t now = g_get_monotonic_time();
    const bool listed = ListChildren(&guard.listing);
    if (now < guard.closeWatchUntil || (!listed && now >= guard.nextFullScan)) {
        guard.helpers = Find(guard.helpers, WebProcessMemoryGuard::Helpers());
        guard.nextFullScan = now + kFullScanMs * 1000;
    } else if (listed && guard.listing != guard.children) {
        guard.helpers = Find(guard.helpers, HelpersAmong(guard.listing, guard.helpers));
    } else {
        ReadKnown(guard.helpers);
    }
    std::swap(guard.children, guard.listing);
    DropOldEnds(guard, now);
    Watch(guard);
    for (const Tracked& tracked : guard.helpers) {
        const WebProcessMemoryGuard::Helper& helper = tracked.helper;
        if (helper.residentBytes <= guard.limitBytes) continue;
        ns::Log("[WEB] %s %d uses %llu MB, past the %llu MB its pages may use: ended",
                helper.name.c_str(), static_cast<int>(helper.pid),
                static_cast<unsigned long long>(helper.residentBytes >> 20),
                static_cast<unsigned long long>(guard.limitBytes >> 20));
        if (SignalPidfd(tracked.pidfd, SIGKILL) != 0) continue;
        if (!IsWebProcess(helper)) continue;  // no web view was shown by it
        // The others there now are watched from here on; so is this one's pid no more.
        guard.ends.push_back(End{helper.pid, g_get_monotonic_time()});
        Watch(guard);
        guard.watched.erase(helper.pid);
    }
    uint64_t largest = 0;
    for (const Tracked& tracked : guard.helpers) {
        largest = std::max(largest, tracked.helper.residentBytes);
    }
    const uint64_t headroom = largest < guard.limitBytes ? guard.limitBytes - largest : 0;
    const uint64_t ms = headroom * 1000 / WebProcessMemoryGuard::kFastestGrowthBytesPerSecond;
    return static_cast<unsigned>(std::clamp<uint64_t>(ms, WebProcessMemoryGuard::kShortestPollMs,
                                                      WebProcessMemoryGuard::kLongestPollMs));
}

// A source that is due at the time set for the next read (one allocated once, none per read).
gboolean DispatchCheck(GSource* source, GSourceFunc, gpointer) {
    const unsigned ms = Check();
    g_source_set_ready_time(source, g_get_monotonic_time() + int64_t{ms} * 1000);
    return G_SOURCE_CONTINUE;
}

GSourceFuncs checkSourceFuncs = {nullptr, nullptr, DispatchCheck, nullptr, nullptr, nullptr};

}  // namespace

void WebProcessMemoryGuard::Start(uint64_t limit) {
    State& guard = Guard();
    if (guard.limitBytes != 0) return;
    guard.limitBytes = limit;
    GSource* source = g_source_new(&checkSourceFuncs, sizeof(GSource));
    g_source_set_ready_time(source, g_get_monotonic_time());
    g_source_attach(source, nullptr);  // the default context keeps it
    g_source_unref(source);
}

void WebProcessMemoryGuard::WatchClosely() {
    Guard().closeWatchUntil = g_get_monotonic_time() + kCloseWatchMs * 1000;
}

bool WebProcessMemoryGuard::EndedTheCrashedProcess() {
    State& guard = Guard();
    DropOldEnds(guard, g_get_monotonic_time());
    if (guard.ends.empty()) return false;
    // A web process of ours that was there beside the one ended and has ended too (or is
    // ending: a zombie) may be the one that crashed: the crash is then not known to be ours.
    std::set<pid_t> running;
    for (const Helper& helper : Helpers()) {
        if (IsWebProcess(helper) && helper.residentBytes > 0) running.insert(helper.pid);
    }
    for (const pid_t pid : guard.watched) {
        const bool endedToo = running.count(pid) == 0;
        const bool ours = std::any_of(guard.ends.begin(), guard.ends.end(),
                                      [pid](const End& end) { return end.pid == pid; });
        if (endedToo && !ours) return false;
    }
    return true;
}

std::vector<WebProcessMemoryGuard::Helper> WebProcessMemoryGuard::Helpers() {
    std::vector<Helper> helpers;
    DIR* proc = opendir("/proc");
    if (proc == nullptr) return helpers;
    Helper helper;
    while (const dirent* entry = readdir(proc)) {
        if (entry->d_name[0] < '1' || entry->d_name[0] > '9') continue;
        if (ReadHelper(static_cast<pid_t>(std::strtol(entry->d_name, nullptr, 10)), &helper)) {
            helpers.push_back(helper);
        }
    }
    closedir(proc);
    return helpers;
}

}  // namespace ns::desktop
