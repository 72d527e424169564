#ifndef ENGINE_SERVE_HLSREQUESTNAME_H
#define ENGINE_SERVE_HLSREQUESTNAME_H

#include <cstdint>
#include <string>

namespace SarvelonMediaKit {

// The names the segmenter hands out and answers, read strictly: a request that is not exactly
// one of them is not found, so stray names (an icon, a probe, "-1.ts") never turn into a seek.
//
//   <digits>.m3u8          a variant playlist of a track id
//   <digits>.ts            a segment of the one rendition
//   <digits>-<digits>.ts   a segment of a track: track id, then segment number
//
// Digits are ASCII, without a leading zero (except "0" itself: one file, one name), and the
// value fits 32 bits. Nothing may follow the extension. A "?query" (or "#fragment") is
// dropped before the name is read.
//
// The main playlist's name is the title's own and may hold any character; it travels in the
// URL percent-encoded where a path cannot carry it as it is (EncodePath) and a request is
// compared with it after decoding (DecodePath).
class HlsRequestName {
public:
    enum Kind {
        KindNone,          // none of the forms above
        KindPlaylist,      // <track>.m3u8
        KindSegment,       // <number>.ts
        KindTrackSegment,  // <track>-<number>.ts
    };

    // Reads a requested name (query stripped first).
    static HlsRequestName Parse(const std::string& name);

    Kind GetKind() const { return kind_; }
    // The track id of a playlist or a track segment; 0 otherwise.
    uint32_t GetTrack() const { return track_; }
    // The segment number of a segment or a track segment; 0 otherwise.
    uint32_t GetNumber() const { return number_; }

    // The name without anything from the first '?' or '#' on.
    static std::string StripQuery(const std::string& name);
    // The name as one URL path segment: bytes outside the unreserved set and the sub-delimiters
    // a path segment may carry ("!$&'()*+,;=@") become %XX (upper-case hex); so does ':', which
    // the request reader takes as the end of a token in front of the name. A name made of safe
    // bytes comes back unchanged.
    static std::string EncodePath(const std::string& name);
    // Undoes %XX escapes; false for a '%' not followed by two hex digits and for an escape of
    // a zero byte. '+' stays '+'.
    static bool DecodePath(const std::string& path, std::string& name);

private:
    HlsRequestName() : kind_(KindNone), track_(0), number_(0) {}

    Kind kind_;
    uint32_t track_;
    uint32_t number_;
};

}  // namespace SarvelonMediaKit

#endif
