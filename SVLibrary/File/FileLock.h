#ifndef SVLIBRARY_FILE_FILELOCK_H
#define SVLIBRARY_FILE_FILELOCK_H

#include <cstdint>
#include <string>

namespace SV {

// An exclusive advisory lock on a lock file, between processes and between separate opens in
// one process. The lock lives as long as the descriptor; the file stays on disk.
class FileLock {
public:
    static constexpr uint32_t kNoTimeout = 0xFFFFFFFF;

    explicit FileLock(const std::string& path) : path(path) {}
    // Releases a lock still held, so a forgotten Release cannot keep it for the process's life.
    ~FileLock() { Release(); }

    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    // One attempt that never waits: opens (creating with mode 0666) and locks the file. True
    // when the lock is held afterwards.
    bool TryAcquire();

    // Tries every 10 ms until the lock is held or timeoutMilliseconds (kNoTimeout: none) have
    // passed. On time-out with removeStale the lock file is deleted and one more attempt made,
    // for a lock left behind by a holder that no longer runs.
    bool Acquire(uint32_t timeoutMilliseconds, bool removeStale);

    // Closes the descriptor, which drops the lock.
    void Release();

    std::string path;
    int descriptor = -1;
};

}  // namespace SV

#endif
