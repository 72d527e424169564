#include "platform/desktop/WebProcessMemoryGuard.h"

#include <dirent.h>
#include <fcntl.h>
#include <glib.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>

#include "platform/core/LogWriter.h"

namespace ns::desktop {

namespace {

// A full look through /proc takes a few milliseconds with a few hundred processes: it runs every
// kFullScanMs, and on every poll for kCloseWatchMs after WebKit says it starts a web process.
// Between those only the helpers already found are read.
constexpr int64_t kFullScanMs = 2000;
constexpr int64_t kCloseWatchMs = 3000;

struct State {
    uint64_t limitBytes = 0;
    int64_t lastEnd = -1;  // g_get_monotonic_time() of the last end; -1: none yet
    int64_t nextFullScan = 0;
    int64_t closeWatchUntil = 0;
    std::vector<WebProcessMemoryGuard::Helper> helpers;  // as last found
};

State& Guard() {
    static State* state = new State();  // deliberately never destroyed
    return *state;
}

// The text of a small /proc file ("" when it cannot be read: the process has gone).
std::string ReadSmallFile(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::string();
    char buffer[1024];
    const ssize_t n = read(fd, buffer, sizeof buffer - 1);
    close(fd);
    return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : std::string();
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

// The helpers found before, read again ("size resident ..." in pages); those gone are left out.
std::vector<WebProcessMemoryGuard::Helper> ReadKnown(
    const std::vector<WebProcessMemoryGuard::Helper>& known) {
    std::vector<WebProcessMemoryGuard::Helper> helpers;
    for (const WebProcessMemoryGuard::Helper& helper : known) {
        const std::string statm = ReadSmallFile("/proc/" + std::to_string(helper.pid) + "/statm");
        const char* resident = Field(statm, 0, 1);
        if (resident == nullptr) continue;
        helpers.push_back(helper);
        helpers.back().residentBytes = std::strtoull(resident, nullptr, 10) * PageBytes();
    }
    return helpers;
}

gboolean Check(gpointer) {
    State& guard = Guard();
    const int64_t now = g_get_monotonic_time();
    if (now >= guard.nextFullScan || now < guard.closeWatchUntil) {
        guard.helpers = WebProcessMemoryGuard::Helpers();
        guard.nextFullScan = now + kFullScanMs * 1000;
    } else {
        guard.helpers = ReadKnown(guard.helpers);
    }
    for (const WebProcessMemoryGuard::Helper& helper : guard.helpers) {
        if (helper.residentBytes <= guard.limitBytes) continue;
        ns::Log("[WEB] %s %d uses %llu MB, past the %llu MB its pages may use: ended",
                helper.name.c_str(), static_cast<int>(helper.pid),
                static_cast<unsigned long long>(helper.residentBytes >> 20),
                static_cast<unsigned long long>(guard.limitBytes >> 20));
        if (kill(helper.pid, SIGKILL) == 0) guard.lastEnd = g_get_monotonic_time();
    }
    return G_SOURCE_CONTINUE;
}

}  // namespace

void WebProcessMemoryGuard::Start(uint64_t limit) {
    State& guard = Guard();
    if (guard.limitBytes != 0) return;
    guard.limitBytes = limit;
    g_timeout_add(kPollMs, &Check, nullptr);
}

void WebProcessMemoryGuard::WatchClosely() {
    Guard().closeWatchUntil = g_get_monotonic_time() + kCloseWatchMs * 1000;
}

bool WebProcessMemoryGuard::EndedOneRecently() {
    const int64_t lastEnd = Guard().lastEnd;
    return lastEnd >= 0 && g_get_monotonic_time() - lastEnd <= kRecentMicroseconds;
}

std::vector<WebProcessMemoryGuard::Helper> WebProcessMemoryGuard::Helpers() {
    std::vector<Helper> helpers;
    DIR* proc = opendir("/proc");
    if (proc == nullptr) return helpers;
    const pid_t self = getpid();
    while (const dirent* entry = readdir(proc)) {
        if (entry->d_name[0] < '1' || entry->d_name[0] > '9') continue;
        const std::string stat = ReadSmallFile(std::string("/proc/") + entry->d_name + "/stat");
        std::string name;
        pid_t parent = 0;
        uint64_t pages = 0;
        if (!ParseStat(stat, &name, &parent, &pages)) continue;
        if (parent != self || name.compare(0, 6, "WebKit") != 0) continue;
        helpers.push_back(Helper{static_cast<pid_t>(std::strtol(entry->d_name, nullptr, 10)), name,
                                 pages * PageBytes()});
    }
    closedir(proc);
    return helpers;
}

}  // namespace ns::desktop
