#ifndef ENGINE_CORE_STREAMINFOSOURCE_H
#define ENGINE_CORE_STREAMINFOSOURCE_H

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
};

}  // namespace SarvelonMediaKit

#endif
