// The demultiplexer base and the program-stream demultiplexer's control operations (markers,
// statistics, track removal) on hand-made streams and tracks.

#include <gtest/gtest.h>

#include <boost/make_shared.hpp>

#include "SVLibrary/TypedValue/SVDictionary.h"
#include "engine/core/Session.h"
#include "engine/core/ComponentStack.h"
#include "engine/demux/Demux.h"
#include "engine/demux/Mpeg2PsDemux.h"
#include "tests/support/Mpeg2PsDemuxTestSupport.h"
#include "engine/container/TrackInfoKeys.h"
#include "engine/samples/AdtsParserSampleFilter.h"
#include "engine/samples/SampleFormat.h"
#include "tests/support/ChainBuilder.h"

namespace SarvelonMediaKit {
namespace {

using demuxtest::EventRecorder;
using demuxtest::RecordingMux;

class CountingDemux : public Demux {
public:
    explicit CountingDemux(Session* session) : Demux(session) {}
    std::string GetTypeName() const override { return "CountingDemux"; }
    uint32_t DoFlushPendingSample() override {
        ++flushes;
        return 0;
    }
    int flushes = 0;
};

struct BaseChain {
    explicit BaseChain(StackId stackId = StackIdMain) {
        session = Session::Create();
        mux = boost::make_shared<RecordingMux>(session.get());
        demux = boost::make_shared<CountingDemux>(session.get());
        ComponentStack stack = SvTestSupport::BuildLinkedChain(stackId, {mux, demux});
    }
    boost::shared_ptr<SampleStream> AddStream(uint32_t reference, uint32_t type) {
        boost::shared_ptr<SampleStream> stream = boost::make_shared<SampleStream>(
            demux.get(), StreamReference(reference), type,
            type == SampleMediaTypeVideo ? SampleFormatH264AnnexB : SampleFormatAacAdts);
        demux->AddSampleStream(stream);
        return stream;
    }
    static void Push(const boost::shared_ptr<SampleStream>& stream, uint64_t time) {
        Sample sample = stream->MakeSample(4);
        sample.SetDecodeTime(MediaTime(time));
        stream->PushSample(sample);
    }
    bool Send(const boost::shared_ptr<MemoryMarker>& marker) {
        return demux->DoProcessMemoryMarker(marker);
    }
    static bool EndsWithMarker(const boost::shared_ptr<SampleStream>& stream) {
        return !stream->IsEmpty() && stream->Back().GetMemoryMarker() != nullptr;
    }

