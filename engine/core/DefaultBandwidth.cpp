#include "engine/core/DefaultBandwidth.h"

#include <atomic>
#include <cstdint>

namespace SarvelonMediaKit {

namespace {

// A plain word with constant initialisation: usable at any time, never destroyed.
std::atomic<uint32_t> defaultBandwidth(0xFFFFFFFFu);

}  // namespace

void SetDefaultBandwidth(ByteAmount bandwidth) { defaultBandwidth = bandwidth.Get(); }

ByteAmount GetDefaultBandwidth() { return defaultBandwidth.load(); }

}  // namespace SarvelonMediaKit
