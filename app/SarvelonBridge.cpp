#include "app/SarvelonBridge.h"

namespace {

std::shared_ptr<SarvelonBridge>& Installed() {
    static std::shared_ptr<SarvelonBridge> bridge;
    return bridge;
}

}  // namespace

SarvelonBridge& SarvelonBridge::Current() { return *CurrentShared(); }

std::shared_ptr<SarvelonBridge> SarvelonBridge::CurrentShared() {
    // The engine's bridge holds no state of its own here: one made on first use and never
    // destroyed, so no call can reach a destroyed object at exit.
    static const std::shared_ptr<SarvelonBridge>* engine =
        new std::shared_ptr<SarvelonBridge>(std::make_shared<SarvelonEngineBridge>());
    const std::shared_ptr<SarvelonBridge>& installed = Installed();
    return installed ? installed : *engine;
}

void SarvelonBridge::SetCurrent(std::shared_ptr<SarvelonBridge> bridge) {
    Installed() = std::move(bridge);
}
