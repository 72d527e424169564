// The segmenter's playlist texts: the master playlist, the complete media lists of a title
// that exists whole, and the sliding window over the segments in memory.

#include <boost/make_shared.hpp>

#include <algorithm>

#include "engine/container/MediaTrack.h"
#include "engine/serve/LiveHttpSegmenter.h"

namespace SarvelonMediaKit {

namespace {

// The most segments a uniform list names: the playlist stays small for any index.
const uint64_t kMaxUniformSegments = 100000;

std::string Decimal(uint64_t value) { return std::to_string(value); }

}  // namespace

uint64_t LiveHttpSegmenter::WholeSeconds(uint64_t ticks, uint32_t timescale) {
    if (timescale == 0) return 0;
    // Half a second in ticks, rounded down: a half second rounds up.
    const uint64_t half = static_cast<uint64_t>(static_cast<int32_t>(timescale * 0.5));
    return (ticks + half) / timescale;
}

uint32_t LiveHttpSegmenter::LongestGop(const MediaTrack& track) {
    const MediaTrackIndex& index = track.GetIndex();
    const MediaTrackIndex::Entry* entries = index.GetEntries();
    uint32_t longest = 0;
    for (uint32_t i = 1; i < index.GetCount(); ++i) {
        if (entries[i].time > entries[i - 1].time) {
            longest = std::max(longest, entries[i].time - entries[i - 1].time);
        }
    }
    // The stretch after the last key frame is not counted: the track's duration runs to the
    // end of its longest stream (audio often runs on past the last picture), not to a next
    // key frame. Without two key frames, the index's adaptation interval, else the whole
    // track.
    if (longest == 0) longest = index.GetAdaptationInterval();
    if (longest == 0) longest = index.GetDuration();
    const uint64_t floor =
        (uint64_t(index.GetDuration()) + kMaxUniformSegments - 1) / kMaxUniformSegments;
    return std::max<uint32_t>(longest, static_cast<uint32_t>(floor));
}

std::vector<uint64_t> LiveHttpSegmenter::IndexDurations(const MediaTrack& track) {
    const MediaTrackIndex& index = track.GetIndex();
    const uint32_t timescale = index.GetTimescale();
    const uint32_t count = index.GetCount();
    std::vector<uint64_t> durations;
    if (count == 0 || timescale == 0) return durations;
    const MediaTrackIndex::Entry* entries = index.GetEntries();
    // Each segment is measured from the whole seconds already listed, so the rounding does
    // not drift over a long title.
    uint64_t listed = 0;
    for (uint32_t i = 1; i < count; ++i) {
        const uint64_t base = listed * timescale;
        const uint64_t time = entries[i].time;
        const uint64_t d = WholeSeconds(time > base ? time - base : 0, timescale);
        listed += d;
        durations.push_back(d);
    }
    const uint32_t last = entries[count - 1].time;
    const uint32_t duration = index.GetDuration();
    durations.push_back(WholeSeconds(duration > last ? duration - last : 0, timescale));
    return durations;
}

std::vector<uint64_t> LiveHttpSegmenter::IndexMilliseconds(const MediaTrack& track) {
    const MediaTrackIndex& index = track.GetIndex();
    const uint32_t timescale = index.GetTimescale();
    const uint32_t count = index.GetCount();
    std::vector<uint64_t> durations;
    if (count == 0 || timescale == 0) return durations;
    const MediaTrackIndex::Entry* entries = index.GetEntries();
    // A tick count in milliseconds, to the nearest, a half upward.
    const auto milliseconds = [timescale](uint64_t ticks) {
        return (ticks * 1000u + timescale / 2) / timescale;
    };
    // Measured from the milliseconds already listed, so that the sum stays on the key frames.
    uint64_t listed = 0;
    for (uint32_t i = 1; i <= count; ++i) {
        const uint64_t end = milliseconds(i < count ? entries[i].time : index.GetDuration());
        const uint64_t d = end > listed ? end - listed : 0;
        listed += d;
        durations.push_back(d);
    }
    return durations;
}

bool LiveHttpSegmenter::ListsUniformSegments(const MediaTrack& track) {
    const MediaTrackIndex& index = track.GetIndex();
    const MediaTrackIndex::Entry* entries = index.GetEntries();
    const uint32_t count = index.GetCount();
    if (count < 2) return true;  // one group of pictures, one segment either way
    if (entries[0].time != 0) return false;
    const uint32_t gop = LongestGop(track);
    for (uint32_t i = 1; i < count; ++i) {
        if (entries[i].time < entries[i - 1].time || entries[i].time - entries[i - 1].time != gop) {
            return false;
        }
    }
    return true;
}

// The list of a single rendition whose groups of pictures all last the same (the recipes of
// the title maker cut them so): segment k spans [k x D, (k + 1) x D) with D the longest
// group, and the seek to segment k goes to k x D. A title with uneven groups gets the list of
// one segment per key frame instead (ListsUniformSegments).
std::vector<uint64_t> LiveHttpSegmenter::UniformDurations(const MediaTrack& track) {
    const MediaTrackIndex& index = track.GetIndex();
    const uint32_t timescale = index.GetTimescale();
    const uint64_t duration = index.GetDuration();
    std::vector<uint64_t> durations;
    if (timescale == 0 || duration == 0) return durations;
    const uint64_t gop = LongestGop(track);
    uint64_t count = (duration + gop - 1) / gop;
    // One segment per key frame at most: the multiplexer cuts at key frames only, so a stretch
    // after the last one (audio running on) belongs to the last segment.
    if (index.GetCount() != 0 && count > index.GetCount()) count = index.GetCount();
    uint64_t listed = 0;
    for (uint64_t k = 0; k < count; ++k) {
        const uint64_t end = k + 1 == count ? duration : (k + 1) * gop;
        const uint64_t base = listed * timescale;
        const uint64_t d = WholeSeconds(end > base ? end - base : 0, timescale);
        listed += d;
        durations.push_back(d);
    }
    return durations;
}

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
    std::string text = "#EXTM3U\n";
    bool written = false;
    if (adaptive_ && track.Get() == 0) {
        written = WriteMaster(text);
    } else {
        text += "#EXT-X-ALLOW-CACHE:NO\n";
        written = onDemand_ ? WriteCompleteList(track, text) : WriteSlidingWindow(track, text);
    }
    // Nothing to list yet (no track, no finished segment): no file, so nothing empty is kept.
    if (!written) return;
    boost::shared_ptr<LiveHttpFile> file =
        boost::make_shared<LiveHttpFile>(static_cast<LiveHttpFileSource*>(this), 0);
    file->Append(MemoryChunk::CopyOf(reinterpret_cast<const uint8_t*>(text.data()),
                                     static_cast<uint32_t>(text.size())));
    slot = file;
    Remember(file);
    file->SetState(LiveHttpFile::StateComplete);
}

