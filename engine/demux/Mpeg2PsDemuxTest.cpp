// The program-stream demultiplexer on real titles: file client -> Mpeg2PsDemux -> a recording
// multiplexer (or a plain sink), compared with what the parser alone reads from the same file.

#include <gtest/gtest.h>

#include <boost/make_shared.hpp>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>

#include "SVLibrary/TypedValue/SVDictionary.h"
#include "engine/core/Session.h"
#include "engine/core/ComponentStack.h"
#include "engine/demux/Mpeg2PsDemux.h"
#include "engine/demux/Mpeg2PsParserTestSupport.h"
#include "tests/support/MediaFileTestSupport.h"
#include "tests/support/Mpeg2PsDemuxTestSupport.h"
#include "engine/input/FileClient.h"
#include "tests/support/RecordingSink.h"
#include "engine/samples/SampleFormat.h"
#include "tests/support/Fixtures.h"
#include "tests/support/TemporaryDirectory.h"
#include "tests/support/ChainBuilder.h"

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
using demuxtest::Watch;
using SvTestSupport::Fixtures;
using SvTestSupport::RecordingStage;
using SvTestSupport::TemporaryDirectory;

using SvTestSupport::ReadFileBytes;
using SvTestSupport::WriteWholeFile;

// What the parser alone yields for a file: per stream id the samples' times and key flags.
class CollectingParser : public ParserTest::StreamIdParser {
public:
    CollectingParser() : StreamIdParser(true) {}
    std::map<uint32_t, StreamRecord> streams;

protected:
    Mpeg2PsResult OnSample(Sample& sample) override {
        streams[sample.GetStreamRef().Get()].Add(sample);
        return Mpeg2PsResult::Ok;
    }
};

std::map<uint32_t, StreamRecord> ParseAlone(const std::vector<uint8_t>& bytes) {
    CollectingParser parser;
    for (size_t at = 0; at < bytes.size(); at += 65536) {
        const uint32_t n = static_cast<uint32_t>(std::min<size_t>(65536, bytes.size() - at));
        MemoryChunk chunk(n, 0, 0);
        std::memcpy(chunk.Data(0), bytes.data() + at, n);
        const Mpeg2PsResult result = parser.Parse(chunk, false);
        if (result == Mpeg2PsResult::ProgramEnd) break;
        EXPECT_EQ(Mpeg2PsResult::Ok, result);
    }
    parser.AddPesPayloadToSample();
    return parser.streams;
}

// The tracks the parser alone reads from a title's index, in the order of the index.
std::vector<boost::shared_ptr<MediaTrack>> IndexTracks(const std::vector<uint8_t>& bytes) {
    ParserTest::RecordingParser parser(true);
    parser.Feed(bytes, {65536});
    return parser.tracks;
}

// file client -> [trickle] -> demux -> consumer, driven on the test thread (no pump): tasks
// and pulls run when the test says.
struct Chain {
    explicit Chain(const std::string& path, bool withMux = true, uint32_t trickle = 0) {
        session = Session::Create();
        session->SetCapacity(ByteAmount(16u << 20));  // room for the preload cache
        source = CreateFileClient(session.get(), &file);
        source->SetName(path, true);
        demux = boost::make_shared<Mpeg2PsDemux>(session.get());
        boost::shared_ptr<Component> front;
        if (withMux) {
            front = mux = boost::make_shared<RecordingMux>(session.get());
        } else {
            front = sink = boost::make_shared<SvTestSupport::RecordingSink>();
        }
        stage = boost::make_shared<demuxtest::ObservingStage>(session.get(), trickle);
        ComponentStack stack =
            SvTestSupport::BuildChain(StackIdMain, {front, demux, stage, source});
        session->SetComponentStack(stack);
        Watch(*demux, events);
        stack.Link();
    }
    ~Chain() { session->Stop(true); }

