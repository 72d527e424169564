#include "engine/demux/Mpeg2PsParser.h"

#include <gtest/gtest.h>

#include "engine/container/Mpeg2PsIndexEntry.h"
#include "engine/container/Mpeg2PsMetadataBlocks.h"
#include "engine/demux/Mpeg2PsParserTestSupport.h"

namespace SarvelonMediaKit {
namespace {

using namespace ParserTest;

// A pack with the stream map, then an aligned video access unit in three PES packets (only the
// first with PTS and DTS), an audio frame, and a second video unit; then the end code.
Bytes SmallStream() {
    Bytes s = Pack(300 * 1000);
    Append(s, StreamMap());
    Append(s, Pes(0xE0, Filled(100, 1), 9000 + 3600, 9000, true));
    Append(s, Pes(0xE0, Filled(50, 2)));
    Append(s, Pes(0xE0, Filled(25, 3)));
    Append(s, Pes(0xC0, Filled(40, 4), 9000, -1, true));
    Append(s, Pack(300 * 5000));
    Append(s, Pes(0xE0, Filled(60, 5), 12600 + 3600, 12600, false));
    Append(s, Pes(0xE0, Filled(10, 6)));
    Append(s, ProgramEnd());
    return s;
}

TEST(Mpeg2PsParserTest, AssemblesSamplesWithTimesAndKeyFlags) {
    RecordingParser parser(true);
    EXPECT_EQ(Mpeg2PsResult::ProgramEnd, parser.Feed(SmallStream(), {}));
    EXPECT_EQ(0xC0, parser.GetAudioStreamId());
    EXPECT_EQ(0x0F, parser.GetAudioStreamType());
    EXPECT_EQ(0xE0, parser.GetVideoStreamId());
    ASSERT_EQ(3u, parser.samples.size());

    // The access unit split over three packets is one sample of three chunks.
    const Sample& first = parser.samples[0];
    EXPECT_EQ(3u, first.GetPayload().GetChunks().size());
    Bytes expected = Filled(100, 1);
    Append(expected, Filled(50, 2));
    Append(expected, Filled(25, 3));
    EXPECT_EQ(expected, SampleBytes(first));
    EXPECT_EQ(2u, first.GetType());
    EXPECT_EQ(100000u, first.GetDecodeTime().Get());         // DTS 9000 ticks
    EXPECT_EQ(40000u, first.GetPresentationOffset().Get());  // PTS - DTS = 3600 ticks
    EXPECT_TRUE(first.IsKeyFrame());

    const Sample& audio = parser.samples[1];
    EXPECT_EQ(1u, audio.GetType());
    EXPECT_EQ(Filled(40, 4), SampleBytes(audio));
    EXPECT_EQ(100000u, audio.GetDecodeTime().Get());  // PTS only: decode time from the PTS
    EXPECT_EQ(0u, audio.GetPresentationOffset().Get());

    // The last unit continues over a PTS-less packet and is handed on at program end.
    const Sample& last = parser.samples[2];
    EXPECT_EQ(70u, last.GetPayload().Size());
    EXPECT_EQ(140000u, last.GetDecodeTime().Get());
    EXPECT_FALSE(last.IsKeyFrame());
    EXPECT_EQ(1u, parser.metadataCompleteCalls);  // at the first media packet
}

// A listener that notes the payload length each new sample is asked for with.
class SizingParser : public RecordingParser {
public:
    SizingParser() : RecordingParser(true) {}
    std::vector<uint32_t> asked;

protected:
    Sample CreateSample(uint8_t streamId, uint32_t payloadLength, SampleMediaType type) override {
        asked.push_back(payloadLength);
        return RecordingParser::CreateSample(streamId, payloadLength, type);
    }
};

// Each packet's payload becomes one chunk of its sample: a slice of the input when the packet
// lies whole in one input chunk, else a copy. No payload chunk is asked of the listener.
TEST(Mpeg2PsParserTest, PayloadsWholeInTheInputAreSlicesOfItAndTheRestCopies) {
    // Sample 0: packets of 100, 50 and 25 video bytes; sample 1: 40 audio bytes.
    Bytes expected0 = Filled(100, 1);
    Append(expected0, Filled(50, 2));
    Append(expected0, Filled(25, 3));
    for (const std::vector<size_t>& pieces : std::vector<std::vector<size_t>>{{}, {7}}) {
        SizingParser parser;
        EXPECT_EQ(Mpeg2PsResult::ProgramEnd, parser.Feed(SmallStream(), pieces));
        EXPECT_EQ(std::vector<uint32_t>({0, 0, 0}), parser.asked);
        ASSERT_EQ(3u, parser.samples.size());
        EXPECT_EQ(3u, parser.samples[0].GetPayload().GetChunks().size());
        EXPECT_EQ(expected0, SampleBytes(parser.samples[0]));
        EXPECT_EQ(1u, parser.samples[1].GetPayload().GetChunks().size());
        EXPECT_EQ(Filled(40, 4), SampleBytes(parser.samples[1]));
        // Fed whole, every payload lies in the one input chunk; in 7-byte pieces none does.
        for (const Sample& sample : parser.samples) {
            for (const MemoryChunk& chunk : sample.GetPayload().GetChunks()) {
                EXPECT_EQ(pieces.empty(), chunk.IsSlice());
            }
        }
    }
}

TEST(Mpeg2PsParserTest, LargestTimesFitWithoutLoss) {
    // The largest 33-bit PTS in microseconds, and the largest SCR base with extension 299.
    const uint64_t maxTicks = (uint64_t(1) << 33) - 1;
    const uint64_t maxScr = maxTicks * 300 + 299;
    Bytes s = Pack(maxScr);
    Append(s, StreamMap());
    Append(s, Pes(0xE0, Filled(10, 1), static_cast<int64_t>(maxTicks), -1, true));
    Append(s, ProgramEnd());
    RecordingParser parser(true);
    parser.Feed(s, {});
    EXPECT_EQ(maxScr, parser.GetScr());
    ASSERT_EQ(1u, parser.samples.size());
    // (2^33 - 1) / 0.09 = 95443717677.7 us, truncated.
    EXPECT_EQ(95443717677u, parser.samples[0].GetDecodeTime().Get());
}

TEST(Mpeg2PsParserTest, EveryCutGivesTheSameReports) {
    const Bytes stream = SmallStream();
    RecordingParser whole(true);
    whole.Feed(stream, {});
    for (const std::vector<size_t>& pieces :
         std::vector<std::vector<size_t>>{{1}, {2}, {3}, {7}, {5, 1, 13, 2}}) {
        RecordingParser cut(true);
        cut.Feed(stream, pieces);
        EXPECT_EQ(whole.log, cut.log) << "piece size " << pieces[0];
    }
}

TEST(Mpeg2PsParserTest, RefusesDataBeforeTheFirstPack) {
    Bytes s = Pes(0xE0, Filled(10, 1), 9000, -1, true);
    Append(s, Pack(300));
    {
        RecordingParser parser(true);
        EXPECT_EQ(Mpeg2PsResult::NoPackFirst, parser.Feed(s, {}));
    }
    {
        // Garbage before the pack is refused too, one byte or many.
        RecordingParser parser(true);
        Bytes g{0x47};
        Append(g, Pack(300));
        EXPECT_EQ(Mpeg2PsResult::NoPackFirst, parser.Feed(g, {}));
    }
    {
        // After Reset(true) the same data are taken.
        RecordingParser parser(true);
        parser.Reset(true);
        Append(s, ProgramEnd());
        EXPECT_EQ(Mpeg2PsResult::ProgramEnd, parser.Feed(s, {}));
        EXPECT_EQ(1u, parser.samples.size());
    }
    {
        // Extra zeros before 01 BA are accepted.
        RecordingParser parser(true);
        Bytes z{0x00, 0x00};
        Append(z, Pack(300));
        Append(z, ProgramEnd());
        EXPECT_EQ(Mpeg2PsResult::ProgramEnd, parser.Feed(z, {}));
    }
}

TEST(Mpeg2PsParserTest, ResynchronisesAfterTheFirstPack) {
    Bytes s = Pack(300);
    Append(s, StreamMap());
    Append(s, Pes(0xE0, Filled(10, 1), 9000, -1, true));
    Append(s, Bytes{0x55, 0x00, 0x00, 0x01, 0xE3, 0x99});  // garbage, unknown PES id
    Append(s, Pes(0xE0, Filled(20, 2), 12600, -1, true));  // a known id: sync point
    Append(s, Pes(0xC0, Filled(30, 3), 12600, -1, true));
    Append(s, ProgramEnd());
    RecordingParser parser(true);
    EXPECT_EQ(Mpeg2PsResult::ProgramEnd, parser.Feed(s, {}));
    EXPECT_EQ(1u, parser.resyncCalls);
    // Pack 14 + map 24 + PES 24 bytes: the garbage starts at 62 and the next PES at 68.
    EXPECT_EQ((std::vector<std::pair<uint64_t, uint64_t>>{{62, 6}}), parser.skipped);
    ASSERT_EQ(3u, parser.samples.size());
    EXPECT_EQ(Filled(10, 1), SampleBytes(parser.samples[0]));
    EXPECT_EQ(Filled(20, 2), SampleBytes(parser.samples[1]));
    EXPECT_EQ(Filled(30, 3), SampleBytes(parser.samples[2]));
}

// Damaged data, each stretch worked out by hand. The good stream around them:
//   [0, 14)   pack, SCR 300
//   [14, 38)  map: 00 00 01 BC, length, 2 flag bytes, info length, map length, 2 entries of 4
//             bytes, CRC (4 + 2 + 2 + 2 + 2 + 8 + 4)
//   [38, 62)  video PES: 6 bytes start code and length, 3 flag bytes, 5 PTS bytes, 10 of payload
// then what each case puts at 62.
typedef std::vector<std::pair<uint64_t, uint64_t>> Stretches;

Bytes GoodStart() {
    Bytes s = Pack(300);
    Append(s, StreamMap());
    Append(s, Pes(0xE0, Filled(10, 1), 9000, -1, true));
    return s;
}

TEST(Mpeg2PsParserTest, TellsEachDamagedStretchOnceWithWhereItStartsAndHowLongItIs) {
    ASSERT_EQ(62u, GoodStart().size());
    // SCR 600 (base 2): '01' 000 1 00 | 00 | 00000 1 00 | 00 | 00010 1 00 | 0000000 1, mux rate
    // 1000 with its markers, no stuffing.
    const Bytes pack600 = Pack(600);
    ASSERT_EQ(
        (Bytes{0x00, 0x00, 0x01, 0xBA, 0x44, 0x00, 0x04, 0x00, 0x14, 0x01, 0x00, 0x0F, 0xA3, 0xF8}),
        pack600);
    const Bytes audio = Pes(0xC0, Filled(20, 2), 9000, -1, true);  // 34 bytes
    struct Case {
        const char* what;
        Bytes damage;  // at 62, followed by the pack and the audio PES
        Stretches expected;
    } cases[] = {
        // Bytes where a packet should start: from 62 to the pack at 65.
        {"garbage", {0x55, 0x66, 0x77}, {{62, 3}}},
        // Zeros read as a long start-code prefix, then a byte that ends none: all of it.
        {"zeros", {0, 0, 0, 0, 0, 0, 0, 0, 0x42}, {{62, 9}}},
        // A start code whose id no packet has (below the program end), with what would be its
        // length 4 and payload: 00 00 01 05 00 04 AA BB CC DD, 10 bytes.
        {"no packet id", {0x00, 0x00, 0x01, 0x05, 0x00, 0x04, 0xAA, 0xBB, 0xCC, 0xDD}, {{62, 10}}},
        // Zeros before a good start code are stuffing, not damage.
        {"stuffing", {0x00, 0x00, 0x00}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes s = GoodStart();
        Append(s, c.damage);
        Append(s, pack600);
        Append(s, audio);
        Append(s, ProgramEnd());
        for (size_t piece : {size_t(0), size_t(1), size_t(3), size_t(7)}) {
            SCOPED_TRACE(piece);
            RecordingParser parser(true);
            EXPECT_EQ(Mpeg2PsResult::ProgramEnd,
                      parser.Feed(s, piece ? std::vector<size_t>{piece} : std::vector<size_t>{}));
            EXPECT_EQ(c.expected, parser.skipped);
            // The packets on both sides still come out whole.
            ASSERT_EQ(2u, parser.samples.size());
            EXPECT_EQ(Filled(20, 2), SampleBytes(parser.samples[1]));
        }
    }
}

TEST(Mpeg2PsParserTest, APacketLongerThanItsDataIsToldWhereItsLengthLeavesTheParser) {
    // The video PES claims 6 bytes more than it holds: it takes 00 00 01 BA 44 00 of the pack
    // at 62, the parser then stands at the pack's byte 6 (0x04, no start code), and skips the
    // pack's last 8 bytes up to the audio PES at 76.
    Bytes s = Pack(300);
    Append(s, StreamMap());
    Bytes video = Pes(0xE0, Filled(10, 1), 9000, -1, true);
    video[5] = static_cast<uint8_t>(video[5] + 6);  // PES_packet_length, low byte
    Append(s, video);
    Append(s, Pack(600));
    Append(s, Pes(0xC0, Filled(20, 2), 9000, -1, true));
    Append(s, ProgramEnd());
    RecordingParser parser(true);
    EXPECT_EQ(Mpeg2PsResult::ProgramEnd, parser.Feed(s, {5}));
    EXPECT_EQ((Stretches{{68, 8}}), parser.skipped);
}

TEST(Mpeg2PsParserTest, StretchesAreToldAtTheTitlesPositionsAndCutShortByResetOrTheEnd) {
    Bytes s = GoodStart();
    Append(s, Bytes{0x11, 0x22, 0x33});
    {
        // Nothing is told before the stretch ends; the end of the data ends it.
        RecordingParser parser(true);
        parser.SetStreamPosition(1000000);
        EXPECT_EQ(Mpeg2PsResult::Ok, parser.Feed(s, {}));
        EXPECT_TRUE(parser.skipped.empty());
        EXPECT_EQ(1000065u, parser.GetStreamPosition());
        parser.EndOfData();
        parser.EndOfData();  // once
        EXPECT_EQ((Stretches{{1000062, 3}}), parser.skipped);
    }
    {
        // A reset (a seek) ends it too; the data after the seek start at a pack: no more.
        RecordingParser parser(true);
        EXPECT_EQ(Mpeg2PsResult::Ok, parser.Feed(s, {}));
        parser.Reset(false);
        EXPECT_EQ((Stretches{{62, 3}}), parser.skipped);
        parser.SetStreamPosition(5000);
        Bytes after = Pack(900);
        Append(after, Pes(0xE0, Filled(10, 1), 9000, -1, true));
        EXPECT_EQ(Mpeg2PsResult::Ok, parser.Feed(after, {}));
        parser.EndOfData();
        EXPECT_EQ((Stretches{{62, 3}}), parser.skipped);
    }
    {
        // Pass-through after a seek inserts the map (24 bytes) behind the first pack: those
        // bytes are not the title's. From 5000: pack 14, PES 24, the bad byte at 5038.
        RecordingParser parser(false);
        EXPECT_EQ(Mpeg2PsResult::Ok, parser.Feed(GoodStart(), {}));
        parser.Reset(true);
        parser.SetStreamPosition(5000);
        parser.output.clear();
        Bytes after = Pack(900);
        Append(after, Pes(0xE0, Filled(10, 1), 9000, -1, true));
        Append(after, Bytes{0xEE});
        Append(after, Pack(1200));
        EXPECT_EQ(Mpeg2PsResult::Ok, parser.Feed(after, {}));
        EXPECT_EQ(after.size() + 24, parser.output.size());
        EXPECT_EQ((Stretches{{5038, 1}}), parser.skipped);
    }
}

TEST(Mpeg2PsParserTest, StreamMapThatDoesNotFitGivesTwo) {
    // Raw map payloads (the bytes after PES_packet_length) and whether they are accepted.
    struct Case {
        const char* name;
        Bytes payload;
        Mpeg2PsResult result;
    };
    const Bytes good = StreamMap();  // with its 6-byte PES prefix cut below
    Bytes goodPayload(good.begin() + 6, good.end());
    Bytes longInfo = goodPayload;
    longInfo[2] = 0x7F;  // program_stream_info_length far past the bytes
    Bytes longMap = goodPayload;
    longMap[5] = static_cast<uint8_t>(longMap[5] + 1);  // the map would take a CRC byte
    Bytes longDescriptor = goodPayload;
    longDescriptor[6 + 2] = 0x00;
    longDescriptor[6 + 3] = 0x09;  // the first entry's descriptors run past the map
    Bytes cutEntry = goodPayload;
    cutEntry[5] = static_cast<uint8_t>(cutEntry[5] - 2);  // the map ends inside an entry
    const Case cases[] = {
        {"well formed", goodPayload, Mpeg2PsResult::Ok},
        {"3 bytes", Bytes{0x80, 0x01, 0x00}, Mpeg2PsResult::BadStreamMap},
        {"info length past the end", longInfo, Mpeg2PsResult::BadStreamMap},
        {"map into the CRC", longMap, Mpeg2PsResult::BadStreamMap},
        {"descriptor past the map", longDescriptor, Mpeg2PsResult::BadStreamMap},
        {"entry cut by the map length", cutEntry, Mpeg2PsResult::BadStreamMap},
    };
    for (const Case& c : cases) {
        RecordingParser parser(true);
        Bytes s = Pack(300);
        Mpeg2PsPes pes;
        pes.SetStreamId(0xBC);
        pes.AddData(c.payload.data(), static_cast<uint32_t>(c.payload.size()), true);
        pes.AppendTo(s);
        EXPECT_EQ(c.result, parser.Feed(s, {})) << c.name;
        // A refused map leaves the elementary-stream map empty, so the next one is read.
        EXPECT_EQ(c.result == Mpeg2PsResult::Ok ? 2u : 0u, parser.GetStreamMap().GetEsMap().size())
            << c.name;
        if (c.result != Mpeg2PsResult::Ok) {
            EXPECT_EQ(0, parser.GetVideoStreamId()) << c.name;
            EXPECT_EQ(Mpeg2PsResult::Ok, parser.Feed(StreamMap(), {})) << c.name;
            EXPECT_EQ(2u, parser.GetStreamMap().GetEsMap().size()) << c.name;
        }
    }
}

TEST(Mpeg2PsParserTest, StreamMapRoutesPrivateStreamOneAndLaterAudio) {
    Mpeg2PsPsm psm;
    psm.SetCurrentNextIndicator(true);
    psm.AddEsInfo(0xC0, 0x0F);
    psm.AddEsInfo(0xC1, 0x0F);  // the later audio entry wins
    psm.AddEsInfo(0xBD, 0x81);  // not an audio type on 0xBD
    Bytes map(psm.GetSize());
    psm.Write(map.data(), static_cast<uint32_t>(map.size()));
    RecordingParser parser(true);
    Bytes s = Pack(300);
    Append(s, map);
    EXPECT_EQ(Mpeg2PsResult::Ok, parser.Feed(s, {}));
    EXPECT_EQ(0xC1, parser.GetAudioStreamId());

    Mpeg2PsPsm eac3;
    eac3.AddEsInfo(0xBD, 0x87);
    Bytes map2(eac3.GetSize());
    eac3.Write(map2.data(), static_cast<uint32_t>(map2.size()));
    RecordingParser second(true);
    Bytes s2 = Pack(300);
    Append(s2, map2);
    EXPECT_EQ(Mpeg2PsResult::Ok, second.Feed(s2, {}));
    EXPECT_EQ(0xBD, second.GetAudioStreamId());
    EXPECT_EQ(0x87, second.GetAudioStreamType());
}

// An ES_Descriptor for AAC on stream 0xC0: ES_ID, flags, DecoderConfigDescriptor (13 fixed
// bytes, then DecoderSpecificInfo 11 90: LC, 48 kHz, stereo), SLConfigDescriptor.
Bytes AacEsDescriptor() {
    return Bytes{0x03, 0x19, 0x00, 0xC0, 0x00, 0x04, 0x11, 0x40, 0x15, 0,    0,    0,    0,   0,
                 0,    0,    0,    0,    0,    0,    0x05, 0x02, 0x11, 0x90, 0x06, 0x01, 0x02};
}

TEST(Mpeg2PsParserTest, AudioDecoderConfigFromTheStreamMapOrTheTrack) {
    // IOD_descriptor: tag, length, scope, label, then the InitialObjectDescriptor (tag 0x02,
    // length, ObjectDescriptorID and flags without URL, five profile bytes, the ES_Descriptor).
    const Bytes es = AacEsDescriptor();
    Bytes iod{0x02, static_cast<uint8_t>(7 + es.size()), 0x00, 0x4F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    Append(iod, es);
    Bytes info{0x1D, static_cast<uint8_t>(2 + iod.size()), 0x01, 0x01};
    Append(info, iod);
    {
        RecordingParser parser(true);
        Bytes s = Pack(300);
        Append(s, StreamMap(info));
        EXPECT_EQ(Mpeg2PsResult::Ok, parser.Feed(s, {}));
        Bytes config;
        EXPECT_TRUE(parser.GetAudioDecoderConfig(0xC0, config));
        EXPECT_EQ((Bytes{0x11, 0x90}), config);
        EXPECT_FALSE(parser.GetAudioDecoderConfig(0xC1, config));  // no ES for that id
        const uint8_t* found = nullptr;
        uint32_t foundSize = 0;
        ASSERT_TRUE(parser.GetStreamMap().FindEsDescriptor(0xC0, found, foundSize));
        EXPECT_EQ(es, Bytes(found, found + foundSize));  // the whole ES_Descriptor
        EXPECT_FALSE(parser.GetStreamMap().FindEsDescriptor(0xC1, found, foundSize));
    }

    // The track's ES descriptor, well formed and damaged: every length is checked.
    struct Case {
        const char* name;
        Bytes es;
        bool found;
    };
    Bytes shortFixed = es;
    shortFixed[6] = 12;  // DecoderConfigDescriptor shorter than its 13 fixed bytes
    shortFixed.resize(5 + 2 + 12);
    shortFixed[1] = static_cast<uint8_t>(shortFixed.size() - 2);
    Bytes longEs = es;
    longEs[1] = 0x7F;  // ES_Descriptor longer than its bytes
    Bytes longUrl = es;
    longUrl[4] = 0x40;  // URL flag, with a URL length far past the end
    longUrl.insert(longUrl.begin() + 5, 0xF0);
    longUrl[1] = static_cast<uint8_t>(longUrl.size() - 2);
    Bytes longInfo = es;
    longInfo[21] = 0x09;  // DecoderSpecificInfo longer than the DecoderConfigDescriptor
    const Case cases[] = {
        {"well formed", es, true},
        {"fixed fields cut", shortFixed, false},
        {"ES length past the bytes", longEs, false},
        {"URL past the end", longUrl, false},
        {"specific info past its parent", longInfo, false},
        {"empty", Bytes(), false},
    };
    for (const Case& c : cases) {
        Mpeg2PsParserListener quiet;
        Mpeg2PsParser parser(quiet, true);
        boost::shared_ptr<MediaTrack> track(new MediaTrack);
        track->GetInfo().SetValue(TrackInfoKey_AudioEsDescriptor, SV::SVTypedValue(c.es));
        parser.SetSelectedTrack(track);
        Bytes config;
        EXPECT_EQ(c.found, parser.GetAudioDecoderConfig(0xC0, config)) << c.name;
        if (c.found) {
            EXPECT_EQ((Bytes{0x11, 0x90}), config);
        }
    }
}

TEST(Mpeg2PsParserTest, BytesAfterAMetadataBlockGoWithItHoweverTheyArrive) {
    // One aligned 0xF1 packet: a chapter block, then bytes that are no block; then an
    // unaligned packet that continues nothing and a second aligned block.
    Bytes first;
    ASSERT_TRUE(Mpeg2PsMetadataBlocks::WriteChapter(90000, "One", 5000, 100, first));
    Append(first, Bytes{0x00, 0x00, 0x00, 0x02, 0x99, 0x98});
    Bytes second;
    ASSERT_TRUE(Mpeg2PsMetadataBlocks::WriteChapter(180000, "Two", 5100, 100, second));
    Bytes s = Pack(0);
    Append(s, Pes(0xF1, first, -1, -1, true));
    Append(s, Pes(0xF1, second, -1, -1, true));
    Append(s, Pes(0xE0, Filled(10, 1), 9000, -1, true));
    for (size_t piece : {size_t(0), size_t(1), size_t(3)}) {
        RecordingParser parser(true);
        EXPECT_EQ(Mpeg2PsResult::Ok,
                  parser.Feed(s, piece ? std::vector<size_t>{piece} : std::vector<size_t>{}))
            << piece;
        ASSERT_EQ(2u, parser.GetHeaderSection().GetChapters().size()) << piece;
        EXPECT_EQ("One", parser.GetHeaderSection().GetChapters()[0].title);
        EXPECT_EQ(180000u, parser.GetHeaderSection().GetChapters()[1].time);
    }
}

TEST(Mpeg2PsParserTest, MetadataBlockTooLargeIsRefused) {
    // A block whose length field asks for 4 GiB is not gathered.
    Bytes block{0xFF, 0xFF, 0xFF, 0xF0, 0x03, 0x00};
    Bytes s = Pack(300);
    Append(s, Pes(0xF1, block, -1, -1, true));
    RecordingParser parser(true);
    EXPECT_EQ(Mpeg2PsResult::BadTags, parser.Feed(s, {}));
}

TEST(Mpeg2PsParserTest, PassThroughInsertsTheStreamMapIntoACopy) {
    // A header pack (SCR 0) with the system header and map, then a media pack: the first pack
    // decides, so nothing is inserted.
    Bytes header = Pack(0);
    Append(header, StreamMap());
    Bytes media = Pack(300 * 9000);
    Append(media, Pes(0xE0, Filled(30, 1), 9000, -1, true));
    {
        RecordingParser parser(false);
        Bytes s = header;
        Append(s, media);
        EXPECT_EQ(Mpeg2PsResult::Ok, parser.Feed(s, {}));
        EXPECT_EQ(s, parser.output);
    }
    {
        // After a Reset (a seek), the first media pack gets the system header and the map.
        RecordingParser parser(false);
        parser.Feed(header, {});
        parser.Reset(true);
        parser.output.clear();
        const MemoryChunk in = ToChunk(media.data(), media.size());
        EXPECT_EQ(Mpeg2PsResult::Ok, parser.Parse(in, false));
        EXPECT_EQ(media, FromChunk(in));  // the caller's chunk is untouched

        const Bytes map = StreamMap();
        Bytes expected(media.begin(), media.begin() + 14);
        Append(expected, map);
        expected.insert(expected.end(), media.begin() + 14, media.end());
        EXPECT_EQ(expected, parser.output);

        // Only once per Reset.
        parser.output.clear();
        EXPECT_EQ(Mpeg2PsResult::Ok, parser.Parse(ToChunk(media.data(), media.size()), false));
        EXPECT_EQ(media, parser.output);
    }
}

TEST(Mpeg2PsParserTest, PassThroughStopsAfterTheEndCode) {
    Bytes s = Pack(0);
    Append(s, StreamMap());
    Append(s, ProgramEnd());
    const size_t endLength = s.size();
    Append(s, Bytes{0x00, 0x00, 0x01, 0xBA, 0x12});
    RecordingParser parser(false);
    const MemoryChunk in = ToChunk(s.data(), s.size());
    EXPECT_EQ(Mpeg2PsResult::ProgramEnd, parser.Parse(in, false));
    EXPECT_EQ(Bytes(s.begin(), s.begin() + endLength), parser.output);
    EXPECT_EQ(s.size(), in.Size());  // the cut is the parser's own copy
}

TEST(Mpeg2PsParserTest, IndexCompletesOnceAtTheFirstMediaPacket) {
    Bytes s = Pack(300);
    Append(s, StreamMap());
    Append(s, Pes(0xE0, Filled(10, 1), 9000, -1, true));
    Append(s, Pes(0xBF, Filled(20, 1)));  // after the header section: dropped
    Append(s, Pes(0xE0, Filled(10, 1), 12600, -1, true));
    RecordingParser parser(true);
    parser.GetHeaderSection().SetHashEnabled(true);
    EXPECT_EQ(Mpeg2PsResult::Ok, parser.Feed(s, {}));
    EXPECT_EQ(1u, parser.metadataCompleteCalls);
    EXPECT_TRUE(parser.GetHeaderSection().IsIndexComplete());
    // Nothing was fed: the digest is the SHA-256 of no bytes.
    ASSERT_EQ(32u, parser.GetHeaderSection().GetIndexDigest().size());
    EXPECT_EQ(0xE3, parser.GetHeaderSection().GetIndexDigest()[0]);
    EXPECT_EQ(0x55, parser.GetHeaderSection().GetIndexDigest()[31]);
}

TEST(Mpeg2PsParserTest, Pack0MapRecordsWhereTheHeaderRecordsLie) {
    // A version-0 index entry: offset, size, duration, bit rate, no seek points.
    Mpeg2PsIndexEntry entry;
    entry.offset = 4096;
    entry.size = 1000;
    entry.duration = 90000;
    Bytes indexEntry;
    ASSERT_TRUE(entry.Write(0, indexEntry));
    Bytes s = Pack(0);
    Append(s, StreamMap());
    const uint32_t ps2At = static_cast<uint32_t>(s.size());
    Append(s, Pes(0xBF, indexEntry));
    const uint32_t ps2End = static_cast<uint32_t>(s.size());
    const uint32_t mediaAt = ps2End;
    Append(s, Pes(0xE0, Filled(10, 1), 9000, -1, true));
    for (size_t piece : {size_t(0), size_t(1), size_t(5)}) {
        RecordingParser parser(true);
        parser.GetHeaderSection().CreatePack0Map();
        EXPECT_EQ(Mpeg2PsResult::Ok,
                  parser.Feed(s, piece ? std::vector<size_t>{piece} : std::vector<size_t>{}));
        EXPECT_EQ(1u, parser.tracks.size());
        const Mpeg2PsParser::Pack0Map* map = parser.GetHeaderSection().GetPack0Map();
        ASSERT_NE(nullptr, map);
        EXPECT_EQ(0u, map->packStart);
        ASSERT_EQ(1u, map->metadataItems.size());
        EXPECT_EQ(ps2At, map->metadataItems[0].start);
        EXPECT_EQ(ps2End, map->metadataItems[0].end);
        EXPECT_FALSE(map->metadataItems[0].isMetadata);
        EXPECT_EQ(mediaAt, map->firstMediaPes);
    }
}

}  // namespace
}  // namespace SarvelonMediaKit

namespace SarvelonMediaKit {
namespace {

using namespace ParserTest;

// Keeps the kind and time of every timestamp the parser reports.
class TimestampParser : public RecordingParser {
public:
    TimestampParser() : RecordingParser(true) {}
    std::vector<std::pair<uint32_t, uint32_t>> timestamps;

protected:
    void OnTimestamp(SampleMediaType kind, uint32_t timestamp, uint32_t) override {
        timestamps.push_back(std::make_pair(kind, timestamp));
    }
};

// Without a stream map the parser knows the stream ids only from its owner; the decode time it
// keeps has all 33 bits, past the 32 that a timestamp report carries.
TEST(Mpeg2PsParserTest, IdsFromTheOwnerClassTimestampsAndTheDecodeTimeKeeps33Bits) {
    Bytes stream = Pack(0);
    const Bytes video = {
        0x00, 0x00, 0x01, 0xE0,        // packet start code, video stream 0xE0
        0x00, 0x11,                    // PES_packet_length: 17 bytes follow
        0x80,                          // '10', no scrambling, no alignment
        0xC0,                          // PTS_DTS_flags '11'
        0x0A,                          // PES_header_data_length 10
        0x39, 0x00, 0x05, 0xDB, 0x41,  // PTS 0x1_0001_6DA0 ('0011' prefix, marker bits)
        0x19, 0x00, 0x05, 0xBF, 0x21,  // DTS 0x1_0001_5F90 = 2^32 + 90000 ('0001' prefix)
        0xAA, 0xBB, 0xCC, 0xDD};       // payload
    const Bytes audio = {0x00, 0x00, 0x01, 0xC0,        // packet start code, audio stream 0xC0
                         0x00, 0x0A,                    // PES_packet_length: 10 bytes follow
                         0x80,                          // '10'
                         0x80,                          // PTS_DTS_flags '10'
                         0x05,                          // PES_header_data_length 5
                         0x29, 0x00, 0x05, 0xDB, 0x41,  // PTS 0x1_0001_6DA0 ('0010' prefix)
                         0x11, 0x22};                   // payload
    Append(stream, video);
    Append(stream, audio);
    Append(stream, ProgramEnd());

    TimestampParser unnamed;
    EXPECT_EQ(Mpeg2PsResult::ProgramEnd, unnamed.Feed(stream, {}));
    ASSERT_EQ(2u, unnamed.timestamps.size());
    EXPECT_EQ(0u, unnamed.timestamps[0].first) << "no ids known: kind 0";
    EXPECT_EQ(0u, unnamed.timestamps[1].first);

    TimestampParser named;
    named.SetVideoStreamId(0xE0);
    named.SetAudioStreamId(0xC0);
    named.SetAudioStreamType(0x0F);
    EXPECT_EQ(0u, named.GetDecodeTime()) << "no timestamp read yet";
    EXPECT_EQ(Mpeg2PsResult::ProgramEnd, named.Feed(stream, {}));
    ASSERT_EQ(2u, named.timestamps.size());
    EXPECT_EQ(std::make_pair(2u, 90000u), named.timestamps[0]);  // video, the DTS's low word
    EXPECT_EQ(std::make_pair(1u, 93600u), named.timestamps[1]);  // audio, its PTS's low word
    EXPECT_EQ(0x100016DA0u, named.GetDecodeTime()) << "the audio PTS, all 33 bits";
    EXPECT_EQ(0x0F, named.GetAudioStreamType());
    ASSERT_EQ(2u, named.samples.size());
    EXPECT_EQ(2u, named.samples[0].GetType());
    EXPECT_EQ(1u, named.samples[1].GetType());
    // 2^32 + 90000 ticks of 90 kHz in microseconds, truncated: 4295057296 * 100 / 9.
    EXPECT_EQ(47722858844u, named.samples[0].GetDecodeTime().Get());
}

}  // namespace
}  // namespace SarvelonMediaKit
