// Trick play in a real chain: file client -> seeker -> demultiplexer -> recording multiplexer,
// on a title with a normal rendition and trick-play renditions for rates 4 and -4. What
// arrives is identified by picture size against ffprobe's reading of the transport streams
// the title was made from, and placed with ffprobe's decode times; neither shares code with
// the engine's parser or the title maker.

#include <boost/make_shared.hpp>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "engine/core/ComponentStack.h"
#include "engine/core/Session.h"
#include "engine/demux/Mpeg2PsDemux.h"
#include "engine/input/FileClient.h"
#include "engine/seek/MediaSeeker.h"
#include "tests/support/Fixtures.h"
#include "tests/support/ProbePackets.h"
#include "tests/support/Mpeg2PsDemuxTestSupport.h"
#include "tests/support/RecordingSink.h"
#include "engine/seek/SeekChainTestSupport.h"

namespace SarvelonMediaKit {
namespace {

using demuxtest::EventRecorder;
using demuxtest::RecordingMux;
using SvTestSupport::Fixtures;

// A video packet of a source transport stream as ffprobe reads it: decode time (90 kHz), size
// and key flag, in decode order.
struct Picture {
    uint64_t dts;
    uint64_t size;
    bool key;
};

std::vector<Picture> Probe(const std::string& source) {
    std::vector<Picture> pictures;
    for (SvTestSupport::PacketFields& fields :
         SvTestSupport::ProbePackets(source, "dts,size,flags", "v:0")) {
        pictures.push_back(Picture{std::stoull(fields["dts"]), std::stoull(fields["size"]),
                                   SvTestSupport::IsKeyPacket(fields)});
    }
    return pictures;
}

// The pictures delivered are the source's pictures from number `first` on, one each, in order,
// up to and including the last one (in trick play, the last key frame of the trick track).
void ExpectPicturesFrom(const demuxtest::StreamRecord& got, const std::vector<Picture>& source,
                        size_t first, bool keysOnly) {
    ASSERT_LT(first, source.size());
    ASSERT_EQ(source.size() - first, got.sizes.size()) << "every later picture and no other";
    for (size_t i = 0; i < got.sizes.size(); ++i) {
        EXPECT_EQ(source[first + i].size, got.sizes[i]) << "picture " << i;
        EXPECT_EQ(source[first + i].key, got.samples[i].second) << "picture " << i;
        if (keysOnly) {
            EXPECT_TRUE(got.samples[i].second) << "picture " << i;
        }
        if (i > 0) {
            EXPECT_LT(got.samples[i - 1].first, got.samples[i].first) << "picture " << i;
        }
    }
}

class MediaSeekerTrickPlayTest : public ::testing::Test {
protected:
    void SetUp() override {
        clips_ = Fixtures::TrickClips();
        title_ = Fixtures::TrickTitle();
        normal_ = Probe(clips_[0]);
        forward_ = Probe(clips_[1]);
        reverse_ = Probe(clips_[2]);
        ASSERT_EQ(Fixtures::kTrickClipFrames, normal_.size());
        ASSERT_EQ(Fixtures::kTrickClipFrames / 4, forward_.size());
        ASSERT_EQ(Fixtures::kTrickClipFrames / 4, reverse_.size());
        // The title's clock starts at the earliest decode time of its renditions; a trick
        // rendition's pictures lie four frame times (4 x 3600 ticks) apart on it.
        origin_ = std::min({normal_[0].dts, forward_[0].dts, reverse_[0].dts});
    }
    // Title time (µs) of picture k of a trick rendition.
    uint64_t TrickTime(const std::vector<Picture>& trick, size_t k) const {
        return (trick[0].dts - origin_ + k * 4 * 3600) * 100 / 9;
    }

