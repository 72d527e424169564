// The program-stream demultiplexer on the fixture titles, checked against titledump's reading
// of the same title (tracks, index, per-stream counts and times) and against what ffprobe reads
// from the title's sources (every sample's size, decode time and key flag).

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "engine/core/Session.h"
#include "engine/demux/Mpeg2PsDemux.h"
#include "tests/support/Fixtures.h"
#include "tests/support/Mpeg2PsDemuxTestSupport.h"
#include "tools/titledump/TitleDump.h"

namespace SarvelonMediaKit {
namespace {

using demuxtest::EventRecorder;
using demuxtest::FileDemuxChain;
using demuxtest::NoStreamMapTitle;
using demuxtest::ProbedStreams;
using demuxtest::ProbeSources;
using demuxtest::RecordingMux;
using demuxtest::ShortSources;
using demuxtest::StreamRecord;
using SvTestSupport::Fixtures;

std::vector<std::string> Eac3Sources() { return {Fixtures::Eac3Clip()}; }

struct TitleCase {
    const char* name;
    std::string (*title)();
    std::vector<std::string> (*sources)();
    uint64_t audioHeader;
};

std::string TitleName(const ::testing::TestParamInfo<TitleCase>& info) { return info.param.name; }

class Mpeg2PsDemuxTitleTest : public ::testing::TestWithParam<TitleCase> {};

// The whole chain on a running session: tracks, duration, size, preload, and every stream's
// samples (size, decode time, key flag) as ffprobe reads them from the title's sources, then
// one end of stream.
TEST_P(Mpeg2PsDemuxTitleTest, RemuxesEverySampleOfTheTitle) {
    const std::string path = GetParam().title();
    SvTools::TitleSummary summary;
    std::string error;
    ASSERT_TRUE(SvTools::ReadTitle(path, summary, error)) << error;
    const ProbedStreams expected = ProbeSources(GetParam().sources(), GetParam().audioHeader);
    ASSERT_FALSE(summary.streams.empty());

    EventRecorder events;
    {
        FileDemuxChain chain(path, events);
        const boost::shared_ptr<Session>& session = chain.session;
        const boost::shared_ptr<Mpeg2PsDemux>& demux = chain.demux;
        const boost::shared_ptr<RecordingMux>& mux = chain.mux;
        chain.stack.Link();
        session->PreLoad(MediaTime(15000000));  // before the pump runs: on this thread
        session->StartPump(1000);
        session->SetPullAmount(ByteAmount(131072));
        session->Start();
        ASSERT_TRUE(events.WaitForPreload(20000));
        ASSERT_TRUE(mux->WaitForMarker(MemoryMarkerTypeEndOfStream, 20000));
        session->Stop(true);

        // One tracks event with ids 1..n in the order of the index.
        ASSERT_EQ(1u, events.trackEvents.size());
        EXPECT_TRUE(events.trackEvents[0].second);
        ASSERT_EQ(summary.tracks.size(), events.trackEvents[0].first.size());
        for (size_t i = 0; i < summary.tracks.size(); ++i) {
            EXPECT_EQ(i + 1, events.trackEvents[0].first[i]);
        }
        // Duration and media size from the index.
        uint64_t duration = 0;
        uint64_t end = 0;
        for (size_t i = 0; i < summary.tracks.size(); ++i) {
            const MediaTrackIndex& index = summary.tracks[i]->GetIndex();
            duration =
                std::max(duration, index.GetDuration() * uint64_t(1000000) / index.GetTimescale());
            end = std::max(end, index.GetOffset() + index.GetSize());
        }
        EXPECT_EQ(std::vector<uint64_t>{duration}, events.durations);
        EXPECT_EQ(std::vector<uint64_t>{end}, events.sizes);
        EXPECT_TRUE(events.errors.empty()) << events.errors.front().second;
        EXPECT_EQ(std::vector<std::string>({"tracks", "preload complete"}), events.events);
        EXPECT_EQ(uint32_t(Component::PreloadStateNone), demux->GetPreloadState())
            << "a finished preload gives its cache back once read out";

        // Every sample of every stream, with its decode time and key flag.
        const std::map<uint32_t, StreamRecord> got = mux->Streams();
        ASSERT_EQ(summary.streams.size(), got.size());
        for (size_t i = 0; i < summary.streams.size(); ++i) {
            const SvTools::StreamSummary& s = summary.streams[i];
            ASSERT_EQ(1u, got.count(s.streamId)) << "stream " << int(s.streamId);
            const StreamRecord& record = got.at(s.streamId);
            EXPECT_EQ(s.samples, record.samples.size());
            EXPECT_EQ(s.bytes, record.bytes);
            EXPECT_EQ(s.firstDecodeTime, record.samples.front().first);
            EXPECT_EQ(s.lastDecodeTime, record.samples.back().first);
            uint64_t keys = 0;
            for (size_t k = 0; k < record.samples.size(); ++k) keys += record.samples[k].second;
            EXPECT_EQ(s.keyFrames, keys);
            const bool video = (s.streamId & 0xF0) == 0xE0;
            const StreamRecord& probed = video ? expected.video : expected.audio;
            EXPECT_EQ(probed.bytes, record.bytes) << "stream " << int(s.streamId);
            EXPECT_TRUE(probed.sizes == record.sizes)
                << "sample sizes differ in stream " << int(s.streamId);
            EXPECT_TRUE(probed.samples == record.samples)
                << "decode times or key flags differ in stream " << int(s.streamId);
        }
        EXPECT_EQ(1u, mux->CountMarkers(MemoryMarkerTypeEndOfStream));
        EXPECT_TRUE(mux->IsEndOfStream());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Titles, Mpeg2PsDemuxTitleTest,
    ::testing::Values(TitleCase{"Short", &Fixtures::ShortTitle, &ShortSources, 0},
                      // The three renditions one after the other, each from its own time 0.
                      TitleCase{"MultiRate", &Fixtures::MultiRateTitle, &Fixtures::MultiRateClips,
                                0},
                      TitleCase{"Eac3", &Fixtures::Eac3Title, &Eac3Sources, 4},
                      TitleCase{"NoStreamMap", &NoStreamMapTitle, &ShortSources, 0}),
    TitleName);

}  // namespace
}  // namespace SarvelonMediaKit