    void RunTasks(int rounds = 1) {
        for (int i = 0; i < rounds; ++i) session->GetTaskManager()->RunTasks();
    }
    // Preloads to the end (success or time-out).
    void Preload(uint64_t timeoutMicroseconds) {
        demux->PreLoad(MediaTime(timeoutMicroseconds));
        for (int i = 0; i < 100000 && !Preloaded(); ++i) {
            RunTasks();
        }
    }
    bool Preloaded() const {
        return std::find(events.events.begin(), events.events.end(), "preload complete") !=
               events.events.end();
    }
    // Pulls through the front until the end of the stream has gone through (or 5000 pulls).
    void PullToEnd() {
        boost::shared_ptr<Component> front = mux ? boost::shared_ptr<Component>(mux) : sink;
        for (int i = 0; i < 5000; ++i) {
            if (mux && mux->CountMarkers(MemoryMarkerTypeEndOfStream) != 0) break;
            if (sink && !sink->entries.empty() && sink->entries.back().isMarker) break;
            if (mux) {
                mux->PullData(ByteAmount(1u << 20));
            } else {
                demux->PullData(ByteAmount(65536));
            }
        }
    }

    boost::shared_ptr<Session> session;
    FileClient* file = nullptr;
    boost::shared_ptr<Component> source;
    boost::shared_ptr<Mpeg2PsDemux> demux;
    boost::shared_ptr<RecordingMux> mux;
    boost::shared_ptr<SvTestSupport::RecordingSink> sink;
    boost::shared_ptr<demuxtest::ObservingStage> stage;
    EventRecorder events;
};

// A preload asked on the test's thread while the pump already runs the chain: the preload cache
// is taken on the task thread (ThreadSanitizer watches the hand-over), the index is read, and
// every sample still arrives, then one end of stream.
TEST(Mpeg2PsDemuxRunningTest, APreloadAskedWhileThePumpRunsReadsTheWholeTitle) {
    const ProbedStreams expected = ProbeSources(ShortSources(), 0);
    EventRecorder events;
    FileDemuxChain chain(Fixtures::ShortTitle(), events);
    const boost::shared_ptr<Session>& session = chain.session;
    const boost::shared_ptr<RecordingMux>& mux = chain.mux;
    session->StartPump(1000);
    session->SetPullAmount(ByteAmount(4096));
    session->Start();
    session->PreLoad(MediaTime(15000000));  // on this thread, the pump running
    ASSERT_TRUE(events.WaitForPreload(20000));
    ASSERT_TRUE(mux->WaitForMarker(MemoryMarkerTypeEndOfStream, 20000));
    session->Stop(true);
    EXPECT_TRUE(events.errors.empty());
    const std::map<uint32_t, StreamRecord> got = mux->Streams();
    ASSERT_EQ(1u, got.count(0xE0));
    ASSERT_EQ(1u, got.count(0xC0));
    EXPECT_TRUE(expected.video.sizes == got.at(0xE0).sizes);
    EXPECT_TRUE(expected.audio.sizes == got.at(0xC0).sizes);
    EXPECT_EQ(1u, mux->CountMarkers(MemoryMarkerTypeEndOfStream));
}

class Mpeg2PsDemuxTest : public ::testing::Test {
protected:
    std::string Write(const std::string& name, const std::vector<uint8_t>& bytes) {
        const std::string path = dir.File(name);
        WriteWholeFile(path, bytes);
        return path;
    }
    TemporaryDirectory dir{"demuxtest"};
};

TEST_F(Mpeg2PsDemuxTest, TruncatedTitleIsReportedAndEndsOnce) {
    std::vector<uint8_t> bytes = ReadFileBytes(Fixtures::ShortTitle());
    bytes.resize(bytes.size() * 8 / 10);
    Chain chain(Write("truncated.svm", bytes));
    chain.Preload(15000000);
    chain.PullToEnd();
    EXPECT_TRUE(chain.events.HasError(1005, "Media was truncated"));
    ASSERT_EQ(1u, chain.events.trackEvents.size()) << "tracks are still published";
    // The source's end stands for the missing program end; pulling on gives no second one.
    for (int i = 0; i < 3; ++i) chain.mux->PullData(ByteAmount(65536));
    EXPECT_EQ(1u, chain.mux->CountMarkers(MemoryMarkerTypeEndOfStream));
    EXPECT_FALSE(chain.mux->Streams().empty());
}

