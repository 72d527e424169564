#ifndef ENGINE_SERVE_HLSPLAYLISTMAKER_H
#define ENGINE_SERVE_HLSPLAYLISTMAKER_H

#include <boost/shared_ptr.hpp>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "SVLibrary/Types/SarvelonMediaKitTypes.h"
#include "engine/serve/HlsPlaylist.h"

namespace SarvelonMediaKit {

class MediaTrack;

// What the segmenter's playlists list: the master playlist of the video renditions, the
// complete list of a title that exists whole (from its track's key-frame index), and the
// sliding window over the segments in memory. It only fills HlsPlaylist values; which track is
// listed, and where the text goes, is the segmenter's.
class HlsPlaylistMaker {
public:
    // A video rendition the player may choose.
    struct Rendition {
        std::string playlistName;  // its variant playlist, "<track id>.m3u8"
        boost::shared_ptr<MediaTrack> track;
    };
    // A segment in memory.
    struct Segment {
        uint32_t number = 0;
        bool finished = false;
    };

    // adaptive: the player drives adaptation, and segment names carry the track id.
    explicit HlsPlaylistMaker(bool adaptive) : adaptive_(adaptive) {}

    // "<n>.ts", or "<track>-<n>.ts" with adaptation.
    std::string SegmentName(TrackId track, uint32_t number) const;

    // Each fills the playlist and returns true, or false when there is nothing to list.
    // One variant per rendition, in the order given.
    bool MakeMaster(const std::vector<Rendition>& renditions, HlsPlaylist& playlist) const;
    // The whole title's list of listed (none: nothing), its segments named for track.
    bool MakeCompleteList(TrackId track, const MediaTrack* listed, HlsPlaylist& playlist) const;
    // The last window finished segments up to the newest finished one, oldest first in
    // segments, each said to last the current track's longest group of pictures.
    bool MakeSlidingWindow(TrackId track, const MediaTrack* current,
                           const std::vector<Segment>& segments, size_t window,
                           HlsPlaylist& playlist) const;

private:
    // The complete list of one rendition with uneven groups of pictures: one segment per
    // index entry, each with its own duration.
    bool MakeIndexList(const MediaTrack& track, HlsPlaylist& playlist) const;

    const bool adaptive_;
};

}  // namespace SarvelonMediaKit

#endif
