#include "engine/demux/Mpeg2PsTrackTable.h"

#include <algorithm>
#include <limits>

#include "SVLibrary/Output/DebugPrint.h"
#include "SVLibrary/TypedValue/SVDictionary.h"
#include "engine/container/MediaTrackFilter.h"
#include "engine/container/TrackInfoKeys.h"

namespace SarvelonMediaKit {

bool Mpeg2PsTrackTable::Take(const boost::shared_ptr<MediaTrack>& track,
                             const std::string& source) {
    const uint32_t version = track->GetInfo().GetUnsignedIntOrDefault(TrackInfoKey_Version, 0);
    if (version > 2 || !MediaTrackFilter::Instance().Accept(track)) {
        DebugPrint("Track rejected by filter\n");
        return false;
    }
    track->SetSource(source);
    const TrackId id(static_cast<uint32_t>(tracks_.size() + 1));
    track->SetId(id);
    tracks_[id] = track;
    return true;
}

std::set<uint8_t> Mpeg2PsTrackTable::StreamIds() const {
    std::set<uint8_t> used;
    for (TrackMap::const_iterator it = tracks_.begin(); it != tracks_.end(); ++it) {
        const SV::SVDictionary& info = it->second->GetInfo();
        if (it->second->HasAudio()) {
            used.insert(static_cast<uint8_t>(
                info.GetUnsignedIntOrDefault(TrackInfoKey_AudioMpegStreamId, 0)));
        }
        if (it->second->HasVideo()) {
            used.insert(static_cast<uint8_t>(
                info.GetUnsignedIntOrDefault(TrackInfoKey_VideoMpegStreamId, 0)));
        }
    }
    return used;
}

bool Mpeg2PsTrackTable::HasAudioOnlyTracks() const {
    bool video = false;
    bool audioOnly = false;
    for (TrackMap::const_iterator it = tracks_.begin(); it != tracks_.end(); ++it) {
        video = video || it->second->HasVideo();
        audioOnly = audioOnly || (it->second->HasAudio() && !it->second->HasVideo());
    }
    return video && audioOnly;
}

Mpeg2PsTrackTable::Extent Mpeg2PsTrackTable::Measure() const {
    Extent extent;
    for (TrackMap::const_iterator it = tracks_.begin(); it != tracks_.end(); ++it) {
        const MediaTrack& track = *it->second;
        if (!track.HasAudio() && !track.HasVideo()) {
            continue;
        }
        const MediaTrackIndex& index = track.GetIndex();
        if (track.GetTrickPlayRate().Get() != 0) {
            extent.trickPlay = true;
        } else {
            // A timescale of 0 gives 0 rather than a division by zero.
            const uint64_t trackDuration = index.TicksToMicroseconds(index.GetDuration());
            extent.duration = std::max(extent.duration, trackDuration);
        }
        const uint64_t trackEnd = index.GetOffset() + index.GetSize();
        extent.end =
            std::max(extent.end, trackEnd < index.GetOffset() ? std::numeric_limits<uint64_t>::max()
                                                              : trackEnd);
    }
    return extent;
}

boost::shared_ptr<MediaTrack> Mpeg2PsTrackTable::TrackOfAudioStream(
    uint8_t audioId, const boost::shared_ptr<MediaTrack>& selected) const {
    // A chain without a seeker selects no track, and a selected track with another audio
    // stream (an audio rendition read beside the pictures) describes another sound.
    const auto carries = [audioId](const MediaTrack& track) {
        return track.HasAudio() && track.GetInfo().GetUnsignedIntOrDefault(
                                       TrackInfoKey_AudioMpegStreamId, 0) == audioId;
    };
    if (selected && carries(*selected)) return selected;
    for (TrackMap::const_iterator it = tracks_.begin(); it != tracks_.end(); ++it) {
        if (it->second && carries(*it->second)) return it->second;
    }
    return selected;
}

template <typename Predicate>
void Mpeg2PsTrackTable::RemoveTracks(Predicate matches) {
    for (TrackMap::iterator it = tracks_.begin(); it != tracks_.end();) {
        if (matches(*it->second)) {
            it = tracks_.erase(it);
        } else {
            ++it;
        }
    }
}

void Mpeg2PsTrackTable::RemoveAudioOnlyTracks() {
    RemoveTracks([](const MediaTrack& t) { return t.HasAudio() && !t.HasVideo(); });
}

void Mpeg2PsTrackTable::RemoveVideoTracks() {
    RemoveTracks([](const MediaTrack& t) { return t.HasVideo(); });
}

void Mpeg2PsTrackTable::RemoveTextStreamTracks() {
    RemoveTracks([](const MediaTrack& t) { return t.HasText(); });
}

}  // namespace SarvelonMediaKit
