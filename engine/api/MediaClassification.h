#ifndef ENGINE_API_MEDIACLASSIFICATION_H
#define ENGINE_API_MEDIACLASSIFICATION_H

#include <cstdint>
#include <string>

namespace SarvelonMediaKit {

// The container format of a source, also the format asked for on output.
enum MediaFormat : uint32_t {
    MediaFormatUnknown = 0,
    MediaFormatNone = 1,  // as output: no conversion, no multiplexer
    MediaFormatMpeg2Ps = 2,
    MediaFormatDvd = 3,
    MediaFormatFlv = 4,
    MediaFormatRaw5 = 5,
    MediaFormatRaw6 = 6,
    MediaFormatMpeg2Ts = 7,
    MediaFormatHls = 8,
    MediaFormatMp4 = 9,
    MediaFormatSmil = 10
};

// How the source is read.
enum SourceKind : uint32_t {
    SourceKindUnknown = 0,
    SourceKindLocalPath = 2,
    SourceKindHttp = 3,
    SourceKindRtmp = 4,
    SourceKindHttpLive = 5,  // an HLS playlist over HTTP(S): played directly, not downloaded
    SourceKindMemory = 6,
    SourceKindUdp = 7
};

// The format of a source from its name: a path's extension; for a URL the "itag" query
// parameter when present (a file name or a bare format name), else the extension of the
// path's last part; the extension in front of "sparse" for a sparse URL; any udp URL is a
// transport stream. Extensions are compared in lower case. Unknown when none matches.
MediaFormat ClassifyMedia(const std::string& url);
// How a source is read, from its scheme (a path has none).
SourceKind ClassifySource(const std::string& url);
// Whether the text after the last dot (the whole text without one) is "sparse": a title fetched
// piece by piece where it is read.
bool IsSparse(const std::string& url);

}  // namespace SarvelonMediaKit

#endif
