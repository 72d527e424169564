#ifndef ENGINE_CORE_INFOLINKS_H
#define ENGINE_CORE_INFOLINKS_H

#include <condition_variable>
#include <mutex>
#include <thread>

namespace SarvelonMediaKit {

// The bookkeeping shared by every information source and monitor: one process-wide lock that
// guards all their link sets, and the record of the deliveries now running.
//
// One lock for all links makes every attach and detach change both sides at once, so a source
// and a monitor may be destroyed on two threads at the same time without either touching the
// other after it has gone. The lock is never held while a monitor's event runs; the delivery
// record lets a detach wait until a delivery already running elsewhere has returned.
class InfoLinks {
public:
    // One delivery now running: a record that lives on the delivering thread's stack, linked
    // into the list of running deliveries while it runs (no allocation per event).
    struct Delivery {
        explicit Delivery(const void* from)
            : source(from), monitor(nullptr), thread(std::this_thread::get_id()) {}
        Delivery(const Delivery&) = delete;
        Delivery& operator=(const Delivery&) = delete;

        const void* source;
        const void* monitor;
        std::thread::id thread;
        bool linked = false;
        Delivery* previous = nullptr;
        Delivery* next = nullptr;
    };

    // The lock that guards every link set and the delivery record.
    static std::mutex& Lock();

    // The caller holds Lock(). A delivery is begun once and ended once before it is begun
    // again or goes away.
    static void BeginDelivery(Delivery& delivery);
    static void EndDelivery(Delivery& delivery);

    // Waits, with `lock` (on Lock()) held, until no delivery from source to monitor runs on
    // another thread; a null source or monitor matches any. Deliveries on the calling thread
    // do not count, so a monitor's event may detach it without waiting for itself.
    static void WaitForDeliveries(std::unique_lock<std::mutex>& lock, const void* source,
                                  const void* monitor);

private:
    struct State {
        std::mutex lock;
        std::condition_variable deliveryEnded;
        Delivery* deliveries = nullptr;  // the running ones, newest first
        int waiters = 0;                 // threads in WaitForDeliveries: only they need waking
    };
    static State& GetState();
};

}  // namespace SarvelonMediaKit

#endif
