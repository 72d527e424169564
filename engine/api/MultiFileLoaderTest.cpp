// Loading multi-file titles for real: fixture titles in a folder with hand-written manifests,
// read from files and over the loopback origin, with every preload session stopped by the
// time Load returns.

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "SVLibrary/Types/SVStatus.h"
#include "engine/container/MediaTrack.h"
#include "engine/input/CurlHTTPClientInterface.h"
#include "engine/input/HTTPClientInterfaceFactory.h"
#include "engine/input/SmilManifestReader.h"
#include "engine/api/MultiFileLoader.h"
#include "engine/api/MultiFileLoaderTestSupport.h"
#include "tests/support/NginxOrigin.h"
#include "tests/support/TestOrigin.h"
#include "tests/support/ThreadTestSupport.h"
#include "tests/support/TestLabels.h"
#include "tests/support/BackgroundCall.h"

namespace SarvelonMediaKit {
namespace test {
namespace {

using SvTestSupport::ThreadsNamed;

const MediaTime kTimeout(10 * 1000 * 1000);  // 10 s: never reached by a passing test
const ByteAmount kCapacity(8 * 1024 * 1024);

int SessionThreads() { return ThreadsNamed("Pump") + ThreadsNamed("SocketMaster"); }

std::string AudioId(const MediaTrack& track) {
    return track.GetInfo().GetStringOrDefault(TrackInfoKey_AudioIdentifier, "");
}

class MultiFileLoaderLoad : public ::testing::Test {
protected:
    void SetUp() override { SetHTTPClientInterfaceFactory(&CreateCurlHTTPClientInterface); }
    void TearDown() override { SetHTTPClientInterfaceFactory(nullptr); }

    // The three titles and an English subtitle track.
    std::string AllTracks(const std::string& videoHash) const {
        return "<video src=\"v.svm\" hash=\"" + videoHash +
               "\"/>\n"
               "<audio src=\"en.svm\" systemLanguage=\"en\"/>\n"
               "<audio src=\"audio/fr.svm\" systemLanguage=\"fr\"/>\n"
               "<textstream src=\"subs/en.ttml\" systemLanguage=\"en\"/>";
    }

    // Loads and checks the tracks of AllTracks; sources are prefix + the file's name.
    void ExpectAllTracks(const std::string& location, const std::string& prefix) {
        const int threadsBefore = SessionThreads();
        MultiFileLoader loader(location, kCapacity);
        ASSERT_EQ(SVStatusSuccess, loader.Load(kTimeout)) << loader.GetErrorText();
        // Every preload session has stopped and gone.
        EXPECT_TRUE(SvTestSupport::WaitUntil([&] { return SessionThreads() == threadsBefore; }))
            << SessionThreads() << " session threads, " << threadsBefore << " before";
        MultiFileLoader::TrackMap tracks;
        loader.GetMediaTracks(tracks);
        ASSERT_EQ(4u, tracks.size());
        uint32_t id = 1;
        for (const auto& entry : tracks) {
            EXPECT_EQ(id, entry.first.Get());
            EXPECT_EQ(id, entry.second->GetInfo().GetUnsignedIntOrDefault(TrackInfoKey_Id, 0));
            ++id;
        }
        const MediaTrack& video = *tracks[TrackId(1)];
        const MediaTrack& english = *tracks[TrackId(2)];
        const MediaTrack& french = *tracks[TrackId(3)];
        const MediaTrack& text = *tracks[TrackId(4)];
        EXPECT_TRUE(video.HasVideo());
        EXPECT_EQ(320u, video.GetInfo().GetUnsignedIntOrDefault(TrackInfoKey_VideoWidth, 0));
        EXPECT_EQ(prefix + "v.svm", video.GetSource());
        EXPECT_EQ("", AudioId(video));
        EXPECT_TRUE(english.HasAudio() && !english.HasVideo());
        EXPECT_EQ(prefix + "en.svm", english.GetSource());
        EXPECT_EQ("en", AudioId(english));  // the manifest's, not the title's own "eng"
        EXPECT_TRUE(french.HasAudio() && !french.HasVideo());
        EXPECT_EQ(prefix + "audio/fr.svm", french.GetSource());
        EXPECT_EQ("fr", AudioId(french));
        EXPECT_TRUE(text.HasText());
        EXPECT_EQ(prefix + "subs/en.ttml", text.GetSource());
        EXPECT_EQ("en", text.GetInfo().GetStringOrDefault(TrackInfoKey_SubtitleIdentifier, ""));
        EXPECT_EQ(1u, text.GetInfo().GetUnsignedIntOrDefault(TrackInfoKey_SubtitleFormat, 0));
        // Nothing shifted: every begin is 0.
        for (const auto& entry : tracks) EXPECT_FLOAT_EQ(0.0f, entry.second->GetTimingOffset());
    }