TEST_F(Mpeg2PsDemuxTest, RandomBytesAreNotAContainer) {
    std::vector<uint8_t> bytes(300000);
    std::mt19937 random(7);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(random());
    bytes[0] = 0xFF;  // not a start code
    Chain chain(Write("random.svm", bytes));
    chain.Preload(15000000);
    ASSERT_FALSE(chain.events.errors.empty());
    EXPECT_EQ(std::make_pair(1001u, std::string("Invalid data format")),
              chain.events.errors.front());
    EXPECT_TRUE(chain.events.trackEvents.empty());
    // The media ended without an index: the preload ends at once instead of waiting, and the
    // refusal stands as the reason (no time-out is said after it).
    EXPECT_EQ("preload complete", chain.events.events.back());
    EXPECT_FALSE(chain.events.HasError(408, "Preload timeout"));
}

// Media that end before an index are refused as soon as the end comes, in words for what they
// held, and the preload ends with that one reason (a time-out of ten minutes is never waited
// for: a few pump rounds are all the test gives it).
TEST_F(Mpeg2PsDemuxTest, MediaThatEndBeforeAnIndexAreRefusedAtOnceInWords) {
    const std::vector<uint8_t> whole = ReadFileBytes(Fixtures::ShortTitle());
    const std::vector<boost::shared_ptr<MediaTrack>> tracks = IndexTracks(whole);
    ASSERT_FALSE(tracks.empty());
    const size_t media = tracks[0]->GetIndex().GetOffset();
    ASSERT_LT(media, whole.size());
    // ffmpeg's program stream of the clip's pictures: packs and media, no index.
    const std::string indexless = dir.File("indexless.svm");
    std::string made;
    ASSERT_EQ(0, SvTestSupport::RunProgram(
                     {"ffmpeg", "-nostdin", "-v", "error", "-i", Fixtures::ShortClip(), "-an",
                      "-c:v", "copy", "-f", "vob", indexless},
                     &made))
        << made;
    const struct {
        std::string path;
        uint32_t status;
        const char* text;
    } rows[] = {
        {Write("empty.svm", {}), 1001, "The file is empty"},
        {Write("header.svm", std::vector<uint8_t>(whole.begin(), whole.begin() + long(media))),
         1005, "Media was truncated"},
        {indexless, 1001, "The title has no index"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.path);
        Chain chain(row.path);
        chain.demux->PreLoad(MediaTime(600000000));
        for (int i = 0; i < 1000 && !chain.Preloaded(); ++i) chain.RunTasks();
        ASSERT_TRUE(chain.Preloaded());
        const std::vector<std::pair<uint32_t, std::string>> told = {{row.status, row.text}};
        EXPECT_EQ(told, chain.events.errors);
    }
}

// A title whose index cannot be read never completes its preload, and the source's end of
// stream reaches the demultiplexer while its preload cache is in place and no sample stream
// exists to carry the marker. The marker must still reach the consumer, or whatever waits for
// the end (a remux) waits for ever. Once, however often the chain is pulled afterwards.
TEST_F(Mpeg2PsDemuxTest, AnEndOfStreamBeforeThePreloadCompletesStillTravelsOn) {
    std::vector<uint8_t> random(300000);
    std::mt19937 generator(11);
    for (size_t i = 0; i < random.size(); ++i) random[i] = static_cast<uint8_t>(generator());
    random[0] = 0xFF;
    // The short title with its index (the bytes after the first pack header, up to the first
    // track's media) overwritten: the media behind it is intact.
    std::vector<uint8_t> destroyed = ReadFileBytes(Fixtures::ShortTitle());
    const std::vector<boost::shared_ptr<MediaTrack>> tracks = IndexTracks(destroyed);
    ASSERT_FALSE(tracks.empty());
    const size_t media = tracks[0]->GetIndex().GetOffset();
    ASSERT_LT(media, destroyed.size());
    for (size_t i = 14; i < media; ++i) destroyed[i] = static_cast<uint8_t>(generator());
    const std::string paths[] = {Write("random.svm", random), Write("destroyed.svm", destroyed)};
    for (const std::string& path : paths) {
        for (bool withMux : {true, false}) {
            SCOPED_TRACE(path + (withMux ? " with a multiplexer" : " passed on"));
            Chain chain(path, withMux);
            chain.Preload(15000000);
            ASSERT_TRUE(chain.Preloaded());
            // No track (the preload times out at the end of the media, or completes with an
            // empty track map when the media starts behind a missing index).
            for (const auto& tracks : chain.events.trackEvents) EXPECT_TRUE(tracks.first.empty());
            chain.PullToEnd();
            for (int i = 0; i < 3; ++i) {
                if (withMux) {
                    chain.mux->PullData(ByteAmount(65536));
                } else {
                    chain.demux->PullData(ByteAmount(65536));
                }
            }
            size_t ends = 0;
            if (withMux) {
                ends = chain.mux->CountMarkers(MemoryMarkerTypeEndOfStream);
                EXPECT_TRUE(chain.mux->IsEndOfStream());
            } else {
                for (const auto& entry : chain.sink->entries) {
                    ends += entry.isMarker && entry.markerType == MemoryMarkerTypeEndOfStream;
                }
            }
            EXPECT_EQ(1u, ends) << "the end of stream must reach the consumer once";
        }
    }
}

