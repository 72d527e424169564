#ifndef ENGINE_CORE_STREAMINFOSOURCE_H
#define ENGINE_CORE_STREAMINFOSOURCE_H

#include <cstddef>

#include "engine/core/InfoSource.h"
#include "engine/core/StreamInfoMonitor.h"

namespace SarvelonMediaKit {

// Publisher of stream events; each call reaches every attached StreamInfoMonitor.
class StreamInfoSource : public InfoSource<StreamInfoSource, StreamInfoMonitor> {
public:
    ~StreamInfoSource() override {}

    void PublishTracks(const StreamInfoMonitor::TrackMap& tracks, bool complete);
    void PublishCurrentTrack(const boost::shared_ptr<MediaTrack>& track);
    void PublishDuration(MediaTime duration);
    void PublishEndPosition(BytePosition size);
    void PublishTrickPlayAvailable(bool available);
    void PublishPreloadComplete();
    void PublishTimestamp(uint32_t streamType, MediaTime firstTime, MediaTime secondTime);

    // One media time report, as PublishTimestamp takes it.
    struct Timestamp {
        uint32_t streamType;
        MediaTime firstTime;
        MediaTime secondTime;
    };
    // Reports count media times in one publication: each monitor gets every one of them, in
    // order, as count calls of MediaTimeAvailable. A parser meets a time at every packet, and
    // one publication per packet costs more in delivery bookkeeping than the parse itself.
    void PublishTimestamps(const Timestamp* times, size_t count);
};

}  // namespace SarvelonMediaKit

#endif
