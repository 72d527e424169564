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

}  // namespace
}  // namespace SarvelonMediaKit