// The parser classes every timestamp by the tracks' audio and video stream ids, whether or not
// the title carries a stream map: one video timestamp per video sample, at the sample's decode
// time, one audio timestamp per audio sample, and none of another kind.
TEST_F(Mpeg2PsDemuxTest, TimestampsCarryTheirStreamKindWithAndWithoutAStreamMap) {
    const ProbedStreams probed = ProbeSources(ShortSources(), 0);
    for (const std::string& path : {Fixtures::ShortTitle(), NoStreamMapTitle()}) {
        SCOPED_TRACE(path);
        Chain chain(path);
        chain.Preload(15000000);
        chain.PullToEnd();
        ASSERT_EQ(1u, chain.mux->CountMarkers(MemoryMarkerTypeEndOfStream));
        EXPECT_EQ(0u, chain.events.timestamps.count(0)) << "no timestamp of kind 0";
        ASSERT_EQ(probed.video.samples.size(), chain.events.timestamps[2].size());
        ASSERT_EQ(probed.audio.samples.size(), chain.events.timestamps[1].size());
        for (size_t i = 0; i < probed.video.samples.size(); ++i) {
            ASSERT_EQ(probed.video.samples[i].first, chain.events.timestamps[2][i]) << i;
        }
        for (size_t i = 0; i < probed.audio.samples.size(); ++i) {
            ASSERT_EQ(probed.audio.samples[i].first, chain.events.timestamps[1][i]) << i;
        }
    }
}

TEST_F(Mpeg2PsDemuxTest, OtherParserFailuresCarryTheResult) {
    const std::string path =
        Fixtures::MakeTitle("demux-badmagic.svm", {Fixtures::ShortClip(), "{out}", "--bad-magic"});
    Chain chain(path);
    chain.Preload(15000000);
    ASSERT_FALSE(chain.events.errors.empty());
    EXPECT_EQ(std::make_pair(1003u, std::string("Mpeg2PsParser error 4")),
              chain.events.errors.front());
}

TEST_F(Mpeg2PsDemuxTest, PreloadTimeoutOfZero) {
    // A source that hands on 100 bytes a pull cannot complete the index in the first step.
    Chain chain(Fixtures::ShortTitle(), true, 100);
    chain.Preload(0);
    EXPECT_EQ(std::vector<std::string>({"error 408", "preload complete"}), chain.events.events);
    EXPECT_TRUE(chain.events.HasError(408, "Preload timeout"));
    EXPECT_FALSE(chain.session->GetComponentStack().Front()->IsPreLoading())
        << "a failed preload must not keep refusing seeks";

    // With time to spare the same slow source completes it.
    Chain slow(Fixtures::ShortTitle(), true, 100);
    slow.Preload(60000000);
    EXPECT_EQ(std::vector<std::string>({"tracks", "preload complete"}), slow.events.events);
    EXPECT_EQ(uint32_t(Component::PreloadStateDone), slow.demux->GetPreloadState());
}

