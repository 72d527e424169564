#include "SVLibrary/PilThread/Semaphore.h"

#include <cerrno>
#include <cstring>

#include "SVLibrary/Exception/Exception.h"

namespace SV {

Semaphore::Semaphore(uint32_t initialCount) {
    if (sem_init(&semaphore_, 0, initialCount) != 0) throw SVLibraryException(SVL_SemaphoreCreate);
}

Semaphore::~Semaphore() { sem_destroy(&semaphore_); }

bool Semaphore::TryAcquire() {
    for (;;) {
        if (sem_trywait(&semaphore_) == 0) return true;
        const int error = errno;
        if (error == EAGAIN) return false;
        if (error == EINTR) continue;
        throw SVLibraryException(SVL_SemaphoreTryAcquire, strerror(error));
    }
}

}  // namespace SV
