#include "engine/serve/HlsPlaylist.h"

namespace SarvelonMediaKit {

namespace {

std::string Decimal(uint64_t value) { return std::to_string(value); }

}  // namespace

std::string HlsPlaylist::Render() const {
    std::string text = "#EXTM3U\n";
    if (kind == Kind::Master) {
        for (const Variant& variant : variants) {
            text +=
                "#EXT-X-STREAM-INF:PROGRAM-ID=1, BANDWIDTH=" + Decimal(variant.bandwidth) + "\n";
            text += variant.uri + "\n";
        }
        return text;
    }
    text += "#EXT-X-ALLOW-CACHE:NO\n";
    if (version != 0) text += "#EXT-X-VERSION:" + Decimal(version) + "\n";
    text += "#EXT-X-TARGETDURATION:" + Decimal(targetDuration) + "\n";
    if (hasMediaSequence) text += "#EXT-X-MEDIA-SEQUENCE:" + Decimal(mediaSequence) + "\n";
    for (const Segment& segment : segments) {
        if (durationUnit == DurationUnit::Milliseconds) {
            const std::string fraction = Decimal(1000 + segment.duration % 1000).substr(1);
            text += "#EXTINF:" + Decimal(segment.duration / 1000) + "." + fraction + ",\n";
        } else {
            text += "#EXTINF:" + Decimal(segment.duration) + ",\n";
        }
        text += segment.uri + "\n";
    }
    if (endList) text += "#EXT-X-ENDLIST\n";
    return text;
}

}  // namespace SarvelonMediaKit