TEST_F(Mpeg2PsDemuxTest, SeekToFiveSecondsStartsAtTheKeyFrameOfTheIndex) {
    Chain chain(Fixtures::ChapterTitle());
    chain.Preload(15000000);
    ASSERT_EQ(1u, chain.demux->GetTracks().size());
    const MediaTrack& track = *chain.demux->GetTracks().begin()->second;
    MediaTime time(5000000);
    const BytePosition position = track.GetIndex().TimeToPosition(time, false);
    ASSERT_LT(time.Get(), 5000000u);  // the entry before 5 s
    chain.mux->PullData(ByteAmount(100000));
    ASSERT_FALSE(chain.mux->Streams().empty());

    chain.session->SetPosition(BytePosition(0), StackIdAny);
    chain.mux->SeekFilePosition(position, BytePosition(0), false);
    chain.mux->Forget();
    chain.mux->PullData(ByteAmount(100000));
    const std::map<uint32_t, StreamRecord> got = chain.mux->Streams();
    ASSERT_EQ(1u, got.count(0xE0));
    const std::pair<uint64_t, bool> first = got.at(0xE0).samples.front();
    EXPECT_TRUE(first.second) << "the first video sample after the seek is a key frame";
    EXPECT_EQ(time.Get(), first.first);
}

// The file client holds the whole file loaded: the time buffered counts the media between the
// last parsed timestamp and the end, once a track is current.
TEST_F(Mpeg2PsDemuxTest, TimeBufferedCountsTheMediaLoadedAhead) {
    Chain chain(Fixtures::ChapterTitle());
    chain.Preload(15000000);
    chain.mux->PullData(ByteAmount(100000));
    SV::SVDictionary statistics;
    statistics.SetValue("StatsKey_VideoTimeBuffered", SV::SVTypedValue(0.0f));
    chain.mux->GetStatistics(statistics);
    const float queued = statistics.GetFloatOrDefault("StatsKey_VideoTimeBuffered", -1.0f);
    EXPECT_GE(queued, 0.0f);
    EXPECT_LT(queued, 5.0f) << "without a current track only the queued samples count";

    chain.demux->Add(MemoryChunk(boost::make_shared<MemoryMarkerTrackChange>(TrackId(1), 3)));
    statistics.SetValue("StatsKey_VideoTimeBuffered", SV::SVTypedValue(0.0f));
    chain.mux->GetStatistics(statistics);
    const float ahead = statistics.GetFloatOrDefault("StatsKey_VideoTimeBuffered", -1.0f);
    EXPECT_GT(ahead, 15.0f) << "about 20 s of title, of which little has been parsed";
    EXPECT_LT(ahead, 21.0f);
}

// The AudioSpecificConfig a multiplexer asks for comes from the selected track's ES
// descriptor (the titles' stream maps carry no object descriptor), with or without a stream map.
TEST_F(Mpeg2PsDemuxTest, AudioDecoderConfiguration) {
    for (const std::string& path : {Fixtures::ShortTitle(), NoStreamMapTitle()}) {
        Chain chain(path);
        chain.Preload(15000000);
        const uint8_t* data = nullptr;
        uint32_t size = 0;
        // A chain without a seeker selects no track: the track that carries the audio stream
        // describes it (a program-stream output needs it for its stream map).
        ASSERT_TRUE(chain.demux->GetStreamInfo(StreamInfoKindAudioSpecificConfig, &data, &size))
            << "no track selected yet";
        EXPECT_EQ(std::vector<uint8_t>({0x11, 0x90}), std::vector<uint8_t>(data, data + size));
        chain.demux->Add(MemoryChunk(boost::make_shared<MemoryMarkerTrackChange>(TrackId(1), 3)));
        ASSERT_TRUE(chain.demux->GetStreamInfo(StreamInfoKindAudioSpecificConfig, &data, &size));
        EXPECT_EQ(std::vector<uint8_t>({0x11, 0x90}), std::vector<uint8_t>(data, data + size))
            << "AAC LC, 48 kHz, stereo";
        EXPECT_FALSE(chain.demux->GetStreamInfo(StreamInfoKindEsDescriptor, &data, &size));
    }
}

