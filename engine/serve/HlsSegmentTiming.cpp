#include "engine/serve/HlsSegmentTiming.h"

#include <algorithm>

#include "engine/container/MediaTrack.h"

namespace SarvelonMediaKit {
namespace HlsSegmentTiming {

namespace {

// The most segments a uniform list names: the playlist stays small for any index.
const uint64_t kMaxUniformSegments = 100000;

}  // namespace

uint64_t WholeSeconds(uint64_t ticks, uint32_t timescale) {
    if (timescale == 0) return 0;
    // Half a second in ticks, rounded down: a half second rounds up.
    const uint64_t half = static_cast<uint64_t>(static_cast<int32_t>(timescale * 0.5));
    return (ticks + half) / timescale;
}

uint32_t LongestGop(const MediaTrack& track) {
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

std::vector<uint64_t> IndexDurations(const MediaTrack& track) {
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

std::vector<uint64_t> IndexMilliseconds(const MediaTrack& track) {
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

namespace {

// ListsUniformSegments for a track whose longest group is gop.
bool IsUniform(const MediaTrack& track, uint32_t gop) {
    const MediaTrackIndex& index = track.GetIndex();
    const MediaTrackIndex::Entry* entries = index.GetEntries();
    const uint32_t count = index.GetCount();
    if (count < 2) return true;  // one group of pictures, one segment either way
    if (entries[0].time != 0) return false;
    for (uint32_t i = 1; i < count; ++i) {
        if (entries[i].time < entries[i - 1].time || entries[i].time - entries[i - 1].time != gop) {
            return false;
        }
    }
    return true;
}

// The segments of the uniform list of a track whose longest group is gop.
uint64_t UniformCount(const MediaTrack& track, uint64_t gop) {
    const MediaTrackIndex& index = track.GetIndex();
    const uint64_t duration = index.GetDuration();
    if (index.GetTimescale() == 0 || duration == 0 || gop == 0) return 0;
    const uint64_t count = (duration + gop - 1) / gop;
    // One segment per key frame at most: the multiplexer cuts at key frames only, so a stretch
    // after the last one (audio running on) belongs to the last segment.
    if (index.GetCount() != 0 && count > index.GetCount()) return index.GetCount();
    return count;
}

}  // namespace

bool ListsUniformSegments(const MediaTrack& track) { return IsUniform(track, LongestGop(track)); }

ListShape ShapeOf(const MediaTrack& track) {
    ListShape shape;
    shape.longestGop = LongestGop(track);
    shape.uniform = IsUniform(track, shape.longestGop);
    shape.uniformCount = static_cast<uint32_t>(UniformCount(track, shape.longestGop));
    return shape;
}

// The list of a single rendition whose groups of pictures all last the same (the recipes of
// the title maker cut them so): segment k spans [k x D, (k + 1) x D) with D the longest
// group, and the seek to segment k goes to k x D. A title with uneven groups gets the list of
// one segment per key frame instead (ListsUniformSegments).
std::vector<uint64_t> UniformDurations(const MediaTrack& track) {
    const MediaTrackIndex& index = track.GetIndex();
    const uint32_t timescale = index.GetTimescale();
    const uint64_t duration = index.GetDuration();
    std::vector<uint64_t> durations;
    if (timescale == 0 || duration == 0) return durations;
    const uint64_t gop = LongestGop(track);
    const uint64_t count = UniformCount(track, gop);
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

}  // namespace HlsSegmentTiming
}  // namespace SarvelonMediaKit
