#include "engine/mux/Mux.h"

#include <gtest/gtest.h>

#include <boost/make_shared.hpp>

#include <algorithm>
#include <string>
#include <vector>

#include "SVLibrary/TypedValue/SVDictionary.h"
#include "engine/core/ComponentStack.h"
#include "engine/samples/MergeSampleFilter.h"
#include "tests/support/RecordingSink.h"
#include "tests/support/FakeDemux.h"
#include "tests/support/ChainBuilder.h"

namespace SarvelonMediaKit {
namespace {

using SvTestSupport::FakeDemux;
using SvTestSupport::RecordingSink;

// Writes one 188-byte chunk per data sample and logs what it was given.
class LoggingMux : public Mux {
public:
    LoggingMux() : Mux(nullptr) {}
    std::string GetTypeName() const override { return "LoggingMux"; }
    void DoProcessSample(Sample& sample) override {
        log.push_back(std::string(sample.GetType() == SampleMediaTypeVideo ? "v" : "a") +
                      std::to_string(sample.GetDecodeTime().Get()));
        DoSend(CreateMemoryChunk(188, 0, 0));
    }
    void OnSampleStreamAdded(const boost::shared_ptr<SampleStream>& stream) override {
        log.push_back("+" + std::to_string(stream->GetType()));
    }
    void OnSampleStreamRemoved(const boost::shared_ptr<SampleStream>& /*stream*/) override {
        log.push_back("-");
    }
    void OnFirstDecodeTime(MediaTime time) override { firstTimes.push_back(time.Get()); }

    std::vector<std::string> log;
    std::vector<uint64_t> firstTimes;
};

// A demultiplexer whose source side takes every trick-play rate.
class TrickPlayDemux : public FakeDemux {
public:
    TrickPlayDemux() : FakeDemux(nullptr) {}
    bool DoTrickPlay(TrickPlayRate, MediaTime) override { return true; }
};

std::vector<uint8_t> Payload(size_t n) { return std::vector<uint8_t>(n, 0xAB); }

class MuxTest : public ::testing::Test {
protected:
    void Build(const boost::shared_ptr<FakeDemux>& source) {
        demux = source;
        video = demux->AddStream(0xE0, SampleMediaTypeVideo, SampleFormatH264AnnexB);
        audio = demux->AddStream(0xC0, SampleMediaTypeAudio, SampleFormatEac3);
        stack = SvTestSupport::BuildLinkedChain(StackIdMain, {sink, mux, demux});
    }
    void SetUp() override { Build(boost::make_shared<FakeDemux>(nullptr)); }
    // Takes the log entries of the samples only.
    std::vector<std::string> Emitted() const {
        std::vector<std::string> out;
        for (const std::string& entry : mux->log) {
            if (entry[0] == 'v' || entry[0] == 'a') out.push_back(entry);
        }
        return out;
    }

