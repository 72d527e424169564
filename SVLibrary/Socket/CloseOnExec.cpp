#include "SVLibrary/Socket/CloseOnExec.h"

#include <algorithm>
#include <cstdlib>

#include <dirent.h>
#include <fcntl.h>

namespace SV {

std::vector<int> OpenDescriptorNumbers() {
    std::vector<int> numbers;
    DIR* directory = ::opendir("/proc/self/fd");
    if (directory == nullptr) return numbers;
    const int own = ::dirfd(directory);
    while (const dirent* entry = ::readdir(directory)) {
        if (entry->d_name[0] < '0' || entry->d_name[0] > '9') continue;
        const int fd = std::atoi(entry->d_name);
        if (fd > 2 && fd != own) numbers.push_back(fd);
    }
    ::closedir(directory);
    std::sort(numbers.begin(), numbers.end());
    return numbers;
}

void MarkOpenedSinceCloseOnExec(const std::vector<int>& before) {
    for (const int fd : OpenDescriptorNumbers()) {
        if (std::binary_search(before.begin(), before.end(), fd)) continue;
        const int flags = ::fcntl(fd, F_GETFD);
        if (flags >= 0 && (flags & FD_CLOEXEC) == 0) ::fcntl(fd, F_SETFD, flags | FD_CLOEXEC);
    }
}

}  // namespace SV