    ManifestFolder folder_;
};

TEST_F(MultiFileLoaderLoad, AManifestGivenAsAPathOrAFileUrl) {
    const std::string manifest =
        folder_.Manifest("m.smil", AllTracks(IndexDigestHex(folder_.File("v.svm"))));
    ExpectAllTracks(manifest, folder_.Path() + "/");
    ExpectAllTracks("file://" + manifest, folder_.Path() + "/");
}

TEST_F(MultiFileLoaderLoad, EscapedSourcesNameTheFilesTheyDecodeTo) {
    // Files whose names hold a space and a '+'; "c%20d.svm" names "c d.svm", and a literal
    // space works as well. Encoded once more, the escapes would name files that do not exist.
    for (const char* name : {"c d.svm", "audio/b+c.svm"}) {
        ASSERT_EQ(0, symlink(folder_.File("v.svm").c_str(), folder_.File(name).c_str())) << name;
    }
    const std::string manifest =
        folder_.Manifest("escaped.smil",
                         "<video src=\"c%20d.svm\"/><audio src=\"audio/b%2Bc.svm\"/>"
                         "<audio src=\"c d.svm\"/><audio src=\"file://" +
                             folder_.Path() + "/audio/b%2bc.svm\"/>");
    MultiFileLoader loader(manifest, kCapacity);
    ASSERT_EQ(SVStatusSuccess, loader.Load(kTimeout)) << loader.GetErrorText();
    MultiFileLoader::TrackMap tracks;
    loader.GetMediaTracks(tracks);
    ASSERT_EQ(4u, tracks.size());
    const std::string sources[] = {"c d.svm", "audio/b+c.svm", "c d.svm", "audio/b+c.svm"};
    for (uint32_t id = 1; id <= 4; ++id) {
        EXPECT_EQ(folder_.Path() + "/" + sources[id - 1], tracks[TrackId(id)]->GetSource());
        EXPECT_TRUE(tracks[TrackId(id)]->HasVideo());
    }
}

TEST_F(MultiFileLoaderLoad, AHashThatDiffersInOneDigitFailsTheLoad) {
    const std::string good = IndexDigestHex(folder_.File("en.svm"));
    std::string oneDigit = good;
    oneDigit[17] = oneDigit[17] == '0' ? '1' : '0';
    const std::string cases[] = {oneDigit, good.substr(0, 62), good + "00", "not hex",
                                 std::string(64, 'g')};
    for (const std::string& hash : cases) {
        SCOPED_TRACE(hash);
        const std::string manifest = folder_.Manifest(
            "h.smil", "<video src=\"v.svm\"/><audio src=\"en.svm\" hash=\"" + hash + "\"/>");
        MultiFileLoader loader(manifest, kCapacity);
        EXPECT_EQ(SVStatusDigestMismatch, loader.Load(kTimeout));
    }
    // The right digest, in capitals: passes.
    std::string upper = good;
    for (char& c : upper) c = static_cast<char>(toupper(c));
    const std::string manifest = folder_.Manifest(
        "h.smil", "<video src=\"v.svm\"/><audio src=\"en.svm\" hash=\"" + upper + "\"/>");
    MultiFileLoader loader(manifest, kCapacity);
    EXPECT_EQ(SVStatusSuccess, loader.Load(kTimeout)) << loader.GetErrorText();
}

TEST_F(MultiFileLoaderLoad, BeginOffsetsStartTheEarliestTrackAtZero) {
    const std::string manifest =
        folder_.Manifest("b.smil",
                         "<video src=\"v.svm\" begin=\"-2s\"/>"
                         "<audio src=\"en.svm\" systemLanguage=\"en\" begin=\"3s\"/>"
                         "<textstream src=\"en.ttml\" systemLanguage=\"en\" begin=\"1\"/>");
    MultiFileLoader loader(manifest, kCapacity);
    ASSERT_EQ(SVStatusSuccess, loader.Load(kTimeout)) << loader.GetErrorText();
    MultiFileLoader::TrackMap tracks;
    loader.GetMediaTracks(tracks);
    ASSERT_EQ(3u, tracks.size());
    EXPECT_FLOAT_EQ(0.0f, tracks[TrackId(1)]->GetTimingOffset());
    EXPECT_FLOAT_EQ(5.0f, tracks[TrackId(2)]->GetTimingOffset());
    EXPECT_FLOAT_EQ(3.0f, tracks[TrackId(3)]->GetTimingOffset());  // shifted by 2 as well
}

TEST_F(MultiFileLoaderLoad, TracksAreNumberedAfterTheCallersTracks) {
    const std::string manifest =
        folder_.Manifest("n.smil",
                         "<video src=\"v.svm\"/>"
                         "<textstream src=\"en.ttml\" systemLanguage=\"en\"/>"
                         "<textstream src=\"fr.ttml\" systemLanguage=\"fr\" begin=\"-3\"/>");
    MultiFileLoader loader(manifest, kCapacity);
    ASSERT_EQ(SVStatusSuccess, loader.Load(kTimeout)) << loader.GetErrorText();
    MultiFileLoader::TrackMap tracks;
    tracks[TrackId(1)] = boost::shared_ptr<MediaTrack>(new MediaTrack);
    loader.GetMediaTracks(tracks);
    ASSERT_EQ(4u, tracks.size());
    // The caller's track 1 stays; the video file's one track, then the text streams follow.
    EXPECT_TRUE(tracks[TrackId(2)]->HasVideo());
    EXPECT_EQ(2u, tracks[TrackId(2)]->GetInfo().GetUnsignedIntOrDefault(TrackInfoKey_Id, 0));
    EXPECT_EQ(folder_.Path() + "/en.ttml", tracks[TrackId(3)]->GetSource());
    EXPECT_EQ(3u, tracks[TrackId(3)]->GetInfo().GetUnsignedIntOrDefault(TrackInfoKey_Id, 0));
    EXPECT_EQ(folder_.Path() + "/fr.ttml", tracks[TrackId(4)]->GetSource());
    // A text track's negative offset alone shifts nothing: only audio and video count.
    EXPECT_FLOAT_EQ(0.0f, tracks[TrackId(2)]->GetTimingOffset());
    EXPECT_FLOAT_EQ(-3.0f, tracks[TrackId(4)]->GetTimingOffset());
}

TEST_F(MultiFileLoaderLoad, ManifestsThatCannotBeLoaded) {
    struct Case {
        std::string location;
        SVStatus status;
        std::string text;
    };
    const std::string noSrc = folder_.Manifest("nosrc.smil", "<video src=\"v.svm\"/><audio/>");
    const std::string badBegin =
        folder_.Manifest("begin.smil", "<video src=\"v.svm\" begin=\"soon\"/>");
    const std::string missingFile = folder_.Manifest("missing.smil", "<video src=\"none.svm\"/>");
    WriteText(folder_.File("empty.smil"), "");
    const Case cases[] = {
        {noSrc, SVStatusManifest, "Missing src attribute"},
        {badBegin, SVStatusManifest, "SMIL \"begin\" attribute must be in seconds (x.ys)"},
        {folder_.File("absent.smil"), SVStatusManifest, ""},
        {folder_.File("empty.smil"), SVStatusManifest, ""},
        {folder_.Path(), SVStatusManifest, ""},  // a folder reads as nothing
        {missingFile, SVStatusFileInput, ""},
    };
    const int threadsBefore = SessionThreads();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.location);
        MultiFileLoader loader(c.location, kCapacity);
        EXPECT_EQ(c.status, loader.Load(kTimeout));
        EXPECT_EQ(c.status, loader.GetStatus());
        if (!c.text.empty()) {
            EXPECT_EQ(c.text, loader.GetErrorText());
        }
    }
    EXPECT_TRUE(SvTestSupport::WaitUntil([&] { return SessionThreads() == threadsBefore; }));
}

TEST_F(MultiFileLoaderLoad, AManifestPastTheCapIsRefusedWhereverItComesFrom) {
    // Well-formed, with a loadable video element, but one byte past the cap.
    const std::string head = "<smil><video src=\"v.svm\"/>";
    const std::string tail = "</smil>";
    const std::string text =
        head +
        std::string(SmilManifestReader::kMaxManifestBytes + 1 - head.size() - tail.size(), ' ') +
        tail;
    ASSERT_EQ(SmilManifestReader::kMaxManifestBytes + 1, text.size());
    WriteText(folder_.File("big.smil"), text);
    MultiFileLoader file(folder_.File("big.smil"), kCapacity);
    EXPECT_EQ(SVStatusManifest, file.Load(kTimeout));
    EXPECT_NE(std::string::npos, file.GetErrorText().find("larger than 4194304 bytes"))
        << file.GetErrorText();

    SvTestSupport::TestOrigin origin;
    origin.Serve("/big.smil", text);
    MultiFileLoader http(origin.Url("/big.smil"), kCapacity);
    EXPECT_EQ(SVStatusManifest, http.Load(kTimeout));
    EXPECT_NE(std::string::npos, http.GetErrorText().find("larger than 4194304 bytes"))
        << http.GetErrorText();

    // At the cap exactly, the same document loads.
    WriteText(folder_.File("fits.smil"), head + text.substr(head.size() + 1));
    MultiFileLoader fits(folder_.File("fits.smil"), kCapacity);
    EXPECT_EQ(SVStatusSuccess, fits.Load(kTimeout)) << fits.GetErrorText();
}

TEST_F(MultiFileLoaderLoad, AManifestWithoutMediaWaitsOutTheTimeout) {
    const std::string manifest =
        folder_.Manifest("text.smil", "<textstream src=\"en.ttml\" systemLanguage=\"en\"/>");
    MultiFileLoader loader(manifest, kCapacity);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(SVStatusPreloadTimeout, loader.Load(MediaTime(300 * 1000)));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(300));
}