    // Title time (µs) of picture i of the normal rendition.
    uint64_t NormalTime(size_t i) const { return (normal_[i].dts - origin_) * 100 / 9; }
    // The normal rendition's key frame at or before / at or after a title time.
    size_t KeyAtOrBefore(uint64_t t) const {
        size_t key = 0;
        for (size_t i = 0; i < normal_.size(); ++i) {
            if (normal_[i].key && NormalTime(i) <= t) key = i;
        }
        return key;
    }
    size_t KeyAtOrAfter(uint64_t t) const {
        for (size_t i = 0; i < normal_.size(); ++i) {
            if (normal_[i].key && NormalTime(i) >= t) return i;
        }
        ADD_FAILURE() << "no key frame at or after " << t;
        return 0;
    }
    // The rate-4 rendition's first picture at or after a title time.
    size_t ForwardAtOrAfter(uint64_t t) const {
        size_t k = 0;
        while (k + 1 < forward_.size() && TrickTime(forward_, k) < t) ++k;
        return k;
    }
    // The reverse rendition's last picture at or before one of its own times (which run from
    // the title's end), and the title time a picture of it shows.
    size_t ReverseAtOrBefore(uint64_t own) const {
        size_t k = 0;
        while (k + 1 < reverse_.size() && TrickTime(reverse_, k + 1) <= own) ++k;
        return k;
    }
    uint64_t ReverseTitleTime(size_t k) const { return kDuration - TrickTime(reverse_, k); }

    // 500 source frames at 25 fps.
    static constexpr uint64_t kDuration = Fixtures::kTrickClipFrames * 40000;

