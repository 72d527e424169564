#include "engine/container/MediaTrack.h"

#include <gtest/gtest.h>

namespace SarvelonMediaKit {
namespace {

TEST(MediaTrackTest, SettersKeepTheDictionaryInStep) {
    MediaTrack track;
    EXPECT_EQ(0u, track.GetInfo().GetUnsignedIntOrDefault(TrackInfoKey_Version, 0));
    EXPECT_TRUE(track.GetInfo().empty());

    track.SetId(3);
    uint32_t u32 = 0;
    EXPECT_TRUE(track.GetInfo().GetUnsignedInt(TrackInfoKey_Id, u32));
    EXPECT_EQ(3u, u32);

    track.SetBitRate(1007);
    EXPECT_EQ(125u, track.GetByteRate());
    EXPECT_TRUE(track.GetInfo().GetUnsignedInt(TrackInfoKey_BitRate, u32));
    EXPECT_EQ(1007u, u32);

    track.SetTrickPlayRate(-4);
    int32_t s32 = 0;
    EXPECT_TRUE(track.GetInfo().GetSignedInt(TrackInfoKey_TrickPlayRate, s32));  // signed kind
    EXPECT_EQ(-4, s32);
    track.SetTrickPlayRate(0);
    EXPECT_EQ(nullptr, track.GetInfo().GetValue(TrackInfoKey_TrickPlayRate));
    EXPECT_EQ(0, track.GetTrickPlayRate());

    track.SetSource("http://host/title.svm");
    EXPECT_EQ("http://host/title.svm", track.GetInfo().GetStringOrDefault(TrackInfoKey_Source, ""));
    track.SetSource("");
    EXPECT_EQ(nullptr, track.GetInfo().GetValue(TrackInfoKey_Source));
    EXPECT_EQ("", track.GetSource());

    track.SetTimingOffset(1.5f);
    EXPECT_EQ(1.5f, track.GetInfo().GetFloatOrDefault(TrackInfoKey_TimingOffset, 0.0f));
    track.SetTimingOffset(0.0f);
    EXPECT_EQ(nullptr, track.GetInfo().GetValue(TrackInfoKey_TimingOffset));
}

}  // namespace
}  // namespace SarvelonMediaKit