TEST_F(MultiFileLoaderLoad, ConcurrentErrorsLeaveOneConsistentStatus) {
    // Errors reported by several preload chains at once: the status and its text stay a pair,
    // the first one stands, and the wait is over.
    MultiFileLoader loader("/m.smil", kCapacity);
    std::vector<std::thread> threads;
    for (int i = 0; i < 8; ++i) {
        threads.emplace_back([&loader, i] {
            for (int n = 0; n < 200; ++n) {
                loader.SetError(1100 + i, "error " + std::to_string(1100 + i));
                (void)loader.GetStatus();
                (void)loader.GetErrorText();
            }
        });
    }
    for (std::thread& t : threads) t.join();
    const SVStatus status = loader.GetStatus();
    EXPECT_GE(status, 1100);
    EXPECT_LT(status, 1108);
    EXPECT_EQ("error " + std::to_string(status), loader.GetErrorText());
    loader.SetError(1200, "later");
    EXPECT_EQ(status, loader.GetStatus());
}

// ---- Over HTTP ------------------------------------------------------------------------------

class MultiFileLoaderOrigin : public MultiFileLoaderLoad {
protected:
    void ServeFolder(const std::string& base) {
        for (const char* name : {"v.svm", "en.svm", "audio/fr.svm"}) {
            origin_.ServeFile(base + name, folder_.File(name));
        }
    }
    SvTestSupport::TestOrigin origin_;
};

