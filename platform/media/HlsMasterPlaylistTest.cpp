#include "platform/media/HlsMasterPlaylist.h"

#include <gtest/gtest.h>

namespace ns {
namespace {

TEST(HlsMasterPlaylist, FirstVariantIsTheUriAfterTheFirstStreamInf) {
    // As ffmpeg writes a master: a blank line between the variants.
    const char* master =
        "#EXTM3U\n"
        "#EXT-X-VERSION:3\n"
        "#EXT-X-STREAM-INF:BANDWIDTH=400400,RESOLUTION=320x180\n"
        "v0/index.m3u8\n"
        "\n"
        "#EXT-X-STREAM-INF:BANDWIDTH=180400,RESOLUTION=160x90\n"
        "v1/index.m3u8\n";
    EXPECT_EQ(HlsMasterPlaylist::FirstVariantUri(master), "v0/index.m3u8");
}

TEST(HlsMasterPlaylist, SkipsTagsCommentsAndIFrameStreamsAndToleratesCrlfAndBom) {
    const char* master =
        "\xEF\xBB\xBF#EXTM3U\r\n"
        "#EXT-X-I-FRAME-STREAM-INF:BANDWIDTH=1000,URI=\"iframes.m3u8\"\r\n"
        "#EXT-X-MEDIA:TYPE=AUDIO,GROUP-ID=\"a\",NAME=\"en\",URI=\"audio.m3u8\"\r\n"
        "#EXT-X-STREAM-INF:BANDWIDTH=5\r\n"
        "# a comment\r\n"
        "\r\n"
        "  http://localhost:20001/1.m3u8  \r\n";
    EXPECT_EQ(HlsMasterPlaylist::FirstVariantUri(master), "http://localhost:20001/1.m3u8");
}

TEST(HlsMasterPlaylist, MediaPlaylistsAndOtherTextHaveNoVariant) {
    EXPECT_FALSE(HlsMasterPlaylist::FirstVariantUri(
        "#EXTM3U\n#EXT-X-TARGETDURATION:4\n#EXTINF:4.0,\nseg0.ts\n#EXT-X-ENDLIST\n"));
    EXPECT_FALSE(HlsMasterPlaylist::FirstVariantUri("v0/index.m3u8\n#EXTM3U\n"));
    EXPECT_FALSE(HlsMasterPlaylist::FirstVariantUri(""));
    // A variant tag with no URI after it.
    EXPECT_FALSE(HlsMasterPlaylist::FirstVariantUri("#EXTM3U\n#EXT-X-STREAM-INF:BANDWIDTH=1\n"));
    // Transport-stream bytes are not a playlist.
    EXPECT_FALSE(HlsMasterPlaylist::LooksLikePlaylist(std::string("\x47\x40\x00\x10", 4)));
    EXPECT_TRUE(HlsMasterPlaylist::LooksLikePlaylist("#EXTM3U"));
}

}  // namespace
}  // namespace ns