bool LiveHttpSegmenter::WriteMaster(std::string& text) {
    if (tracks_.empty()) return false;
    for (AdaptiveTrackMap::const_iterator it = tracks_.begin(); it != tracks_.end(); ++it) {
        const uint32_t byteRate = it->second.track ? it->second.track->GetByteRate().Get() : 0;
        const uint32_t bitRate = byteRate * 8u;  // 32-bit, as the variant tag carries it
        text += "#EXT-X-STREAM-INF:PROGRAM-ID=1, BANDWIDTH=" + Decimal(bitRate) + "\n";
        text += it->second.playlistName + "\n";
    }
    return true;
}

bool LiveHttpSegmenter::WriteCompleteList(TrackId track, std::string& text) {
    boost::shared_ptr<MediaTrack> listed;
    if (adaptive_) {
        AdaptiveTrackMap::const_iterator it = tracks_.find(track);
        if (it != tracks_.end()) listed = it->second.track;
    } else {
        listed = currentTrack_;
    }
    if (!listed || listed->GetIndex().GetTimescale() == 0) return false;
    if (!adaptive_ && !ListsUniformSegments(*listed)) return WriteIndexList(*listed, text);
    const std::vector<uint64_t> perKeyFrame = IndexDurations(*listed);
    const std::vector<uint64_t> durations = adaptive_ ? perKeyFrame : UniformDurations(*listed);
    if (durations.empty()) return false;
    // The target covers every segment of the index and every segment listed.
    uint64_t target = 0;
    for (size_t i = 0; i < perKeyFrame.size(); ++i) target = std::max(target, perKeyFrame[i]);
    for (size_t i = 0; i < durations.size(); ++i) target = std::max(target, durations[i]);
    text += "#EXT-X-TARGETDURATION:" + Decimal(target) + "\n";
    for (size_t k = 0; k < durations.size(); ++k) {
        text += "#EXTINF:" + Decimal(durations[k]) + ",\n";
        text += SegmentName(track, static_cast<uint32_t>(k)) + "\n";
    }
    text += "#EXT-X-ENDLIST\n";
    return true;
}

bool LiveHttpSegmenter::WriteIndexList(const MediaTrack& track, std::string& text) {
    const std::vector<uint64_t> durations = IndexMilliseconds(track);
    if (durations.empty()) return false;
    // Uneven groups of pictures are listed to the millisecond: whole seconds would put a
    // player's seek into the wrong segment. Decimal durations need version 3.
    uint64_t target = 0;
    for (size_t i = 0; i < durations.size(); ++i) {
        // A duration rounded to whole seconds (a half upward) may not exceed the target.
        target = std::max(target, (durations[i] + 500) / 1000);
    }
    text += "#EXT-X-VERSION:3\n";
    text += "#EXT-X-TARGETDURATION:" + Decimal(target) + "\n";
    for (size_t k = 0; k < durations.size(); ++k) {
        const std::string fraction = Decimal(1000 + durations[k] % 1000).substr(1);
        text += "#EXTINF:" + Decimal(durations[k] / 1000) + "." + fraction + ",\n";
        text += SegmentName(TrackId(0), static_cast<uint32_t>(k)) + "\n";
    }
    text += "#EXT-X-ENDLIST\n";
    return true;
}

bool LiveHttpSegmenter::WriteSlidingWindow(TrackId track, std::string& text) {
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
    text += "#EXT-X-TARGETDURATION:" + Decimal(WholeSeconds(gop, timescale)) + "\n";
    text += "#EXT-X-MEDIA-SEQUENCE:" + Decimal(files_[first]->GetSegmentNumber()) + "\n";
    for (size_t i = first; i <= newest; ++i) {
        text += "#EXTINF:" + Decimal(gop / timescale) + ",\n";
        text += SegmentName(track, files_[i]->GetSegmentNumber()) + "\n";
    }
    return true;
}

}  // namespace SarvelonMediaKit