TEST_F(MultiFileLoaderOrigin, SourcesResolveAgainstTheManifestsUrl) {
    ServeFolder("/t/");
    origin_.Serve("/t/m.smil", ReadText(folder_.Manifest(
                                   "m.smil", AllTracks(IndexDigestHex(folder_.File("v.svm"))))));
    ExpectAllTracks(origin_.Url("/t/m.smil?session=1"), origin_.Url("/t/"));
    bool frenchFetched = false;
    for (const auto& request : origin_.Requests()) {
        frenchFetched = frenchFetched || request.target == "/t/audio/fr.svm";
    }
    EXPECT_TRUE(frenchFetched) << "the '/' of audio/fr.svm did not reach the origin as a '/'";
}

TEST_F(MultiFileLoaderOrigin, EscapedSourcesAndQueriesReachTheOriginAsWritten) {
    // The origin serves by the path as sent: "c%20d.svm" is found only when its escape is
    // sent as it stands, and the query's "%2B" must not become "%252B".
    origin_.ServeFile("/t/c%20d.svm", folder_.File("v.svm"));
    origin_.ServeFile("/t/a/b%2Bc.svm", folder_.File("en.svm"));
    origin_.ServeFile("/t/q.svm", folder_.File("audio/fr.svm"));
    origin_.ServeFile("/t/x%20y%7B1%7D.svm", folder_.File("en.svm"));
    origin_.Serve("/t/m.smil",
                  "<smil><video src=\"c%20d.svm\"/><audio src=\"a/b%2Bc.svm\"/>"
                  "<audio src=\"q.svm?token=a%2Bb\"/><audio src=\"x y{1}.svm\"/></smil>");
    MultiFileLoader loader(origin_.Url("/t/m.smil"), kCapacity);
    ASSERT_EQ(SVStatusSuccess, loader.Load(kTimeout)) << loader.GetErrorText();
    MultiFileLoader::TrackMap tracks;
    loader.GetMediaTracks(tracks);
    ASSERT_EQ(4u, tracks.size());
    EXPECT_EQ(origin_.Url("/t/c%20d.svm"), tracks[TrackId(1)]->GetSource());
    EXPECT_EQ(origin_.Url("/t/a/b%2Bc.svm"), tracks[TrackId(2)]->GetSource());
    EXPECT_EQ(origin_.Url("/t/q.svm?token=a%2Bb"), tracks[TrackId(3)]->GetSource());
    EXPECT_EQ(origin_.Url("/t/x%20y%7B1%7D.svm"), tracks[TrackId(4)]->GetSource());
    bool queryKept = false;
    for (const auto& request : origin_.Requests()) {
        queryKept = queryKept || request.target == "/t/q.svm?token=a%2Bb";
        EXPECT_EQ(std::string::npos, request.target.find("%25")) << request.target;
    }
    EXPECT_TRUE(queryKept);
}

