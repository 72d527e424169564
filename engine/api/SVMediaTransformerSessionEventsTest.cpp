// The session's monitor events as the callback sees them: numbers, payloads, the track and
// chapter state behind the queries, and the callback running with no session lock held.

#include <gtest/gtest.h>

#include <boost/make_shared.hpp>

#include <atomic>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "engine/api/EngineEventLogTestSupport.h"
#include "engine/api/SVMediaTransformer.h"
#include "engine/api/SVMediaTransformerSession.h"
#include "engine/container/MediaTrack.h"
#include "engine/container/TrackInfoKeys.h"

namespace SarvelonMediaKit {
namespace {

using test::AsDictionary;
using test::EngineEvent;
using test::EngineEventLog;
using test::MakeTrack;

std::vector<SV::SVDictionary> AsChapterArray(const SV::SVTypedValue& value) {
    std::vector<SV::SVDictionary> out;
    const SV::SVTypedValueArray* array = nullptr;
    if (!value.GetArray(array)) {
        ADD_FAILURE() << "payload is not an array";
        return out;
    }
    for (const SV::SVTypedValue& entry : *array) {
        const SV::SVDictionary* dictionary = AsDictionary(entry);
        if (dictionary == nullptr) {
            ADD_FAILURE() << "array entry is not a dictionary";
            continue;
        }
        out.push_back(*dictionary);
    }
    return out;
}

// Equal entries, compared through the dictionaries' byte form (keys in order, kinds, values).
bool Same(const SV::SVDictionary& a, const SV::SVDictionary& b) {
    std::vector<uint8_t> left, right;
    a.Serialize(left);
    b.Serialize(right);
    return left == right;
}

uint32_t U32(const SV::SVDictionary& dictionary, const std::string& key) {
    uint32_t value = 0xDEADBEEF;
    EXPECT_TRUE(dictionary.GetUnsignedInt(key, value)) << key << " missing or not u32";
    return value;
}

SV::SVDataBlob Thumbnail(const SV::SVDictionary& chapter) {
    const SV::SVDataBlob* blob = nullptr;
    return chapter.GetDataBlob(ChapterInfoKey_Thumbnail, blob) ? *blob : SV::SVDataBlob();
}

class SessionEventsTest : public ::testing::Test {
protected:
    void SetUp() override {
        EngineEventLog::Clear();
        ASSERT_EQ(SVStatusSuccess, SV_MediaTransformerInitialize(&EngineEventLog::Callback));
    }
    void TearDown() override {
        EngineEventLog::Clear();
        // A test that ended uninitialised still tears its sessions down.
        SV_MediaTransformerInitialize(&EngineEventLog::Callback);
        for (SVMediaTransformerSession* handle : handles_) SV_MediaTransformerTeardown(handle);
        for (const boost::shared_ptr<SVMediaTransformerSession>& s : bare_) {
            SVMediaTransformerSession::Unregister(s.get());
        }
        bare_.clear();
        SV_MediaTransformerTerminate();
    }

    // A registered session without a transformer: its queries answer 2008, its events work.
    SVMediaTransformerSession* Bare() {
        bare_.push_back(SVMediaTransformerSession::Create("title.ps", SV::SVDictionary()));
        return bare_.back().get();
    }

    // A session whose transformer exists but built nothing (an unsupported scheme), so the
    // queries and the chapter request reach the session's own state.
    SVMediaTransformerSession* WithTransformer() {
        std::string url;
        SVMediaTransformerSession* handle = nullptr;
        // "ftp" is no scheme the engine reads: the transformer stops building with 1012.
        EXPECT_EQ(1012u, SV_MediaTransformerSetup("ftp://127.0.0.1/title.ps", SV::SVDictionary(), 1,
                                                  &url, &handle));
        EXPECT_NE(nullptr, handle);
        handles_.push_back(handle);
        return handle;
    }

