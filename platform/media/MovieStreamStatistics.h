#ifndef PLATFORM_MEDIA_MOVIE_STREAM_STATISTICS_H
#define PLATFORM_MEDIA_MOVIE_STREAM_STATISTICS_H
// What the headless player read of one stream, for end-to-end checks of what was served.
//
// Times are seconds on the stream's own clock (not shifted to the movie's start), so they can
// be compared with what ffprobe reports of the source. Reordered pictures (B-frames) show
// before the frames they are decoded after, so a presentation time "goes back" only when it
// lies before that of the last key frame of its stream (for sound every packet is a key frame,
// so any step back counts); a gap is a presentation time more than a second past the highest
// one so far. A seek starts both comparisons afresh.

#include <cstdint>
#include <string>

namespace ns {

struct MovieStreamStatistics {
    int index = 0;          // the stream's number in the container
    std::string mediaType;  // "video", "audio", "subtitle", "data" or "unknown"
    std::string codec;      // libavcodec's short name ("h264", "aac")
    uint64_t packets = 0;
    uint64_t bytes = 0;
    uint64_t keyFrames = 0;
    bool hasPts = false;  // whether any packet carried a presentation time
    double firstPts = 0;  // of the first packet read
    double lastPts = 0;   // of the last packet read
    uint64_t ptsBackwards = 0;
    uint64_t gapsOverOneSecond = 0;
    // Verify mode only: frames decoded, and packets or frames the decoder refused.
    uint64_t decodedFrames = 0;
    uint64_t decodeErrors = 0;
};

}  // namespace ns

#endif  // PLATFORM_MEDIA_MOVIE_STREAM_STATISTICS_H
