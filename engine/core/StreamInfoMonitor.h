#ifndef ENGINE_CORE_STREAMINFOMONITOR_H
#define ENGINE_CORE_STREAMINFOMONITOR_H

#include <boost/shared_ptr.hpp>

#include <cstdint>
#include <map>

#include "SVLibrary/Types/SarvelonMediaKitTypes.h"
#include "engine/core/InfoSource.h"

namespace SarvelonMediaKit {

class MediaTrack;
class StreamInfoSource;

// Subscriber to what the demultiplexer learns about the stream. Every event does nothing
// unless overridden.
class StreamInfoMonitor : public InfoMonitor<StreamInfoSource, StreamInfoMonitor> {
public:
    typedef std::map<TrackId, boost::shared_ptr<MediaTrack>> TrackMap;

    ~StreamInfoMonitor() override {}

    // The whole track map, each time it changes; complete once the metadata is complete.
    virtual void TracksAvailable(const TrackMap& /*tracks*/, bool /*complete*/) {}
    // The track that has just become current.
    virtual void TrackChanged(const boost::shared_ptr<MediaTrack>& /*track*/) {}
    // The largest track duration, in microseconds.
    virtual void DurationAvailable(MediaTime /*duration*/) {}
    // The media size in bytes.
    virtual void MediaSizeAvailable(BytePosition /*size*/) {}
    // Whether any track plays at a rate other than normal.
    virtual void TrickPlayAvailable(bool /*available*/) {}
    virtual void PreloadComplete() {}
    // Two media times, in microseconds, that the parser reports for a stream type.
    virtual void MediaTimeAvailable(uint32_t /*streamType*/, MediaTime /*firstTime*/,
                                    MediaTime /*secondTime*/) {}
};

}  // namespace SarvelonMediaKit

#endif