TEST_F(Mpeg2PsDemuxTest, ChaptersAndThumbnails) {
    Chain chain(Fixtures::ChapterTitle());
    chain.Preload(15000000);
    ASSERT_EQ(std::vector<unsigned>{3}, chain.events.chapterCounts);
    ASSERT_EQ(3u, chain.events.chapters.size());
    const char* titles[] = {"Opening", "The middle part", "Late"};
    const uint64_t times[] = {0, 5500000, 12000000};
    for (unsigned i = 0; i < 3; ++i) {
        EXPECT_EQ(i, chain.events.chapters[i].index);
        EXPECT_EQ(titles[i], chain.events.chapters[i].title);
        EXPECT_EQ(times[i], chain.events.chapters[i].time);
    }

    // Reversed and out-of-range requests publish nothing.
    chain.demux->GetChapterData(2, 1);
    chain.demux->GetChapterData(0, 3);
    chain.demux->GetChapterData(3, 3);
    EXPECT_TRUE(chain.events.thumbnails.empty());
    EXPECT_TRUE(chain.stage->Log(RecordingStage::kOutOfBandRequest).empty());

    chain.demux->GetChapterData(0, 2);
    const std::vector<Mpeg2PsParser::Chapter>& read = chain.demux->GetChapters();
    // One range from the first thumbnail's start to the last one's end.
    ASSERT_EQ(1u, chain.stage->Log(RecordingStage::kOutOfBandRequest).size());
    EXPECT_EQ("out-of-band request " + std::to_string(read[0].thumbnailPosition) + " " +
                  std::to_string(read[2].thumbnailPosition + read[2].thumbnailSize),
              chain.stage->Log(RecordingStage::kOutOfBandRequest)[0]);
    ASSERT_EQ(3u, chain.events.thumbnails.size());
    for (unsigned i = 0; i < 3; ++i) {
        EXPECT_EQ(i, chain.events.thumbnails[i].first);
        EXPECT_TRUE(ReadFileBytes(Fixtures::Thumbnail(int(i))) == chain.events.thumbnails[i].second)
            << "thumbnail " << i;
    }
    // A second request of one chapter starts afresh.
    chain.demux->GetChapterData(1, 1);
    ASSERT_EQ(4u, chain.events.thumbnails.size());
    EXPECT_EQ(1u, chain.events.thumbnails[3].first);
    EXPECT_TRUE(ReadFileBytes(Fixtures::Thumbnail(1)) == chain.events.thumbnails[3].second);
    EXPECT_TRUE(chain.events.errors.empty());
}

// A title whose chapter table names the thumbnails out of order: the first chapter's
// thumbnail position is the last one's and the other way round.
TEST_F(Mpeg2PsDemuxTest, ChaptersWhoseThumbnailsLieOutOfOrderAskForNoRange) {
    std::vector<uint8_t> bytes = ReadFileBytes(Fixtures::ChapterTitle());
    Chain probe(Fixtures::ChapterTitle());
    probe.Preload(15000000);
    const std::vector<Mpeg2PsParser::Chapter> read = probe.demux->GetChapters();
    ASSERT_EQ(3u, read.size());
    // Each chapter block carries its thumbnail position as a big-endian 64-bit value; the
    // header section, which holds the table, lies ahead of the first thumbnail.
    const auto field = [&bytes, &read](uint64_t position) {
        std::vector<uint8_t> pattern;
        for (int shift = 56; shift >= 0; shift -= 8) pattern.push_back(uint8_t(position >> shift));
        const auto header = bytes.begin() + static_cast<ptrdiff_t>(read[0].thumbnailPosition);
        const auto found = std::search(bytes.begin(), header, pattern.begin(), pattern.end());
        EXPECT_TRUE(found != header) << position;
        EXPECT_TRUE(std::search(found + 1, header, pattern.begin(), pattern.end()) == header)
            << "the position is named once";
        return static_cast<size_t>(found - bytes.begin());
    };
    const size_t first = field(read[0].thumbnailPosition);
    const size_t last = field(read[2].thumbnailPosition);
    ASSERT_FALSE(HasFailure());
    std::swap_ranges(bytes.begin() + first, bytes.begin() + first + 8, bytes.begin() + last);

    Chain chain(Write("reversed-thumbnails.svm", bytes));
    chain.Preload(15000000);
    const std::vector<Mpeg2PsParser::Chapter> swapped = chain.demux->GetChapters();
    ASSERT_EQ(3u, swapped.size());
    ASSERT_EQ(read[2].thumbnailPosition, swapped[0].thumbnailPosition);
    ASSERT_EQ(read[0].thumbnailPosition, swapped[2].thumbnailPosition);
    chain.demux->GetChapterData(0, 2);
    EXPECT_TRUE(chain.stage->Log(RecordingStage::kOutOfBandRequest).empty())
        << "no reversed range is asked for";
    EXPECT_TRUE(chain.events.thumbnails.empty());
    // A chapter alone still has its own range.
    chain.demux->GetChapterData(1, 1);
    ASSERT_EQ(1u, chain.stage->Log(RecordingStage::kOutOfBandRequest).size());
    EXPECT_EQ("out-of-band request " + std::to_string(read[1].thumbnailPosition) + " " +
                  std::to_string(read[1].thumbnailPosition + read[1].thumbnailSize),
              chain.stage->Log(RecordingStage::kOutOfBandRequest)[0]);
    EXPECT_TRUE(chain.events.errors.empty());
}