    ComponentStack stack{StackIdMain};
    boost::shared_ptr<RecordingSink> sink = boost::make_shared<RecordingSink>();
    boost::shared_ptr<LoggingMux> mux = boost::make_shared<LoggingMux>();
    boost::shared_ptr<FakeDemux> demux;
    size_t video = 0;
    size_t audio = 0;
};

TEST_F(MuxTest, APullOfNothingDoesNothing) {
    demux->AddSample(video, Payload(10), 0);
    mux->PullData(0);
    EXPECT_EQ(0, demux->PullCount());
    EXPECT_TRUE(sink->entries.empty());
}

TEST_F(MuxTest, StreamsAreAnnouncedAtTheFirstPullVideoFirst) {
    demux->AddSample(audio, Payload(10), 0);
    mux->PullData(100000);
    EXPECT_EQ(demux, boost::shared_ptr<Component>(mux->GetSource()));
    ASSERT_EQ(2u, mux->GetSampleStreams().size());
    EXPECT_EQ(SampleMediaTypeVideo, mux->GetSampleStreams().front()->GetType());
    EXPECT_TRUE(demux->GetStream(audio)->IsConnected());
    EXPECT_EQ((std::vector<std::string>{"+2", "+1"}),
              std::vector<std::string>(mux->log.begin(), mux->log.begin() + 2));
    EXPECT_EQ(SampleFormatH264AnnexB, mux->GetStreamFormat(SampleMediaTypeVideo));
    EXPECT_EQ(SampleFormatEac3, mux->GetStreamFormat(SampleMediaTypeAudio));
    EXPECT_EQ(0u, mux->GetStreamFormat(7));
}

TEST_F(MuxTest, SamplesLeaveInDecodeTimeOrderVideoFirstOnEqualTimes) {
    demux->AddSample(audio, Payload(10), 0);
    demux->AddSample(audio, Payload(10), 21000);
    demux->AddSample(video, Payload(10), 0);
    demux->AddSample(audio, Payload(10), 42000);
    demux->AddSample(video, Payload(10), 40000);
    demux->AddSample(audio, Payload(10), 64000);
    demux->AddSample(video, Payload(10), 80000);
    demux->SetEndOfStreamAtEnd(true);
    mux->PullData(1000000);
    EXPECT_EQ(
        (std::vector<std::string>{"v0", "a0", "a21000", "v40000", "a42000", "a64000", "v80000"}),
        Emitted());
    EXPECT_EQ(std::vector<uint64_t>{0}, mux->firstTimes);
    // The end-of-stream marker follows the last sample.
    ASSERT_FALSE(sink->entries.empty());
    EXPECT_TRUE(sink->entries.back().isMarker);
    EXPECT_EQ(uint32_t(MemoryMarkerTypeEndOfStream), sink->entries.back().markerType);
}

TEST_F(MuxTest, AnEmptyStreamEndsThePassUntilTheEndOfStream) {
    demux->AddSample(video, Payload(10), 0);
    demux->AddSample(audio, Payload(10), 0);
    demux->AddSample(video, Payload(10), 40000);
    demux->AddSample(video, Payload(10), 80000);
    mux->PullData(1000000);
    // The audio queue stays empty, so no later picture may go out yet.
    EXPECT_EQ((std::vector<std::string>{"v0", "a0"}), Emitted());
    EXPECT_FALSE(demux->GetStream(video)->IsEmpty());

    mux->SetEndOfStream(true);
    mux->PullData(1000000);
    EXPECT_EQ((std::vector<std::string>{"v0", "a0", "v40000", "v80000"}), Emitted());
    EXPECT_EQ(std::vector<uint64_t>{0}, mux->firstTimes);  // once in the multiplexer's life
}

TEST_F(MuxTest, APullEndsOnceTheAmountHasGoneOutAndTheNextGoesOn) {
    for (int i = 0; i < 5; ++i) demux->AddSample(video, Payload(10), i * 40000);
    demux->SetEndOfStreamAtEnd(true);
    mux->PullData(2 * 188);
    EXPECT_EQ((std::vector<std::string>{"v0", "v40000"}), Emitted());
    mux->PullData(188);
    EXPECT_EQ((std::vector<std::string>{"v0", "v40000", "v80000"}), Emitted());
    mux->PullData(100000);
    EXPECT_EQ(5u, Emitted().size());
}

TEST_F(MuxTest, MarkersPassDownstreamInTheirPlace) {
    demux->AddSample(video, Payload(10), 0);
    demux->AddMarker(video, boost::make_shared<MemoryMarkerMediaTimeSeek>(MediaTime(5), 1));
    demux->AddSample(video, Payload(10), 40000);
    demux->SetEndOfStreamAtEnd(true);
    mux->PullData(100000);
    ASSERT_EQ(4u, sink->entries.size());
    EXPECT_FALSE(sink->entries[0].isMarker);
    EXPECT_TRUE(sink->entries[1].isMarker);
    EXPECT_EQ(uint32_t(MemoryMarkerTypeMediaTimeSeek), sink->entries[1].markerType);
    EXPECT_FALSE(sink->entries[2].isMarker);
    EXPECT_EQ(uint32_t(MemoryMarkerTypeEndOfStream), sink->entries[3].markerType);
}

TEST_F(MuxTest, RepositioningThisStackFlushesTheQueuesAndForgetsTheEnd) {
    demux->AddSample(video, Payload(10), 0);
    demux->AddSample(audio, Payload(10), 0);
    demux->AddSample(video, Payload(10), 40000);
    demux->AddSample(video, Payload(10), 80000);
    mux->PullData(100000);
    mux->SetEndOfStream(true);
    ASSERT_FALSE(demux->GetStream(video)->IsEmpty());
    const uint32_t held = mux->GetBufferedBytes();
    EXPECT_EQ(20u, held);  // two pictures of 10 bytes still queued

    mux->SetPosition(BytePosition(0), StackIdAudioBranch);  // another stack: kept
    EXPECT_FALSE(demux->GetStream(video)->IsEmpty());
    EXPECT_TRUE(mux->IsEndOfStream());

    mux->SetPosition(BytePosition(0), StackIdMain);
    EXPECT_TRUE(demux->GetStream(video)->IsEmpty());
    EXPECT_FALSE(mux->IsEndOfStream());
    EXPECT_EQ(0u, mux->GetBufferedBytes());
}

TEST_F(MuxTest, RemovingAStreamAlwaysRunsTheHook) {
    boost::shared_ptr<SampleStream> stranger = boost::make_shared<SampleStream>(
        nullptr, StreamReference(9), SampleMediaTypeAudio, SampleFormatEac3);
    stranger->SetConnected(true);
    mux->RemoveSampleStream(stranger);
    EXPECT_FALSE(stranger->IsConnected());
    EXPECT_EQ("-", mux->log.back());

    demux->AddSample(video, Payload(10), 0);
    mux->PullData(1);
    mux->RemoveSampleStream(demux->GetStream(video));
    EXPECT_EQ(1u, mux->GetSampleStreams().size());
    EXPECT_FALSE(demux->GetStream(video)->IsConnected());
}

TEST(MuxTrickPlay, AudioPausesAtAnyRateButNormalSpeed) {
    boost::shared_ptr<RecordingSink> sink = boost::make_shared<RecordingSink>();
    boost::shared_ptr<LoggingMux> mux = boost::make_shared<LoggingMux>();
    boost::shared_ptr<TrickPlayDemux> demux = boost::make_shared<TrickPlayDemux>();
    const size_t video = demux->AddStream(0xE0, SampleMediaTypeVideo, SampleFormatH264AnnexB);
    const size_t audio = demux->AddStream(0xC0, SampleMediaTypeAudio, SampleFormatEac3);
    ComponentStack stack = SvTestSupport::BuildLinkedChain(StackIdMain, {sink, mux, demux});
    demux->AddSample(video, Payload(10), 0);
    mux->PullData(1);

    EXPECT_TRUE(mux->TrickPlay(TrickPlayRate(4), MediaTime(0)));
    EXPECT_FALSE(demux->GetStream(audio)->IsConnected());
    EXPECT_TRUE(demux->GetStream(video)->IsConnected());
    // Only pictures are waited for while audio is off.
    demux->AddSample(video, Payload(10), 40000);
    demux->AddSample(video, Payload(10), 80000);
    mux->PullData(100000);
    EXPECT_EQ(3u, std::count_if(mux->log.begin(), mux->log.end(),
                                [](const std::string& s) { return s[0] == 'v'; }));

    EXPECT_TRUE(mux->TrickPlay(TrickPlayRate(0), MediaTime(0)));
    EXPECT_TRUE(demux->GetStream(audio)->IsConnected());
}

TEST_F(MuxTest, ARateNobodyTakesLeavesAudioAlone) {
    demux->AddSample(video, Payload(10), 0);
    mux->PullData(1);
    EXPECT_FALSE(mux->TrickPlay(TrickPlayRate(4), MediaTime(0)));
    EXPECT_TRUE(demux->GetStream(audio)->IsConnected());
}

// sink <- mux <- main, and a side branch whose one demultiplexer feeds the same multiplexer.
// Each test adds its streams, then joins the branch and links.
class MuxSideBranch : public ::testing::Test {
protected:
    // The main chain as a stack with the side branch adopted, not yet linked.
    void Join() {
        stack = SvTestSupport::BuildChain(StackIdMain, {sink, mux, main});
        mux->AddSideBranch(SvTestSupport::BuildChain(StackIdAudioBranch, {side}));
    }

