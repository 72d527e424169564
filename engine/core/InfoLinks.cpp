#include "engine/core/InfoLinks.h"

namespace SarvelonMediaKit {

InfoLinks::State& InfoLinks::GetState() {
    // Made on first use and never destroyed: sources and monitors that are statics of their
    // own may still detach while the process exits.
    static State* state = new State;
    return *state;
}

std::mutex& InfoLinks::Lock() { return GetState().lock; }

void InfoLinks::BeginDelivery(Delivery& delivery) {
    State& state = GetState();
    delivery.previous = nullptr;
    delivery.next = state.deliveries;
    if (state.deliveries != nullptr) state.deliveries->previous = &delivery;
    state.deliveries = &delivery;
    delivery.linked = true;
}

void InfoLinks::EndDelivery(Delivery& delivery) {
    State& state = GetState();
    if (delivery.previous != nullptr) {
        delivery.previous->next = delivery.next;
    } else {
        state.deliveries = delivery.next;
    }
    if (delivery.next != nullptr) delivery.next->previous = delivery.previous;
    delivery.previous = nullptr;
    delivery.next = nullptr;
    delivery.linked = false;
    if (state.waiters != 0) state.deliveryEnded.notify_all();
}

void InfoLinks::WaitForDeliveries(std::unique_lock<std::mutex>& lock, const void* source,
                                  const void* monitor) {
    State& state = GetState();
    const std::thread::id self = std::this_thread::get_id();
    for (;;) {
        bool running = false;
        for (const Delivery* d = state.deliveries; d != nullptr && !running; d = d->next) {
            running = d->thread != self && (source == nullptr || d->source == source) &&
                      (monitor == nullptr || d->monitor == monitor);
        }
        if (!running) return;
        ++state.waiters;
        state.deliveryEnded.wait(lock);
        --state.waiters;
    }
}

}  // namespace SarvelonMediaKit