TEST_F(MultiFileLoaderOrigin, AManifestThatIsMissingOrNeverAnswers) {
    SvTestSupport::TestOrigin::Fault missing;
    missing.status = 404;
    origin_.SetFault("/gone.smil", missing);
    MultiFileLoader gone(origin_.Url("/gone.smil"), kCapacity);
    EXPECT_EQ(404, gone.Load(kTimeout));
    EXPECT_FALSE(gone.GetErrorText().empty());

    SvTestSupport::TestOrigin::Fault silent;
    silent.headDelayMs = 60000;
    origin_.Serve("/silent.smil", "<smil/>");
    origin_.SetFault("/silent.smil", silent);
    MultiFileLoader never(origin_.Url("/silent.smil"), kCapacity);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(SVStatusPreloadTimeout, never.Load(MediaTime(500 * 1000)));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));

    // Without a transport to fetch it with, the load fails instead of throwing at its owner.
    SetHTTPClientInterfaceFactory(nullptr);
    MultiFileLoader unfetchable(origin_.Url("/silent.smil"), kCapacity);
    EXPECT_EQ(SVStatusLibraryException, unfetchable.Load(kTimeout));
    SetHTTPClientInterfaceFactory(&CreateCurlHTTPClientInterface);

    origin_.Serve("/empty.smil", "");
    MultiFileLoader empty(origin_.Url("/empty.smil"), kCapacity);
    EXPECT_EQ(SVStatusManifest, empty.Load(kTimeout));
}