TEST_F(Mpeg2PsDemuxTest, DamagedThumbnailDataIsReportedOnce) {
    std::vector<uint8_t> bytes = ReadFileBytes(Fixtures::ChapterTitle());
    Chain probe(Fixtures::ChapterTitle());
    probe.Preload(15000000);
    const std::vector<Mpeg2PsParser::Chapter> chapters = probe.demux->GetChapters();
    ASSERT_EQ(3u, chapters.size());
    // The first thumbnail block claims a length no block may have.
    size_t at = chapters[0].thumbnailPosition;
    const uint8_t metadataPacket[] = {0x00, 0x00, 0x01, 0xF1};
    while (at + 9 < bytes.size() && std::memcmp(&bytes[at], metadataPacket, 4) != 0) ++at;
    ASSERT_LT(at + 9, size_t(chapters[0].thumbnailPosition + chapters[0].thumbnailSize));
    const size_t block = at + 9 + bytes[at + 8];  // past PES_header_data_length's bytes
    for (size_t i = 0; i < 4; ++i) bytes[block + i] = 0xFF;
    Chain chain(Write("damaged.svm", bytes));
    chain.Preload(15000000);
    chain.demux->GetChapterData(0, 0);
    const std::vector<std::pair<uint32_t, std::string>> once = {
        std::make_pair(1003u, std::string("Error parsing thumbnails"))};
    EXPECT_EQ(once, chain.events.errors);
    EXPECT_TRUE(chain.events.thumbnails.empty());
    // The next request starts afresh.
    chain.demux->GetChapterData(1, 1);
    ASSERT_EQ(1u, chain.events.thumbnails.size());
    EXPECT_EQ(1u, chain.events.thumbnails[0].first);
}

// Without a multiplexer the container bytes pass on: parsed again they give the same samples.
TEST_F(Mpeg2PsDemuxTest, PassesTheStreamOnWithoutAMultiplexer) {
    const std::string path = Fixtures::ShortTitle();
    Chain chain(path, false);
    chain.PullToEnd();
    ASSERT_FALSE(chain.sink->entries.empty());
    EXPECT_TRUE(chain.demux->GetSampleStreams().empty());
    size_t ends = 0;
    for (size_t i = 0; i < chain.sink->entries.size(); ++i) {
        ends += chain.sink->entries[i].isMarker &&
                chain.sink->entries[i].markerType == MemoryMarkerTypeEndOfStream;
    }
    EXPECT_EQ(1u, ends);
    for (int i = 0; i < 3; ++i) chain.demux->PullData(ByteAmount(65536));
    EXPECT_EQ(ends, 1u);
    const std::map<uint32_t, StreamRecord> expected = ParseAlone(ReadFileBytes(path));
    const std::map<uint32_t, StreamRecord> got = ParseAlone(chain.sink->Bytes());
    ASSERT_EQ(expected.size(), got.size());
    for (std::map<uint32_t, StreamRecord>::const_iterator it = expected.begin();
         it != expected.end(); ++it) {
        EXPECT_TRUE(it->second.samples == got.at(it->first).samples);
        EXPECT_EQ(it->second.bytes, got.at(it->first).bytes);
    }
    ASSERT_EQ(1u, chain.events.trackEvents.size());
}

