// The manifest downloader over the fake transport (deliveries when the test says) and over the
// real transport against the loopback origin (an error body, a server that never answers).

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "SVLibrary/Types/SVStatus.h"
#include "engine/input/CurlHTTPClientInterface.h"
#include "engine/input/HTTPClientInterfaceFactory.h"
#include "engine/input/ManifestDownloader.h"
#include "tests/support/FakeHTTPTransport.h"
#include "tests/support/TestOrigin.h"
#include "tests/support/ThreadTestSupport.h"
#include "tests/support/BackgroundCall.h"

namespace SarvelonMediaKit {
namespace {

using SvTestSupport::FakeHTTPTransport;
using SvTestSupport::FakeHTTPTransports;

const MediaTime kLong(10 * 1000 * 1000);  // 10 s: never reached by a passing test
const MediaTime kShort(200 * 1000);       // 0.2 s

std::vector<uint8_t> Bytes(const std::string& text) {
    return std::vector<uint8_t>(text.begin(), text.end());
}

// Runs Download on a thread of its own, so the test can play the download thread meanwhile;
// it returns once the download's transport has been asked to start.
class BackgroundDownload : public SvTestSupport::BackgroundCall {
public:
    BackgroundDownload(ManifestDownloader& downloader, FakeHTTPTransports& transports,
                       const std::string& url, MediaTime timeout)
        : BackgroundCall(
              [&downloader, url, timeout] { return downloader.Download(url, timeout); }) {
        EXPECT_TRUE(SvTestSupport::WaitUntil(
            [&] { return transports.Count() == 1 && !transports.Last()->Starts().empty(); }));
    }
};

TEST(ManifestDownloader, AsksForTheWholeResourceWithAGet) {
    FakeHTTPTransports transports;
    ManifestDownloader downloader;
    BackgroundDownload download(downloader, transports, "http://origin/m.smil", kLong);
    boost::shared_ptr<FakeHTTPTransport> transport = transports.Last();
    EXPECT_EQ("http://origin/m.smil", transport->Url());
    EXPECT_FALSE(transport->HasOwner());
    EXPECT_FALSE(transport->Post());
    EXPECT_TRUE(transport->HasDataHandler());
    // Start 0, end 0: the whole resource without a Range header.
    EXPECT_EQ((std::vector<std::pair<uint64_t, uint64_t>>{{0, 0}}), transport->Starts());
    transport->Finish(false);
    EXPECT_EQ(SVStatusSuccess, download.Join());
}

TEST(ManifestDownloader, AnEmptyBodyAndABodyInSeveralBlocks) {
    {
        FakeHTTPTransports transports;
        ManifestDownloader downloader;
        BackgroundDownload download(downloader, transports, "http://origin/empty", kLong);
        transports.Last()->Finish(false);
        EXPECT_EQ(SVStatusSuccess, download.Join());
        EXPECT_EQ("", downloader.GetData());
        EXPECT_EQ("", downloader.GetErrorText());
    }
    FakeHTTPTransports transports;
    ManifestDownloader downloader;
    BackgroundDownload download(downloader, transports, "http://origin/m.smil", kLong);
    boost::shared_ptr<FakeHTTPTransport> transport = transports.Last();
    EXPECT_TRUE(transport->Deliver(Bytes("<smil>")));
    EXPECT_TRUE(transport->Deliver(Bytes("<video src=\"a\"/>")));
    EXPECT_TRUE(transport->Deliver(Bytes("</smil>")));
    EXPECT_FALSE(download.Done()) << "returned before the transfer ended";
    transport->Finish(false);
    EXPECT_EQ(SVStatusSuccess, download.Join());
    EXPECT_EQ("<smil><video src=\"a\"/></smil>", downloader.GetData());
}

TEST(ManifestDownloader, AnErrorThenDoneKeepsTheError) {
    FakeHTTPTransports transports;
    ManifestDownloader downloader;
    BackgroundDownload download(downloader, transports, "http://origin/gone", kLong);
    boost::shared_ptr<FakeHTTPTransport> transport = transports.Last();
    transport->ReportError(404, "Not Found");
    transport->Finish(true);
    EXPECT_EQ(404, download.Join());
    EXPECT_EQ(404, downloader.GetStatus());
    EXPECT_EQ("Not Found", downloader.GetErrorText());
}

TEST(ManifestDownloader, ABodyPastTheCapIsRefusedAndNotKept) {
    FakeHTTPTransports transports;
    ManifestDownloader downloader(10);
    BackgroundDownload download(downloader, transports, "http://origin/big", kLong);
    boost::shared_ptr<FakeHTTPTransport> transport = transports.Last();
    EXPECT_TRUE(transport->Deliver(Bytes("0123456789")));  // exactly the cap: taken
    EXPECT_FALSE(transport->Deliver(Bytes("x")));          // one past: refused
    // The refusal ends the wait by itself, without the transfer's end.
    EXPECT_EQ(SVStatusManifest, download.Join());
    EXPECT_EQ("", downloader.GetData());
    EXPECT_EQ("Manifest larger than 10 bytes", downloader.GetErrorText());
    // What the transport says after the refusal does not replace it.
    transport->ReportError(1010, "Stream error");
    EXPECT_EQ(SVStatusManifest, downloader.GetStatus());
}

TEST(ManifestDownloader, NoAnswerTimesOutAndTheDestructorWaitsForTheTransport) {
    FakeHTTPTransports transports;
    std::unique_ptr<ManifestDownloader> downloader(new ManifestDownloader);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(SVStatusPreloadTimeout, downloader->Download("http://origin/silent", kShort));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(200));
    boost::shared_ptr<FakeHTTPTransport> transport = transports.Last();
    // An error after the time-out changes nothing the owner was told.
    transport->ReportError(1010, "late");
    EXPECT_EQ(SVStatusPreloadTimeout, downloader->GetStatus());

