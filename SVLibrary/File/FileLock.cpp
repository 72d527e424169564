#include "SVLibrary/File/FileLock.h"

#include <cerrno>
#include <cstdio>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "SVLibrary/Time/PilTime.h"

namespace SV {

bool FileLock::TryAcquire() {
    if (descriptor >= 0) return true;
    int fd = ::open(path.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) return false;
    // Non-blocking: a lock held elsewhere fails this attempt so Acquire's time-out applies.
    int result;
    do {
        result = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (result != 0 && errno == EINTR);
    if (result != 0) {
        ::close(fd);
        return false;
    }
    descriptor = fd;
    return true;
}

bool FileLock::Acquire(uint32_t timeoutMilliseconds, bool removeStale) {
    const PilTime start;
    if (descriptor >= 0) return true;
    for (;;) {
        if (TryAcquire()) return true;
        if (timeoutMilliseconds != kNoTimeout &&
            PilTime() - start >= static_cast<int64_t>(timeoutMilliseconds)) {
            if (!removeStale) return false;
            std::remove(path.c_str());
            return TryAcquire();
        }
        ::usleep(10000);
    }
}

void FileLock::Release() {
    if (descriptor >= 0) {
        ::close(descriptor);
        descriptor = -1;
    }
}

}  // namespace SV
