#include "engine/api/SViOsApi.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <cstdio>
#include <optional>
#include <string>
#include <thread>

#include "SVLibrary/TypedValue/SVDictionary.h"
#include "SVLibrary/Types/SVStatus.h"
#include "engine/api/SVMediaTransformer.h"
#include "engine/api/SVMediaTransformerSession.h"
#include "engine/api/SViOsApiState.h"
#include "engine/api/SViOsApiTestFixture.h"
#include "engine/api/SViOsApiTestSupport.h"
#include "engine/container/MediaTrackFilter.h"
#include "engine/serve/ListeningPort.h"
#include "platform/core/OperationQueue.h"
#include "tests/support/Fixtures.h"
#include "tests/support/LoopbackHttpGet.h"
#include "tests/support/TemporaryDirectory.h"
#include "tests/support/TestOrigin.h"
#include "tests/support/ThreadTestSupport.h"
#include "tests/support/UnusedPort.h"
#include "tests/support/ScopedEnvironment.h"
#include "tests/support/HeldLoopbackPort.h"

namespace {

using SvTestSupport::ScopedEnvironment;

using namespace BridgeTestSupport;
using SarvelonMediaKit::MediaTrackFilter;
using SarvelonMediaKit::SViOsApiState;

bool IsDirectory(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// A loopback port nothing listens on right now.
uint16_t FreePort() { return SvTestSupport::UnusedLoopbackPort(); }

// Settings from plain pairs.
ns::Dictionary Settings(std::initializer_list<std::pair<const char*, ns::Value>> pairs) {
    ns::Dictionary d;
    for (const auto& p : pairs) d.Set(p.first, p.second);
    return d;
}

class SViOsApiTest : public SViOsApiTestFixture {
protected:
    const SV::SVDictionary& Entries() { return SV_Credentials()->GetEntries(); }
};

TEST_F(SViOsApiTest, SecondInitializeReturnsTwoPostsStatusNineAndKeepsTheFirstCallback) {
    ASSERT_EQ(SV_Initialize(&Record, ns::Dictionary()), 0);
    EXPECT_EQ(SV_Initialize(&RecordOther, ns::Dictionary()), 2);
    const auto delivered = DrainUntil(2);
    ASSERT_EQ(EventNumbers(delivered),
              (std::vector<int>{SViOsApiEvent_Initialized, SViOsApiEvent_Initialized}));
    EXPECT_EQ(*delivered[0].attributes.Find("SVStatusKey")->AsInt(), 0);
    EXPECT_EQ(*delivered[1].attributes.Find("SVStatusKey")->AsInt(), 9);
    for (const auto& d : delivered) {
        EXPECT_EQ(*d.attributes.Find("SVVersionKey")->AsString(), "6.0.0.12556");
        EXPECT_EQ(d.attributes.size(), 2u);
    }
    EXPECT_TRUE(OtherRecords().empty()) << "the second callback replaced the first";

    EXPECT_EQ(SV_Stop(), 15) << "no session yet";
    EXPECT_EQ(SV_Terminate(), 0);
    EXPECT_EQ(SV_Terminate(), 1);
    std::string url = "untouched";
    EXPECT_EQ(SV_Play("/nowhere/title.svm", &url, 0), 1);
    EXPECT_EQ(url, "untouched");
    const auto after = DrainUntil(3);
    ASSERT_EQ(after.size(), 3u);
    EXPECT_EQ(after[2].event, SViOsApiEvent_Terminated);
    EXPECT_TRUE(after[2].attributes.empty());

    // A later initialisation works again, with the record kept from before.
    const auto record = SV_Credentials();
    EXPECT_EQ(SV_Initialize(&Record, ns::Dictionary()), 0);
    EXPECT_EQ(SV_Credentials(), record);
}

TEST_F(SViOsApiTest, EntryPointsBeforeInitializeReturnOne) {
    std::string url;
    EXPECT_EQ(SV_Play("/media/a.svm", &url, 0), 1);
    EXPECT_EQ(SV_Stop(), 1);
    EXPECT_EQ(SV_Terminate(), 1);
    EXPECT_TRUE(url.empty());
    EXPECT_TRUE(SV_AssetDescriptor().empty());
    DrainQueued();
    EXPECT_TRUE(Taken().empty());
}

TEST_F(SViOsApiTest, AnEngineThatRefusesToInitializeGivesOneAndNoEvent) {
    // The engine already holds a callback, so its initialisation answers 1021.
    ASSERT_EQ(SV_MediaTransformerInitialize(&SV_TransformerEventHandler), SVStatusSuccess);
    EXPECT_EQ(SV_Initialize(&Record, ns::Dictionary()), 1);
    std::string url;
    EXPECT_EQ(SV_Play("a.svm", &url, 0), 1) << "the bridge counts as initialised";
    EXPECT_EQ(SV_Terminate(), 1);
    DrainQueued();
    EXPECT_TRUE(Taken().empty()) << SV_EventToString(Taken().front().event);
    EXPECT_EQ(SV_MediaTransformerTerminate(), SVStatusSuccess);
}

TEST_F(SViOsApiTest, EngineStatusesOfStopPassThroughAndTheSessionIsForgotten) {
    ASSERT_EQ(SV_Initialize(&Record, ns::Dictionary()), 0);
    // A handle the engine does not know: teardown answers 4200.
    static int notASession;
    SViOsApiState::Instance().SetSession(
        reinterpret_cast<SarvelonMediaKit::SVMediaTransformerSession*>(&notASession));
    SViOsApiState::Instance().SetCurrentAsset("/media/kept.svm");
    EXPECT_EQ(SV_Stop(), 4200);
    EXPECT_EQ(SV_Stop(), 15) << "the session is cleared whatever teardown returned";
    EXPECT_EQ(*SV_AssetDescriptor().Find("SVAssetPathKey")->AsString(), "/media/kept.svm")
        << "a failed stop keeps the current asset";
}

TEST_F(SViOsApiTest, AFailedSetupKeepsItsSessionUntilStop) {
    ASSERT_EQ(SV_Initialize(&Record, Settings({{"SVAssetRootKey", ns::Value(tmp_.Path())}})), 0);
    std::string url = "untouched";
    const int first = SV_Play("missing.svm", &url, 0);
    EXPECT_NE(first, 0);
    EXPECT_NE(first, 16);
    EXPECT_EQ(url, "untouched");
    EXPECT_EQ(SV_Play("missing.svm", &url, 0), 16);
    // Teardown answers with the failed session's own status, which stop passes on; the
    // asset is released only on success, the session in any case.
    const int stopped = SV_Stop();
    EXPECT_NE(stopped, 15) << "the failed setup left no session behind";
    EXPECT_EQ(SV_AssetDescriptor().empty(), stopped == 0);
    EXPECT_EQ(SV_Stop(), 15);
    EXPECT_NE(SV_Play("missing.svm", &url, 0), 16) << "stop did not release the session";
}

TEST_F(SViOsApiTest, SettingsAreConvertedAsThePlatformConvertsThem) {
    SV_CredentialsFromSettings(Settings({{"SVPlayerDrivenAdaptationKey", "0"},
                                         {"SVPreloadTimeoutKey", "30000000"},
                                         {"SVAssetRootKey", "/srv/titles"},
                                         {"SVUnrelatedKey", "x"}}));
    bool pda = true;
    ASSERT_TRUE(Entries().GetBoolean("CredentialsKey_Pda", pda));
    EXPECT_FALSE(pda);
    uint32_t timeout = 0;
    ASSERT_TRUE(Entries().GetUnsignedInt("CredentialsKey_PreloadTimeout", timeout));
    EXPECT_EQ(timeout, 30000000u);
    EXPECT_EQ(Entries().GetStringOrDefault("CredentialsKey_AssetFsRoot", ""), "/srv/titles");
    EXPECT_EQ(Entries().size(), 3u) << "an unrelated key reached the credentials";

    // Mapped keys replace; the root stays since the key is missing; an absent adaptation key
    // stores false.
    SV_CredentialsFromSettings(Settings({{"SVPreloadTimeoutKey", "  +42ms"}}));
    EXPECT_EQ(Entries().GetUnsignedIntOrDefault("CredentialsKey_PreloadTimeout", 0), 42u);
    EXPECT_EQ(Entries().GetStringOrDefault("CredentialsKey_AssetFsRoot", ""), "/srv/titles");
    EXPECT_FALSE(Entries().GetBooleanOrDefault("CredentialsKey_Pda", true));

    struct BoolCase {
        ns::Value value;
        bool expected;
    };
    const BoolCase cases[] = {
        {"YES", true},
        {"y", true},
        {"true", true},
        {"T", true},
        {"7", true},
        {"  0009", true},
        {"no", false},
        {"false", false},
        {"", false},
        {"0", false},
        {"-0", false},
        {ns::Value(1), true},
        {ns::Value(0), false},
        {ns::Value(true), true},
        {ns::Value(false), false},
        {ns::Value(0.5), true},
    };
    for (const auto& c : cases) {
        SV_CredentialsFromSettings(Settings({{"SVPlayerDrivenAdaptationKey", c.value}}));
        EXPECT_EQ(Entries().GetBooleanOrDefault("CredentialsKey_Pda", !c.expected), c.expected)
            << c.value.Description();
    }
    // Numbers: an integer is taken as it is, a double cut toward zero.
    SV_CredentialsFromSettings(Settings({{"SVPreloadTimeoutKey", ns::Value(2.9)}}));
    EXPECT_EQ(Entries().GetUnsignedIntOrDefault("CredentialsKey_PreloadTimeout", 0), 2u);
    SV_CredentialsFromSettings(Settings({{"SVPreloadTimeoutKey", ns::Value(15000)}}));
    EXPECT_EQ(Entries().GetUnsignedIntOrDefault("CredentialsKey_PreloadTimeout", 0), 15000u);
    SV_CredentialsFromSettings(Settings({{"SVPreloadTimeoutKey", "soon"}}));
    EXPECT_EQ(Entries().GetUnsignedIntOrDefault("CredentialsKey_PreloadTimeout", 9), 0u);
}

TEST_F(SViOsApiTest, WithoutAnAssetRootTheDocumentsDirectoryIsMadeAndStored) {
    const std::string documents = tmp_.File("Documents");
    ASSERT_FALSE(IsDirectory(documents));
    ASSERT_EQ(SV_Initialize(&Record, Settings({{"SVPlayerDrivenAdaptationKey", "1"}})), 0);
    EXPECT_EQ(Entries().GetStringOrDefault("CredentialsKey_AssetFsRoot", ""), documents);
    EXPECT_TRUE(IsDirectory(documents));
    EXPECT_TRUE(Entries().GetBooleanOrDefault("CredentialsKey_Pda", false));
}

TEST_F(SViOsApiTest, AGivenAssetRootIsMadeWithItsParentsAndKept) {
    const std::string root = tmp_.File("titles/deep/root");
    ASSERT_EQ(SV_Initialize(&Record, Settings({{"SVAssetRootKey", ns::Value(root)}})), 0);
    EXPECT_TRUE(IsDirectory(root));
    EXPECT_EQ(Entries().GetStringOrDefault("CredentialsKey_AssetFsRoot", ""), root);
    EXPECT_FALSE(IsDirectory(tmp_.File("Documents"))) << "documents made although a root was given";
}

TEST_F(SViOsApiTest, TheCappedModelAddsOneBitRateRulePerInitialization) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    // In a child process: the rules of the process-wide filter are never removed, and the
    // other tests of this program must not see them.
    EXPECT_EXIT(
        {
            setenv("SV_DEVICE_MODEL", "iPhone2,1", 1);
            const size_t before =
                MediaTrackFilter::Instance().GetRules(MediaTrackFilter::SelectorBitRate).size();
            bool ok = SV_Initialize(&Record, ns::Dictionary()) == 0;
            const MediaTrackFilter::Rules once =
                MediaTrackFilter::Instance().GetRules(MediaTrackFilter::SelectorBitRate);
            ok = ok && once.size() == before + 1 &&
                 once.back().first == MediaTrackFilter::OperatorLess &&
                 once.back().second == 2000000.0;
            // A second initialisation while initialised adds nothing.
            ok = ok && SV_Initialize(&Record, ns::Dictionary()) == 2 &&
                 MediaTrackFilter::Instance().GetRules(MediaTrackFilter::SelectorBitRate).size() ==
                     before + 1;
            ok = ok && SV_Terminate() == 0 && SV_Initialize(&Record, ns::Dictionary()) == 0;
            const MediaTrackFilter::Rules twice =
                MediaTrackFilter::Instance().GetRules(MediaTrackFilter::SelectorBitRate);
            ok = ok && twice.size() == before + 2 && twice.back() == once.back();
            ok = ok && SV_Terminate() == 0;
            std::fprintf(stderr, ok ? "rules as expected\n" : "rules wrong\n");
            std::fflush(stderr);
            _exit(ok ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "rules as expected");

    ScopedEnvironment model("SV_DEVICE_MODEL", "iPhone2,2");
    const size_t before =
        MediaTrackFilter::Instance().GetRules(MediaTrackFilter::SelectorBitRate).size();
    ASSERT_EQ(SV_Initialize(&Record, ns::Dictionary()), 0);
    EXPECT_EQ(MediaTrackFilter::Instance().GetRules(MediaTrackFilter::SelectorBitRate).size(),
              before);
}

TEST_F(SViOsApiTest, AssetTypesAndDescriptor) {
    EXPECT_EQ(SV_GetAssetType("https://cdn.example/a.svm"), 2u);
    EXPECT_EQ(SV_GetAssetType("http://cdn.example/a.svm"), 2u);
    EXPECT_EQ(SV_GetAssetType("/var/media/a.svm"), 1u);
    EXPECT_EQ(SV_GetAssetType(" http://cdn.example/a.svm"), 1u);
    EXPECT_EQ(SV_GetAssetType("/x/http://y"), 1u);
    EXPECT_EQ(SV_GetAssetType("HTTP://cdn.example/a.svm"), 1u);
    EXPECT_EQ(SV_GetAssetType("http:/"), 1u);
    EXPECT_EQ(SV_GetAssetType(""), 1u);
    EXPECT_EQ(SV_GetAssetType("file:///a.svm"), 1u);
    EXPECT_TRUE(SV_AssetDescriptor().empty());
}

SV::SVTypedValue Track(std::initializer_list<std::pair<const char*, SV::SVTypedValue>> entries) {
    SV::SVDictionary d;
    for (const auto& e : entries) d.SetValue(e.first, e.second);
    return SV::SVTypedValue(d);
}

TEST_F(SViOsApiTest, TrackListGivesBitRatesSubtitlesAndAudioOnlyTracks) {
    const std::vector<SV::SVTypedValue> tracks = {
        // Normal video track with audio: one bit rate, not an audio-only track.
        Track({{"TrackInfoKey_Id", SV::SVTypedValue(1u)},
               {"TrackInfoKey_BitRate", SV::SVTypedValue(1000007u)},
               {"TrackInfoKey_VideoBitRate", SV::SVTypedValue(900000u)},
               {"TrackInfoKey_VideoFormat", SV::SVTypedValue(27u)},
               {"TrackInfoKey_AudioIdentifier", SV::SVTypedValue("en")}}),
        // Trick-play track: no bit rate entry.
        Track({{"TrackInfoKey_Id", SV::SVTypedValue(2u)},
               {"TrackInfoKey_BitRate", SV::SVTypedValue(300000u)},
               {"TrackInfoKey_VideoBitRate", SV::SVTypedValue(300000u)},
               {"TrackInfoKey_TrickPlayRate", SV::SVTypedValue(int32_t{4})},
               {"TrackInfoKey_VideoFormat", SV::SVTypedValue(27u)}}),
        SV::SVTypedValue(5u),  // not a dictionary: skipped
        // Audio-only with an id: listed; no bit rate: not a bit rate, still looked at.
        Track({{"TrackInfoKey_Id", SV::SVTypedValue(7u)},
               {"TrackInfoKey_AudioIdentifier", SV::SVTypedValue("de")}}),
        // Audio-only without an id: not listed.
        Track({{"TrackInfoKey_AudioIdentifier", SV::SVTypedValue("fr")},
               {"TrackInfoKey_BitRate", SV::SVTypedValue(128000u)}}),
        // A bit rate without a video bit rate (an audio track): no entry.
        Track({{"TrackInfoKey_Id", SV::SVTypedValue(9u)},
               {"TrackInfoKey_BitRate", SV::SVTypedValue(96000u)},
               {"TrackInfoKey_AudioIdentifier", SV::SVTypedValue("es")}}),
        // Subtitles: all three keys needed.
        Track({{"TrackInfoKey_SubtitleFormat", SV::SVTypedValue(3u)},
               {"TrackInfoKey_SubtitleIdentifier", SV::SVTypedValue("en-sdh")},
               {"TrackInfoKey_Source", SV::SVTypedValue("subs/en.ttml")}}),
        Track({{"TrackInfoKey_SubtitleFormat", SV::SVTypedValue(3u)},
               {"TrackInfoKey_SubtitleIdentifier", SV::SVTypedValue("nl")}}),
        // A second normal rendition; the identifier's id is signed (wrong kind): not listed.
        Track({{"TrackInfoKey_Id", SV::SVTypedValue(int32_t{11})},
               {"TrackInfoKey_BitRate", SV::SVTypedValue(2400000u)},
               {"TrackInfoKey_VideoBitRate", SV::SVTypedValue(2200000u)},
               {"TrackInfoKey_AudioIdentifier", SV::SVTypedValue("it")}}),
    };
    SV_PostTrackListEvents(tracks);
    const auto delivered = DrainUntil(3);
    ASSERT_EQ(EventNumbers(delivered),
              (std::vector<int>{SViOsApiEvent_Bitrates, SViOsApiEvent_Subtitles,
                                SViOsApiEvent_AudioOnlyTracks}));
    // 1000007 / 8 = 125000 (rounded down), 2400000 / 8 = 300000.
    EXPECT_EQ(*delivered[0].attributes.Find("SVBitratesKey"),
              ns::Value(ns::Array{ns::Value(125000), ns::Value(300000)}));
    const ns::Dictionary& subs = delivered[1].attributes;
    EXPECT_EQ(*subs.Find("SVSubtitlesFormatKey"), ns::Value(ns::Array{ns::Value(3u)}));
    EXPECT_EQ(*subs.Find("SVSubtitlesIdKey"), ns::Value(ns::Array{ns::Value("en-sdh")}));
    EXPECT_EQ(*subs.Find("SVMediaSourceKey"), ns::Value(ns::Array{ns::Value("subs/en.ttml")}));
    const ns::Dictionary& audio = delivered[2].attributes;
    EXPECT_EQ(*audio.Find("SVAudioIdKey"), ns::Value(ns::Array{ns::Value("de"), ns::Value("es")}));
    EXPECT_EQ(*audio.Find("SVTrackIdKey"), ns::Value(ns::Array{ns::Value(7u), ns::Value(9u)}));
}

TEST_F(SViOsApiTest, AnEmptyTrackListStillPostsThreeEventsWithEmptyArrays) {
    SV_PostTrackListEvents({});
    const auto delivered = DrainUntil(3);
    ASSERT_EQ(delivered.size(), 3u);
    EXPECT_EQ(*delivered[0].attributes.Find("SVBitratesKey"), ns::Value(ns::Array{}));
    EXPECT_EQ(delivered[1].attributes.size(), 3u);
    EXPECT_EQ(*delivered[2].attributes.Find("SVTrackIdKey"), ns::Value(ns::Array{}));
}

// The playlist name the engine serves a local title under: its file name without the
// extension, plus ".m3u8".
std::string PlaylistName(const std::string& path) {
    std::string name = path.substr(path.rfind('/') + 1);
    const size_t dot = name.rfind('.');
    if (dot != std::string::npos) name.erase(dot);
    return name + ".m3u8";
}

TEST_F(SViOsApiTest, PlayATitleServeItsPlaylistAndStopAndTerminate) {
    // A plain path is looked up under the asset root, as the player screen's titles are.
    const std::string titlePath = SvTestSupport::Fixtures::ShortTitle();
    const std::string root = titlePath.substr(0, titlePath.rfind('/'));
    const std::string title = titlePath.substr(titlePath.rfind('/') + 1);
    const uint16_t port = FreePort();
    ASSERT_NE(port, 0);
    SarvelonMediaKit::SetLoopbackPort(port);

    ASSERT_EQ(SV_Initialize(&Record, Settings({{"SVAssetRootKey", ns::Value(root)}})), 0);
    std::string url;
    ASSERT_EQ(SV_Play(title, &url, 0), 0);
    // The URL is handed out once the engine listens: a player may connect at once.
    EXPECT_TRUE(SvTestSupport::WaitForListener(port, 0)) << "SV_Play returned before the listen";
    // Runs on the draining thread after everything SV_Play itself posted (the queue keeps the
    // order of adding): it marks where SV_Play's own events end.
    std::atomic<size_t> playEnd{0};
    std::atomic<bool> marked{false};
    ns::MainQueue().AddOperation([&] {
        playEnd = Taken().size();
        marked = true;
    });
    const std::string expectedUrl =
        "http://localhost:" + std::to_string(port) + "/" + PlaylistName(title);
    EXPECT_EQ(url, expectedUrl);

    std::string second = "kept";
    EXPECT_EQ(SV_Play(title, &second, 0), 16);
    EXPECT_EQ(second, "kept");

    const ns::Dictionary descriptor = SV_AssetDescriptor();
    EXPECT_EQ(*descriptor.Find("SVAssetPathKey")->AsString(), title);
    EXPECT_EQ(*descriptor.Find("SVAssetTypeKey")->AsUInt(), 1u);

    auto has = [](const std::vector<Delivered>& d, int event) {
        return std::any_of(d.begin(), d.end(),
                           [event](const Delivered& x) { return x.event == event; });
    };
    ns::RunLoop::Main().RunUntil([&] { return marked.load(); }, std::chrono::seconds(10));
    ASSERT_TRUE(marked.load());
    const auto delivered = Taken();
    for (const auto& d : delivered) {
        EXPECT_EQ(d.thread, std::this_thread::get_id()) << SV_EventToString(d.event);
    }
    // Everything before the mark came from SV_Initialize and SV_Play on this thread (Playing
    // is posted inside the engine's setup call), except the track reports an engine thread
    // may post at any time: video, audio and current bit rate. SV_Play posts its own video
    // report after AudioOnlyTracks, so the ones before that are the engine's and are left out;
    // from there on the first one stands for SV_Play's (an engine report in between would be
    // the same kind, and SV_Play's still follows before the mark).
    auto fromEngineToo = [](int event) {
        return event == SViOsApiEvent_VideoParams || event == SViOsApiEvent_AudioParams ||
               event == SViOsApiEvent_SetCurrentBitrate;
    };
    std::vector<int> own;
    bool afterTrackLists = false;
    size_t videoReportsAfterTrackLists = 0;
    for (size_t i = 0; i < playEnd.load() && i < delivered.size(); ++i) {
        const int event = delivered[i].event;
        if (event == SViOsApiEvent_AudioOnlyTracks) afterTrackLists = true;
        if (afterTrackLists && event == SViOsApiEvent_VideoParams) ++videoReportsAfterTrackLists;
        if (fromEngineToo(event) && !(afterTrackLists && event == SViOsApiEvent_VideoParams &&
                                      videoReportsAfterTrackLists == 1)) {
            continue;
        }
        own.push_back(event);
    }
    EXPECT_EQ(own, (std::vector<int>{SViOsApiEvent_Initialized, SViOsApiEvent_Playing,
                                     SViOsApiEvent_Bitrates, SViOsApiEvent_Subtitles,
                                     SViOsApiEvent_AudioOnlyTracks, SViOsApiEvent_VideoParams}));
    EXPECT_NE(delivered.front().event, SViOsApiEvent_Playing) << "Playing before Initialized";
    for (const auto& d : delivered) {
        if (d.event == SViOsApiEvent_Playing) {
            EXPECT_EQ(*d.attributes.Find("SVAssetPathKey")->AsString(), title);
        }
        if (d.event == SViOsApiEvent_Bitrates) {
            // The title has one normal video rendition.
            const ns::Value* rates = d.attributes.Find("SVBitratesKey");
            ASSERT_NE(rates, nullptr);
            ASSERT_EQ(rates->Count(), 1u);
            EXPECT_GT((*rates)[0].Int64Value(), 0);
        }
    }
    // SV_Play's own video event is empty when the engine had not chosen a track yet; the
    // engine's report of the track follows from its thread. The short clip is 320x180.
    auto sized = [&] {
        for (const auto& d : Taken()) {
            if (d.event == SViOsApiEvent_VideoParams && d.attributes.Find("SVWidth")) return d;
        }
        return Delivered{-1, ns::Dictionary(), std::thread::id()};
    };
    ns::RunLoop::Main().RunUntil([&] { return sized().event >= 0; }, std::chrono::seconds(10));
    const Delivered video = sized();
    ASSERT_EQ(video.event, SViOsApiEvent_VideoParams) << "no video track reported";
    EXPECT_EQ(*video.attributes.Find("SVWidth")->AsUInt(), 320u);
    EXPECT_EQ(*video.attributes.Find("SVHeight")->AsUInt(), 180u);
    EXPECT_EQ(video.thread, std::this_thread::get_id());

    // The URL handed out is served.
    const SvTestSupport::HttpAnswer answer = SvTestSupport::HttpGet(port, PlaylistName(title));
    const std::string reply = answer.head + answer.body;
    EXPECT_EQ(reply.compare(0, 9, "HTTP/1.1 "), 0) << reply.substr(0, 200);
    EXPECT_NE(reply.find(" 200 "), std::string::npos) << reply.substr(0, 200);
    EXPECT_NE(reply.find("#EXTM3U"), std::string::npos) << reply.substr(0, 400);

    Forget();
    EXPECT_EQ(SV_Stop(), 0);
    // The stop has ended every thread of the playback and closed its listening socket.
    const std::vector<std::string> left = SvTestSupport::ThreadNames();
    for (const char* name : {"TWorker", "Pump", "SocketMaster"}) {
        EXPECT_EQ(std::count(left.begin(), left.end(), name), 0) << name << " still running";
    }
    const int rebound = socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(rebound, 0);
    // Closed connections may linger in TIME_WAIT on the port; only a socket still listening
    // there makes this bind fail.
    const int on = 1;
    setsockopt(rebound, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(bind(rebound, reinterpret_cast<sockaddr*>(&address), sizeof address), 0)
        << "the port is still taken: " << std::strerror(errno);
    EXPECT_EQ(listen(rebound, 1), 0);
    close(rebound);
    EXPECT_TRUE(SV_AssetDescriptor().empty());
    EXPECT_EQ(SV_Stop(), 15);
    EXPECT_EQ(SV_Terminate(), 0);
    ns::RunLoop::Main().RunUntil([&] { return has(Taken(), SViOsApiEvent_Terminated); },
                                 std::chrono::seconds(10));
    const auto end = Taken();
    EXPECT_TRUE(has(end, SViOsApiEvent_Terminated));
    for (const auto& d : end) EXPECT_EQ(d.thread, std::this_thread::get_id());
}

// Another program holds the engine's port: the play fails with the listen's status and hands
// out no URL, which would have led the player to that program.
TEST_F(SViOsApiTest, APortHeldByAnotherProgramFailsThePlayWithoutAUrl) {
    const SvTestSupport::HeldLoopbackPort taken;
    const uint16_t port = taken.Port();
    ASSERT_NE(0, port);
    SarvelonMediaKit::SetLoopbackPort(port);

    ASSERT_EQ(SV_Initialize(&Record, Settings({{"SVAssetRootKey", ns::Value("")}})), 0);
    std::string url = "kept";
    EXPECT_EQ(SV_Play(SvTestSupport::Fixtures::ShortTitle(), &url, 0), 1031);
    EXPECT_EQ(url, "kept");
    EXPECT_EQ(SV_Stop(), 1031) << "the stop repeats the failure that ended the playback";
    EXPECT_EQ(SV_Terminate(), 0);
    auto has = [](int event) {
        const std::vector<Delivered> d = Taken();
        return std::any_of(d.begin(), d.end(),
                           [event](const Delivered& x) { return x.event == event; });
    };
    ns::RunLoop::Main().RunUntil([&] { return has(SViOsApiEvent_Terminated); },
                                 std::chrono::seconds(10));
    bool error = false;
    for (const Delivered& d : Taken()) {
        // Nothing played.
        EXPECT_NE(d.event, SViOsApiEvent_Playing);
        if (d.event != SViOsApiEvent_StoppingOnError) continue;
        error = true;
        const ns::Value* code = d.attributes.Find("SVErrorKey");
        const ns::Value* description = d.attributes.Find("SVDescriptionKey");
        ASSERT_TRUE(code != nullptr && description != nullptr);
        EXPECT_EQ(code->Int64Value(), 1031);
        const std::string* text = description->AsString();
        ASSERT_NE(text, nullptr);
        EXPECT_NE(text->find("127.0.0.1:" + std::to_string(port)), std::string::npos) << *text;
    }
    EXPECT_TRUE(error) << "no error event";
}

// A player screen closed while its start still waits for an origin that trickles the title
// stops that start from another thread: SV_Play returns at once with 408 instead of waiting out
// the preload's minute, the session is gone, no error of it reaches the application, and the
// next start begins at once.
TEST_F(SViOsApiTest, AStopFromAnotherThreadEndsAStartThatWaitsForASlowOrigin) {
    SvTestSupport::TestOrigin origin;
    origin.ServeFile("/slow.svm", SvTestSupport::Fixtures::ShortTitle());
    SvTestSupport::TestOrigin::Fault trickle;
    trickle.bytesPerSecond = 8;  // the title's head alone takes most of a minute
    origin.SetFault("/slow.svm", trickle);
    const uint16_t port = FreePort();
    ASSERT_NE(port, 0);
    SarvelonMediaKit::SetLoopbackPort(port);
    // A minute for the title's index: a start the stop did not reach holds the test that long.
    ASSERT_EQ(SV_Initialize(&Record, Settings({{"SVAssetRootKey", ns::Value("")},
                                               {"SVPreloadTimeoutKey", ns::Value(60000000)}})),
              0);
    std::atomic<int> played{-1};
    std::thread start([&] {
        std::string url;
        played = SV_Play(origin.Url("/slow.svm"), &url, 0);
    });
    ASSERT_TRUE(SvTestSupport::WaitUntil([&] { return origin.AnswersBegun("/slow.svm") > 0; }));
    EXPECT_EQ(-1, played.load()) << "the start did not wait for the origin";

    SV_Stop();  // answers with the stopped transformer's status, whichever it recorded first
    const bool ended = SvTestSupport::WaitUntil([&] { return played.load() != -1; }, 10000);
    start.join();
    ASSERT_TRUE(ended) << "the start waited on after its stop";
    EXPECT_EQ(SVStatusPreloadTimeout, played.load());
    EXPECT_EQ(SV_Stop(), 15) << "the stopped start left its session behind";
    EXPECT_EQ(0u, SarvelonMediaKit::SVMediaTransformerSession::RegisteredCount());

    // The bridge is free: a local title starts and serves its playlist.
    std::string url;
    ASSERT_EQ(SV_Play(SvTestSupport::Fixtures::ShortTitle(), &url, 0), 0);
    EXPECT_EQ(200, AwaitPlaylist(port, url).status);
    EXPECT_EQ(SV_Stop(), 0);
    DrainQueued();
    for (const Delivered& d : Taken()) {
        EXPECT_NE(d.event, SViOsApiEvent_StoppingOnError)
            << "an error of the stopped start: " << ns::Value(d.attributes).Description();
    }
}

}  // namespace
