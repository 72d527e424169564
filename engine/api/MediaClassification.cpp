#include "engine/api/MediaClassification.h"

#include "SVLibrary/Path/Path.h"
#include "SVLibrary/Path/Url.h"

namespace SarvelonMediaKit {

namespace {

std::string LowerAscii(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

}  // namespace

MediaFormat ClassifyMedia(const std::string& url) {
    std::string ext;
    std::string itag;
    if (!SV::IsUrl(url)) {
        ext = SV::GetFileExtension(url);
    } else {
        if (SV::GetUrlScheme(url) == "udp") return MediaFormatMpeg2Ts;
        itag = SV::GetUrlQueryParameter(url, "itag");
        if (itag.empty()) {
            ext = SV::GetFileExtension(SV::GetUrlFileName(url));
        } else {
            ext = SV::GetFileExtension(itag);
            // A bare format name in the parameter.
            if (ext.empty()) ext = itag;
        }
    }
    if (ext == "sparse") {
        // The format is the extension in front of the "sparse" one.
        const std::string name = !itag.empty() ? itag : SV::GetUrlFileName(url);
        ext = SV::GetFileExtension(SV::RemoveFileExtension(name));
    }
    ext = LowerAscii(ext);
    static const struct {
        const char* ext;
        MediaFormat format;
    } kFormats[] = {
        {"ps", MediaFormatMpeg2Ps}, {"svm", MediaFormatMpeg2Ps}, {"vob", MediaFormatDvd},
        {"mp4", MediaFormatMp4},    {"m4v", MediaFormatMp4},     {"flv", MediaFormatFlv},
        {"ts", MediaFormatMpeg2Ts}, {"m3u8", MediaFormatHls},    {"smil", MediaFormatSmil},
        {"smi", MediaFormatSmil},
    };
    for (const auto& entry : kFormats) {
        if (ext == entry.ext) return entry.format;
    }
    return MediaFormatUnknown;
}

SourceKind ClassifySource(const std::string& url) {
    if (!SV::IsUrl(url)) return SourceKindLocalPath;
    const std::string scheme = SV::GetUrlScheme(url);
    if (scheme == "http" || scheme == "https") {
        return ClassifyMedia(url) == MediaFormatHls ? SourceKindHttpLive : SourceKindHttp;
    }
    if (scheme == "rtmp") return SourceKindRtmp;
    if (scheme == "memory") return SourceKindMemory;
    if (scheme == "udp") return SourceKindUdp;
    return SourceKindUnknown;
}

bool IsSparse(const std::string& url) {
    const size_t dot = url.rfind('.');
    return (dot == std::string::npos ? url : url.substr(dot + 1)) == "sparse";
}

}  // namespace SarvelonMediaKit
