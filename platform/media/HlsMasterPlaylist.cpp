#include "platform/media/HlsMasterPlaylist.h"

namespace ns {
namespace {

constexpr std::string_view kBom = "\xEF\xBB\xBF";
constexpr std::string_view kHeader = "#EXTM3U";

bool StartsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

std::string_view WithoutBom(std::string_view text) {
    return StartsWith(text, kBom) ? text.substr(kBom.size()) : text;
}

// The next line of `rest` without its line end; `rest` moves past it.
std::string_view NextLine(std::string_view& rest) {
    const size_t end = rest.find('\n');
    std::string_view line = rest.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    if (!line.empty() && line.back() == '\r') {
        line.remove_suffix(1);
    }
    return line;
}

std::string_view Trimmed(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) {
        s.remove_prefix(1);
    }
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) {
        s.remove_suffix(1);
    }
    return s;
}

}  // namespace

bool HlsMasterPlaylist::LooksLikePlaylist(std::string_view text) {
    return StartsWith(WithoutBom(text), kHeader);
}

std::optional<std::string> HlsMasterPlaylist::FirstVariantUri(std::string_view text) {
    if (!LooksLikePlaylist(text)) {
        return std::nullopt;
    }
    std::string_view rest = WithoutBom(text);
    bool inVariant = false;
    while (!rest.empty()) {
        const std::string_view line = Trimmed(NextLine(rest));
        if (line.empty()) {
            continue;
        }
        if (line[0] == '#') {
            if (StartsWith(line, "#EXT-X-STREAM-INF:")) {
                inVariant = true;
            } else if (!inVariant && StartsWith(line, "#EXTINF:")) {
                return std::nullopt;  // a media playlist
            }
            continue;
        }
        if (inVariant) {
            return std::string(line);
        }
    }
    return std::nullopt;
}

}  // namespace ns