// A demultiplexer without a multiplexer preloads into its cache: nothing reaches the output
// until the chain is pulled, and then every byte in order, the end of stream behind them. The
// audio title is shorter than one read, so its preload meets the program end too.
TEST_F(Mpeg2PsDemuxTest, APassThroughPreloadHandsNothingOnUntilPulled) {
    for (const std::string& path : {Fixtures::ShortTitle(), Fixtures::LanguageAudioTitle("eng")}) {
        SCOPED_TRACE(path);
        Chain chain(path, false);
        chain.Preload(15000000);
        ASSERT_TRUE(chain.Preloaded());
        EXPECT_TRUE(chain.sink->entries.empty()) << "nothing before the chain is pulled";
        chain.PullToEnd();
        ASSERT_FALSE(chain.sink->entries.empty());
        EXPECT_TRUE(chain.sink->entries.back().isMarker);
        EXPECT_EQ(MemoryMarkerTypeEndOfStream, chain.sink->entries.back().markerType);
        size_t ends = 0;
        for (const auto& entry : chain.sink->entries) {
            ends += entry.isMarker && entry.markerType == MemoryMarkerTypeEndOfStream;
        }
        EXPECT_EQ(1u, ends);
        // The title's own bytes, whole and in order.
        EXPECT_TRUE(ReadFileBytes(path) == chain.sink->Bytes());
    }
}

// Puts a recording multiplexer between the output and the demultiplexer of a chain that was
// preloaded without one, as the audio branch does, and links the chain again.
boost::shared_ptr<RecordingMux> InsertMux(Chain& chain) {
    boost::shared_ptr<RecordingMux> mux = boost::make_shared<RecordingMux>(chain.session.get());
    ComponentStack stack = chain.session->GetComponentStack();
    stack.InsertComponent(mux, chain.demux);
    chain.session->SetComponentStack(stack);
    stack.Link();
    return mux;
}

void PullMuxToEnd(RecordingMux& mux) {
    for (int i = 0; i < 5000 && mux.CountMarkers(MemoryMarkerTypeEndOfStream) == 0; ++i) {
        mux.PullData(ByteAmount(1u << 20));
    }
}

// A multiplexer that joins after the preload gets the title from its first sample: the bytes
// the preload read are parsed again by the demultiplexing parser, which would otherwise start
// in the middle of the title (and fail: no pack first).
TEST_F(Mpeg2PsDemuxTest, AMultiplexerJoiningAfterAPassThroughPreloadGetsEverySample) {
    const std::string path = Fixtures::ShortTitle();
    const std::map<uint32_t, StreamRecord> expected = ParseAlone(ReadFileBytes(path));
    ASSERT_EQ(2u, expected.size());
    Chain chain(path, false);
    chain.Preload(15000000);
    ASSERT_TRUE(chain.Preloaded());
    boost::shared_ptr<RecordingMux> mux = InsertMux(chain);
    PullMuxToEnd(*mux);
    EXPECT_TRUE(chain.events.errors.empty());
    EXPECT_TRUE(chain.sink->Bytes().empty()) << "no container byte passed the multiplexer";
    EXPECT_EQ(1u, mux->CountMarkers(MemoryMarkerTypeEndOfStream));
    const std::map<uint32_t, StreamRecord> got = mux->Streams();
    ASSERT_EQ(expected.size(), got.size());
    for (const auto& stream : expected) {
        ASSERT_EQ(1u, got.count(stream.first)) << stream.first;
        EXPECT_TRUE(stream.second.samples == got.at(stream.first).samples) << stream.first;
        EXPECT_EQ(stream.second.bytes, got.at(stream.first).bytes) << stream.first;
    }
}

// A chain that gave its audio-only tracks to another chain carries no stream of them, even
// when it reads the title's stream map (which names every stream) after the change.
TEST_F(Mpeg2PsDemuxTest, TheStreamMapAddsNoStreamOfARemovedTrack) {
    const std::string path = Fixtures::SeparateAudioTitle();
    Chain chain(path, false);
    chain.Preload(15000000);
    ASSERT_TRUE(chain.Preloaded());
    ASSERT_TRUE(chain.demux->HasAudioOnlyTracks());
    chain.demux->RemoveAudioOnlyTracks();
    boost::shared_ptr<RecordingMux> mux = InsertMux(chain);
    PullMuxToEnd(*mux);
    EXPECT_TRUE(chain.events.errors.empty());
    const std::map<uint32_t, StreamRecord> got = mux->Streams();
    ASSERT_EQ(1u, got.size()) << "the pictures only";
    ASSERT_EQ(1u, got.count(0xE0));
    EXPECT_EQ(Fixtures::kShortClipFrames, got.at(0xE0).samples.size());
}

}  // namespace
}  // namespace SarvelonMediaKit
