// How the Transformer comes out of failures: a cache size the session cannot take, an error
// that stops the playback while the player's port is open, and an error recorded while a
// step of the worker runs.

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>

#include "SVLibrary/TypedValue/SVDictionary.h"
#include "SVLibrary/Types/SVStatus.h"
#include "engine/api/Transformer.h"
#include "engine/api/TransformerServingTestSupport.h"
#include "engine/api/TransformerTestSupport.h"
#include "engine/core/Session.h"
#include "tests/support/ErrorRecorder.h"
#include "tests/support/Fixtures.h"
#include "tests/support/TaskTestSupport.h"

namespace SarvelonMediaKit {
namespace {

using namespace test;
using SvTestSupport::ErrorRecorder;
using SvTestSupport::Fixtures;

using SvTestSupport::kNoPosition;
// Far below what the preload of the short title holds (its index and first GOPs).
const uint64_t kTinyCache = 65536;

SV::SVDictionary TinyCache() {
    SV::SVDictionary credentials;
    credentials.SetValue("CredentialsKey_CacheSize", SV::SVTypedValue(kTinyCache));
    return credentials;
}

// A task queued on the session runs, which it can only while the pump is not paused.
bool QueuedTaskRuns(Session& session) {
    auto done = std::make_shared<std::atomic<bool>>(false);
    session.AddTask(SvTestSupport::MakeTask("test probe", [done]() { *done = true; }));
    return WaitUntil([&]() { return done->load(); }, 5000);
}

TEST(TransformerRecovery, CacheBelowWhatThePreloadHoldsIsAnErrorNotAnException) {
    Transformer transformer(Fixtures::ShortTitle(), MediaFormatHls, OutputKindHls, "");
    ASSERT_EQ(SVStatusSuccess, transformer.GetStatus());
    const uint64_t preloadCapacity = transformer.GetSession()->GetCapacity().Get();
    ErrorRecorder recorder;
    static_cast<ErrorInfoSource&>(transformer).AddMonitor(&recorder);
    // Stored while the preload is pending, applied once it is done.
    EXPECT_EQ(SVStatusSuccess, transformer.SetCredentials(TinyCache()));

    SVStatus status = SVStatusSuccess;
    EXPECT_NO_THROW(status = transformer.PreLoad());
    EXPECT_EQ(SVStatusLibraryException, status);
    EXPECT_EQ(SVStatusLibraryException, transformer.GetStatus());
    ASSERT_EQ(1u, recorder.Errors().size());
    EXPECT_EQ(SVStatusLibraryException, recorder.Errors()[0].first);
    // The text says which size was refused and why.
    const std::string text = recorder.Errors()[0].second;
    EXPECT_NE(std::string::npos, text.find("65536")) << text;
    EXPECT_NE(std::string::npos, text.find("Invalid parameter")) << text;
    EXPECT_EQ(text, transformer.GetErrorText());
    // The session kept its size, and the error's stop completes.
    EXPECT_EQ(preloadCapacity, transformer.GetSession()->GetCapacity().Get());
    EXPECT_TRUE(transformer.GetSession()->WaitForStop(5000));
    EXPECT_EQ(SVStatusLibraryException, transformer.Stop());
}

TEST(TransformerRecovery, CacheBelowWhatTheSessionHoldsAfterThePreloadIsRefused) {
    Transformer transformer(Fixtures::ShortTitle(), MediaFormatHls, OutputKindHls, "");
    ASSERT_EQ(SVStatusSuccess, transformer.PreLoad());
    ASSERT_EQ(uint64_t(Transformer::kDefaultCacheSize),
              transformer.GetSession()->GetCapacity().Get());
    // The pump is not left paused by a successful preload either.
    EXPECT_TRUE(QueuedTaskRuns(*transformer.GetSession()));
    ErrorRecorder recorder;
    static_cast<ErrorInfoSource&>(transformer).AddMonitor(&recorder);

    // No preload pending: the size is applied at once, and refused.
    SVStatus status = SVStatusSuccess;
    EXPECT_NO_THROW(status = transformer.SetCredentials(TinyCache()));
    EXPECT_EQ(SVStatusLibraryException, status);
    ASSERT_EQ(1u, recorder.Errors().size());
    EXPECT_EQ(SVStatusLibraryException, recorder.Errors()[0].first);
    // What is reported in force is what the session has.
    EXPECT_EQ(uint32_t(Transformer::kDefaultCacheSize), transformer.GetCacheSize());
    EXPECT_EQ(uint64_t(Transformer::kDefaultCacheSize),
              transformer.GetSession()->GetCapacity().Get());
    EXPECT_TRUE(transformer.GetSession()->WaitForStop(5000));
}

TEST(TransformerRecovery, AWorkerWhosePreloadFailsPublishesTheErrorAndServesNothing) {
    const uint16_t port = UseFreeLoopbackPort();
    Transformer transformer(Fixtures::ShortTitle(), MediaFormatHls, OutputKindHls, "");
    ASSERT_EQ(SVStatusSuccess, transformer.GetStatus());
    ErrorRecorder recorder;
    static_cast<ErrorInfoSource&>(transformer).AddMonitor(&recorder);
    transformer.SetCredentials(TinyCache());
    // The preload is left to the worker.
    ASSERT_EQ(SVStatusSuccess, transformer.Transform(kNoPosition, TrickPlayRate(0), true));

    ASSERT_TRUE(WaitUntil([&]() { return !recorder.Errors().empty(); }));
    EXPECT_EQ(SVStatusLibraryException, recorder.Errors()[0].first);
    EXPECT_TRUE(WaitUntil([]() { return ThreadsNamed("TWorker") == 0; }));
    EXPECT_EQ(SVStatusLibraryException, transformer.GetStatus());
    EXPECT_TRUE(transformer.GetSession()->WaitForStop(5000));
    EXPECT_EQ(0, transformer.GetServingSessions().GetListeningPort());
    EXPECT_LT(Connect(port), 0) << "nothing listens behind the handed-out URL";
    EXPECT_EQ(SVStatusLibraryException, transformer.Stop());
}

TEST(TransformerRecovery, AnErrorWhileServingClosesThePortAndTheConnections) {
    const uint16_t port = UseFreeLoopbackPort();
    Transformer transformer(Fixtures::ShortTitle(), MediaFormatHls, OutputKindHls, "");
    ASSERT_EQ(SVStatusSuccess, transformer.Transform(kNoPosition, TrickPlayRate(0), true));
    ASSERT_TRUE(
        WaitUntil([&]() { return transformer.GetServingSessions().GetListeningPort() == port; }));
    ASSERT_EQ(200, HttpGet(port, "0.ts").status);
    const int player = Connect(port);
    ASSERT_GE(player, 0);
    ASSERT_TRUE(WaitUntil([&]() { return transformer.GetServingSessions().GetCount() >= 1; }));

    // A component of the chain fails: the playback is over, though nobody called Stop.
    transformer.SetError(SVStatusMediaTruncated, "Media was truncated");
    ASSERT_TRUE(WaitUntil([]() { return ThreadsNamed("TWorker") == 0; }));
    // New connections are refused at once and the port can be listened on again.
    EXPECT_LT(Connect(port), 0);
    EXPECT_EQ(0, transformer.GetServingSessions().GetListeningPort());
    const int again = BindLoopback(port, true);
    EXPECT_GE(again, 0);
    if (again >= 0) close(again);
    // The player that was connected is let go.
    EXPECT_TRUE(PeerCloses(player));
    close(player);
    EXPECT_EQ(0u, transformer.GetServingSessions().GetCount());
    EXPECT_EQ(SVStatusMediaTruncated, transformer.Stop());
}

TEST(TransformerRecovery, ARecordedErrorIsNotReplacedByTheSuccessOfALaterStep) {
    // A source without demultiplexer: the worker's first step only names the source, which
    // succeeds.
    Transformer transformer(Fixtures::ShortClip(), MediaFormatNone, OutputKindNone, "");
    ASSERT_EQ(SVStatusSuccess, transformer.GetStatus());
    ASSERT_EQ(SVStatusSuccess, transformer.NameSource());
    transformer.SetError(SVStatusDataStalled, "Data stopped arriving, will retry");
    EXPECT_EQ(SVStatusDataStalled, transformer.Transform(kNoPosition, TrickPlayRate(0), false));
    EXPECT_EQ(SVStatusDataStalled, transformer.GetStatus());
    EXPECT_EQ("Data stopped arriving, will retry", transformer.GetErrorText());

    // The same with a preload still pending.
    Transformer title(Fixtures::ShortTitle(), MediaFormatHls, OutputKindHls, "");
    title.SetError(SVStatusMediaTruncated, "Media was truncated");
    EXPECT_EQ(SVStatusMediaTruncated, title.Transform(kNoPosition, TrickPlayRate(0), false));
    EXPECT_EQ(SVStatusMediaTruncated, title.GetStatus());
}

}  // namespace
}  // namespace SarvelonMediaKit