TEST_F(MultiFileLoaderOrigin, ASecondFileThatIsMissingEndsTheLoadAtOnce) {
    ServeFolder("/");
    SvTestSupport::TestOrigin::Fault missing;
    missing.status = 404;
    origin_.SetFault("/en.svm", missing);
    origin_.Serve("/m.smil",
                  "<smil><video src=\"v.svm\"/><audio src=\"en.svm\"/>"
                  "<audio src=\"audio/fr.svm\"/></smil>");
    const int threadsBefore = SessionThreads();
    const MediaTime timeout(20 * 1000 * 1000);
    const auto start = std::chrono::steady_clock::now();
    {
        MultiFileLoader loader(origin_.Url("/m.smil"), kCapacity);
        EXPECT_EQ(404, loader.Load(timeout));
        // Well before the 20 s time-out.
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
        // Every preload session stopped before Load returned.
        EXPECT_TRUE(SvTestSupport::WaitUntil([&] { return SessionThreads() == threadsBefore; }))
            << SessionThreads() << " session threads, " << threadsBefore << " before";
    }
}

// ---- Abort ----------------------------------------------------------------------------------

// Runs Load on a thread of its own, so the test can abort it from another.
class BackgroundLoad : public SvTestSupport::BackgroundCall {
public:
    BackgroundLoad(MultiFileLoader& loader, MediaTime timeout)
        : BackgroundCall([&loader, timeout] { return loader.Load(timeout); }) {}
};

class MultiFileLoaderAbort : public MultiFileLoaderOrigin {
protected:
    // 20 s: only an abort ends these loads before the test's bounded waits give up.
    const MediaTime kStalled{20 * 1000 * 1000};

    bool Requested(const std::string& path) const {
        for (const auto& request : origin_.Requests()) {
            if (request.path == path) return true;
        }
        return false;
    }

    // Aborts a load that stalls at `stalledPath` once the origin has been asked for it; the
    // load returns 408 at once and leaves no session running.
    void ExpectAbortEnds(const std::string& manifestPath, const std::string& stalledPath) {
        const int threadsBefore = SessionThreads();
        MultiFileLoader loader(origin_.Url(manifestPath), kCapacity);
        BackgroundLoad load(loader, kStalled);
        ASSERT_TRUE(SvTestSupport::WaitUntil([&] { return Requested(stalledPath); }));
        EXPECT_FALSE(load.Done());
        std::thread aborter([&] { loader.Abort(); });
        aborter.join();
        // A few seconds at most; without the abort Load waits out its 20 s.
        EXPECT_TRUE(SvTestSupport::WaitUntil([&] { return load.Done(); }, 5000));
        EXPECT_EQ(SVStatusPreloadTimeout, load.Join());
        EXPECT_EQ("Load aborted", loader.GetErrorText());
        EXPECT_TRUE(SvTestSupport::WaitUntil([&] { return SessionThreads() == threadsBefore; }))
            << SessionThreads() << " session threads, " << threadsBefore << " before";
    }
};

