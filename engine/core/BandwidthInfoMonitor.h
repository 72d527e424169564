#ifndef ENGINE_CORE_BANDWIDTHINFOMONITOR_H
#define ENGINE_CORE_BANDWIDTHINFOMONITOR_H

#include "SVLibrary/Types/SarvelonMediaKitTypes.h"
#include "engine/core/InfoSource.h"

namespace SarvelonMediaKit {

class BandwidthInfoSource;

// Subscriber to download-rate measurements; every subscriber must handle them.
class BandwidthInfoMonitor : public InfoMonitor<BandwidthInfoSource, BandwidthInfoMonitor> {
public:
    ~BandwidthInfoMonitor() override {}

    // A rate in bytes per second; measured tells a measurement from a stated value.
    virtual void BandwidthUpdate(ByteAmount bandwidth, bool measured) = 0;
};

}  // namespace SarvelonMediaKit

#endif