    boost::shared_ptr<Session> session;
    boost::shared_ptr<RecordingMux> mux;
    boost::shared_ptr<CountingDemux> demux;
};

TEST(Demux, StreamsNeedALinkedMultiplexer) {
    boost::shared_ptr<Session> session = Session::Create();
    CountingDemux alone(session.get());
    alone.AddSampleStream(boost::make_shared<SampleStream>(&alone, StreamReference(0xE0), 2, 24));
    EXPECT_TRUE(alone.GetSampleStreams().empty());
    EXPECT_FALSE(alone.PullSamples()) << "nothing to pull from";

    BaseChain chain;
    chain.demux->SetFirstContext(7);
    boost::shared_ptr<SampleStream> video = chain.AddStream(0xE0, SampleMediaTypeVideo);
    EXPECT_TRUE(video->IsConnected());
    EXPECT_EQ(7u, video->GetHeadroom());
    ASSERT_EQ(1u, chain.mux->GetSampleStreams().size());
    chain.demux->RemoveAllSampleStreams();
    EXPECT_TRUE(chain.mux->GetSampleStreams().empty());
    EXPECT_FALSE(video->IsConnected());
}

TEST(Demux, EndOfStreamRidesBehindTheLatestSample) {
    struct Case {
        uint64_t audioTime, videoTime;
        bool onVideo;  // which stream carries the marker
    } cases[] = {
        {100, 200, true},   // video later
        {300, 200, false},  // audio later
        {200, 200, false},  // a tie goes to the smaller reference (audio 0xC0)
    };
    for (const Case& c : cases) {
        BaseChain chain;
        boost::shared_ptr<SampleStream> audio = chain.AddStream(0xC0, SampleMediaTypeAudio);
        boost::shared_ptr<SampleStream> video = chain.AddStream(0xE0, SampleMediaTypeVideo);
        BaseChain::Push(audio, c.audioTime);
        BaseChain::Push(video, c.videoTime);
        EXPECT_FALSE(chain.Send(boost::make_shared<MemoryMarkerEndOfStream>()));
        EXPECT_EQ(c.onVideo, BaseChain::EndsWithMarker(video)) << c.audioTime;
        EXPECT_EQ(!c.onVideo, BaseChain::EndsWithMarker(audio)) << c.audioTime;
        EXPECT_TRUE(chain.mux->IsEndOfStream());
        EXPECT_EQ(1, chain.demux->flushes) << "the pending sample goes first";
    }
    // With no sample queued the marker goes on through the chain.
    BaseChain empty;
    empty.AddStream(0xE0, SampleMediaTypeVideo);
    EXPECT_TRUE(empty.Send(boost::make_shared<MemoryMarkerEndOfStream>()));
}

TEST(Demux, TrackChangesFlushOnlyForTypesFourAndFive) {
    for (int type = 1; type <= 5; ++type) {
        BaseChain chain;
        boost::shared_ptr<SampleStream> video = chain.AddStream(0xE0, SampleMediaTypeVideo);
        BaseChain::Push(video, 10);
        EXPECT_FALSE(chain.Send(boost::make_shared<MemoryMarkerTrackChange>(TrackId(1), type)));
        EXPECT_TRUE(BaseChain::EndsWithMarker(video));
        EXPECT_EQ(type >= 4 ? 1 : 0, chain.demux->flushes) << "change type " << type;
        EXPECT_FALSE(chain.mux->IsEndOfStream());
    }
}

TEST(Demux, RepositionFlushesOnlyItsOwnStack) {
    BaseChain chain;
    boost::shared_ptr<SampleStream> video = chain.AddStream(0xE0, SampleMediaTypeVideo);
    BaseChain::Push(video, 10);
    chain.demux->DoSetPosition(BytePosition(0), StackIdAudioBranch);
    EXPECT_FALSE(video->IsEmpty());
    chain.demux->DoSetPosition(BytePosition(0), StackIdAny);
    EXPECT_TRUE(video->IsEmpty());
}

TEST(Demux, TimeBufferedPerStack) {
    struct Case {
        StackId stack;
        const char* key;
        float expected;  // -1: left as the caller put it
    } cases[] = {
        {StackIdMain, "StatsKey_VideoTimeBuffered", 1.5f},
        {StackIdAudioBranch, "StatsKey_AudioTimeBuffered", 0.25f},
        {StackIdServing, "StatsKey_VideoTimeBuffered", -1},
        {StackIdMain, "StatsKey_AudioTimeBuffered", -1},
    };
    for (const Case& c : cases) {
        BaseChain chain(c.stack);
        boost::shared_ptr<SampleStream> audio = chain.AddStream(0xC0, SampleMediaTypeAudio);
        boost::shared_ptr<SampleStream> video = chain.AddStream(0xE0, SampleMediaTypeVideo);
        BaseChain::Push(video, 1000000);
        BaseChain::Push(video, 2500000);
        BaseChain::Push(audio, 1000000);
        BaseChain::Push(audio, 1250000);
        SV::SVDictionary statistics;
        statistics.SetValue(c.key, SV::SVTypedValue(9.0f));
        chain.demux->GetStatistics(statistics);
        EXPECT_FLOAT_EQ(c.expected < 0 ? 9.0f : c.expected,
                        statistics.GetFloatOrDefault(c.key, -2.0f))
            << c.key << " on stack " << c.stack;
    }
}

TEST(Demux, SamplesTheFiltersDropAreCountedInTheStatistics) {
    const char kKey[] = "StatsKey_SamplesDropped";
    BaseChain chain(StackIdAudioBranch);
    boost::shared_ptr<SampleStream> audio = chain.AddStream(0xC0, SampleMediaTypeAudio);
    audio->AddFilter(boost::make_shared<AdtsParserSampleFilter>(audio, SampleFormatAacAdts,
                                                                SampleFormatAacAdts));
    boost::shared_ptr<SampleStream> video = chain.AddStream(0xE0, SampleMediaTypeVideo);
    // Four payload bytes are shorter than an ADTS header: each audio sample is thrown away.
    for (uint64_t time : {0, 23000, 46000}) {
        BaseChain::Push(audio, time);
    }
    BaseChain::Push(video, 0);
    EXPECT_TRUE(audio->IsEmpty());
    EXPECT_FALSE(video->IsEmpty());

    SV::SVDictionary notAsked;
    chain.demux->GetStatistics(notAsked);
    EXPECT_EQ(nullptr, notAsked.GetValue(kKey)) << "only the values asked for are filled in";

    SV::SVDictionary asked;
    asked.SetValue(kKey, SV::SVTypedValue(uint64_t(0)));
    chain.demux->GetStatistics(asked);
    uint64_t dropped = 0;
    ASSERT_TRUE(asked.GetUnsignedLong(kKey, dropped));
    EXPECT_EQ(3u, dropped);

    // The chain's other demultiplexer counted 4 before: the counts add up.
    SV::SVDictionary summed;
    summed.SetValue(kKey, SV::SVTypedValue(uint64_t(4)));
    chain.demux->GetStatistics(summed);
    ASSERT_TRUE(summed.GetUnsignedLong(kKey, dropped));
    EXPECT_EQ(7u, dropped);
}

// ---- Mpeg2PsDemux without data: tracks set by hand ----

boost::shared_ptr<MediaTrack> MakeTrack(bool video, bool audio, bool text, uint32_t videoRate) {
    boost::shared_ptr<MediaTrack> track = boost::make_shared<MediaTrack>();
    track->SetVideo(video);
    track->SetAudio(audio);
    track->SetText(text);
    track->GetIndex().SetTimescale(90000);
    track->GetIndex().SetDuration(900000);
    if (video) {
        track->GetInfo().SetValue(TrackInfoKey_VideoMpegStreamId, SV::SVTypedValue(uint32_t(0xE0)));
        track->GetInfo().SetValue(TrackInfoKey_VideoMpegStreamType,
                                  SV::SVTypedValue(uint32_t(0x1B)));
        track->GetInfo().SetValue(TrackInfoKey_VideoBitRate, SV::SVTypedValue(videoRate));
    }
    if (audio) {
        track->GetInfo().SetValue(TrackInfoKey_AudioMpegStreamId, SV::SVTypedValue(uint32_t(0xC0)));
        track->GetInfo().SetValue(TrackInfoKey_AudioMpegStreamType,
                                  SV::SVTypedValue(uint32_t(0x0F)));
        track->GetInfo().SetValue(TrackInfoKey_AudioBitRate, SV::SVTypedValue(uint32_t(64000)));
        track->GetInfo().SetValue(TrackInfoKey_AudioIdentifier,
                                  SV::SVTypedValue(std::string("eng")));
    }
    return track;
}

struct PsChain {
    PsChain() {
        session = Session::Create();
        mux = boost::make_shared<RecordingMux>(session.get());
        demux = boost::make_shared<Mpeg2PsDemux>(session.get());
        ComponentStack stack = SvTestSupport::BuildLinkedChain(StackIdMain, {mux, demux});
        demux->StreamInfoSource::AddMonitor(&events);
        Mpeg2PsDemux::TrackMap tracks;
        tracks[TrackId(1)] = MakeTrack(true, true, false, 300000);
        tracks[TrackId(2)] = MakeTrack(true, true, false, 600000);
        tracks[TrackId(3)] = MakeTrack(false, true, false, 0);
        tracks[TrackId(4)] = MakeTrack(false, false, true, 0);
        for (Mpeg2PsDemux::TrackMap::iterator it = tracks.begin(); it != tracks.end(); ++it) {
            it->second->SetId(it->first);
        }
        demux->SetTracks(tracks);
    }
    void Send(const boost::shared_ptr<MemoryMarker>& marker) { demux->Add(MemoryChunk(marker)); }

