#ifndef ENGINE_SERVE_HLSSEGMENTTIMING_H
#define ENGINE_SERVE_HLSSEGMENTTIMING_H

#include <cstdint>
#include <vector>

namespace SarvelonMediaKit {

class MediaTrack;

// How long the segments of a whole title's playlist last, from its track's key-frame index.
namespace HlsSegmentTiming {

// Whole seconds of a tick count, to the nearest, a half second upward.
uint64_t WholeSeconds(uint64_t ticks, uint32_t timescale);
// The longest group of pictures in ticks: the widest spacing of consecutive key frames.
uint32_t LongestGop(const MediaTrack& track);
// Whether the complete list of one rendition names segments of one fixed length: every group
// of pictures lasts the longest one, the first from 0 on, so that segment k of the uniform
// list is the k-th group the segmenter cuts. Otherwise the list names the index's entries one
// by one.
bool ListsUniformSegments(const MediaTrack& track);
// The durations (whole seconds) of the uniform list of a track.
std::vector<uint64_t> UniformDurations(const MediaTrack& track);

// What looking up a segment's start needs of a track's list, worked out in one go.
struct ListShape {
    bool uniform = true;      // ListsUniformSegments
    uint32_t longestGop = 0;  // LongestGop, in the index's ticks
    // The segments the uniform list names (as many as UniformDurations gives); meaningful
    // when uniform.
    uint32_t uniformCount = 0;
};
ListShape ShapeOf(const MediaTrack& track);
// The durations (whole seconds) of one segment per key frame.
std::vector<uint64_t> IndexDurations(const MediaTrack& track);
// The same in milliseconds, each measured from the milliseconds already listed.
std::vector<uint64_t> IndexMilliseconds(const MediaTrack& track);

}  // namespace HlsSegmentTiming
}  // namespace SarvelonMediaKit

#endif