TEST_F(MultiFileLoaderAbort, AnAbortEndsTheDownloadOfAManifestThatNeverAnswers) {
    SvTestSupport::TestOrigin::Fault silent;
    silent.headDelayMs = 60000;
    origin_.Serve("/silent.smil", "<smil/>");
    origin_.SetFault("/silent.smil", silent);
    ExpectAbortEnds("/silent.smil", "/silent.smil");
}

TEST_F(MultiFileLoaderAbort, AnAbortEndsThePreloadOfAFileThatStalls) {
    ServeFolder("/");
    SvTestSupport::TestOrigin::Fault stall;
    stall.stallAfter = 0;  // the head, then not one byte of the body
    stall.stallMs = 60000;
    origin_.SetFault("/en.svm", stall);
    origin_.Serve("/m.smil", "<smil><video src=\"v.svm\"/><audio src=\"en.svm\"/></smil>");
    ExpectAbortEnds("/m.smil", "/en.svm");
}

TEST_F(MultiFileLoaderAbort, AnAbortBeforeTheLoadFetchesNothing) {
    origin_.Serve("/m.smil", "<smil/>");
    MultiFileLoader loader(origin_.Url("/m.smil"), kCapacity);
    loader.Abort();
    EXPECT_EQ(SVStatusPreloadTimeout, loader.Load(kStalled));
    EXPECT_TRUE(origin_.Requests().empty());
    // The first outcome stands: a later abort does not replace a failure.
    MultiFileLoader failed("/nowhere/m.smil", kCapacity);
    EXPECT_EQ(SVStatusManifest, failed.Load(kTimeout));
    failed.Abort();
    EXPECT_EQ(SVStatusManifest, failed.GetStatus());
}

// A stop that comes after the load has returned (before its owner let the loader go) leaves
// the success it returned: the tracks it handed out are whole.
TEST_F(MultiFileLoaderAbort, AnAbortAfterASuccessfulLoadKeepsTheSuccess) {
    ServeFolder("/");
    origin_.Serve("/m.smil", "<smil><video src=\"v.svm\"/><audio src=\"en.svm\"/></smil>");
    MultiFileLoader loader(origin_.Url("/m.smil"), kCapacity);
    ASSERT_EQ(SVStatusSuccess, loader.Load(kTimeout)) << loader.GetErrorText();
    loader.Abort();
    EXPECT_EQ(SVStatusSuccess, loader.GetStatus());
    EXPECT_EQ("", loader.GetErrorText());
}

// ---- Over a real web server -----------------------------------------------------------------

class MultiFileLoaderNginx : public MultiFileLoaderLoad {};

SV_SUITE_LABEL(MultiFileLoaderNginx, e2e);  // checked with outside clients
TEST_F(MultiFileLoaderNginx, AManifestAndItsFilesServedByNginx) {
    // scripts/deps installs nginx: without it this check has not run, which is a failure.
    ASSERT_TRUE(SvTestSupport::NginxOrigin::Installed()) << "run scripts/deps to install nginx";
    folder_.Manifest("m.smil", AllTracks(IndexDigestHex(folder_.File("v.svm"))));
    SvTestSupport::NginxOrigin nginx(folder_.Path());
    std::string reason;
    ASSERT_TRUE(nginx.Start(&reason)) << reason;
    ExpectAllTracks(nginx.Url("/m.smil"), nginx.Url("/"));
    // A file the server does not have ends the load with the server's status.
    folder_.Manifest("gone.smil", "<video src=\"v.svm\"/><audio src=\"none.svm\"/>");
    MultiFileLoader loader(nginx.Url("/gone.smil"), kCapacity);
    EXPECT_EQ(404, loader.Load(kTimeout));
}

}  // namespace
}  // namespace test
}  // namespace SarvelonMediaKit
