// Bit-rate adaptation on a real title: file client -> download front -> seeker ->
// demultiplexer -> recording multiplexer, with the download's progress and the measured
// bandwidth driven by the test. What the demultiplexer delivers across the switches is checked
// against ffprobe's reading of the clips the renditions were made from; ffprobe shares no code
// with the engine.
#include <boost/make_shared.hpp>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "engine/core/ComponentStack.h"
#include "engine/core/Session.h"
#include "engine/demux/Mpeg2PsDemux.h"
#include "engine/input/FileClient.h"
#include "engine/seek/MediaSeeker.h"
#include "engine/seek/SeekChainTestSupport.h"
#include "tests/support/Fixtures.h"
#include "tests/support/Mpeg2PsDemuxTestSupport.h"
#include "tests/support/ProbePackets.h"
#include "tests/support/RecordingSink.h"
#include "tests/support/ChainBuilder.h"

namespace SarvelonMediaKit {
namespace {

using SvTestSupport::Fixtures;

// Between the file client (which has every byte at once) and the seeker: makes the file look
// like a download whose front the test moves. Bytes up to the front can be pulled; the loaded
// position is the front. As a client whose buffer is full, it stays at most `room` bytes ahead
// of what has been pulled. A seek restarts the download at its start.
class DownloadFront : public Component {
public:
    DownloadFront(Session* session, uint64_t room) : Component(session), room_(room) {}
    std::string GetTypeName() const override { return "DownloadFront"; }
    using Component::DoSeek;

    void Download(uint64_t bytes) { front_ = std::min(front_ + bytes, read_ + room_); }

    void DoPullData(ByteAmount& amount) override {
        const ByteAmount buffered = DoGetBufferedBytes();
        if (buffered < amount) amount = buffered;
        if (amount == 0) return;
        if (boost::shared_ptr<Component> source = GetSource()) source->PullData(amount);
    }
    void DoAdd(const MemoryChunk& chunk) override {
        read_ += chunk.Size();
        Component::DoAdd(chunk);
    }
    ByteAmount DoGetBufferedBytes() override {
        const boost::shared_ptr<Component> source = GetSource();
        const uint64_t ahead = front_ > read_ ? front_ - read_ : 0;
        const uint64_t left = source ? source->GetBufferedBytes().Get() : 0;
        return ByteAmount(uint32_t(std::min<uint64_t>({ahead, left, 0xFFFFFFFFu})));
    }
    bool KnowCurrentLoadedFilePosition() override { return true; }
    BytePosition DoCurrentLoadedFilePosition() override {
        const boost::shared_ptr<Component> source = GetSource();
        const uint64_t end = source ? source->CurrentLoadedFilePosition().Get() : front_;
        return BytePosition(std::min(front_, end));
    }
    void DoSeek(BytePosition start, BytePosition end, bool flag) override {
        read_ = front_ = start.Get();
        Component::DoSeek(start, end, flag);
    }

private:
    const uint64_t room_;
    uint64_t read_ = 0;
    uint64_t front_ = 0;
};

// The download's buffer: a few seconds of the fastest rendition, so the front stays within a
// switch window of what the demultiplexer reads.
const uint64_t kDownloadRoom = 2u << 20;

// The seek chain with the download's front in place of the observing stage.
struct AdaptiveChain : SeekChain {
    explicit AdaptiveChain(const std::string& path)
        : SeekChain(path,
                    [](Session* session) {
                        return boost::make_shared<DownloadFront>(session, kDownloadRoom);
                    }),
          download(boost::static_pointer_cast<DownloadFront>(front)) {}

    void Preload() {
        download->Download(kDownloadRoom);  // the index is read as a whole
        demux->PreLoad(MediaTime(15000000));
        for (int i = 0; i < 100000 && !events.WaitForPreload(0); ++i) {
            session->GetTaskManager()->RunTasks();
        }
        ASSERT_TRUE(events.WaitForPreload(0));
    }
    // The decode time of the newest video sample (0 before any).
    uint64_t NewestVideo() const {
        const auto streams = mux->Streams();
        const auto it = streams.find(0xE0);
        return it == streams.end() || it->second.samples.empty() ? 0
                                                                 : it->second.samples.back().first;
    }
    bool Ended() const { return mux->CountMarkers(MemoryMarkerTypeEndOfStream) != 0; }
    // The player's side: pulls until the newest video frame is `until` or later, or nothing
    // more comes.
    void PlayTo(uint64_t until) {
        for (int i = 0; i < 400 && !Ended() && NewestVideo() < until; ++i) {
            const size_t before = Video().size();
            const uint32_t markers = uint32_t(mux->Markers().size());
            mux->PullData(ByteAmount(65536));
            if (Video().size() == before && mux->Markers().size() == markers) break;
        }
    }

