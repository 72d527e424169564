#include "app/SarvelonBridge.h"

namespace {

std::shared_ptr<SarvelonBridge>& Installed() {
    static std::shared_ptr<SarvelonBridge> bridge;
    return bridge;
}

}  // namespace

SarvelonBridge& SarvelonBridge::Current() {
    // The engine's bridge holds no state of its own here: one made on first use and never
    // destroyed, so no call can reach a destroyed object at exit.
    static SarvelonEngineBridge* engine = new SarvelonEngineBridge();
    const std::shared_ptr<SarvelonBridge>& installed = Installed();
    return installed ? *installed : *engine;
}

void SarvelonBridge::SetCurrent(std::shared_ptr<SarvelonBridge> bridge) {
    Installed() = std::move(bridge);
}
