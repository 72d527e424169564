#include "platform/media/SystemVolume.h"

#include <atomic>
#include <cmath>

#include "platform/core/NotificationCenter.h"

namespace ns {

namespace {

std::atomic<double>& Volume() {
    static std::atomic<double> volume{1.0};
    return volume;
}

}  // namespace

double SystemVolume::Get() { return Volume().load(); }

void SystemVolume::Set(double volume) {
    if (std::isnan(volume)) return;
    const double clamped = volume < 0 ? 0 : (volume > 1 ? 1 : volume);
    if (Volume().exchange(clamped) == clamped) return;
    Dictionary info;
    info.Set(kVolumeKey, clamped);
    NotificationCenter::Default().Post(kDidChange, nullptr, Value(info));
}

}  // namespace ns
