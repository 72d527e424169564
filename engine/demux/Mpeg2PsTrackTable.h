#ifndef ENGINE_DEMUX_MPEG2PSTRACKTABLE_H
#define ENGINE_DEMUX_MPEG2PSTRACKTABLE_H

#include <boost/shared_ptr.hpp>

#include <cstdint>
#include <set>
#include <string>

#include "engine/container/MediaTrack.h"
#include "engine/core/StreamInfoMonitor.h"

namespace SarvelonMediaKit {

// The demultiplexer's track map: the tracks it took from the title's index (or was given from
// outside), under the ids it gave them, and what it asks of them as a whole: which elementary
// streams they carry, how long and how large the title they describe is, which track
// describes an audio stream. Publishing them is the demultiplexer's job.
class Mpeg2PsTrackTable {
public:
    typedef StreamInfoMonitor::TrackMap TrackMap;

    // What the tracks say of the whole title, as the demultiplexer publishes it.
    struct Extent {
        uint64_t duration = 0;   // microseconds: the longest track played at normal speed
        uint64_t end = 0;        // byte position where the furthest track's data end
        bool trickPlay = false;  // a trick-play track is among them
    };

    // Takes the track when its version is one this reader knows (2 at most) and the track
    // filter accepts it: it gets the source name and the next id (1, 2, ... in the order the
    // tracks are taken). False when the track is refused.
    bool Take(const boost::shared_ptr<MediaTrack>& track, const std::string& source);
    // Replaces the map with one built elsewhere.
    void Assign(const TrackMap& tracks) { tracks_ = tracks; }

    const TrackMap& Get() const { return tracks_; }
    bool IsEmpty() const { return tracks_.empty(); }
    // The elementary stream ids the tracks carry.
    std::set<uint8_t> StreamIds() const;
    // Tracks with pictures beside tracks with sound alone (audio renditions).
    bool HasAudioOnlyTracks() const;
    // Tracks with neither audio nor video are left out; so is the duration of a trick-play
    // track. An end past the largest byte position counts as all bits set.
    Extent Measure() const;
    // The track whose ES descriptor describes the audio stream: the selected track when it
    // carries that stream, else the first track that does, else the selected track.
    boost::shared_ptr<MediaTrack> TrackOfAudioStream(
        uint8_t audioId, const boost::shared_ptr<MediaTrack>& selected) const;

    void RemoveAudioOnlyTracks();
    void RemoveVideoTracks();
    void RemoveTextStreamTracks();

private:
    template <typename Predicate>
    void RemoveTracks(Predicate matches);

    TrackMap tracks_;
};

}  // namespace SarvelonMediaKit

#endif
