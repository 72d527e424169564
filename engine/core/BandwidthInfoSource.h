#ifndef ENGINE_CORE_BANDWIDTHINFOSOURCE_H
#define ENGINE_CORE_BANDWIDTHINFOSOURCE_H

#include <boost/function.hpp>

#include <atomic>
#include <cstdint>
#include <list>

#include "SVLibrary/Time/PilTime.h"
#include "SVLibrary/Types/SarvelonMediaKitTypes.h"
#include "engine/core/BandwidthInfoMonitor.h"
#include "engine/core/InfoSource.h"

namespace SarvelonMediaKit {

// Measures a download rate and publishes it to its monitors and as the process-wide default.
//
// The owner reports the start of every request and every block of data with the time it
// happened, and calls Publish periodically. The source keeps a sliding window of these
// events: 5 seconds of wall time, stretched by the time spent waiting for first bytes, and never
// more than 10 MiB of data; the rate is the bytes in the window over the time data was really
// flowing. Nothing is recorded or published while no monitor is attached.
//
// The owner calls RecordStart, RecordData and Publish from one thread at a time; monitors are
// called on the thread that calls Publish.
class BandwidthInfoSource : public InfoSource<BandwidthInfoSource, BandwidthInfoMonitor> {
public:
    // Where Publish reads "now"; tests drive it instead of sleeping.
    typedef boost::function<SV::PilTime()> Clock;

    // One recorded event.
    struct BandwidthEvent {
        BandwidthEvent(const SV::PilTime& time, uint32_t bytes);

        bool isStart;  // a request started (a record of 0 bytes counts as one too)
        SV::PilTime time;
        // Data: the byte count. Start: the wait in ms until the first data, 0 until it came.
        uint32_t amount;
    };

    BandwidthInfoSource();
    explicit BandwidthInfoSource(const Clock& clock);
    ~BandwidthInfoSource() override;

    // A request started at time; its first skip bytes are not counted.
    void RecordStart(const SV::PilTime& time, unsigned skip);
    // bytes arrived at time.
    void RecordData(const SV::PilTime& time, unsigned bytes);
    // Computes and publishes the rate when one is due (at most every 500 ms).
    void Publish();
    // Stores the value, makes it the default bandwidth and hands it to every monitor.
    void Notify(ByteAmount bandwidth, bool measured);
    // The value published last; 0 before the first.
    ByteAmount MeasuredBandwidth() const { return lastBandwidth_.load(); }

private:
    // Time spent waiting for first bytes inside the window, as seen at now.
    int64_t IdleAt(int64_t now) const;
    void Prune(const SV::PilTime& now);

    std::list<BandwidthEvent> events_;  // oldest first
    uint64_t totalBytes_;               // bytes of the data events in events_
    uint32_t idleTime_;                 // waits of the start events in events_, ms
    uint32_t skipBytes_;                // still to ignore after the last start
    SV::PilTime lastReport_;
    std::atomic<uint32_t> lastBandwidth_;
    Clock clock_;
};

}  // namespace SarvelonMediaKit

#endif
