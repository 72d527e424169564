#include "engine/serve/HlsPlaylist.h"

#include <gtest/gtest.h>

namespace SarvelonMediaKit {
namespace {

TEST(HlsPlaylist, MasterNamesEachVariantWithItsBandwidth) {
    HlsPlaylist master;
    master.kind = HlsPlaylist::Kind::Master;
    master.variants = {{800, "3.m3u8"}, {4294967295u, "5.m3u8"}};
    // Media fields mean nothing in a master playlist.
    master.targetDuration = 9;
    master.endList = true;
    EXPECT_EQ(
        "#EXTM3U\n"
        "#EXT-X-STREAM-INF:PROGRAM-ID=1, BANDWIDTH=800\n"  // as given, bits per second
        "3.m3u8\n"
        "#EXT-X-STREAM-INF:PROGRAM-ID=1, BANDWIDTH=4294967295\n"  // the largest 32-bit rate
        "5.m3u8\n",
        master.Render());
    master.variants.clear();
    EXPECT_EQ("#EXTM3U\n", master.Render());
}

TEST(HlsPlaylist, SlidingWindowCarriesItsSequenceAndNoEnd) {
    HlsPlaylist window;
    window.targetDuration = 2;
    window.hasMediaSequence = true;
    window.mediaSequence = 0;  // a sequence of 0 is still written
    window.segments = {{2, "0.ts"}, {2, "1.ts"}};
    EXPECT_EQ(
        "#EXTM3U\n"
        "#EXT-X-ALLOW-CACHE:NO\n"
        "#EXT-X-TARGETDURATION:2\n"
        "#EXT-X-MEDIA-SEQUENCE:0\n"
        "#EXTINF:2,\n"
        "0.ts\n"
        "#EXTINF:2,\n"
        "1.ts\n",
        window.Render());
}

TEST(HlsPlaylist, MillisecondDurationsHaveThreeDecimals) {
    HlsPlaylist list;
    list.version = 3;
    list.targetDuration = 2;
    list.durationUnit = HlsPlaylist::DurationUnit::Milliseconds;
    list.segments = {{1234, "0.ts"}, {5, "1.ts"}, {2000, "2.ts"}, {0, "3.ts"}, {10050, "4.ts"}};
    list.endList = true;
    EXPECT_EQ(
        "#EXTM3U\n"
        "#EXT-X-ALLOW-CACHE:NO\n"
        "#EXT-X-VERSION:3\n"  // before the target duration
        "#EXT-X-TARGETDURATION:2\n"
        "#EXTINF:1.234,\n"
        "0.ts\n"
        "#EXTINF:0.005,\n"  // leading zeros of the fraction kept
        "1.ts\n"
        "#EXTINF:2.000,\n"  // a whole second still has three decimals
        "2.ts\n"
        "#EXTINF:0.000,\n"
        "3.ts\n"
        "#EXTINF:10.050,\n"
        "4.ts\n"
        "#EXT-X-ENDLIST\n",
        list.Render());
}

}  // namespace
}  // namespace SarvelonMediaKit