    std::vector<boost::shared_ptr<SVMediaTransformerSession>> bare_;
    std::vector<SVMediaTransformerSession*> handles_;
};

TEST_F(SessionEventsTest, ErrorCarriesItsStatusAndItsTextOnlyWhenThereIsOne) {
    SVMediaTransformerSession* s = Bare();
    s->SetError(SVStatusListenFailed, "port 20001: Address already in use");
    s->SetError(SVStatusUnsupported, "");

    std::vector<EngineEvent> errors = EngineEventLog::Of(SVMediaTransformEvent_Error);
    ASSERT_EQ(2u, errors.size());
    ASSERT_EQ(2u, EngineEventLog::Snapshot().size()) << "nothing but the two errors";
    EXPECT_EQ(s, errors[0].session);

    const SV::SVDictionary* first = AsDictionary(errors[0].data);
    ASSERT_NE(nullptr, first);
    EXPECT_EQ(2u, first->size());
    EXPECT_EQ(1031u, U32(*first, ErrorKey_SVStatus));
    EXPECT_EQ("port 20001: Address already in use",
              first->GetStringOrDefault(ErrorKey_AdditionalInfo, "(none)"));

    const SV::SVDictionary* second = AsDictionary(errors[1].data);
    ASSERT_NE(nullptr, second);
    ASSERT_EQ(1u, second->size());
    EXPECT_EQ(415u, U32(*second, ErrorKey_SVStatus));
}

TEST_F(SessionEventsTest, VideoTrackWithAudioStandsInForAudioUntilAnAudioTrackArrives) {
    SVMediaTransformerSession* s = Bare();
    SV::SVDictionary muxedInfo;
    muxedInfo.SetValue(TrackInfoKey_VideoWidth, SV::SVTypedValue(uint32_t(320)));
    muxedInfo.SetValue(TrackInfoKey_AudioFormat, SV::SVTypedValue(uint32_t(2)));
    boost::shared_ptr<MediaTrack> muxed = MakeTrack(1, true, true, muxedInfo);
    SV::SVDictionary audioInfo;
    audioInfo.SetValue(TrackInfoKey_AudioSampleFrequency, SV::SVTypedValue(uint32_t(48000)));
    boost::shared_ptr<MediaTrack> audio = MakeTrack(7, false, true, audioInfo);
    SV::SVDictionary textInfo;
    textInfo.SetValue(TrackInfoKey_SubtitleFormat, SV::SVTypedValue(uint32_t(1)));
    boost::shared_ptr<MediaTrack> text = MakeTrack(9, false, false, textInfo);

    s->TrackChanged(muxed);
    std::vector<EngineEvent> events = EngineEventLog::Snapshot();
    ASSERT_EQ(2u, events.size());
    EXPECT_EQ(SVMediaTransformEvent_VideoTrackChange, events[0].event);
    EXPECT_EQ(SVMediaTransformEvent_AudioTrackChange, events[1].event);
    for (const EngineEvent& e : events) {
        ASSERT_NE(nullptr, AsDictionary(e.data));
        EXPECT_TRUE(Same(muxed->GetInfo(), *AsDictionary(e.data)));
        EXPECT_EQ(320u, U32(*AsDictionary(e.data), TrackInfoKey_VideoWidth));
    }

    s->TrackChanged(audio);
    events = EngineEventLog::Snapshot();
    ASSERT_EQ(3u, events.size());
    EXPECT_EQ(SVMediaTransformEvent_AudioTrackChange, events[2].event);
    ASSERT_NE(nullptr, AsDictionary(events[2].data));
    EXPECT_TRUE(Same(audio->GetInfo(), *AsDictionary(events[2].data)));
    EXPECT_EQ(48000u, U32(*AsDictionary(events[2].data), TrackInfoKey_AudioSampleFrequency));

    // Now an audio track is known: the muxed video no longer stands in for it.
    s->TrackChanged(muxed);
    events = EngineEventLog::Snapshot();
    ASSERT_EQ(4u, events.size());
    EXPECT_EQ(SVMediaTransformEvent_VideoTrackChange, events[3].event);

    // Neither video nor audio (a text track): no event; a null track: no event, no crash.
    s->TrackChanged(text);
    s->TrackChanged(boost::shared_ptr<MediaTrack>());
    EXPECT_EQ(4u, EngineEventLog::Snapshot().size());

    // Video without audio on a fresh session: event 2 only.
    SVMediaTransformerSession* other = Bare();
    other->TrackChanged(MakeTrack(2, true, false, SV::SVDictionary()));
    events = EngineEventLog::Snapshot();
    ASSERT_EQ(5u, events.size());
    EXPECT_EQ(SVMediaTransformEvent_VideoTrackChange, events[4].event);
    EXPECT_EQ(other, events[4].session);
}

TEST_F(SessionEventsTest, SessionStoppedPostsEventEightWithANullValue) {
    SVMediaTransformerSession* s = Bare();
    s->SessionStopped();
    std::vector<EngineEvent> events = EngineEventLog::Snapshot();
    ASSERT_EQ(1u, events.size());
    EXPECT_EQ(SVMediaTransformEvent_SessionStopped, events[0].event);
    EXPECT_EQ(SV::SVTypedValueKind::Null, events[0].data.GetKind());
    EXPECT_EQ(s, events[0].session);
}

TEST_F(SessionEventsTest, ChaptersKeepSequenceOrderWithStartTimesInMilliseconds) {
    SVMediaTransformerSession* s = WithTransformer();
    s->ChapterReceived(0, MediaTime(1999), "Opening");
    s->ChapterReceived(1, MediaTime(61000500), "");
    s->ChapterReceived(1, MediaTime(5), "again");  // a repeat: dropped
    s->ChapterReceived(3, MediaTime(9), "gap");    // out of order: dropped
    EXPECT_TRUE(EngineEventLog::Snapshot().empty()) << "chapters alone post nothing";

    std::vector<SV::SVTypedValue> values;
    ASSERT_EQ(SVStatusSuccess, SV_QueryChapters(s, &values));
    ASSERT_EQ(2u, values.size());
    const SV::SVDictionary* first = AsDictionary(values[0]);
    const SV::SVDictionary* second = AsDictionary(values[1]);
    ASSERT_NE(nullptr, first);
    ASSERT_NE(nullptr, second);
    EXPECT_EQ(3u, first->size());
    EXPECT_EQ(0u, U32(*first, ChapterInfoKey_SeqNum));
    EXPECT_EQ(1u, U32(*first, ChapterInfoKey_StartTimeIndex));  // 1999 us -> 1 ms
    EXPECT_EQ("Opening", first->GetStringOrDefault(ChapterInfoKey_Title, ""));
    EXPECT_EQ(2u, second->size()) << "no title key for an empty title";
    EXPECT_EQ(1u, U32(*second, ChapterInfoKey_SeqNum));
    EXPECT_EQ(61000u, U32(*second, ChapterInfoKey_StartTimeIndex));

    // The sequence goes on from where it stands; a start beyond 32 bits of milliseconds
    // saturates instead of wrapping round to an early time.
    s->ChapterReceived(2, MediaTime(std::numeric_limits<uint64_t>::max()), "Late");
    values.clear();
    ASSERT_EQ(SVStatusSuccess, SV_QueryChapters(s, &values));
    ASSERT_EQ(3u, values.size());
    ASSERT_NE(nullptr, AsDictionary(values[2]));
    EXPECT_EQ(0xFFFFFFFFu, U32(*AsDictionary(values[2]), ChapterInfoKey_StartTimeIndex));
}

TEST_F(SessionEventsTest, ChapterDataDeliversTheRequestedRangeWithItsLastChapterOnce) {
    SVMediaTransformerSession* s = WithTransformer();
    for (unsigned n = 0; n < 3; ++n) s->ChapterReceived(n, MediaTime(n * 10000000ull), "");
    const SV::SVDataBlob a = {0xFF, 0xD8, 0x01}, b = {0xFF, 0xD8, 0x02}, c = {0xFF, 0xD8, 0x03};

    SV_GetChapterData(s, 0, 2);
    s->ThumbnailReceived(0, a);
    s->ThumbnailReceived(1, b);
    EXPECT_TRUE(EngineEventLog::Of(SVMediaTransformEvent_ChapterData).empty())
        << "only the thumbnail of the last requested chapter completes the request";
    s->ThumbnailReceived(2, c);
    std::vector<EngineEvent> events = EngineEventLog::Of(SVMediaTransformEvent_ChapterData);
    ASSERT_EQ(1u, events.size());
    std::vector<SV::SVDictionary> chapters = AsChapterArray(events[0].data);
    ASSERT_EQ(3u, chapters.size()) << "the last chapter belongs to the delivery";
    EXPECT_EQ(0u, U32(chapters[0], ChapterInfoKey_SeqNum));
    EXPECT_EQ(2u, U32(chapters[2], ChapterInfoKey_SeqNum));
    EXPECT_EQ(20000u, U32(chapters[2], ChapterInfoKey_StartTimeIndex));
    EXPECT_EQ(a, Thumbnail(chapters[0]));
    EXPECT_EQ(b, Thumbnail(chapters[1]));
    EXPECT_EQ(c, Thumbnail(chapters[2]));

    // Delivered thumbnails are not kept.
    std::vector<SV::SVTypedValue> stored;
    ASSERT_EQ(SVStatusSuccess, SV_QueryChapters(s, &stored));
    ASSERT_EQ(3u, stored.size());
    for (const SV::SVTypedValue& v : stored) {
        ASSERT_NE(nullptr, AsDictionary(v));
        EXPECT_EQ(nullptr, AsDictionary(v)->GetValue(ChapterInfoKey_Thumbnail));
    }

    // A range that starts later, and a last index beyond the stored chapters: that thumbnail
    // is not stored, the event still comes with what is stored, and with no thumbnails left.
    SV_GetChapterData(s, 1, 7);
    s->ThumbnailReceived(7, a);
    events = EngineEventLog::Of(SVMediaTransformEvent_ChapterData);
    ASSERT_EQ(2u, events.size());
    chapters = AsChapterArray(events[1].data);
    ASSERT_EQ(2u, chapters.size());
    EXPECT_EQ(1u, U32(chapters[0], ChapterInfoKey_SeqNum));
    EXPECT_EQ(2u, U32(chapters[1], ChapterInfoKey_SeqNum));
    for (const SV::SVDictionary& chapter : chapters) {
        EXPECT_EQ(nullptr, chapter.GetValue(ChapterInfoKey_Thumbnail));
    }

    // The same range again: only the thumbnail that has just arrived travels.
    SV_GetChapterData(s, 0, 2);
    s->ThumbnailReceived(2, b);
    events = EngineEventLog::Of(SVMediaTransformEvent_ChapterData);
    ASSERT_EQ(3u, events.size());
    chapters = AsChapterArray(events[2].data);
    ASSERT_EQ(3u, chapters.size());
    EXPECT_EQ(nullptr, chapters[0].GetValue(ChapterInfoKey_Thumbnail));
    EXPECT_EQ(nullptr, chapters[1].GetValue(ChapterInfoKey_Thumbnail));
    EXPECT_EQ(b, Thumbnail(chapters[2]));

    // A range wholly beyond what is stored: an empty array, no crash.
    SV_GetChapterData(s, 5, 6);
    s->ThumbnailReceived(6, c);
    events = EngineEventLog::Of(SVMediaTransformEvent_ChapterData);
    ASSERT_EQ(4u, events.size());
    EXPECT_TRUE(AsChapterArray(events[3].data).empty());
}

TEST_F(SessionEventsTest, WithoutACallbackEventsAreDroppedButTrackStateIsKept) {
    SVMediaTransformerSession* s = WithTransformer();
    s->ChapterReceived(0, MediaTime(0), "");
    ASSERT_EQ(SVStatusSuccess, SV_MediaTransformerTerminate());

    SV::SVDictionary info;
    info.SetValue(TrackInfoKey_VideoHeight, SV::SVTypedValue(uint32_t(180)));
    boost::shared_ptr<MediaTrack> video = MakeTrack(1, true, false, info);
    s->SetError(SVStatusUnsupported, "x");
    s->TrackChanged(video);
    s->SessionStopped();
    s->ThumbnailReceived(0, SV::SVDataBlob{1, 2, 3});  // index 0 == lastChapter: no delivery

    ASSERT_EQ(SVStatusSuccess, SV_MediaTransformerInitialize(&EngineEventLog::Callback));
    EXPECT_TRUE(EngineEventLog::Snapshot().empty());
    SV::SVDictionary out;
    ASSERT_EQ(SVStatusSuccess, SV_GetVideoTrackInfo(s, &out));
    EXPECT_TRUE(Same(video->GetInfo(), out));

    // The thumbnail that came while no one listened was not kept.
    SV_GetChapterData(s, 0, 3);
    s->ThumbnailReceived(3, SV::SVDataBlob{9});
    std::vector<EngineEvent> events = EngineEventLog::Of(SVMediaTransformEvent_ChapterData);
    ASSERT_EQ(1u, events.size());
    std::vector<SV::SVDictionary> chapters = AsChapterArray(events[0].data);
    ASSERT_EQ(1u, chapters.size());
    EXPECT_EQ(nullptr, chapters[0].GetValue(ChapterInfoKey_Thumbnail));
}

TEST_F(SessionEventsTest, TheCallbackMayQueryTheSameSessionFromInsideAnEvent) {
    SVMediaTransformerSession* s = WithTransformer();
    s->ChapterReceived(0, MediaTime(0), "One");
    std::vector<SVStatus> statuses;
    SV::SVDictionary seen;
    size_t chapterCount = 0;
    EngineEventLog::SetHook([&](SVMediaTransformerSession* session, int event) {
        if (event != SVMediaTransformEvent_VideoTrackChange &&
            event != SVMediaTransformEvent_ChapterData)
            return;
        std::vector<SV::SVTypedValue> chapters;
        statuses.push_back(SV_GetVideoTrackInfo(session, &seen));
        statuses.push_back(SV_QueryChapters(session, &chapters));
        chapterCount = chapters.size();
    });
    SV::SVDictionary info;
    info.SetValue(TrackInfoKey_VideoWidth, SV::SVTypedValue(uint32_t(640)));
    s->TrackChanged(MakeTrack(1, true, false, info));
    s->ThumbnailReceived(0, SV::SVDataBlob{1});
    EngineEventLog::SetHook(EngineEventLog::Hook());

    ASSERT_EQ(4u, statuses.size());
    for (SVStatus status : statuses) EXPECT_EQ(SVStatusSuccess, status);
    EXPECT_EQ(640u, U32(seen, TrackInfoKey_VideoWidth));
    EXPECT_EQ(1u, chapterCount);
}

TEST_F(SessionEventsTest, EventsOnOneThreadAndQueriesOnAnotherSeeWholeStates) {
    SVMediaTransformerSession* s = WithTransformer();
    SV::SVDictionary small, large;
    small.SetValue(TrackInfoKey_VideoWidth, SV::SVTypedValue(uint32_t(320)));
    small.SetValue(TrackInfoKey_VideoHeight, SV::SVTypedValue(uint32_t(180)));
    large.SetValue(TrackInfoKey_VideoWidth, SV::SVTypedValue(uint32_t(1280)));
    large.SetValue(TrackInfoKey_VideoHeight, SV::SVTypedValue(uint32_t(720)));
    boost::shared_ptr<MediaTrack> tracks[2] = {MakeTrack(1, true, false, small),
                                               MakeTrack(2, true, false, large)};
    const unsigned kRounds = 400;
    std::atomic<bool> done{false};
    std::thread publisher([&] {
        for (unsigned n = 0; n < kRounds; ++n) {
            s->TrackChanged(tracks[n % 2]);
            s->ChapterReceived(n, MediaTime(n * 1000ull), "t");
            s->ThumbnailReceived(n, SV::SVDataBlob(16, uint8_t(n)));
        }
        done = true;
    });
    size_t lastCount = 0;
    while (!done) {
        SV::SVDictionary info;
        ASSERT_EQ(SVStatusSuccess, SV_GetVideoTrackInfo(s, &info));
        // Either nothing yet or one of the two whole descriptions, never a mixture.
        if (!info.empty()) {
            uint32_t width = U32(info, TrackInfoKey_VideoWidth);
            uint32_t height = U32(info, TrackInfoKey_VideoHeight);
            EXPECT_TRUE((width == 320 && height == 180) || (width == 1280 && height == 720));
        }
        std::vector<SV::SVTypedValue> chapters;
        ASSERT_EQ(SVStatusSuccess, SV_QueryChapters(s, &chapters));
        EXPECT_GE(chapters.size(), lastCount) << "chapters only grow";
        lastCount = chapters.size();
    }
    publisher.join();
    std::vector<SV::SVTypedValue> chapters;
    ASSERT_EQ(SVStatusSuccess, SV_QueryChapters(s, &chapters));
    EXPECT_EQ(kRounds, chapters.size());
    // The range stayed (0, 0): only index 0 completed it.
    EXPECT_EQ(1u, EngineEventLog::Of(SVMediaTransformEvent_ChapterData).size());
}

}  // namespace
}  // namespace SarvelonMediaKit