    // A delivery is running on the download thread while the owner lets go: the destructor
    // must wait for it to end before the downloader goes.
    transport->BusyStart();
    std::atomic<bool> destroyed(false);
    std::atomic<pid_t> ownerId(0);
    std::thread owner([&] {
        ownerId = SvTestSupport::ThisThreadId();
        downloader.reset();
        destroyed = true;
    });
    EXPECT_TRUE(SvTestSupport::WaitUntil([&] { return transport->CloseCount() >= 1; }));
    // The transfer was aborted before it was closed.
    EXPECT_GE(transport->AbortCount(), 1);
    // After the close the destructor is found asleep, waiting for the transport to let go of
    // its handlers; one that did not wait returns without sleeping.
    EXPECT_TRUE(
        SvTestSupport::WaitUntil([&] { return destroyed || SvTestSupport::IsAsleep(ownerId); }));
    EXPECT_FALSE(destroyed) << "gone while the transport still held its handlers";
    transport->BusyDone();
    owner.join();
    EXPECT_TRUE(destroyed);
    EXPECT_TRUE(transport->IsClosed());
    EXPECT_FALSE(transport->HasDataHandler());
    // A delivery now reaches nobody.
    EXPECT_TRUE(transport->Deliver(Bytes("late bytes")));
}

TEST(ManifestDownloader, AnAbortEndsADownloadUnderWayOrNotYetBegun) {
    const MediaTime kVeryLong(20 * 1000 * 1000);  // 20 s: only an abort ends these waits
    {
        FakeHTTPTransports transports;
        ManifestDownloader downloader;
        BackgroundDownload download(downloader, transports, "http://origin/m.smil", kVeryLong);
        boost::shared_ptr<FakeHTTPTransport> transport = transports.Last();
        EXPECT_TRUE(transport->Deliver(Bytes("<smil>")));
        EXPECT_FALSE(download.Done());
        downloader.Abort();
        // Bounded well below the time-out: without the abort the download runs on for 20 s.
        EXPECT_TRUE(SvTestSupport::WaitUntil([&] { return download.Done(); }, 5000));
        EXPECT_EQ(SVStatusPreloadTimeout, download.Join());
        EXPECT_EQ("Download aborted", downloader.GetErrorText());
        // The end of the transfer after the abort changes nothing the owner was told.
        transport->Finish(false);
        EXPECT_EQ(SVStatusPreloadTimeout, downloader.GetStatus());
    }
    {
        // Aborted before it began: no transfer is started at all.
        FakeHTTPTransports transports;
        ManifestDownloader downloader;
        downloader.Abort();
        EXPECT_EQ(SVStatusPreloadTimeout, downloader.Download("http://origin/m.smil", kVeryLong));
        EXPECT_EQ(0u, transports.Count());
    }
    {
        // An abort after the download has ended keeps its result.
        FakeHTTPTransports transports;
        ManifestDownloader downloader;
        BackgroundDownload download(downloader, transports, "http://origin/m.smil", kVeryLong);
        EXPECT_TRUE(transports.Last()->Deliver(Bytes("<smil/>")));
        transports.Last()->Finish(false);
        EXPECT_EQ(SVStatusSuccess, download.Join());
        downloader.Abort();
        EXPECT_EQ(SVStatusSuccess, downloader.GetStatus());
        EXPECT_EQ("<smil/>", downloader.GetData());
    }
}

TEST(ManifestDownloader, WithoutAFactoryTheDownloadThrows) {
    SetHTTPClientInterfaceFactory(nullptr);
    ManifestDownloader downloader;
    EXPECT_ANY_THROW(downloader.Download("http://origin/m.smil", kShort));
}

// ---- Over the real transport ------------------------------------------------------------

class ManifestDownloaderOrigin : public ::testing::Test {
protected:
    void SetUp() override { SetHTTPClientInterfaceFactory(&CreateCurlHTTPClientInterface); }
    void TearDown() override { SetHTTPClientInterfaceFactory(nullptr); }
    SvTestSupport::TestOrigin origin_;
};

TEST_F(ManifestDownloaderOrigin, ABodyAndAnErrorStatus) {
    origin_.Serve("/m.smil", "<smil/>");
    SvTestSupport::TestOrigin::Fault missing;
    missing.status = 404;
    origin_.SetFault("/gone.smil", missing);
    {
        ManifestDownloader downloader;
        EXPECT_EQ(SVStatusSuccess, downloader.Download(origin_.Url("/m.smil"), kLong));
        EXPECT_EQ("<smil/>", downloader.GetData());
    }
    ManifestDownloader downloader;
    EXPECT_EQ(404, downloader.Download(origin_.Url("/gone.smil"), kLong));
    EXPECT_FALSE(downloader.GetErrorText().empty());
}

TEST_F(ManifestDownloaderOrigin, AServerThatNeverAnswersTimesOutAndIsLetGo) {
    SvTestSupport::TestOrigin::Fault silent;
    silent.headDelayMs = 60000;
    origin_.Serve("/slow.smil", "<smil/>");
    origin_.SetFault("/slow.smil", silent);
    const auto start = std::chrono::steady_clock::now();
    {
        ManifestDownloader downloader;
        EXPECT_EQ(SVStatusPreloadTimeout,
                  downloader.Download(origin_.Url("/slow.smil"), MediaTime(500 * 1000)));
    }
    // The downloader went without waiting for the answer: the transfer was aborted.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
}

}  // namespace
}  // namespace SarvelonMediaKit