    boost::shared_ptr<Session> session;
    boost::shared_ptr<RecordingMux> mux;
    boost::shared_ptr<Mpeg2PsDemux> demux;
    EventRecorder events;
};

TEST(Mpeg2PsDemuxControl, InstalledTracksMakeOneStreamPerElementaryStream) {
    PsChain chain;
    EXPECT_TRUE(chain.demux->IsMetadataComplete());
    EXPECT_EQ(2u, chain.demux->GetSampleStreams().size());
    EXPECT_EQ(2u, chain.mux->GetSampleStreams().size());
    EXPECT_EQ(1u, chain.events.trackEvents.size());
    EXPECT_EQ(std::vector<uint64_t>{10000000}, chain.events.durations);
}

TEST(Mpeg2PsDemuxControl, MarkersSwitchTracksOnlyWhenTheyMeanIt) {
    PsChain chain;
    // Change types 1 and 2 name the track but keep the selection.
    chain.Send(boost::make_shared<MemoryMarkerTrackChange>(TrackId(2), 1));
    EXPECT_EQ(2u, chain.demux->GetCurrentTrack()->GetId().Get());
    EXPECT_FALSE(chain.demux->GetSelectedTrack());
    EXPECT_TRUE(chain.events.changedTracks.empty());
    // Type 3 selects it and tells the monitors.
    chain.Send(boost::make_shared<MemoryMarkerTrackChange>(TrackId(1), 3));
    EXPECT_EQ(1u, chain.demux->GetSelectedTrack()->GetId().Get());
    EXPECT_EQ(std::vector<uint32_t>{1}, chain.events.changedTracks);
    EXPECT_EQ(10000000u, chain.demux->GetDuration().Get());
    // A seek naming the selected track, or a track that is not there, changes nothing.
    chain.Send(boost::make_shared<MemoryMarkerMediaTimeSeek>(MediaTime(5000000), TrackId(1)));
    chain.Send(boost::make_shared<MemoryMarkerMediaTimeSeek>(MediaTime(5000000), TrackId(9)));
    EXPECT_EQ(std::vector<uint32_t>{1}, chain.events.changedTracks);
    // A media-time seek to another track selects it.
    chain.Send(boost::make_shared<MemoryMarkerMediaTimeSeek>(MediaTime(5000000), TrackId(2)));
    EXPECT_EQ(2u, chain.demux->GetSelectedTrack()->GetId().Get());
    EXPECT_EQ(std::vector<uint32_t>({1, 2}), chain.events.changedTracks);
}

TEST(Mpeg2PsDemuxControl, StatisticsTakeTheSelectedTracksRates) {
    PsChain chain;
    SV::SVDictionary statistics;
    statistics.SetValue("StatsKey_VideoBitRate", SV::SVTypedValue(uint32_t(1)));
    statistics.SetValue("StatsKey_AudioIdentifier", SV::SVTypedValue(std::string("none")));
    chain.demux->GetStatistics(statistics);
    uint32_t rate = 0;
    ASSERT_TRUE(statistics.GetUnsignedInt("StatsKey_VideoBitRate", rate));
    EXPECT_EQ(1u, rate) << "no current track yet";

    chain.Send(boost::make_shared<MemoryMarkerTrackChange>(TrackId(2), 3));
    chain.demux->GetStatistics(statistics);
    ASSERT_TRUE(statistics.GetUnsignedInt("StatsKey_VideoBitRate", rate));
    EXPECT_EQ(600000u, rate);
    EXPECT_EQ("eng", statistics.GetStringOrDefault("StatsKey_AudioIdentifier", ""));
    EXPECT_EQ(nullptr, statistics.GetValue("StatsKey_AudioBitRate")) << "not asked for";
}

TEST(Mpeg2PsDemuxControl, TrackRemovals) {
    PsChain chain;
    EXPECT_TRUE(chain.demux->HasAudioOnlyTracks());
    chain.demux->RemoveTextStreamTracks();
    chain.demux->RemoveAudioOnlyTracks();
    EXPECT_FALSE(chain.demux->HasAudioOnlyTracks());
    ASSERT_EQ(3u, chain.events.trackEvents.size());
    EXPECT_EQ(std::vector<uint32_t>({1, 2, 3}), chain.events.trackEvents[1].first);
    EXPECT_EQ(std::vector<uint32_t>({1, 2}), chain.events.trackEvents[2].first)
        << "ids are not renumbered";
    EXPECT_FALSE(chain.events.trackEvents[2].second);
    chain.demux->RemoveVideoTracks();
    EXPECT_TRUE(chain.demux->GetTracks().empty());
    ASSERT_EQ(4u, chain.events.trackEvents.size());
    EXPECT_TRUE(chain.events.trackEvents[3].first.empty()) << "the empty map is published too";
}

class TrackFeedingDemux : public Mpeg2PsDemux {
public:
    explicit TrackFeedingDemux(Session* session) : Mpeg2PsDemux(session) {}
    using Mpeg2PsDemux::OnNewTrack;
    using Mpeg2PsDemux::OnTimestamp;
};

// Within a parse the demultiplexer holds the media times until the parse ends; a time told
// outside one (a trick-play picture the stream hands on as it drains) has no parse end to wait
// for and must go out at once, in microseconds: 90 kHz ticks 900 = 10000 us, 45 = 500 us.
TEST(Mpeg2PsDemuxControl, AMediaTimeMetOutsideAParseIsPublishedAtOnce) {
    boost::shared_ptr<Session> session = Session::Create();
    boost::shared_ptr<TrackFeedingDemux> demux =
        boost::make_shared<TrackFeedingDemux>(session.get());
    EventRecorder events;
    demux->StreamInfoSource::AddMonitor(&events);
    demux->OnTimestamp(SampleMediaTypeVideo, 900, 45);
    EXPECT_EQ((std::vector<uint64_t>{10000}), events.timestamps[SampleMediaTypeVideo]);
    demux->OnTimestamp(SampleMediaTypeVideo, 1800, 90);
    EXPECT_EQ((std::vector<uint64_t>{10000, 20000}), events.timestamps[SampleMediaTypeVideo]);
    demux->StreamInfoSource::RemoveMonitor(&events);
}

TEST(Mpeg2PsDemuxControl, TracksOfVersionThreeOrMoreAreRejectedAndUseNoId) {
    boost::shared_ptr<Session> session = Session::Create();
    boost::shared_ptr<TrackFeedingDemux> demux =
        boost::make_shared<TrackFeedingDemux>(session.get());
    demux->SetName("file:///title.svm", true);
    const int versions[] = {0, 3, -1, 7, 2};  // -1: no version key
    for (int version : versions) {
        boost::shared_ptr<MediaTrack> track = MakeTrack(true, true, false, 300000);
        if (version >= 0) {
            track->GetInfo().SetValue(TrackInfoKey_Version, SV::SVTypedValue(uint32_t(version)));
        }
        EXPECT_EQ(Mpeg2PsResult::Ok, demux->OnNewTrack(track));
    }
    ASSERT_EQ(3u, demux->GetTracks().size());
    uint32_t id = 1;
    for (Mpeg2PsDemux::TrackMap::const_iterator it = demux->GetTracks().begin();
         it != demux->GetTracks().end(); ++it, ++id) {
        EXPECT_EQ(id, it->first.Get());
        EXPECT_EQ(id, it->second->GetId().Get());
        EXPECT_EQ("file:///title.svm", it->second->GetSource());
    }
}

TEST(Mpeg2PsDemuxControl, StreamKindsByStreamType) {
    struct Case {
        uint32_t id, streamType;
        uint32_t type, format;  // 0, 0: no stream
    } cases[] = {
        {0xC0, 0x0F, SampleMediaTypeAudio, SampleFormatAacAdts},
        {0xBD, 0x87, SampleMediaTypeAudio, SampleFormatEac3HdDvd},
        {0xBD, 0x06, SampleMediaTypeAudio, SampleFormatPesPrivate},
        {0xC0, 0x06, 0, 0},
        {0xC0, 0x03, 0, 0},
    };
    for (const Case& c : cases) {
        boost::shared_ptr<Session> session = Session::Create();
        boost::shared_ptr<RecordingMux> mux = boost::make_shared<RecordingMux>(session.get());
        boost::shared_ptr<Mpeg2PsDemux> demux = boost::make_shared<Mpeg2PsDemux>(session.get());
        ComponentStack stack = SvTestSupport::BuildLinkedChain(StackIdMain, {mux, demux});
        boost::shared_ptr<MediaTrack> track = MakeTrack(false, true, false, 0);
        track->GetInfo().SetValue(TrackInfoKey_AudioMpegStreamId, SV::SVTypedValue(c.id));
        track->GetInfo().SetValue(TrackInfoKey_AudioMpegStreamType, SV::SVTypedValue(c.streamType));
        Mpeg2PsDemux::TrackMap tracks;
        tracks[TrackId(1)] = track;
        demux->SetTracks(tracks);
        boost::shared_ptr<SampleStream> stream = demux->FindSampleStream(StreamReference(c.id));
        if (c.type == 0) {
            EXPECT_FALSE(stream) << std::hex << c.id << " " << c.streamType;
            continue;
        }
        ASSERT_TRUE(stream) << std::hex << c.id << " " << c.streamType;
        EXPECT_EQ(c.type, stream->GetType());
        EXPECT_EQ(c.format, stream->GetInputFormat());
    }
}

// A chain that is already running is linked again when a second chain joins its multiplexer
// (the audio rendition of a title read by a branch of its own). The samples the demultiplexer
// has parsed but the multiplexer has not taken yet must survive that, and a stream whose track
// was handed to the other chain must leave the multiplexer, or it would wait for it for ever.
TEST(Mpeg2PsDemuxControl, LinkingARunningChainAgainKeepsTheQueuedSamples) {
    boost::shared_ptr<Session> session = Session::Create();
    boost::shared_ptr<RecordingMux> mux = boost::make_shared<RecordingMux>(session.get());
    boost::shared_ptr<Mpeg2PsDemux> demux = boost::make_shared<Mpeg2PsDemux>(session.get());
    ComponentStack stack = SvTestSupport::BuildLinkedChain(StackIdMain, {mux, demux});
    Mpeg2PsDemux::TrackMap tracks;
    tracks[TrackId(1)] = MakeTrack(true, false, false, 300000);  // pictures, stream 0xE0
    tracks[TrackId(2)] = MakeTrack(false, true, false, 0);       // sound only, stream 0xC0
    for (Mpeg2PsDemux::TrackMap::iterator it = tracks.begin(); it != tracks.end(); ++it) {
        it->second->SetId(it->first);
    }
    demux->SetTracks(tracks);
    const boost::shared_ptr<SampleStream> video = demux->FindSampleStream(StreamReference(0xE0));
    const boost::shared_ptr<SampleStream> audio = demux->FindSampleStream(StreamReference(0xC0));
    ASSERT_TRUE(video);
    ASSERT_TRUE(audio);
    BaseChain::Push(video, 0);
    BaseChain::Push(video, 40000);
    BaseChain::Push(audio, 0);

    // Linked again with nothing changed: the same streams, still holding their samples.
    stack.Link();
    EXPECT_EQ(video, demux->FindSampleStream(StreamReference(0xE0)));
    EXPECT_EQ(audio, demux->FindSampleStream(StreamReference(0xC0)));
    EXPECT_EQ(2u, mux->GetSampleStreams().size());
    ASSERT_EQ(2u, demux->FindSampleStream(StreamReference(0xE0))->GetQueueSize());
    EXPECT_EQ(40000u, video->Back().GetDecodeTime().Get());
    EXPECT_EQ(1u, demux->FindSampleStream(StreamReference(0xC0))->GetQueueSize());

    // The sound-only track goes to another chain: its stream leaves, the pictures stay queued.
    demux->RemoveAudioOnlyTracks();
    stack.Link();
    EXPECT_EQ(video, demux->FindSampleStream(StreamReference(0xE0)));
    EXPECT_FALSE(demux->FindSampleStream(StreamReference(0xC0)));
    EXPECT_FALSE(audio->IsConnected());
    ASSERT_EQ(1u, mux->GetSampleStreams().size());
    EXPECT_EQ(video, mux->GetSampleStreams().front());
    EXPECT_TRUE(video->IsConnected());
    ASSERT_EQ(2u, demux->FindSampleStream(StreamReference(0xE0))->GetQueueSize());
    EXPECT_EQ(0u, video->Front().GetDecodeTime().Get());
}

// A demultiplexer for a further chain starts from the first one's tracks and makes its streams
// when it is linked to a multiplexer.
TEST(Mpeg2PsDemuxControl, CloneStartsFromTheTracks) {
    PsChain chain;
    boost::shared_ptr<Session> session = Session::Create();
    boost::shared_ptr<Mpeg2PsDemux> clone =
        boost::make_shared<Mpeg2PsDemux>(session.get(), *chain.demux);
    EXPECT_EQ(chain.demux->GetTracks().size(), clone->GetTracks().size());
    EXPECT_TRUE(clone->IsMetadataComplete());
    boost::shared_ptr<RecordingMux> mux = boost::make_shared<RecordingMux>(session.get());
    ComponentStack stack = SvTestSupport::BuildLinkedChain(StackIdMain, {mux, clone});
    EXPECT_EQ(2u, clone->GetSampleStreams().size());
    EXPECT_EQ(2u, mux->GetSampleStreams().size());
}

}  // namespace
}  // namespace SarvelonMediaKit
