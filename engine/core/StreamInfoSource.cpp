#include "engine/core/StreamInfoSource.h"

#include <boost/bind/bind.hpp>

namespace SarvelonMediaKit {

using boost::placeholders::_1;

void StreamInfoSource::PublishTracks(const StreamInfoMonitor::TrackMap& tracks, bool complete) {
    PublishToMonitors(boost::bind(&StreamInfoMonitor::TracksAvailable, _1, tracks, complete));
}

void StreamInfoSource::PublishCurrentTrack(const boost::shared_ptr<MediaTrack>& track) {
    PublishToMonitors(boost::bind(&StreamInfoMonitor::TrackChanged, _1, track));
}

void StreamInfoSource::PublishDuration(MediaTime duration) {
    PublishToMonitors(boost::bind(&StreamInfoMonitor::DurationAvailable, _1, duration));
}

void StreamInfoSource::PublishEndPosition(BytePosition size) {
    PublishToMonitors(boost::bind(&StreamInfoMonitor::MediaSizeAvailable, _1, size));
}

void StreamInfoSource::PublishTrickPlayAvailable(bool available) {
    PublishToMonitors(boost::bind(&StreamInfoMonitor::TrickPlayAvailable, _1, available));
}

void StreamInfoSource::PublishPreloadComplete() {
    PublishToMonitors(boost::bind(&StreamInfoMonitor::PreloadComplete, _1));
}

void StreamInfoSource::PublishTimestamp(uint32_t streamType, MediaTime firstTime,
                                        MediaTime secondTime) {
    PublishToMonitors(
        boost::bind(&StreamInfoMonitor::MediaTimeAvailable, _1, streamType, firstTime, secondTime));
}

void StreamInfoSource::PublishTimestamps(const Timestamp* times, size_t count) {
    if (count == 0) return;
    PublishToMonitors([times, count](StreamInfoMonitor* monitor) {
        for (size_t i = 0; i < count; ++i) {
            monitor->MediaTimeAvailable(times[i].streamType, times[i].firstTime,
                                        times[i].secondTime);
        }
    });
}

}  // namespace SarvelonMediaKit
