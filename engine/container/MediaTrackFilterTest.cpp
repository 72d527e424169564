#include "engine/container/MediaTrackFilter.h"

#include <gtest/gtest.h>

#include <boost/make_shared.hpp>

#include "engine/container/MediaTrack.h"

namespace SarvelonMediaKit {
namespace {

typedef MediaTrackFilter F;

boost::shared_ptr<MediaTrack> Track(uint32_t bitRate, uint32_t videoFormat, uint32_t audioFormat) {
    auto track = boost::make_shared<MediaTrack>();
    track->SetBitRate(bitRate);
    if (videoFormat)
        track->GetInfo().SetValue(TrackInfoKey_VideoFormat, SV::SVTypedValue(videoFormat));
    if (audioFormat)
        track->GetInfo().SetValue(TrackInfoKey_AudioFormat, SV::SVTypedValue(audioFormat));
    return track;
}

TEST(MediaTrackFilterTest, BitRateRuleOfTheSmallDevice) {
    MediaTrackFilter filter;
    filter.AddRule(F::SelectorBitRate, F::OperatorLess, 2000000.0);
    EXPECT_TRUE(filter.Accept(Track(1999992, 1, 1)));   // byte rate 249999 x 8
    EXPECT_FALSE(filter.Accept(Track(2000000, 1, 1)));  // exactly the limit
    EXPECT_FALSE(filter.Accept(Track(2500000, 1, 1)));
    EXPECT_FALSE(filter.Accept(Track(2500000, 0, 1)));  // audio only: judged by bit rate too
    EXPECT_TRUE(filter.Accept(Track(128000, 0, 1)));
    // The rate comes from the byte rate: 2000007 bit/s is 250000 bytes, i.e. 2000000.
    EXPECT_FALSE(filter.Accept(Track(2000007, 1, 1)));
    EXPECT_FALSE(filter.Accept(boost::shared_ptr<MediaTrack>()));
}

TEST(MediaTrackFilterTest, RulesOfASelectorCombineByOrSelectorsByAnd) {
    MediaTrackFilter filter;
    filter.AddRule(F::SelectorVideoFormat, F::OperatorEqual, 1.0);
    filter.AddRule(F::SelectorVideoFormat, F::OperatorEqual, 2.0);
    EXPECT_TRUE(filter.Accept(Track(1000, 1, 0)));
    EXPECT_TRUE(filter.Accept(Track(1000, 2, 0)));
    EXPECT_FALSE(filter.Accept(Track(1000, 3, 0)));
    EXPECT_TRUE(filter.Accept(Track(1000, 0, 1)));  // no video format: not judged

    filter.AddRule(F::SelectorChannelCount, F::OperatorLessOrEqual, 2.0);
    auto stereo = Track(1000, 1, 1);
    stereo->GetInfo().SetValue(TrackInfoKey_AudioNumChannels, SV::SVTypedValue(2u));
    auto surround = Track(1000, 1, 1);
    surround->GetInfo().SetValue(TrackInfoKey_AudioNumChannels, SV::SVTypedValue(6u));
    EXPECT_TRUE(filter.Accept(stereo));
    EXPECT_FALSE(filter.Accept(surround));
    EXPECT_FALSE(filter.Accept(Track(1000, 3, 1)));  // passes audio, fails video
}

TEST(MediaTrackFilterTest, OperatorsAndEmptyFilter) {
    MediaTrackFilter empty;
    EXPECT_TRUE(empty.Accept(Track(99999999, 7, 7)));

    const struct {
        F::Operator op;
        bool below, equal, above;  // value 1, 2, 3 against rule value 2
    } cases[] = {
        {F::OperatorLess, true, false, false},
        {F::OperatorLessOrEqual, true, true, false},
        {F::OperatorEqual, false, true, false},
        {F::OperatorGreaterOrEqual, false, true, true},
        {F::OperatorGreater, false, false, true},
        {static_cast<F::Operator>(9), false, false, false},
    };
    for (const auto& c : cases) {
        const F::Rules rules = {{c.op, 2.0}};
        EXPECT_EQ(c.below, F::MatchesAny(1.0, rules)) << c.op;
        EXPECT_EQ(c.equal, F::MatchesAny(2.0, rules)) << c.op;
        EXPECT_EQ(c.above, F::MatchesAny(3.0, rules)) << c.op;
    }
    EXPECT_FALSE(F::MatchesAny(1.0, F::Rules()));

    // A selector whose only rule never matches rejects every track it judges.
    MediaTrackFilter never;
    never.AddRule(F::SelectorAudioProfile, static_cast<F::Operator>(9), 0.0);
    EXPECT_FALSE(never.Accept(Track(1000, 0, 1)));
    EXPECT_TRUE(never.Accept(Track(1000, 1, 0)));  // no audio format: not judged
    // Selectors outside 1-10 judge nothing.
    MediaTrackFilter unknown;
    unknown.AddRule(static_cast<F::Selector>(11), F::OperatorLess, -1.0);
    EXPECT_TRUE(unknown.Accept(Track(1000, 1, 1)));
}

TEST(MediaTrackFilterTest, AspectRatioUsesThePixelAspect) {
    auto track = Track(1000, 1, 0);
    SV::SVDictionary& info = track->GetInfo();
    info.SetValue(TrackInfoKey_VideoWidth, SV::SVTypedValue(1280u));
    info.SetValue(TrackInfoKey_VideoHeight, SV::SVTypedValue(720u));
    info.SetValue(TrackInfoKey_VideoPixelWidth, SV::SVTypedValue(4u));
    info.SetValue(TrackInfoKey_VideoPixelHeight, SV::SVTypedValue(3u));
    MediaTrackFilter wide;  // 1280 / 720 x 4 / 3 = 2.370
    wide.AddRule(F::SelectorAspectRatio, F::OperatorGreater, 2.36);
    wide.AddRule(F::SelectorAspectRatio, F::OperatorEqual, 0.0);
    EXPECT_TRUE(wide.Accept(track));
    MediaTrackFilter narrow;
    narrow.AddRule(F::SelectorAspectRatio, F::OperatorLess, 2.37);
    EXPECT_FALSE(narrow.Accept(track));

    info.SetValue(TrackInfoKey_VideoHeight, SV::SVTypedValue(0u));  // no height: value 0
    MediaTrackFilter zero;
    zero.AddRule(F::SelectorAspectRatio, F::OperatorEqual, 0.0);
    EXPECT_TRUE(zero.Accept(track));
}

TEST(MediaTrackFilterTest, InstanceIsOneProcessWideFilter) {
    EXPECT_EQ(&MediaTrackFilter::Instance(), &MediaTrackFilter::Instance());
}

}  // namespace
}  // namespace SarvelonMediaKit