    boost::shared_ptr<RecordingSink> sink = boost::make_shared<RecordingSink>();
    boost::shared_ptr<LoggingMux> mux = boost::make_shared<LoggingMux>();
    boost::shared_ptr<FakeDemux> main = boost::make_shared<FakeDemux>(nullptr);
    boost::shared_ptr<FakeDemux> side = boost::make_shared<FakeDemux>(nullptr);
    ComponentStack stack{StackIdMain};
};

TEST_F(MuxSideBranch, ABranchIsAdoptedLinkedAndInterleaved) {
    const size_t video = main->AddStream(0xE0, SampleMediaTypeVideo, SampleFormatH264AnnexB);
    const size_t audio = side->AddStream(0xC0, SampleMediaTypeAudio, SampleFormatEac3);
    Join();
    mux->AddSideBranch(ComponentStack(StackIdAudioBranch));  // an empty branch is skipped
    stack.Link();

    EXPECT_EQ(mux.get(), side->GetMux());
    EXPECT_EQ(mux, side->GetConsumer());
    ASSERT_EQ(2u, mux->GetDemuxes().size());

    main->AddSample(video, Payload(10), 0);
    main->AddSample(video, Payload(10), 40000);
    side->AddSample(audio, Payload(30), 20000);
    side->SetEndOfStreamAtEnd(true);
    main->SetEndOfStreamAtEnd(true);
    main->SetSamplesPerPull(0);  // main announces its stream but holds its pictures back
    side->SetSamplesPerPull(0);
    mux->PullData(1);                               // announces the main stream only
    side->PullSamples();                            // announces the audio stream
    EXPECT_EQ(30u + 20u, mux->GetBufferedBytes());  // the branch's unread bytes count too

    main->SetSamplesPerPull(1);
    side->SetSamplesPerPull(1);
    mux->PullData(100000);
    EXPECT_EQ((std::vector<std::string>{"v0", "a20000", "v40000"}),
              std::vector<std::string>(mux->log.end() - 3, mux->log.end()));

    // The multiplexer's line carries the main branch's label and then each side branch's
    // dump (its one stage and the task line that ends every walk); the main branch's stages
    // follow the label's line. Every queue is empty now, so every count is 0.
    EXPECT_EQ(
        "\tLoggingMux:No MemoryCache(0)"                    // type, no cache, buffered bytes
        "MUX MAIN BRANCH: "                                 // the label of the main branch
        "\r\nMUX SIDE BRANCH: "                             // then the side branch,
        "\tSvTestSupport::FakeDemux:No MemoryCache(0)\r\n"  // its demultiplexer's line
        "\tPending data in Tasks 0"                         // (no session: no pending data)
        "\r\n"                                              // end of the multiplexer's line
        "\tSvTestSupport::FakeDemux:No MemoryCache(0)\r\n"  // the main branch's demultiplexer
        "\tPending data in Tasks 0",
        mux->Dump());
}

// Merges audio three samples to one, as a transport-stream multiplexer for segments does,
// and writes one chunk per sample whose size is the payload's, so that the sink shows
// which bytes went out where.
class MergingMux : public Mux {
public:
    MergingMux() : Mux(nullptr) {}
    std::string GetTypeName() const override { return "MergingMux"; }
    void OnSampleStreamAdded(const boost::shared_ptr<SampleStream>& stream) override {
        if (stream->GetType() == SampleMediaTypeAudio) {
            stream->AddFilter(boost::make_shared<MergeSampleFilter>(stream, 3, 0));
        }
    }
    void DoProcessSample(Sample& sample) override {
        log.push_back(std::string(sample.GetType() == SampleMediaTypeVideo ? "v" : "a") +
                      std::to_string(sample.GetDecodeTime().Get()) + "/" +
                      std::to_string(sample.GetPayload().Size()));
        DoSend(CreateMemoryChunk(sample.GetPayload().Size(), 0, 0));
    }
    std::vector<std::string> log;
};

// What reached the sink: "d<size>" for data, "m<type>" for a marker.
std::vector<std::string> SinkLog(const RecordingSink& sink) {
    std::vector<std::string> out;
    for (const RecordingSink::Entry& entry : sink.entries) {
        out.push_back(entry.isMarker ? "m" + std::to_string(entry.markerType)
                                     : "d" + std::to_string(entry.bytes.size()));
    }
    return out;
}

class MuxEndTest : public ::testing::Test {
protected:
    void Build(bool withVideo) {
        if (withVideo) video = demux->AddStream(0xE0, SampleMediaTypeVideo, SampleFormatH264AnnexB);
        audio = demux->AddStream(0xC0, SampleMediaTypeAudio, SampleFormatEac3);
        stack = SvTestSupport::BuildLinkedChain(StackIdMain, {sink, mux, demux});
    }
    ComponentStack stack{StackIdMain};
    boost::shared_ptr<RecordingSink> sink = boost::make_shared<RecordingSink>();
    boost::shared_ptr<MergingMux> mux = boost::make_shared<MergingMux>();
    boost::shared_ptr<FakeDemux> demux = boost::make_shared<FakeDemux>(nullptr);
    size_t video = 0;
    size_t audio = 0;
};

// The end marker rides in the video queue behind the last picture, while the audio filter
// still holds two of a group of three: they go out as one short group before the end, and the
// end-of-data marker queued behind the end stays after it.
TEST_F(MuxEndTest, EverythingHeldGoesOutBeforeTheEndMarker) {
    Build(true);
    demux->AddSample(video, Payload(100), 0);
    demux->AddSample(video, Payload(101), 40000);
    demux->AddSample(video, Payload(102), 80000);
    for (int i = 0; i < 5; ++i) demux->AddSample(audio, Payload(10 + i), i * 20000);
    demux->SetSamplesPerPull(100);  // all at once: the end finds every queue filled
    demux->SetEndOfStreamAtEnd(true);
    demux->SetEndOfDataAtEnd(true);
    mux->PullData(1000000);
    // Audio groups: 0-40000 (10+11+12 bytes) and the short one 60000-80000 (13+14 bytes).
    EXPECT_EQ(
        (std::vector<std::string>{"v0/100", "a0/33", "v40000/101", "v80000/102", "a60000/27"}),
        mux->log);
    EXPECT_EQ((std::vector<std::string>{"d100", "d33", "d101", "d102", "d27",
                                        "m" + std::to_string(MemoryMarkerTypeEndOfStream),
                                        "m" + std::to_string(MemoryMarkerTypeEndOfData)}),
              SinkLog(*sink));
}

// Audio alone, pulled a frame at a time: every queue is empty when the end comes, so the
// marker travels past the queues; the short group still leaves ahead of it.
TEST_F(MuxEndTest, AnEndThatBypassesTheQueuesStillLetsTheShortGroupOut) {
    Build(false);
    for (int i = 0; i < 4; ++i) demux->AddSample(audio, Payload(10 + i), i * 20000);
    demux->SetEndOfStreamAtEnd(true);
    mux->PullData(1000000);
    EXPECT_EQ((std::vector<std::string>{"a0/33", "a60000/13"}), mux->log);
    EXPECT_EQ(
        (std::vector<std::string>{"d33", "d13", "m" + std::to_string(MemoryMarkerTypeEndOfStream)}),
        SinkLog(*sink));
}

// A reposition drops what the filter held: those frames belong to the old position, and the
// end that follows the new one lets out only what came after it.
TEST_F(MuxEndTest, ARepositionStillDiscardsAShortGroup) {
    Build(false);
    demux->AddSample(audio, Payload(10), 0);
    demux->AddSample(audio, Payload(11), 20000);
    mux->PullData(1000000);
    EXPECT_TRUE(mux->log.empty());  // two of three, held
    mux->SetPosition(BytePosition(0), StackIdMain);
    demux->AddSample(audio, Payload(20), 500000);
    demux->SetEndOfStreamAtEnd(true);
    mux->PullData(1000000);
    EXPECT_EQ((std::vector<std::string>{"a500000/20"}), mux->log);
}

// The side branch's rendition ends first, while the main chain's last picture is still to
// come. Its end must not end the output ahead of that picture: the output carries one end of
// stream, behind everything.
TEST_F(MuxSideBranch, TheFirstChainToEndDoesNotEndTheOutput) {
    const size_t video = main->AddStream(0xE0, SampleMediaTypeVideo, SampleFormatH264AnnexB);
    const size_t audio = side->AddStream(0xC0, SampleMediaTypeAudio, SampleFormatEac3);
    Join();
    stack.Link();

    main->AddSample(video, Payload(10), 0);
    main->AddSample(video, Payload(10), 40000);
    side->AddSample(audio, Payload(10), 10000);
    side->AddSample(audio, Payload(10), 30000);
    main->SetSamplesPerPull(0);  // each announces its stream, holding its samples back
    side->SetSamplesPerPull(0);
    main->PullSamples();
    side->PullSamples();
    side->SetEndOfStreamAtEnd(true);
    main->SetSamplesPerPull(1);
    side->SetSamplesPerPull(1);
    mux->PullData(100000);
    ASSERT_GE(mux->log.size(), 4u) << ::testing::PrintToString(mux->log);
    EXPECT_EQ((std::vector<std::string>{"v0", "a10000", "a30000", "v40000"}),
              std::vector<std::string>(mux->log.end() - 4, mux->log.end()));
    EXPECT_EQ(0u, sink->CountMarkers(MemoryMarkerTypeEndOfStream))
        << "the audio has ended, the pictures have not";

    // The last picture, then the end of the main chain's media.
    main->AddSample(video, Payload(10), 80000);
    main->SetEndOfStreamAtEnd(true);
    mux->PullData(100000);
    EXPECT_EQ("v80000", mux->log.back());
    EXPECT_EQ(1u, sink->CountMarkers(MemoryMarkerTypeEndOfStream));
    ASSERT_FALSE(sink->entries.empty());
    EXPECT_TRUE(sink->entries.back().isMarker) << "the end comes behind the last picture";
    mux->PullData(100000);
    EXPECT_EQ(1u, sink->CountMarkers(MemoryMarkerTypeEndOfStream)) << "and only once";

    // A seek starts both chains over: their ends are awaited anew.
    mux->SetPosition(BytePosition(0), StackIdMain);
    side->AddSample(audio, Payload(10), 10000);
    main->AddSample(video, Payload(10), 0);
    main->SetEndOfStreamAtEnd(false);
    mux->PullData(100000);
    EXPECT_EQ(1u, sink->CountMarkers(MemoryMarkerTypeEndOfStream));
}

std::vector<std::string> Emitted(const std::vector<std::string>& log) {
    std::vector<std::string> out;
    for (const std::string& entry : log) {
        if (entry[0] == 'v' || entry[0] == 'a') out.push_back(entry);
    }
    return out;
}

// The pictures' own sound (main chain) and an audio rendition in another language (side
// branch) meet here; only the chosen chain's audio is written, and a change of choice takes
// effect from the next sample on, in decode-time order, without a frame of both.
TEST_F(MuxSideBranch, OnlyTheChosenChainsAudioIsWritten) {
    const size_t video = main->AddStream(0xE0, SampleMediaTypeVideo, SampleFormatH264AnnexB);
    const size_t own = main->AddStream(0xC0, SampleMediaTypeAudio, SampleFormatAacAdts);
    main->SetStreamInfo(own, StreamInfoKindAudioSpecificConfig, {0x11, 0x90});
    const size_t other = side->AddStream(0xC1, SampleMediaTypeAudio, SampleFormatEac3);
    Join();
    stack.Link();
    ASSERT_EQ(2u, mux->GetDemuxes().size());
    SampleSource* mainSource = mux->GetDemuxes()[0];
    SampleSource* sideSource = mux->GetDemuxes()[1];

    // Pictures every 40 ms; the own sound at 10, 30, 50 ... ms, the rendition at 21, 41 ...
    for (uint64_t t = 0; t <= 120000; t += 40000) main->AddSample(video, Payload(10), t);
    for (uint64_t t = 10000; t <= 110000; t += 20000) main->AddSample(own, Payload(10), t);
    for (uint64_t t = 21000; t <= 121000; t += 20000) side->AddSample(other, Payload(10), t);
    main->SetSamplesPerPull(0);  // each announces its streams, holding its samples back
    side->SetSamplesPerPull(0);
    main->PullSamples();
    side->PullSamples();
    main->SetSamplesPerPull(1);
    side->SetSamplesPerPull(1);
    main->SetEndOfStreamAtEnd(true);
    side->SetEndOfStreamAtEnd(true);

    EXPECT_EQ(nullptr, mux->GetAudioSource()) << "every audio stream by default";
    FakeDemux stranger(nullptr);
    mux->SetAudioSource(&stranger);
    EXPECT_EQ(nullptr, mux->GetAudioSource()) << "a source the multiplexer does not read";
    mux->SetAudioSource(mainSource);
    EXPECT_EQ(mainSource, mux->GetAudioSource());
    mux->PullData(4 * 188);  // four samples written (the rendition's 21 ms frame is passed over)
    // Both chains still set the formats they would write, the chosen one's audio only.
    EXPECT_EQ(uint32_t(SampleFormatAacAdts), mux->GetStreamFormat(SampleMediaTypeAudio));
    const uint8_t* config = nullptr;
    uint32_t size = 0;
    EXPECT_TRUE(mux->GetStreamInfo(StreamInfoKindAudioSpecificConfig, &config, &size));

    mux->SetAudioSource(sideSource);
    EXPECT_EQ(uint32_t(SampleFormatEac3), mux->GetStreamFormat(SampleMediaTypeAudio));
    EXPECT_FALSE(mux->GetStreamInfo(StreamInfoKindAudioSpecificConfig, &config, &size))
        << "the rendition has no configuration; the pictures' sound's is not its";
    mux->PullData(100000);
    EXPECT_EQ((std::vector<std::string>{"v0", "a10000", "a30000", "v40000",  // own sound
                                        "a41000", "a61000", "v80000", "a81000", "a101000",
                                        "v120000", "a121000"}),  // the rendition's from 41 ms
              Emitted(mux->log));
    EXPECT_EQ(1u, sink->CountMarkers(MemoryMarkerTypeEndOfStream)) << "markers still go on";
}

// Notes every request that reaches it (the output end of a side branch).
class RequestLog : public Component {
public:
    RequestLog() : Component(nullptr) {}
    std::string GetTypeName() const override { return "RequestLog"; }
    void DoTick() override { log.push_back("tick"); }
    void DoPeriodicCheck() override { log.push_back("check"); }
    void DoStop() override { log.push_back("stop"); }
    void DoSeek(BytePosition start, BytePosition, bool) override {
        log.push_back("seek@" + std::to_string(start.Get()));
    }
    void DoSeek(MediaTime time) override { log.push_back("seek " + std::to_string(time.Get())); }
    bool DoTrickPlay(TrickPlayRate rate, MediaTime) override {
        log.push_back("rate " + std::to_string(rate.Get()));
        return true;
    }
    void DoSelectTrack(TrackId track) override {
        log.push_back("track " + std::to_string(track.Get()));
    }
    void DoSetPosition(BytePosition /*position*/, StackId stackId) override {
        log.push_back("position " + std::to_string(stackId));
    }
    void DoGetStatistics(SV::SVDictionary& statistics) override {
        statistics.SetValue("branch", SV::SVTypedValue(uint32_t(1)));
    }
    std::vector<std::string> log;
};

TEST_F(MuxTest, RequestsReachEverySideBranch) {
    boost::shared_ptr<RequestLog> side = boost::make_shared<RequestLog>();
    ComponentStack branch = SvTestSupport::BuildChain(StackIdAudioBranch, {side});
    boost::shared_ptr<LoggingMux> other = boost::make_shared<LoggingMux>();
    other->AddSideBranch(branch);
    ComponentStack stack2 = SvTestSupport::BuildLinkedChain(StackIdMain, {other});

    other->Tick();
    other->PeriodicCheck();
    other->SeekFilePosition(BytePosition(100), BytePosition(200), true);
    other->Seek(MediaTime(5));
    other->SelectTrack(TrackId(3));
    other->SetPosition(BytePosition(0), StackIdAny);
    EXPECT_TRUE(other->TrickPlay(TrickPlayRate(2), MediaTime(0)));  // the branch took it
    other->Stop();
    EXPECT_EQ((std::vector<std::string>{"tick", "check", "seek@100", "seek 5", "track 3",
                                        "position 65535", "rate 2", "stop"}),
              side->log);
    SV::SVDictionary statistics;
    other->GetStatistics(statistics);
    EXPECT_EQ(1u, statistics.GetUnsignedIntOrDefault("branch", 0));
}

}  // namespace
}  // namespace SarvelonMediaKit
