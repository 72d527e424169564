#ifndef ENGINE_SERVE_HLSPLAYLIST_H
#define ENGINE_SERVE_HLSPLAYLIST_H

#include <cstdint>
#include <string>
#include <vector>

namespace SarvelonMediaKit {

// One playlist as a value: what a player is told, filled in by whoever knows it and turned
// into text by Render. A master playlist names one variant per rendition; a media playlist
// names segments with their durations, in whole seconds or in milliseconds (written with
// three decimals).
//
// Text of a master playlist:          Text of a media playlist:
//   #EXTM3U                              #EXTM3U
//   #EXT-X-STREAM-INF:PROGRAM-ID=1,      #EXT-X-ALLOW-CACHE:NO
//     BANDWIDTH=<bits/s>   (one line)    [#EXT-X-VERSION:<version>]        when version != 0
//   <variant uri>                        #EXT-X-TARGETDURATION:<seconds>
//   ... per variant                      [#EXT-X-MEDIA-SEQUENCE:<n>]       sliding window only
//                                        #EXTINF:<duration>,  <segment uri>  per segment
//                                        [#EXT-X-ENDLIST]                  a whole title
struct HlsPlaylist {
    enum class Kind { Master, Media };
    enum class DurationUnit { Seconds, Milliseconds };

    struct Variant {
        uint32_t bandwidth = 0;  // bits per second, 32-bit as the tag carries it
        std::string uri;
    };
    struct Segment {
        uint64_t duration = 0;  // in durationUnit
        std::string uri;
    };

    Kind kind = Kind::Media;
    std::vector<Variant> variants;  // master only

    uint32_t version = 0;  // 0: no version tag
    uint64_t targetDuration = 0;
    bool hasMediaSequence = false;
    uint32_t mediaSequence = 0;
    DurationUnit durationUnit = DurationUnit::Seconds;
    std::vector<Segment> segments;
    bool endList = false;

    std::string Render() const;
};

}  // namespace SarvelonMediaKit

#endif
