#include "engine/serve/HlsPlaylistMaker.h"

#include <algorithm>

#include "engine/container/MediaTrack.h"
#include "engine/serve/HlsSegmentTiming.h"

namespace SarvelonMediaKit {

using namespace HlsSegmentTiming;

std::string HlsPlaylistMaker::SegmentName(TrackId track, uint32_t number) const {
    if (adaptive_) return std::to_string(track.Get()) + "-" + std::to_string(number) + ".ts";
    return std::to_string(number) + ".ts";
}

bool HlsPlaylistMaker::MakeMaster(const std::vector<Rendition>& renditions,
                                  HlsPlaylist& playlist) const {
    if (renditions.empty()) return false;
    playlist.kind = HlsPlaylist::Kind::Master;
    for (const Rendition& rendition : renditions) {
        const uint32_t byteRate = rendition.track ? rendition.track->GetByteRate().Get() : 0;
        HlsPlaylist::Variant variant;
        variant.bandwidth = byteRate * 8u;  // 32-bit, as the variant tag carries it
        variant.uri = rendition.playlistName;
        playlist.variants.push_back(variant);
    }
    return true;
}

bool HlsPlaylistMaker::MakeCompleteList(TrackId track, const MediaTrack* listed,
                                        HlsPlaylist& playlist) const {
    if (!listed || listed->GetIndex().GetTimescale() == 0) return false;
    if (!adaptive_ && !ListsUniformSegments(*listed)) return MakeIndexList(*listed, playlist);
    const std::vector<uint64_t> perKeyFrame = IndexDurations(*listed);
    const std::vector<uint64_t> durations = adaptive_ ? perKeyFrame : UniformDurations(*listed);
    if (durations.empty()) return false;
    // The target covers every segment of the index and every segment listed.
    uint64_t target = 0;
    for (size_t i = 0; i < perKeyFrame.size(); ++i) target = std::max(target, perKeyFrame[i]);
    for (size_t i = 0; i < durations.size(); ++i) target = std::max(target, durations[i]);
    playlist.targetDuration = target;
    for (size_t k = 0; k < durations.size(); ++k) {
        playlist.segments.push_back({durations[k], SegmentName(track, static_cast<uint32_t>(k))});
    }
    playlist.endList = true;
    return true;
}

bool HlsPlaylistMaker::MakeIndexList(const MediaTrack& track, HlsPlaylist& playlist) const {
    const std::vector<uint64_t> durations = IndexMilliseconds(track);
    if (durations.empty()) return false;
    // Uneven groups of pictures are listed to the millisecond: whole seconds would put a
    // player's seek into the wrong segment. Decimal durations need version 3.
    uint64_t target = 0;
    for (size_t i = 0; i < durations.size(); ++i) {
        // A duration rounded to whole seconds (a half upward) may not exceed the target.
        target = std::max(target, (durations[i] + 500) / 1000);
    }
    playlist.version = 3;
    playlist.targetDuration = target;
    playlist.durationUnit = HlsPlaylist::DurationUnit::Milliseconds;
    for (size_t k = 0; k < durations.size(); ++k) {
        playlist.segments.push_back(
            {durations[k], SegmentName(TrackId(0), static_cast<uint32_t>(k))});
    }
    playlist.endList = true;
    return true;
}

bool HlsPlaylistMaker::MakeSlidingWindow(TrackId track, const MediaTrack* current,
                                         const std::vector<Segment>& segments, size_t window,
                                         HlsPlaylist& playlist) const {
    if (!current) return false;
    const uint32_t timescale = current->GetIndex().GetTimescale();
    if (timescale == 0) return false;
    // The newest finished segment closes the window.
    size_t newest = segments.size();
    for (size_t i = segments.size(); i > 0; --i) {
        if (segments[i - 1].finished) {
            newest = i - 1;
            break;
        }
    }
    if (newest == segments.size()) return false;
    const size_t first = newest + 1 > window ? newest + 1 - window : 0;
    const uint64_t gop = LongestGop(*current);
    playlist.targetDuration = WholeSeconds(gop, timescale);
    playlist.hasMediaSequence = true;
    playlist.mediaSequence = segments[first].number;
    for (size_t i = first; i <= newest; ++i) {
        // Every segment is said to last the longest group, truncated to whole seconds.
        playlist.segments.push_back({gop / timescale, SegmentName(track, segments[i].number)});
    }
    return true;
}

}  // namespace SarvelonMediaKit
