#include "engine/serve/HlsRequestName.h"

#include <cstring>

#include "SVLibrary/Path/PercentDecoder.h"

namespace SarvelonMediaKit {

namespace {

// Reads digits from text[at] up to (not including) end into value. False for no digits, a
// leading zero before further digits, a byte that is not a digit, or a value past 32 bits.
bool ReadNumber(const std::string& text, size_t at, size_t end, uint32_t& value) {
    if (at >= end) return false;
    if (text[at] == '0' && end - at > 1) return false;
    uint64_t sum = 0;
    for (size_t i = at; i < end; ++i) {
        const char c = text[i];
        if (c < '0' || c > '9') return false;
        sum = sum * 10 + static_cast<uint64_t>(c - '0');
        if (sum > 0xFFFFFFFFull) return false;
    }
    value = static_cast<uint32_t>(sum);
    return true;
}

bool EndsWith(const std::string& text, const char* suffix) {
    const size_t n = std::strlen(suffix);
    return text.size() >= n && text.compare(text.size() - n, n, suffix) == 0;
}

bool IsPathSafe(unsigned char c) {
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) return true;
    // ':' is left out: this server reads "token::name" as a token in front of a name.
    return c != '\0' && std::strchr("-._~!$&'()*+,;=@", c) != nullptr;
}

}  // namespace

std::string HlsRequestName::StripQuery(const std::string& name) {
    const size_t cut = name.find_first_of("?#");
    return cut == std::string::npos ? name : name.substr(0, cut);
}

HlsRequestName HlsRequestName::Parse(const std::string& requested) {
    HlsRequestName result;
    const std::string name = StripQuery(requested);
    if (EndsWith(name, ".m3u8")) {
        uint32_t track = 0;
        if (ReadNumber(name, 0, name.size() - 5, track)) {
            result.kind_ = KindPlaylist;
            result.track_ = track;
        }
        return result;
    }
    if (!EndsWith(name, ".ts")) return result;
    const size_t end = name.size() - 3;
    const size_t dash = name.find('-');
    if (dash == std::string::npos) {
        uint32_t number = 0;
        if (ReadNumber(name, 0, end, number)) {
            result.kind_ = KindSegment;
            result.number_ = number;
        }
        return result;
    }
    uint32_t track = 0;
    uint32_t number = 0;
    if (dash < end && ReadNumber(name, 0, dash, track) && ReadNumber(name, dash + 1, end, number)) {
        result.kind_ = KindTrackSegment;
        result.track_ = track;
        result.number_ = number;
    }
    return result;
}

std::string HlsRequestName::EncodePath(const std::string& name) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string path;
    path.reserve(name.size());
    for (size_t i = 0; i < name.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(name[i]);
        if (IsPathSafe(c)) {
            path += static_cast<char>(c);
        } else {
            path += '%';
            path += kHex[c >> 4];
            path += kHex[c & 0x0F];
        }
    }
    return path;
}

bool HlsRequestName::DecodePath(const std::string& path, std::string& name) {
    return SV::PercentDecoder(SV::PercentDecoder::kStrict).Decode(path, name);
}

}  // namespace SarvelonMediaKit