    boost::shared_ptr<DownloadFront> download;
};

// The video decode times (microseconds from the stream's first) and key flags of a clip as
// ffprobe reads them.
std::vector<std::pair<uint64_t, bool>> ProbeVideoKeys(const std::string& clip) {
    std::vector<std::pair<uint64_t, bool>> frames;
    uint64_t base = UINT64_MAX;
    std::vector<std::pair<uint64_t, bool>> raw;
    for (SvTestSupport::PacketFields& fields :
         SvTestSupport::ProbePackets(clip, "codec_type,dts,flags")) {
        const uint64_t dts = std::stoull(fields["dts"]);
        base = std::min(base, dts);
        if (fields["codec_type"] == "video")
            raw.push_back({dts, SvTestSupport::IsKeyPacket(fields)});
    }
    for (const auto& f : raw) frames.push_back({(f.first - base) * 100 / 9, f.second});  // 90 kHz
    return frames;
}

// Starts on the slowest rendition, lets a fast download take the seeker up to the fastest,
// then a slow one bring it down again, and plays to the end: the frames the demultiplexer
// delivers are the clip's, each once, in order, whatever rendition they came from.
TEST(MediaSeekerAdaptationTitleTest, SwitchesUpAndDownWithoutLosingOrRepeatingAFrame) {
    const std::vector<std::string> clips = Fixtures::AdaptiveClips();
    AdaptiveChain chain(Fixtures::AdaptiveTitle());
    ASSERT_NO_FATAL_FAILURE(chain.Preload());
    ASSERT_EQ(3u, chain.seeker->GetTracks().size());
    const uint32_t rate1 = chain.seeker->GetTracks().at(TrackId(1))->GetIndex().GetPeakByteRate();
    const uint32_t rate2 = chain.seeker->GetTracks().at(TrackId(2))->GetIndex().GetPeakByteRate();
    const uint32_t rate3 = chain.seeker->GetTracks().at(TrackId(3))->GetIndex().GetPeakByteRate();
    ASSERT_LT(rate1, rate2);
    ASSERT_LT(rate2, rate3);
    const uint32_t fast = rate3 * 3;            // fits the fastest rendition
    const uint32_t slow = (rate1 + rate2) / 2;  // fits only the slowest

    // A trickle measured before the start: the seek picks the slowest rendition.
    chain.seeker->BandwidthUpdate(ByteAmount(1), true);
    chain.session->SeekInTask(MediaTime(0));
    ASSERT_EQ(1u, chain.seeker->GetCurrentTrack()->GetId().Get());
    chain.mux->Forget();

    // One step a second: the download moves by the bandwidth, the player reads up to four
    // seconds ahead of the time it shows, the bandwidth is reported and the seeker checks.
    std::vector<uint32_t> visited = {1};
    int step = 0;
    for (; step < 120 && !chain.Ended(); ++step) {
        const bool slowPhase = step >= 15;
        const uint32_t bandwidth = slowPhase ? slow : fast;
        chain.download->Download(bandwidth);
        chain.PlayTo((uint64_t(step) + 4) * 1000000);
        chain.seeker->BandwidthUpdate(ByteAmount(bandwidth), true);
        chain.seeker->PeriodicCheck();
        const uint32_t current = chain.seeker->GetCurrentTrack()->GetId().Get();
        if (current != visited.back()) visited.push_back(current);
        if (step == 14) {
            EXPECT_EQ(3u, current) << "the fast download took it up";
        }
    }
    ASSERT_TRUE(chain.Ended()) << "played to the end in " << step << " steps";
    EXPECT_EQ(std::vector<uint32_t>({1, 3, 1}), visited);
    // The demultiplexer followed: it announced the fastest rendition and then the slowest.
    ASSERT_GE(chain.events.changedTracks.size(), 2u);
    EXPECT_EQ(1u, chain.events.changedTracks.back());
    EXPECT_NE(chain.events.changedTracks.end(),
              std::find(chain.events.changedTracks.begin(), chain.events.changedTracks.end(), 3u));

    // The renditions share their timing (same frame rate and key frames), so every frame of
    // the clip comes exactly once, in decode order, with its key flag.
    const std::vector<std::pair<uint64_t, bool>> probed = ProbeVideoKeys(clips[0]);
    const std::vector<std::pair<uint64_t, bool>> got = chain.Video();
    ASSERT_EQ(probed.size(), got.size());
    for (size_t i = 0; i < got.size(); ++i) {
        ASSERT_EQ(probed[i].first, got[i].first) << "frame " << i;
        ASSERT_EQ(probed[i].second, got[i].second) << "frame " << i;
    }
    EXPECT_TRUE(chain.events.errors.empty());
}

}  // namespace
}  // namespace SarvelonMediaKit
