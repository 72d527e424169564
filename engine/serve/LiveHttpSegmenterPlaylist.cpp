// The segmenter's playlists: the master playlist, the complete media lists of a title that
// exists whole, and the sliding window over the segments in memory.

#include <boost/make_shared.hpp>

#include <algorithm>

#include "engine/container/MediaTrack.h"
#include "engine/serve/HlsPlaylist.h"
#include "engine/serve/HlsSegmentTiming.h"
#include "engine/serve/LiveHttpSegmenter.h"

namespace SarvelonMediaKit {

using namespace HlsSegmentTiming;

namespace {

std::string Decimal(uint64_t value) { return std::to_string(value); }

}  // namespace

std::string LiveHttpSegmenter::SegmentName(TrackId track, uint32_t number) const {
    if (adaptive_) return Decimal(track.Get()) + "-" + Decimal(number) + ".ts";
    return Decimal(number) + ".ts";
}

void LiveHttpSegmenter::WritePlaylist(TrackId track, boost::shared_ptr<LiveHttpFile>& slot) {
    Locked lock(*this);
    // Complete lists and the master do not change: written once per slot.
    if (onDemand_ && slot) return;
    if (adaptive_ && track.Get() == 0 && slot) return;
    // A server may still be sending the old text.
    LetGo(slot);
    slot.reset();
    HlsPlaylist playlist;
    bool made = false;
    if (adaptive_ && track.Get() == 0) {
        made = MakeMaster(playlist);
    } else {
        made = onDemand_ ? MakeCompleteList(track, playlist) : MakeSlidingWindow(track, playlist);
    }
    // Nothing to list yet (no track, no finished segment): no file, so nothing empty is kept.
    if (!made) return;
    const std::string text = playlist.Render();
    boost::shared_ptr<LiveHttpFile> file =
        boost::make_shared<LiveHttpFile>(static_cast<LiveHttpFileSource*>(this), 0);
    file->Append(MemoryChunk::CopyOf(reinterpret_cast<const uint8_t*>(text.data()),
                                     static_cast<uint32_t>(text.size())));
    slot = file;
    Remember(file);
    file->SetState(LiveHttpFile::StateComplete);
}

bool LiveHttpSegmenter::MakeMaster(HlsPlaylist& playlist) {
    if (tracks_.empty()) return false;
    playlist.kind = HlsPlaylist::Kind::Master;
    for (AdaptiveTrackMap::const_iterator it = tracks_.begin(); it != tracks_.end(); ++it) {
        const uint32_t byteRate = it->second.track ? it->second.track->GetByteRate().Get() : 0;
        HlsPlaylist::Variant variant;
        variant.bandwidth = byteRate * 8u;  // 32-bit, as the variant tag carries it
        variant.uri = it->second.playlistName;
        playlist.variants.push_back(variant);
    }
    return true;
}

bool LiveHttpSegmenter::MakeCompleteList(TrackId track, HlsPlaylist& playlist) {
    boost::shared_ptr<MediaTrack> listed;
    if (adaptive_) {
        AdaptiveTrackMap::const_iterator it = tracks_.find(track);
        if (it != tracks_.end()) listed = it->second.track;
    } else {
        listed = currentTrack_;
    }
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

bool LiveHttpSegmenter::MakeIndexList(const MediaTrack& track, HlsPlaylist& playlist) {
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

bool LiveHttpSegmenter::MakeSlidingWindow(TrackId track, HlsPlaylist& playlist) {
    if (!currentTrack_) return false;
    const uint32_t timescale = currentTrack_->GetIndex().GetTimescale();
    if (timescale == 0) return false;
    // The newest finished segment closes the window.
    size_t newest = files_.size();
    for (size_t i = files_.size(); i > 0; --i) {
        if (files_[i - 1]->GetState() >= LiveHttpFile::StateComplete) {
            newest = i - 1;
            break;
        }
    }
    if (newest == files_.size()) return false;
    const size_t first = newest + 1 > readAheadLimit_ ? newest + 1 - readAheadLimit_ : 0;
    const uint64_t gop = LongestGop(*currentTrack_);
    playlist.targetDuration = WholeSeconds(gop, timescale);
    playlist.hasMediaSequence = true;
    playlist.mediaSequence = files_[first]->GetSegmentNumber();
    for (size_t i = first; i <= newest; ++i) {
        // Every segment is said to last the longest group, truncated to whole seconds.
        playlist.segments.push_back(
            {gop / timescale, SegmentName(track, files_[i]->GetSegmentNumber())});
    }
    return true;
}

}  // namespace SarvelonMediaKit
