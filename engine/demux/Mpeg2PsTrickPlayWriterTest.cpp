// Trick play: the writer on its own, with the clocks worked out by hand, and through a parser.
#include "engine/demux/Mpeg2PsTrickPlayWriter.h"

#include <gtest/gtest.h>

#include <array>

#include "engine/demux/Mpeg2PsParserTestSupport.h"

namespace SarvelonMediaKit {
namespace {

using namespace ParserTest;

// What the writer hands its listener.
class TrickPlayRecorder : public Mpeg2PsParserListener {
public:
    std::vector<Bytes> chunks;
    std::vector<Sample> samples;
    std::vector<std::array<uint32_t, 3>> timestamps;

    Mpeg2PsResult OnOutputChunk(const MemoryChunk& chunk) override {
        chunks.push_back(FromChunk(chunk));
        return Mpeg2PsResult::Ok;
    }
    Mpeg2PsResult OnSample(Sample& sample) override {
        samples.push_back(sample);
        return Mpeg2PsResult::Ok;
    }
    void OnTimestamp(SampleMediaType kind, uint32_t timestamp, uint32_t scrBase) override {
        timestamps.push_back({kind, timestamp, scrBase});
    }
};

// The receiver after the writer's downstream one, as the video stream's next receiver is.
class Collector : public SampleReceiver {
public:
    std::vector<Sample> samples;
    void DoReceiveSample(Sample& sample) override { samples.push_back(sample); }
};

class Relay : public SampleReceiver {
public:
    void DoReceiveSample(Sample& sample) override { SendSampleDownstream(sample); }
};

// The payload of a PES packet with the optional header.
Bytes PesPayload(const Bytes& pes) { return Bytes(pes.begin() + 9 + pes[8], pes.end()); }

// The program stream map that a pack carries, read back.
Mpeg2PsPsm MapIn(const Bytes& pack) {
    Mpeg2PsPsm map;
    for (size_t at = 0; at + 6 < pack.size(); ++at) {
        if (pack[at] == 0 && pack[at + 1] == 0 && pack[at + 2] == 1 && pack[at + 3] == 0xBC) {
            EXPECT_EQ(Mpeg2PsResult::Ok,
                      map.Read(pack.data() + at + 6, static_cast<uint32_t>(pack.size() - at - 6)));
            return map;
        }
    }
    ADD_FAILURE() << "no map in the pack";
    return map;
}

// A title of H.264 on 0xE0 and AAC on 0xC0, 25 frames per second, one minute long; the clocks
// of the tests start at 9000 ticks and a key frame comes 4 frame steps later in the input.
struct Title {
    Title() : track(new MediaTrack) {
        track->GetIndex().SetFrameDuration(3600);
        track->GetIndex().SetDuration(90000 * 60);
        map.AddEsInfo(0xE0, 0x1B);
        map.AddEsInfo(0xC0, 0x0F);
        key.SetDataAlignment(true);
        key.GetPayload().Append(Filled(50, 1).data(), 50);
    }
    Mpeg2PsTrickPlayWriter::Input At(uint64_t ticks) const {
        return Mpeg2PsTrickPlayWriter::Input{map,  track, 0xE0,        0xC0,
                                             0x0F, 0xE0,  300 * ticks, ticks};
    }

