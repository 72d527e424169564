#include "platform/desktop/testing/ChildProcesses.h"

#include <dirent.h>
#include <unistd.h>

#include <cstdio>

namespace ns::desktop {

std::vector<pid_t> ChildPidsNamed(const std::string& name) {
    std::vector<pid_t> pids;
    DIR* proc = opendir("/proc");
    if (proc == nullptr) return pids;
    while (dirent* entry = readdir(proc)) {
        const std::string pid = entry->d_name;
        if (pid.find_first_not_of("0123456789") != std::string::npos) continue;
        // A process may end between the listing and the read: its stat then reads as empty
        // (a stream would throw, leaving the listing open).
        std::string text;
        if (FILE* stat = std::fopen(("/proc/" + pid + "/stat").c_str(), "r")) {
            char buffer[1024];
            text.assign(buffer, std::fread(buffer, 1, sizeof buffer, stat));
            std::fclose(stat);
        }
        // "pid (comm) state ppid ..."; comm may hold spaces, so read around the parentheses.
        const size_t open = text.find('('), close = text.rfind(')');
        if (open == std::string::npos || close == std::string::npos) continue;
        const std::string comm = text.substr(open + 1, close - open - 1);
        long ppid = -1;
        char state = 0;
        if (std::sscanf(text.c_str() + close + 1, " %c %ld", &state, &ppid) != 2) continue;
        if (ppid == getpid() && state != 'Z' && comm.rfind(name.substr(0, 15), 0) == 0) {
            pids.push_back(static_cast<pid_t>(std::stol(pid)));
        }
    }
    closedir(proc);
    return pids;
}

int ChildrenNamed(const std::string& name) { return static_cast<int>(ChildPidsNamed(name).size()); }

}  // namespace ns::desktop
