#ifndef PLATFORM_MEDIA_HLS_MASTER_PLAYLIST_H
#define PLATFORM_MEDIA_HLS_MASTER_PLAYLIST_H
// Tells a master playlist from a media playlist and finds the first variant of a master.
//
// The headless player opens a master's first variant itself: handed the master, libavformat
// would fetch every variant's playlist, and the media engine takes each fetch as a rendition
// being asked for.
//
//   #EXTM3U                               first line (a UTF-8 byte-order mark may precede it)
//   #EXT-X-STREAM-INF:BANDWIDTH=...       a variant: its URI is the next line that is neither
//   v0/index.m3u8                         empty nor a tag or comment ('#')
//   #EXT-X-I-FRAME-STREAM-INF:URI="..."   not a variant to play (ignored)
//
// Lines end in LF or CRLF. A media playlist (EXTINF before any variant) or text that does not
// start with #EXTM3U has no variant.

#include <optional>
#include <string>
#include <string_view>

namespace ns {

class HlsMasterPlaylist {
public:
    // The first variant's URI as written (relative or absolute); nothing when the text is
    // not a master playlist or its first variant has no URI.
    static std::optional<std::string> FirstVariantUri(std::string_view text);
    // Whether the text starts as a playlist does ("#EXTM3U", after an optional byte-order mark).
    static bool LooksLikePlaylist(std::string_view text);
};

}  // namespace ns

#endif  // PLATFORM_MEDIA_HLS_MASTER_PLAYLIST_H
