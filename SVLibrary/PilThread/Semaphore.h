#ifndef SVLIBRARY_PILTHREAD_SEMAPHORE_H
#define SVLIBRARY_PILTHREAD_SEMAPHORE_H

#include <semaphore.h>

#include <cstdint>

namespace SV {

// Counting semaphore private to the process. It is unnamed, so two made at the same moment
// can never collide and nothing is left behind in the system's namespace.
// Creation failure throws SVLibraryException 0x19.
class Semaphore {
public:
    explicit Semaphore(uint32_t initialCount);
    ~Semaphore();

    Semaphore(const Semaphore&) = delete;
    Semaphore& operator=(const Semaphore&) = delete;

    // Takes one count without blocking: true when taken, false when the count is 0. Any
    // other failure throws 0x1c.
    bool TryAcquire();

private:
    sem_t semaphore_;
};

}  // namespace SV

#endif
