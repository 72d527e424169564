#include "platform/store/SearchPaths.h"

#include <errno.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

namespace ns {

namespace {

bool IsDirectory(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

void DropTrailingSlashes(std::string& path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
}

}  // namespace

std::string SearchPaths::HomeDirectory() {
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] != '\0') {
        std::string result = home;
        DropTrailingSlashes(result);
        return result;
    }
    long size = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<size_t>(size) : 16384);
    struct passwd entry;
    struct passwd* found = nullptr;
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) != 0 ||
        found == nullptr || found->pw_dir == nullptr || found->pw_dir[0] == '\0') {
        return std::string();
    }
    std::string result = found->pw_dir;
    DropTrailingSlashes(result);
    return result;
}

std::string SearchPaths::DocumentsDirectory() {
    const char* forced = std::getenv("SV_DOCUMENTS_DIR");
    std::string path;
    if (forced != nullptr && forced[0] != '\0') {
        path = forced;
        if (path == "~" || path.compare(0, 2, "~/") == 0) {
            const std::string home = HomeDirectory();
            if (home.empty()) return std::string();
            path = home + path.substr(1);
        }
    } else {
        const std::string home = HomeDirectory();
        if (home.empty()) return std::string();
        path = home + "/Documents";
    }
    DropTrailingSlashes(path);
    return path;
}

bool SearchPaths::CreateDirectory(const std::string& path) {
    if (path.empty()) return false;
    // Make each missing component in turn, from the root down; a component that exists must
    // be a directory (or lead to one).
    size_t pos = 0;
    while (pos != std::string::npos) {
        pos = path.find('/', pos + 1);
        const std::string prefix = path.substr(0, pos);
        if (prefix.empty() || prefix == "/") continue;
        if (mkdir(prefix.c_str(), 0777) != 0 && errno != EEXIST) return false;
        if (!IsDirectory(prefix)) return false;
    }
    return IsDirectory(path);
}

}  // namespace ns