    std::vector<std::string> clips_;
    std::string title_;
    std::vector<Picture> normal_, forward_, reverse_;
    uint64_t origin_ = 0;
};

TEST_F(MediaSeekerTrickPlayTest, ForwardAndReverseGiveKeyFramesInOrderThenNormalPlayResumes) {
    SeekChain chain(title_);
    chain.Preload();
    ASSERT_TRUE(chain.seeker->GetCurrentTrack());
    EXPECT_EQ(1u, chain.seeker->GetCurrentTrack()->GetId().Get());
    for (int i = 0; i < 4; ++i) chain.mux->PullData(ByteAmount(65536));

    // Rate 4 from 8 s: the rate-4 rendition from its first picture at or after 8 s.
    const uint64_t at = 8000000;
    chain.mux->Forget();
    chain.session->TrickPlayInTask(TrickPlayRate(4), MediaTime(at));
    ASSERT_TRUE(chain.seeker->GetCurrentTrack());
    EXPECT_EQ(2u, chain.seeker->GetCurrentTrack()->GetId().Get());
    size_t first = 0;
    while (first < forward_.size() && TrickTime(forward_, first) < at) ++first;
    chain.PullToEnd();
    {
        SCOPED_TRACE("rate 4");
        ExpectPicturesFrom(chain.VideoRecord(), forward_, first, true);
        // Source order: every fourth picture of the pattern going forward, 32 s of source per
        // 8 s of play; picture k of this rendition is picture 4k of the normal one in time.
        EXPECT_EQ(2u, chain.demux->GetCurrentTrack()->GetId().Get());
    }

    // Rate -4 from 8 s: a reverse track's time t shows the title at its duration minus t, so
    // the first picture is the one at or before duration - 8 s, and the source runs backwards.
    chain.mux->Forget();
    chain.session->TrickPlayInTask(TrickPlayRate(-4), MediaTime(at));
    ASSERT_TRUE(chain.seeker->GetCurrentTrack());
    const boost::shared_ptr<MediaTrack> reverseTrack = chain.seeker->GetCurrentTrack();
    EXPECT_EQ(3u, reverseTrack->GetId().Get());
    const MediaTrackIndex& index = reverseTrack->GetIndex();
    const uint64_t duration = index.TicksToMicroseconds(index.GetDuration());
    EXPECT_EQ(20000000u, duration) << "125 pictures of 4 frame times";
    size_t last = 0;
    while (last + 1 < reverse_.size() && TrickTime(reverse_, last + 1) <= duration - at) ++last;
    chain.PullToEnd();
    {
        SCOPED_TRACE("rate -4");
        ExpectPicturesFrom(chain.VideoRecord(), reverse_, last, true);
        // The reversed rendition's picture k shows source picture 496 - 4k: the sizes of the
        // forward rendition backwards are no oracle (encodings differ), so the order is shown
        // by the reversed source's own sequence above and its start: duration - 8 s = 12 s
        // of play lies 8 s from the title's start.
        EXPECT_NEAR(double(duration - at), double(TrickTime(reverse_, last)), 160000.0);
    }

    // Back to normal speed at 12 s: the normal rendition from its key frame at or before 12 s,
    // every picture, key frames and the others.
    const uint64_t resume = 12000000;
    chain.mux->Forget();
    chain.session->TrickPlayInTask(TrickPlayRate(0), MediaTime(resume));
    ASSERT_TRUE(chain.seeker->GetCurrentTrack());
    EXPECT_EQ(1u, chain.seeker->GetCurrentTrack()->GetId().Get());
    size_t key = 0;
    for (size_t i = 0; i < normal_.size(); ++i) {
        if (normal_[i].key && (normal_[i].dts - origin_) * 100 / 9 <= resume) key = i;
    }
    chain.PullToEnd();
    {
        SCOPED_TRACE("rate 0");
        ExpectPicturesFrom(chain.VideoRecord(), normal_, key, false);
    }
    EXPECT_TRUE(chain.events.errors.empty());
}

// The latest video media time the demultiplexer reported (its second time).
class LastVideoTime : public StreamInfoMonitor {
public:
    void MediaTimeAvailable(uint32_t kind, MediaTime, MediaTime second) override {
        if (kind == 2) {
            last = second.Get();
            ++count;
        }
    }
    uint64_t last = 0;
    size_t count = 0;
};

const MediaTime kNoTime(MediaSeeker::kInvalidMediaTime);

TEST_F(MediaSeekerTrickPlayTest, TrickPlayWithoutTimeStartsFromTheRepositionedEntry) {
    // Every request right after a seek or another request, before any pull: the stream stands
    // at the entry the last reposition chose, in the title's time.
    const uint64_t seekTo = 6000000;
    const uint64_t normalAt = NormalTime(KeyAtOrBefore(seekTo));
    {
        SCOPED_TRACE("normal -> +4");
        SeekChain chain(title_);
        chain.Preload();
        chain.session->SeekInTask(MediaTime(seekTo));
        EXPECT_EQ(normalAt, chain.seeker->GetLastMediaTime().Get());
        chain.mux->Forget();
        chain.session->TrickPlayInTask(TrickPlayRate(4), kNoTime);
        ASSERT_TRUE(chain.seeker->GetCurrentTrack());
        EXPECT_EQ(2u, chain.seeker->GetCurrentTrack()->GetId().Get());
        const size_t first = ForwardAtOrAfter(normalAt);
        EXPECT_EQ(TrickTime(forward_, first), chain.seeker->GetLastMediaTime().Get());
        chain.PullToEnd();
        ExpectPicturesFrom(chain.VideoRecord(), forward_, first, true);
    }
    {
        SCOPED_TRACE("normal -> -4");
        SeekChain chain(title_);
        chain.Preload();
        chain.session->SeekInTask(MediaTime(12000000));
        const uint64_t at = NormalTime(KeyAtOrBefore(12000000));
        chain.mux->Forget();
        chain.session->TrickPlayInTask(TrickPlayRate(-4), kNoTime);
        ASSERT_TRUE(chain.seeker->GetCurrentTrack());
        EXPECT_EQ(3u, chain.seeker->GetCurrentTrack()->GetId().Get());
        const size_t last = ReverseAtOrBefore(kDuration - at);
        EXPECT_EQ(ReverseTitleTime(last), chain.seeker->GetLastMediaTime().Get());
        chain.PullToEnd();
        ExpectPicturesFrom(chain.VideoRecord(), reverse_, last, true);
    }
    {
        // Two changes with no pull between: the second starts where the first put the
        // stream (the reverse picture at or after 6 s of the title), not at the normal
        // rendition's time read as a reverse one.
        SCOPED_TRACE("normal -> -4 -> 0");
        SeekChain chain(title_);
        chain.Preload();
        chain.session->SeekInTask(MediaTime(seekTo));
        chain.session->TrickPlayInTask(TrickPlayRate(-4), kNoTime);
        const uint64_t reverseAt = ReverseTitleTime(ReverseAtOrBefore(kDuration - normalAt));
        ASSERT_GT(reverseAt, MediaSeeker::kReverseRestartThreshold);
        EXPECT_EQ(reverseAt, chain.seeker->GetLastMediaTime().Get());
        chain.mux->Forget();
        chain.session->TrickPlayInTask(TrickPlayRate(0), kNoTime);
        ASSERT_TRUE(chain.seeker->GetCurrentTrack());
        EXPECT_EQ(1u, chain.seeker->GetCurrentTrack()->GetId().Get());
        chain.PullToEnd();
        // Above 5 s leaving reverse play goes on from the next key frame.
        ExpectPicturesFrom(chain.VideoRecord(), normal_, KeyAtOrAfter(reverseAt), false);
    }
    EXPECT_EQ(8000000u, NormalTime(KeyAtOrAfter(6040000))) << "fixture: 2 s groups of pictures";
}

TEST_F(MediaSeekerTrickPlayTest, LeavingReversePlayWithoutTimeRestartsOnlyNearTheStart) {
    for (const uint64_t reverseFrom : {3000000u, 7000000u}) {
        SCOPED_TRACE(reverseFrom);
        SeekChain chain(title_);
        chain.Preload();
        chain.session->TrickPlayInTask(TrickPlayRate(-4), MediaTime(reverseFrom));
        const uint64_t at = ReverseTitleTime(ReverseAtOrBefore(kDuration - reverseFrom));
        EXPECT_EQ(at, chain.seeker->GetLastMediaTime().Get());
        chain.mux->Forget();
        chain.session->TrickPlayInTask(TrickPlayRate(0), kNoTime);
        ASSERT_TRUE(chain.seeker->GetCurrentTrack());
        EXPECT_EQ(1u, chain.seeker->GetCurrentTrack()->GetId().Get());
        chain.PullToEnd();
        // At or below 5 s: from the title's first picture; above: the next key frame.
        const size_t first = at <= MediaSeeker::kReverseRestartThreshold ? 0 : KeyAtOrAfter(at);
        ExpectPicturesFrom(chain.VideoRecord(), normal_, first, false);
        if (reverseFrom > MediaSeeker::kReverseRestartThreshold) {
            EXPECT_LT(0u, first);
        }
    }
}

TEST_F(MediaSeekerTrickPlayTest, DirectionChangesAfterPlayStartWhereTheStreamWasReported) {
    {
        // +4 -> -4: the rate-4 rendition played on from 8 s; reverse play starts at the
        // reverse picture at or after the title time reported last.
        SCOPED_TRACE("+4 -> -4");
        SeekChain chain(title_);
        LastVideoTime reports;
        chain.demux->StreamInfoSource::AddMonitor(&reports);
        chain.Preload();
        chain.session->TrickPlayInTask(TrickPlayRate(4), MediaTime(8000000));
        chain.mux->Forget();
        reports.count = 0;
        chain.Pull(1);
        ASSERT_LT(0u, reports.count);
        const uint64_t at = reports.last;
        // Forward play moved on from 8 s and stayed inside the title.
        EXPECT_LT(8000000u, at);
        EXPECT_GE(kDuration, at);
        EXPECT_EQ(at, chain.seeker->GetLastMediaTime().Get());
        chain.mux->Forget();
        chain.session->TrickPlayInTask(TrickPlayRate(-4), kNoTime);
        EXPECT_EQ(3u, chain.seeker->GetCurrentTrack()->GetId().Get());
        chain.PullToEnd();
        ExpectPicturesFrom(chain.VideoRecord(), reverse_, ReverseAtOrBefore(kDuration - at), true);
    }
    {
        // -4 -> +4: reverse play from 12 s; what the demultiplexer reports there is the
        // title's time of the pictures (running down), and forward play goes on from it.
        SCOPED_TRACE("-4 -> +4");
        SeekChain chain(title_);
        LastVideoTime reports;
        chain.demux->StreamInfoSource::AddMonitor(&reports);
        chain.Preload();
        chain.session->TrickPlayInTask(TrickPlayRate(-4), MediaTime(12000000));
        const size_t start = ReverseAtOrBefore(kDuration - 12000000);
        chain.mux->Forget();
        reports.count = 0;
        chain.Pull(1);
        ASSERT_LT(0u, reports.count);
        const uint64_t at = reports.last;
        const size_t delivered = chain.Video().size();
        ASSERT_LT(0u, delivered);
        // At or behind the last picture handed on, on the title's time line.
        EXPECT_GE(ReverseTitleTime(start + delivered - 1), at);
        EXPECT_EQ(at, chain.seeker->GetLastMediaTime().Get());
        chain.mux->Forget();
        chain.session->TrickPlayInTask(TrickPlayRate(4), kNoTime);
        EXPECT_EQ(2u, chain.seeker->GetCurrentTrack()->GetId().Get());
        chain.PullToEnd();
        ExpectPicturesFrom(chain.VideoRecord(), forward_, ForwardAtOrAfter(at), true);
    }
}

TEST_F(MediaSeekerTrickPlayTest, SameDirectionOnlyStoresTheRateAndSeeksInReversePlayFlip) {
    SeekChain chain(title_);
    chain.Preload();
    chain.session->TrickPlayInTask(TrickPlayRate(-4), MediaTime(12000000));
    chain.Pull(1);
    const uint64_t before = chain.seeker->GetLastMediaTime().Get();
    const size_t seeks = chain.mux->CountMarkers(MemoryMarkerTypeMediaTimeSeek);

    // -4 -> -2 without a time: same track, no reposition.
    EXPECT_FALSE(chain.seeker->DoTrickPlay(TrickPlayRate(-2), kNoTime));
    EXPECT_EQ(-2, int(chain.seeker->GetTrickRate().Get()));
    EXPECT_EQ(3u, chain.seeker->GetCurrentTrack()->GetId().Get());
    EXPECT_EQ(before, chain.seeker->GetLastMediaTime().Get());
    chain.Pull(1);
    EXPECT_EQ(seeks, chain.mux->CountMarkers(MemoryMarkerTypeMediaTimeSeek));

    // A seek to 7 s of the title during reverse play: the reverse picture at or after it,
    // then backwards from there to the title's start.
    chain.seeker->DoTrickPlay(TrickPlayRate(-4), kNoTime);
    chain.mux->Forget();
    chain.session->SeekInTask(MediaTime(7000000));
    ASSERT_TRUE(chain.seeker->GetCurrentTrack());
    EXPECT_EQ(3u, chain.seeker->GetCurrentTrack()->GetId().Get());
    const size_t last = ReverseAtOrBefore(kDuration - 7000000);
    EXPECT_EQ(ReverseTitleTime(last), chain.seeker->GetLastMediaTime().Get());
    EXPECT_LE(7000000u, ReverseTitleTime(last));
    chain.PullToEnd();
    ExpectPicturesFrom(chain.VideoRecord(), reverse_, last, true);
}

}  // namespace
}  // namespace SarvelonMediaKit
