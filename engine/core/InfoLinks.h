#ifndef ENGINE_CORE_INFOLINKS_H
#define ENGINE_CORE_INFOLINKS_H

#include <condition_variable>
#include <list>
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
    struct Delivery {
        const void* source;
        const void* monitor;
        std::thread::id thread;
    };
    typedef std::list<Delivery>::iterator DeliveryHandle;

    // The lock that guards every link set and the delivery record.
    static std::mutex& Lock();

    // The caller holds Lock().
    static DeliveryHandle BeginDelivery(const void* source, const void* monitor);
    static void EndDelivery(DeliveryHandle delivery);

    // Waits, with `lock` (on Lock()) held, until no delivery from source to monitor runs on
    // another thread; a null source or monitor matches any. Deliveries on the calling thread
    // do not count, so a monitor's event may detach it without waiting for itself.
    static void WaitForDeliveries(std::unique_lock<std::mutex>& lock, const void* source,
                                  const void* monitor);

private:
    struct State {
        std::mutex lock;
        std::condition_variable deliveryEnded;
        std::list<Delivery> deliveries;
    };
    static State& GetState();
};

}  // namespace SarvelonMediaKit

#endif