    Mpeg2PsPsm map;
    boost::shared_ptr<MediaTrack> track;
    Sample key;
    TrickPlayRecorder recorder;
    Collector collector;
    Relay relay;
};

const Bytes kStereoAac{0x11, 0x90};  // AudioSpecificConfig: AAC LC, 48 kHz, two channels

TEST(Mpeg2PsTrickPlayWriterTest, RateChangesAndRestarts) {
    Title title;
    Mpeg2PsTrickPlayWriter writer(title.recorder, title.relay, false);
    EXPECT_FALSE(writer.IsActive());
    EXPECT_EQ(2, writer.SetRate(2, false));
    EXPECT_TRUE(writer.IsActive());
    EXPECT_EQ(0, writer.SetRate(-2, false));  // the same magnitude: no change
    EXPECT_EQ(-2, writer.SetRate(-2, true));  // unless it restarts
    EXPECT_EQ(0, writer.SetRate(0, false));
    EXPECT_FALSE(writer.IsActive());
}

TEST(Mpeg2PsTrickPlayWriterTest, PassThroughRepeatsAKeyFrameUntilTheOutputCatchesUp) {
    Title title;
    Mpeg2PsTrickPlayWriter writer(title.recorder, title.relay, false);
    writer.SetRate(2, true);
    ASSERT_EQ(Mpeg2PsResult::Ok, writer.Start(title.At(9000), Bytes()));
    EXPECT_TRUE(writer.IsStarted());

    // A frame that is no key frame is not written.
    Sample other = title.key;
    other.SetDataAlignment(false);
    bool insertStreamMap = true;
    EXPECT_EQ(Mpeg2PsResult::Ok, writer.Write(other, title.At(23400), insertStreamMap));
    EXPECT_TRUE(title.recorder.chunks.empty());
    EXPECT_TRUE(insertStreamMap);

    // 4 input frame steps at rate 2 are 2 output steps: two copies, 9000 and 12600.
    EXPECT_EQ(Mpeg2PsResult::Ok,
              writer.Write(title.key, title.At(9000 + 4 * 3600), insertStreamMap));
    EXPECT_FALSE(insertStreamMap);
    const std::vector<Bytes>& out = title.recorder.chunks;
    ASSERT_EQ(4u, out.size());  // pack, video packet, pack, video packet
    EXPECT_EQ(300u * 9000, PackScr(out[0]));
    EXPECT_EQ(300u * 12600, PackScr(out[2]));
    // The first pack carries the system header, then the map of the video stream alone.
    ASSERT_GT(out[0].size(), 18u);
    EXPECT_EQ(0xBB, out[0][17]);
    EXPECT_EQ(14u, out[2].size());  // the second has neither
    const Mpeg2PsPsm written = MapIn(out[0]);
    EXPECT_EQ(1, written.GetVersion());
    ASSERT_EQ(1u, written.GetEsMap().size());
    EXPECT_EQ(0xE0, written.GetEsMap()[0].elementary_stream_id);

    for (size_t i : {size_t(1), size_t(3)}) {
        EXPECT_EQ(0xE0, out[i][3]);
        EXPECT_EQ(0x84, out[i][6] & 0x84) << "data alignment";
        EXPECT_EQ(Filled(50, 1), PesPayload(out[i]));
    }
    EXPECT_EQ(9000u, PesPts(out[1]));
    EXPECT_EQ(12600u, PesPts(out[3]));
    // Each copy with its PTS and where in the title it stands: the origin plus twice the
    // output time.
    const std::vector<std::array<uint32_t, 3>> expected = {{2, 9000, 9000}, {2, 12600, 16200}};
    EXPECT_EQ(expected, title.recorder.timestamps);

    // The output is at the target: the same key frame again writes nothing.
    EXPECT_EQ(Mpeg2PsResult::Ok,
              writer.Write(title.key, title.At(9000 + 4 * 3600), insertStreamMap));
    EXPECT_EQ(4u, out.size());
}

// The position of a track recorded backwards counts back from the title's end in 90 kHz
// ticks, whatever timescale its index keeps the duration in.
TEST(Mpeg2PsTrickPlayWriterTest, AReverseTrackCountsBackFromTheEndInTicksWhateverItsTimescale) {
    Title title;
    title.track->SetTrickPlayRate(-2);
    title.track->GetIndex().SetTimescale(1000);
    title.track->GetIndex().SetDuration(60000);  // one minute in milliseconds
    Mpeg2PsTrickPlayWriter writer(title.recorder, title.relay, false);
    writer.SetRate(-2, true);
    ASSERT_EQ(Mpeg2PsResult::Ok, writer.Start(title.At(9000), Bytes()));
    bool insertStreamMap = true;
    EXPECT_EQ(Mpeg2PsResult::Ok,
              writer.Write(title.key, title.At(9000 + 4 * 3600), insertStreamMap));
    // Forward positions 9000 and 16200 ticks (as in the pass-through case), from the end of
    // 60 s = 5400000 ticks.
    const std::vector<std::array<uint32_t, 3>> expected = {{2, 9000, 5400000 - 9000},
                                                           {2, 12600, 5400000 - 16200}};
    EXPECT_EQ(expected, title.recorder.timestamps);
}

TEST(Mpeg2PsTrickPlayWriterTest, DemultiplexingSendsTheCopiesDownstream) {
    Title title;
    title.relay.SetNext(&title.collector);
    Mpeg2PsTrickPlayWriter writer(title.recorder, title.relay, true);
    writer.SetRate(-2, true);
    ASSERT_EQ(Mpeg2PsResult::Ok, writer.Start(title.At(9000), Bytes()));
    bool insertStreamMap = false;
    EXPECT_EQ(Mpeg2PsResult::Ok,
              writer.Write(title.key, title.At(9000 + 4 * 3600), insertStreamMap));
    EXPECT_TRUE(title.recorder.chunks.empty());
    ASSERT_EQ(2u, title.collector.samples.size());
    EXPECT_EQ(100000u, title.collector.samples[0].GetDecodeTime().Get());  // 9000 ticks
    EXPECT_EQ(140000u, title.collector.samples[1].GetDecodeTime().Get());  // 12600 ticks
    EXPECT_EQ(Filled(50, 1), SampleBytes(title.collector.samples[1]));
}

TEST(Mpeg2PsTrickPlayWriterTest, AKeyFrameLeftPendingWhenTheRateReturnsToNormalWritesNothing) {
    // The parser may flush a key frame to the writer after trick play was switched off (rate
    // 0): the target stays at the origin, so nothing is written and nothing divides by 0.
    Title title;
    Mpeg2PsTrickPlayWriter writer(title.recorder, title.relay, false);
    writer.SetRate(2, true);
    ASSERT_EQ(Mpeg2PsResult::Ok, writer.Start(title.At(9000), Bytes()));
    writer.SetRate(0, false);
    EXPECT_FALSE(writer.IsActive());
    bool insertStreamMap = true;
    EXPECT_EQ(Mpeg2PsResult::Ok,
              writer.Write(title.key, title.At(9000 + 4 * 3600), insertStreamMap));
    EXPECT_TRUE(title.recorder.chunks.empty());
    EXPECT_TRUE(title.recorder.timestamps.empty());
}

TEST(Mpeg2PsTrickPlayWriterTest, SilentAudioFillsTheOutputTime) {
    Title title;
    Mpeg2PsTrickPlayWriter writer(title.recorder, title.relay, false);
    writer.SetFlags(Mpeg2PsTrickPlayWriter::SilentAudio);
    writer.SetRate(2, true);
    ASSERT_EQ(Mpeg2PsResult::Ok, writer.Start(title.At(9000), kStereoAac));
    bool insertStreamMap = true;
    EXPECT_EQ(Mpeg2PsResult::Ok,
              writer.Write(title.key, title.At(9000 + 4 * 3600), insertStreamMap));

    // The audio clock starts at 9000 ticks = 4800 samples; each copy's step (3600 ticks, 1920
    // samples) is filled with 1024-sample frames up to the output clock: 4800 and 5824 up to
    // 6720, 6848 and 7872 up to 8640. A sample is 1.875 ticks.
    const Bytes silent{0xFF, 0xF1, 0x4C, 0xB0, 0x02, 0x3F, 0xFC,  // ADTS: LC, 48 kHz, stereo
                       0x21, 0x0B, 0xD0, 0x00, 0x7E, 0x00, 0x00, 0x3F, 0x01, 0xC0};
    std::vector<uint64_t> audioPts;
    std::vector<uint8_t> kinds;
    for (const Bytes& chunk : title.recorder.chunks) {
        kinds.push_back(chunk[3]);
        if (chunk[3] == 0xC0) {
            audioPts.push_back(PesPts(chunk));
            EXPECT_EQ(silent, PesPayload(chunk));
        }
    }
    EXPECT_EQ((std::vector<uint8_t>{0xBA, 0xE0, 0xC0, 0xC0, 0xBA, 0xE0, 0xC0, 0xC0}), kinds);
    EXPECT_EQ((std::vector<uint64_t>{9000, 10920, 12840, 14760}), audioPts);

    // The map of the first pack names the silent audio stream too.
    const Mpeg2PsPsm written = MapIn(title.recorder.chunks[0]);
    ASSERT_EQ(2u, written.GetEsMap().size());
    EXPECT_EQ(0xC0, written.GetEsMap()[1].elementary_stream_id);
    EXPECT_EQ(0x0F, written.GetEsMap()[1].stream_type);
}

TEST(Mpeg2PsTrickPlayWriterTest, StartRefusesWithoutTrackOrWithAudioItCannotSilence) {
    Title title;
    Mpeg2PsTrickPlayWriter writer(title.recorder, title.relay, false);
    writer.SetRate(4, true);
    boost::shared_ptr<MediaTrack> none;
    const Mpeg2PsTrickPlayWriter::Input noTrack{title.map, none, 0xE0, 0xC0, 0x0F, 0xE0, 0, 0};
    EXPECT_EQ(Mpeg2PsResult::NoSelectedTrack, writer.Start(noTrack, kStereoAac));
    EXPECT_FALSE(writer.IsStarted());

    writer.SetFlags(Mpeg2PsTrickPlayWriter::SilentAudio);
    EXPECT_EQ(Mpeg2PsResult::Ok, writer.Start(title.At(9000), kStereoAac));
    const Bytes threeChannels{0x11, 0x98};
    const Bytes frequency13{0x16, 0x90};  // a reserved sampling frequency index
    const Bytes mainProfile{0x09, 0x90};  // object type 1
    for (const Bytes& config : {threeChannels, frequency13, mainProfile, Bytes{0x11}, Bytes()}) {
        EXPECT_EQ(Mpeg2PsResult::UnsupportedAudio, writer.Start(title.At(9000), config));
    }
    Mpeg2PsTrickPlayWriter::Input eac3 = title.At(9000);
    eac3.audioStreamType = 0x87;
    EXPECT_EQ(Mpeg2PsResult::UnsupportedAudio, writer.Start(eac3, kStereoAac));
}

TEST(Mpeg2PsTrickPlayWriterTest, TrickPlayCrossesAnInputClockJumpWithOneCopy) {
    // Through a parser: two key frames whose packs lie 26 hours apart: at rate 2 that gap
    // would take millions of copies of the first one.
    const uint64_t farTicks = (uint64_t(1) << 33) - 90000;
    Bytes s = Pack(300 * 9000);
    Append(s, StreamMap());
    Append(s, Pes(0xE0, Filled(50, 1), 9000, -1, true));
    Append(s, Pack(300 * farTicks));
    Append(s, Pes(0xE0, Filled(50, 2), static_cast<int64_t>(farTicks), -1, true));
    Append(s, ProgramEnd());
    RecordingParser parser(false);
    boost::shared_ptr<MediaTrack> track(new MediaTrack);
    track->GetIndex().SetFrameDuration(3600);
    parser.SetSelectedTrack(track);
    parser.GetTrickPlay().SetRate(2, true);
    EXPECT_EQ(Mpeg2PsResult::ProgramEnd, parser.Feed(s, {}));
    size_t videoPackets = 0;
    for (const MemoryChunk& chunk : parser.outputChunks) {
        videoPackets += chunk.Size() > 3 && *chunk.Data(3) == 0xE0 ? 1 : 0;
    }
    EXPECT_GE(videoPackets, 1u);
    EXPECT_LE(videoPackets, 3u);
}

// Three key frames of a rate-4 rendition, four frame steps apart in the input clock, each
// split over two PES packets (only the first with a PTS), and no program end: the stream just
// stops, as a trick track does at the end of a title.
Bytes ThreeSplitKeyFrames() {
    Bytes s;
    for (int k = 0; k < 3; ++k) {
        const uint64_t ticks = 9000 + uint64_t(k) * 4 * 3600;
        Append(s, Pack(300 * ticks));
        if (k == 0) Append(s, StreamMap());
        Append(s, Pes(0xE0, Filled(40, uint8_t(10 * k)), int64_t(ticks), -1, true));
        Append(s, Pes(0xE0, Filled(30, uint8_t(10 * k + 5))));
    }
    return s;
}

Bytes Picture(int k) {
    Bytes b = Filled(40, uint8_t(10 * k));
    Append(b, Filled(30, uint8_t(10 * k + 5)));
    return b;
}

// A demultiplexing parser wired as the demultiplexer wires it: its finished video samples come
// back to it through the video stream, and its copies go on to the collector.
class LoopedParser : public RecordingParser {
public:
    LoopedParser() : RecordingParser(true) { SetNext(&collector); }
    Collector collector;

protected:
    Mpeg2PsResult OnSample(Sample& sample) override {
        Sample copy(sample);
        DoReceiveSample(copy);
        return Mpeg2PsResult::Ok;
    }
};

TEST(Mpeg2PsTrickPlayWriterTest, TheLastKeyFrameOfAStreamIsWrittenWhenItIsFlushed) {
    boost::shared_ptr<MediaTrack> track(new MediaTrack);
    track->GetIndex().SetFrameDuration(3600);
    track->GetIndex().SetDuration(90000 * 60);

    {
        SCOPED_TRACE("pass-through");
        RecordingParser parser(false);
        parser.SetSelectedTrack(track);
        parser.GetTrickPlay().SetRate(4, true);
        ASSERT_EQ(Mpeg2PsResult::Ok, parser.Feed(ThreeSplitKeyFrames(), {}));
        ASSERT_EQ(Mpeg2PsResult::Ok, parser.FlushPendingSample());
        // Each key frame once (4 input steps at rate 4 are one output step), as one pack and
        // two PES packets; the output clock and the PTS step 3600 ticks from 9000.
        std::vector<Bytes> packs, video;
        for (const MemoryChunk& chunk : parser.outputChunks) {
            const Bytes b = FromChunk(chunk);
            if (b.size() > 3 && b[3] == 0xBA) packs.push_back(b);
            if (b.size() > 3 && b[3] == 0xE0) video.push_back(b);
        }
        ASSERT_EQ(3u, packs.size());
        ASSERT_EQ(6u, video.size());
        for (int k = 0; k < 3; ++k) {
            EXPECT_EQ(300u * (9000 + 3600 * k), PackScr(packs[k])) << "picture " << k;
            EXPECT_EQ(9000u + 3600 * k, PesPts(video[2 * k])) << "picture " << k;
            Bytes payload = PesPayload(video[2 * k]);
            Append(payload, PesPayload(video[2 * k + 1]));
            EXPECT_EQ(Picture(k), payload) << "picture " << k;
        }
        // Flushing again finds nothing pending.
        ASSERT_EQ(Mpeg2PsResult::Ok, parser.FlushPendingSample());
        EXPECT_EQ(9u, parser.outputChunks.size());
    }
    {
        SCOPED_TRACE("demultiplexing");
        LoopedParser parser;
        parser.SetSelectedTrack(track);
        parser.GetTrickPlay().SetRate(4, true);
        ASSERT_EQ(Mpeg2PsResult::Ok, parser.Feed(ThreeSplitKeyFrames(), {}));
        ASSERT_EQ(Mpeg2PsResult::Ok, parser.FlushPendingSample());
        const std::vector<Sample>& got = parser.collector.samples;
        ASSERT_EQ(3u, got.size());
        for (int k = 0; k < 3; ++k) {
            // 9000 + 3600 k ticks in microseconds.
            EXPECT_EQ(100000u + 40000u * k, got[k].GetDecodeTime().Get()) << "picture " << k;
            EXPECT_EQ(Picture(k), SampleBytes(got[k])) << "picture " << k;
        }
    }
}

}  // namespace
}  // namespace SarvelonMediaKit
