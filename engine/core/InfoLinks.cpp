#include "engine/core/InfoLinks.h"

namespace SarvelonMediaKit {

InfoLinks::State& InfoLinks::GetState() {
    // Made on first use and never destroyed: sources and monitors that are statics of their
    // own may still detach while the process exits.
    static State* state = new State;
    return *state;
}

std::mutex& InfoLinks::Lock() { return GetState().lock; }

InfoLinks::DeliveryHandle InfoLinks::BeginDelivery(const void* source, const void* monitor) {
    State& state = GetState();
    Delivery delivery = {source, monitor, std::this_thread::get_id()};
    return state.deliveries.insert(state.deliveries.end(), delivery);
}

void InfoLinks::EndDelivery(DeliveryHandle delivery) {
    State& state = GetState();
    state.deliveries.erase(delivery);
    state.deliveryEnded.notify_all();
}

void InfoLinks::WaitForDeliveries(std::unique_lock<std::mutex>& lock, const void* source,
                                  const void* monitor) {
    State& state = GetState();
    const std::thread::id self = std::this_thread::get_id();
    for (;;) {
        bool running = false;
        for (std::list<Delivery>::const_iterator it = state.deliveries.begin();
             it != state.deliveries.end() && !running; ++it) {
            running = it->thread != self && (source == nullptr || it->source == source) &&
                      (monitor == nullptr || it->monitor == monitor);
        }
        if (!running) return;
        state.deliveryEnded.wait(lock);
    }
}

}  // namespace SarvelonMediaKit
