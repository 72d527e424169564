#include <gtest/gtest.h>

#include <thread>

#include "SVLibrary/TypedValue/SVDictionary.h"
#include "SVLibrary/Types/SVStatus.h"
#include "engine/api/SVMediaTransformerSession.h"
#include "engine/api/SViOsApi.h"
#include "engine/api/SViOsApiState.h"
#include "engine/api/SViOsApiTestFixture.h"
#include "engine/api/SViOsApiTestSupport.h"

namespace {

using namespace BridgeTestSupport;
using SarvelonMediaKit::SViOsApiState;
using Keys = std::vector<std::string>;

// A complete 1x1 RGBA PNG.
const uint8_t kOnePixelPng[] = {
    0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a,  // signature
    0x00, 0x00, 0x00, 0x0d, 0x49, 0x48, 0x44, 0x52,  // IHDR, 13 bytes
    0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01,  // width 1, height 1
    0x08, 0x06, 0x00, 0x00, 0x00,                    // depth 8, RGBA, methods 0
    0x1f, 0x15, 0xc4, 0x89,                          // CRC
    0x00, 0x00, 0x00, 0x0a, 0x49, 0x44, 0x41, 0x54,  // IDAT, 10 bytes
    0x78, 0x9c, 0x63, 0x00, 0x01, 0x00, 0x00, 0x05, 0x00, 0x01, 0x0d, 0x0a, 0x2d,
    0xb4, 0x00, 0x00, 0x00, 0x00, 0x49, 0x45, 0x4e, 0x44, 0xae, 0x42, 0x60, 0x82,  // IEND
};

class SViOsApiEventsTest : public SViOsApiTestFixture {
protected:
    // Sends an engine event and collects what reaches the application.
    std::vector<Delivered> Translate(int event, const SV::SVTypedValue* data) {
        SV_TransformerEventHandler(nullptr, event, data);
        DrainQueued();
        return Taken();
    }
};

TEST_F(SViOsApiEventsTest, WithoutACallbackAnEventIsNeverDelivered) {
    SViOsApiState::Instance().SetCallback(nullptr);
    EXPECT_EQ(SV_PostEvent(SViOsApiEvent_Bitrates, ns::Dictionary()), 0);
    // A callback stored afterwards must not receive the dropped event.
    SViOsApiState::Instance().SetCallback(&Record);
    DrainQueued();
    EXPECT_TRUE(Taken().empty());
}

TEST_F(SViOsApiEventsTest, DeliveryUsesTheCallbackStoredWhenTheEventRuns) {
    ns::Dictionary attributes;
    attributes.Set("k", ns::Value(1));
    EXPECT_EQ(SV_PostEvent(SViOsApiEvent_Subtitles, attributes), 0);
    EXPECT_TRUE(Taken().empty()) << "delivered before the main queue was drained";
    SViOsApiState::Instance().SetCallback(&RecordOther);
    DrainQueued();
    EXPECT_TRUE(Taken().empty());
    EXPECT_EQ(OtherRecords(), std::vector<int>{SViOsApiEvent_Subtitles});
}

TEST_F(SViOsApiEventsTest, EventsOfOneThreadArriveInOrderOnTheDrainingThread) {
    std::thread engine([] {
        for (int i = 0; i < 100; ++i) {
            ns::Dictionary a;
            a.Set("n", ns::Value(i));
            SV_PostEvent(SViOsApiEvent_ChapterTitle, a);
        }
    });
    engine.join();
    const auto delivered = DrainUntil(100);
    ASSERT_EQ(delivered.size(), 100u);
    for (int i = 0; i < 100; ++i) {
        EXPECT_EQ(delivered[i].event, SViOsApiEvent_ChapterTitle);
        EXPECT_EQ(delivered[i].attributes.Find("n")->IntValue(), i);
        EXPECT_EQ(delivered[i].thread, std::this_thread::get_id());
    }
}

TEST_F(SViOsApiEventsTest, VideoTrackWithOnlyASizeGivesOnlyWidthAndHeight) {
    SV::SVDictionary track;
    track.SetValue("TrackInfoKey_VideoWidth", SV::SVTypedValue(uint32_t{640}));
    track.SetValue("TrackInfoKey_VideoHeight", SV::SVTypedValue(uint32_t{360}));
    const SV::SVTypedValue payload(track);
    const auto delivered = Translate(2, &payload);
    ASSERT_EQ(EventNumbers(delivered), std::vector<int>{SViOsApiEvent_VideoParams});
    const ns::Dictionary& a = delivered[0].attributes;
    EXPECT_EQ(SortedKeys(a), (Keys{"SVHeight", "SVWidth"}));
    EXPECT_EQ(*a.Find("SVWidth")->AsUInt(), 640u);
    EXPECT_EQ(*a.Find("SVHeight")->AsUInt(), 360u);
}

TEST_F(SViOsApiEventsTest, FullVideoTrackGivesEveryParameterThenTheCurrentBitRate) {
    SV::SVDictionary track;
    track.SetValue("TrackInfoKey_VideoFormat", SV::SVTypedValue(uint32_t{27}));
    track.SetValue("TrackInfoKey_VideoProfile", SV::SVTypedValue(uint32_t{100}));
    track.SetValue("TrackInfoKey_VideoLevel", SV::SVTypedValue(uint32_t{31}));
    track.SetValue("TrackInfoKey_VideoWidth", SV::SVTypedValue(uint32_t{720}));
    track.SetValue("TrackInfoKey_VideoHeight", SV::SVTypedValue(uint32_t{480}));
    track.SetValue("TrackInfoKey_VideoPixelWidth", SV::SVTypedValue(uint32_t{4}));
    track.SetValue("TrackInfoKey_VideoPixelHeight", SV::SVTypedValue(uint32_t{3}));
    track.SetValue("TrackInfoKey_VideoFrameRate", SV::SVTypedValue(25.0f));
    track.SetValue("TrackInfoKey_VideoBitRate", SV::SVTypedValue(uint32_t{1500000}));
    track.SetValue("TrackInfoKey_BitRate", SV::SVTypedValue(uint32_t{1600007}));
    const SV::SVTypedValue payload(track);
    const auto delivered = Translate(2, &payload);
    ASSERT_EQ(EventNumbers(delivered),
              (std::vector<int>{SViOsApiEvent_VideoParams, SViOsApiEvent_SetCurrentBitrate}));
    const ns::Dictionary& v = delivered[0].attributes;
    EXPECT_EQ(v.Keys(), (Keys{"SVVideoType", "SVProfile", "SVLevel", "SVWidth", "SVHeight",
                              "SVPixelAspectRatio", "SVFrameRate", "SVBitrate"}));
    EXPECT_EQ(*v.Find("SVVideoType")->AsUInt(), 27u);
    EXPECT_EQ(*v.Find("SVProfile")->AsUInt(), 100u);
    EXPECT_EQ(*v.Find("SVLevel")->AsUInt(), 31u);
    EXPECT_EQ(*v.Find("SVWidth")->AsUInt(), 720u);
    EXPECT_EQ(*v.Find("SVHeight")->AsUInt(), 480u);
    // 4/3 computed in single precision, then carried as a double.
    EXPECT_EQ(*v.Find("SVPixelAspectRatio")->AsDouble(), static_cast<double>(4.0f / 3.0f));
    EXPECT_EQ(*v.Find("SVFrameRate")->AsDouble(), 25.0);
    EXPECT_EQ(*v.Find("SVBitrate")->AsUInt(), 1500000u);
    const ns::Dictionary& c = delivered[1].attributes;
    EXPECT_EQ(c.Keys(), Keys{"SVCurrentBitrate"});
    EXPECT_EQ(*c.Find("SVCurrentBitrate")->AsUInt(), 200000u);  // 1600007 / 8, rounded down
}

TEST_F(SViOsApiEventsTest, PixelAspectNeedsANonZeroPixelHeightAndKeysOfTheRightKind) {
    SV::SVDictionary track;
    track.SetValue("TrackInfoKey_VideoPixelWidth", SV::SVTypedValue(uint32_t{4}));
    track.SetValue("TrackInfoKey_VideoPixelHeight", SV::SVTypedValue(uint32_t{0}));
    // Of the wrong kinds: a signed width, a text height, an unsigned frame rate.
    track.SetValue("TrackInfoKey_VideoWidth", SV::SVTypedValue(int32_t{640}));
    track.SetValue("TrackInfoKey_VideoHeight", SV::SVTypedValue("360"));
    track.SetValue("TrackInfoKey_VideoFrameRate", SV::SVTypedValue(uint32_t{25}));
    track.SetValue("TrackInfoKey_BitRate", SV::SVTypedValue(uint64_t{800}));
    const SV::SVTypedValue payload(track);
    auto delivered = Translate(2, &payload);
    ASSERT_EQ(EventNumbers(delivered), std::vector<int>{SViOsApiEvent_VideoParams});
    EXPECT_TRUE(delivered[0].attributes.empty());

    // Pixel height without a pixel width: 0 / 3.
    Forget();
    SV::SVDictionary onlyHeight;
    onlyHeight.SetValue("TrackInfoKey_VideoPixelHeight", SV::SVTypedValue(uint32_t{3}));
    const SV::SVTypedValue payload2(onlyHeight);
    delivered = Translate(2, &payload2);
    ASSERT_EQ(delivered.size(), 1u);
    EXPECT_EQ(*delivered[0].attributes.Find("SVPixelAspectRatio")->AsDouble(), 0.0);
}

TEST_F(SViOsApiEventsTest, AudioTrackGivesItsParameters) {
    SV::SVDictionary track;
    track.SetValue("TrackInfoKey_AudioFormat", SV::SVTypedValue(uint32_t{15}));
    track.SetValue("TrackInfoKey_AudioProfile", SV::SVTypedValue(uint32_t{2}));
    track.SetValue("TrackInfoKey_AudioNumChannels", SV::SVTypedValue(uint32_t{6}));
    track.SetValue("TrackInfoKey_AudioSampleFrequency", SV::SVTypedValue(uint32_t{48000}));
    track.SetValue("TrackInfoKey_AudioBitRate", SV::SVTypedValue(uint32_t{384000}));
    track.SetValue("TrackInfoKey_BitRate", SV::SVTypedValue(uint32_t{400000}));  // no event 14
    const SV::SVTypedValue payload(track);
    const auto delivered = Translate(3, &payload);
    ASSERT_EQ(EventNumbers(delivered), std::vector<int>{SViOsApiEvent_AudioParams});
    const ns::Dictionary& a = delivered[0].attributes;
    EXPECT_EQ(a.Keys(), (Keys{"SVAudioType", "SVProfile", "SVNumChannels", "SVSampleFrequency",
                              "SVBitrate"}));
    EXPECT_EQ(*a.Find("SVAudioType")->AsUInt(), 15u);
    EXPECT_EQ(*a.Find("SVProfile")->AsUInt(), 2u);
    EXPECT_EQ(*a.Find("SVNumChannels")->AsUInt(), 6u);
    EXPECT_EQ(*a.Find("SVSampleFrequency")->AsUInt(), 48000u);
    EXPECT_EQ(*a.Find("SVBitrate")->AsUInt(), 384000u);
}

SV::SVDictionary Chapter(uint32_t seq, const char* title, bool withStart) {
    SV::SVDictionary c;
    c.SetValue("ChapterInfoKey_SeqNum", SV::SVTypedValue(seq));
    if (title) c.SetValue("ChapterInfoKey_Title", SV::SVTypedValue(title));
    if (withStart) c.SetValue("ChapterInfoKey_StartTimeIndex", SV::SVTypedValue(seq * 60000u));
    return c;
}

TEST_F(SViOsApiEventsTest, ThreeChaptersWithOneThumbnailGiveSetupTitlesAndOneImage) {
    SV::SVDictionary second = Chapter(1, "Zwei \xC3\xBC", true);
    second.SetValue(
        "ChapterInfoKey_Thumbnail",
        SV::SVTypedValue(SV::SVDataBlob(std::begin(kOnePixelPng), std::end(kOnePixelPng))));
    const SV::SVTypedValue payload(
        SV::SVTypedValueArray{SV::SVTypedValue(Chapter(0, "One", true)), SV::SVTypedValue(second),
                              SV::SVTypedValue(Chapter(2, nullptr, false))});
    const auto delivered = Translate(6, &payload);
    ASSERT_EQ(EventNumbers(delivered),
              (std::vector<int>{SViOsApiEvent_ChapterSetup, SViOsApiEvent_ChapterTitle,
                                SViOsApiEvent_ChapterTitle, SViOsApiEvent_ChapterImage,
                                SViOsApiEvent_ChapterTitle}));
    EXPECT_EQ(*delivered[0].attributes.Find("SVNumChaptersKey")->AsInt(), 3);

    const ns::Dictionary& first = delivered[1].attributes;
    EXPECT_EQ(first.Keys(),
              (Keys{"SVChapterIndexKey", "SVChapterTitleKey", "SVChapterTimeIndexKey"}));
    EXPECT_EQ(*first.Find("SVChapterIndexKey")->AsInt(), 0);
    EXPECT_EQ(*first.Find("SVChapterTitleKey")->AsString(), "One");
    EXPECT_EQ(*first.Find("SVChapterTimeIndexKey")->AsInt(), 0);

    const ns::Dictionary& two = delivered[2].attributes;
    EXPECT_EQ(*two.Find("SVChapterIndexKey")->AsInt(), 1);
    EXPECT_EQ(*two.Find("SVChapterTitleKey")->AsString(), "Zwei \xC3\xBC");
    EXPECT_EQ(*two.Find("SVChapterTimeIndexKey")->AsInt(), 60000);

    const ns::Dictionary& image = delivered[3].attributes;
    EXPECT_EQ(SortedKeys(image), (Keys{"SVChapterImageKey", "SVChapterIndexKey"}));
    EXPECT_EQ(*image.Find("SVChapterIndexKey")->AsInt(), 1);
    EXPECT_EQ(*image.Find("SVChapterImageKey")->AsData(),
              ns::Data(std::vector<uint8_t>(std::begin(kOnePixelPng), std::end(kOnePixelPng))));

    const ns::Dictionary& third = delivered[4].attributes;
    EXPECT_EQ(third.Keys(), Keys{"SVChapterIndexKey"});
    EXPECT_EQ(*third.Find("SVChapterIndexKey")->AsInt(), 2);
}

TEST_F(SViOsApiEventsTest, BadChapterEntriesAreSkippedAndBadThumbnailsCarryNoImage) {
    SV::SVDictionary noSeq;
    noSeq.SetValue("ChapterInfoKey_Title", SV::SVTypedValue("lost"));
    SV::SVDictionary signedSeq;
    signedSeq.SetValue("ChapterInfoKey_SeqNum", SV::SVTypedValue(int32_t{4}));
    SV::SVDictionary junkThumb = Chapter(5, "J", false);
    junkThumb.SetValue("ChapterInfoKey_Thumbnail",
                       SV::SVTypedValue(SV::SVDataBlob{'G', 'I', 'F', '8'}));
    SV::SVDictionary textThumb = Chapter(6, nullptr, false);
    textThumb.SetValue("ChapterInfoKey_Thumbnail", SV::SVTypedValue("not bytes"));
    const SV::SVTypedValue payload(SV::SVTypedValueArray{
        SV::SVTypedValue(uint32_t{7}), SV::SVTypedValue(noSeq), SV::SVTypedValue(signedSeq),
        SV::SVTypedValue(junkThumb), SV::SVTypedValue(textThumb)});
    const auto delivered = Translate(6, &payload);
    ASSERT_EQ(EventNumbers(delivered),
              (std::vector<int>{SViOsApiEvent_ChapterSetup, SViOsApiEvent_ChapterTitle,
                                SViOsApiEvent_ChapterImage, SViOsApiEvent_ChapterTitle}));
    EXPECT_EQ(*delivered[0].attributes.Find("SVNumChaptersKey")->AsInt(), 5);
    EXPECT_EQ(*delivered[1].attributes.Find("SVChapterIndexKey")->AsInt(), 5);
    EXPECT_EQ(delivered[2].attributes.Keys(), Keys{"SVChapterIndexKey"});
    EXPECT_EQ(*delivered[2].attributes.Find("SVChapterIndexKey")->AsInt(), 5);
    EXPECT_EQ(*delivered[3].attributes.Find("SVChapterIndexKey")->AsInt(), 6);
}

TEST_F(SViOsApiEventsTest, ErrorCarriesStatusVersionAndAssetButNoEmptyDescription) {
    SViOsApiState::Instance().SetCurrentAsset("/media/Movie.Name.mpg");
    SV::SVDictionary error;
    error.SetValue("ErrorKey_SVStatus", SV::SVTypedValue(uint32_t{2000}));
    const SV::SVTypedValue payload(error);
    auto delivered = Translate(9, &payload);
    ASSERT_EQ(EventNumbers(delivered), std::vector<int>{SViOsApiEvent_StoppingOnError});
    const ns::Dictionary& a = delivered[0].attributes;
    EXPECT_EQ(a.Keys(), (Keys{"SVAssetPathKey", "SVAssetTypeKey", "SVVersionKey", "SVErrorKey"}));
    EXPECT_EQ(*a.Find("SVErrorKey")->AsUInt(), 2000u);
    EXPECT_EQ(*a.Find("SVVersionKey")->AsString(), "6.0.0.12556");
    EXPECT_EQ(*a.Find("SVAssetPathKey")->AsString(), "/media/Movie.Name.mpg");
    EXPECT_EQ(*a.Find("SVAssetTypeKey")->AsUInt(), 1u);

    Forget();
    SViOsApiState::Instance().ClearCurrentAsset();
    SV::SVDictionary withText;
    withText.SetValue("ErrorKey_SVStatus", SV::SVTypedValue(uint32_t{1031}));
    withText.SetValue("ErrorKey_AdditionalInfo", SV::SVTypedValue("port 20001: in use"));
    const SV::SVTypedValue payload2(withText);
    delivered = Translate(9, &payload2);
    ASSERT_EQ(delivered.size(), 1u);
    EXPECT_EQ(delivered[0].attributes.Keys(),
              (Keys{"SVVersionKey", "SVErrorKey", "SVDescriptionKey"}));
    EXPECT_EQ(*delivered[0].attributes.Find("SVDescriptionKey")->AsString(), "port 20001: in use");
}

// Damage the playback goes on past: the same attributes as an error, as a warning.
TEST_F(SViOsApiEventsTest, AWarningCarriesStatusAndTextAndDoesNotStop) {
    SViOsApiState::Instance().SetCurrentAsset("/media/Movie.Name.mpg");
    SV::SVDictionary warning;
    warning.SetValue("ErrorKey_SVStatus", SV::SVTypedValue(uint32_t{1003}));
    warning.SetValue("ErrorKey_AdditionalInfo",
                     SV::SVTypedValue("Damaged data: 65556 bytes skipped at byte 460484"));
    const SV::SVTypedValue payload(warning);
    const auto delivered = Translate(10, &payload);
    ASSERT_EQ(EventNumbers(delivered), std::vector<int>{SViOsApiEvent_Warning});
    const ns::Dictionary& a = delivered[0].attributes;
    EXPECT_EQ(a.Keys(), (Keys{"SVAssetPathKey", "SVAssetTypeKey", "SVVersionKey", "SVErrorKey",
                              "SVDescriptionKey"}));
    EXPECT_EQ(*a.Find("SVErrorKey")->AsUInt(), 1003u);
    EXPECT_EQ(*a.Find("SVDescriptionKey")->AsString(),
              "Damaged data: 65556 bytes skipped at byte 460484");
    SViOsApiState::Instance().ClearCurrentAsset();
}

// The whole road of a warning: set on a playback's session, forwarded by it to the engine's
// callback, which the bridge installed, and handed to the application as its warning event.
TEST_F(SViOsApiEventsTest, AWarningSetOnTheSessionReachesTheApplication) {
    ASSERT_EQ(SV_Initialize(&Record, ns::Dictionary()), 0);
    DrainQueued();
    Forget();  // the Initialized event
    SViOsApiState::Instance().SetCurrentAsset("http://origin.example/Movie.Name.mpg");
    using SarvelonMediaKit::SVMediaTransformerSession;
    const boost::shared_ptr<SVMediaTransformerSession> session = SVMediaTransformerSession::Create(
        "http://origin.example/Movie.Name.mpg", SV::SVDictionary());
    session->SetWarning(SVStatusParserError, "Damaged data: 188 bytes skipped at byte 376");
    SVMediaTransformerSession::Unregister(session.get());
    DrainQueued();

    const auto delivered = Taken();
    ASSERT_EQ(EventNumbers(delivered), std::vector<int>{SViOsApiEvent_Warning});
    const ns::Dictionary& a = delivered[0].attributes;
    EXPECT_EQ(a.Keys(), (Keys{"SVAssetPathKey", "SVAssetTypeKey", "SVVersionKey", "SVErrorKey",
                              "SVDescriptionKey"}));
    EXPECT_EQ(*a.Find("SVAssetPathKey")->AsString(), "http://origin.example/Movie.Name.mpg");
    EXPECT_EQ(*a.Find("SVAssetTypeKey")->AsUInt(), 2u);  // remote
    EXPECT_EQ(*a.Find("SVVersionKey")->AsString(), "6.0.0.12556");
    EXPECT_EQ(*a.Find("SVErrorKey")->AsUInt(), 1003u);
    EXPECT_EQ(*a.Find("SVDescriptionKey")->AsString(),
              "Damaged data: 188 bytes skipped at byte 376");
    SViOsApiState::Instance().ClearCurrentAsset();
}

TEST_F(SViOsApiEventsTest, StoppedAndPlayingCarryTheAssetDescriptor) {
    const SV::SVTypedValue null;
    auto delivered = Translate(8, &null);
    ASSERT_EQ(EventNumbers(delivered), std::vector<int>{SViOsApiEvent_Stopped});
    EXPECT_TRUE(delivered[0].attributes.empty());

    Forget();
    SViOsApiState::Instance().SetCurrentAsset("http://origin.example/title.mpg");
    const SV::SVTypedValue empty{SV::SVDictionary()};
    Translate(8, nullptr);  // the payload of a stop is not looked at
    delivered = Translate(0, &empty);
    ASSERT_EQ(EventNumbers(delivered),
              (std::vector<int>{SViOsApiEvent_Stopped, SViOsApiEvent_Playing}));
    for (const auto& d : delivered) {
        EXPECT_EQ(d.attributes.Keys(), (Keys{"SVAssetPathKey", "SVAssetTypeKey"}));
        EXPECT_EQ(*d.attributes.Find("SVAssetPathKey")->AsString(),
                  "http://origin.example/title.mpg");
        EXPECT_EQ(*d.attributes.Find("SVAssetTypeKey")->AsUInt(), 2u);
    }
}

TEST_F(SViOsApiEventsTest, PayloadsOfTheWrongKindAndOtherNumbersPostNothing) {
    const SV::SVTypedValue number(uint32_t{5});
    const SV::SVTypedValue dictionary{SV::SVDictionary()};
    for (int event : {0, 2, 3, 6, 9, 10}) {
        SV_TransformerEventHandler(nullptr, event, &number);
        SV_TransformerEventHandler(nullptr, event, nullptr);
    }
    SV_TransformerEventHandler(nullptr, 6, &dictionary);  // chapters must be an array
    for (int event : {-1, 1, 4, 5, 7, 11, 99})
        SV_TransformerEventHandler(nullptr, event, &dictionary);
    DrainQueued();
    EXPECT_TRUE(Taken().empty()) << "first: " << (Taken().empty() ? 0 : Taken()[0].event);
}

TEST_F(SViOsApiEventsTest, EventNamesCoverTheEnumerationOnly) {
    EXPECT_EQ(SV_EventToString(24), "Unknown Event");
    EXPECT_EQ(SV_EventToString(-1), "Unknown Event");
    EXPECT_EQ(SV_EventToString(19), "SViOsApiEvent_StoppingOnError");
    EXPECT_EQ(SV_EventToString(3), "SViOsApiEvent_Playing");
    EXPECT_EQ(SV_EventToString(5), "SViOsApiEvent_Stopped");
    EXPECT_EQ(SV_EventToString(8), "SViOsApiEvent_Initialized");
    EXPECT_EQ(SV_EventToString(10), "SViOsApiEvent_Terminated");
    EXPECT_EQ(SV_EventToString(14), "SViOsApiEvent_SetCurrentBitrate");
    EXPECT_EQ(SV_EventToString(15), "SViOsApiEvent_Bitrates");
    EXPECT_EQ(SV_EventToString(16), "SViOsApiEvent_ChapterTitle");
    EXPECT_EQ(SV_EventToString(17), "SViOsApiEvent_ChapterImage");
    EXPECT_EQ(SV_EventToString(18), "SViOsApiEvent_ChapterSetup");
    EXPECT_EQ(SV_EventToString(20), "SViOsApiEvent_VideoParams");
    EXPECT_EQ(SV_EventToString(21), "SViOsApiEvent_AudioParams");
    EXPECT_EQ(SV_EventToString(22), "SViOsApiEvent_Subtitles");
    EXPECT_EQ(SV_EventToString(23), "SViOsApiEvent_AudioOnlyTracks");
    std::set<std::string> names;
    for (int i = 0; i <= 23; ++i) {
        const std::string name = SV_EventToString(i);
        EXPECT_EQ(name.rfind("SViOsApiEvent_", 0), 0u) << i;
        names.insert(name);
    }
    EXPECT_EQ(names.size(), 24u) << "two numbers share a name";
}

}  // namespace
