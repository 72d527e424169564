// Fetching manifests: files at and past the cap, the reasons a fetch fails, and an abort that
// comes before or during a download (over the fake transport: deliveries when the test says).

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <future>
#include <string>
#include <thread>

#include "SVLibrary/Types/SVStatus.h"
#include "engine/input/HTTPClientInterfaceFactory.h"
#include "engine/input/ManifestFetcher.h"
#include "tests/support/FakeHTTPTransport.h"
#include "tests/support/TemporaryDirectory.h"
#include "tests/support/ThreadTestSupport.h"

namespace SarvelonMediaKit {
namespace {

using SvTestSupport::FakeHTTPTransports;

const MediaTime kVeryLong(20 * 1000 * 1000);  // 20 s: only an abort ends these waits

std::string Write(const SvTestSupport::TemporaryDirectory& dir, const std::string& name,
                  const std::string& text) {
    const std::string path = dir.File(name);
    std::ofstream(path, std::ios::binary) << text;
    return path;
}

TEST(ManifestFetcher, FilesUpToTheCapAndTheReasonsAFetchFails) {
    SvTestSupport::TemporaryDirectory dir("svfetch");
    const std::string fifo = dir.File("fifo");
    ASSERT_EQ(0, mkfifo(fifo.c_str(), 0644));
    ASSERT_EQ(0, mkdir(dir.File("folder").c_str(), 0755));
    struct Case {
        std::string path;
        SVStatus status;
        std::string text;   // what GetText gives on success
        std::string error;  // what GetErrorText gives
    };
    const Case cases[] = {
        {Write(dir, "fits", "12345678"), SVStatusSuccess, "12345678", ""},
        // A file may be empty: the reader is the one that refuses it.
        {Write(dir, "empty", ""), SVStatusSuccess, "", ""},
        {Write(dir, "big", "123456789"), SVStatusManifest, "",
         "Manifest " + dir.File("big") + " is larger than 8 bytes"},
        {dir.File("absent"), SVStatusManifest, "",
         "Manifest " + dir.File("absent") + " cannot be opened"},
        // Only a regular file is read, and a FIFO is refused without waiting for a writer.
        {fifo, SVStatusManifest, "", "Manifest " + fifo + " cannot be opened"},
        {dir.File("folder"), SVStatusManifest, "",
         "Manifest " + dir.File("folder") + " cannot be opened"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        ManifestFetcher fetcher(8);
        std::future<SVStatus> fetched =
            std::async(std::launch::async, [&] { return fetcher.Fetch(c.path, kVeryLong); });
        if (fetched.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
            // Waiting in the FIFO's opening: a writer lets it go, and the case fails.
            const int writer = open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
            if (writer >= 0) close(writer);
            ADD_FAILURE() << "the opening waited";
        }
        EXPECT_EQ(c.status, fetched.get());
        EXPECT_EQ(c.text, fetcher.GetText());
        EXPECT_EQ(c.error, fetcher.GetErrorText());
    }
}

TEST(ManifestFetcher, DownloadsAndTheirFailures) {
    {
        FakeHTTPTransports transports;
        ManifestFetcher fetcher(64);
        std::thread fetch(
            [&] { EXPECT_EQ(SVStatusManifest, fetcher.Fetch("http://origin/m.smil", kVeryLong)); });
        ASSERT_TRUE(SvTestSupport::WaitUntil([&] { return transports.Count() == 1; }));
        ASSERT_TRUE(SvTestSupport::WaitUntil([&] { return !transports.Last()->Starts().empty(); }));
        transports.Last()->Finish(false);  // an empty body
        fetch.join();
        EXPECT_EQ("Manifest http://origin/m.smil is empty", fetcher.GetErrorText());
    }
    // No transport can be made: a failure with its reason, nothing thrown at the owner.
    SetHTTPClientInterfaceFactory(nullptr);
    ManifestFetcher fetcher(64);
    EXPECT_EQ(SVStatusLibraryException, fetcher.Fetch("https://origin/m.smil", kVeryLong));
    EXPECT_EQ(0u, fetcher.GetErrorText().find("Manifest https://origin/m.smil cannot be fetched: "))
        << fetcher.GetErrorText();
}

TEST(ManifestFetcher, AnAbortBeforeOrDuringTheDownload) {
    {
        // Before: no transfer is started at all.
        FakeHTTPTransports transports;
        ManifestFetcher fetcher(64);
        fetcher.Abort();
        EXPECT_EQ(SVStatusPreloadTimeout, fetcher.Fetch("http://origin/m.smil", kVeryLong));
        EXPECT_EQ("Download aborted", fetcher.GetErrorText());
        EXPECT_EQ(0u, transports.Count());
    }
    // During: the download ends at once instead of running on for 20 s.
    FakeHTTPTransports transports;
    ManifestFetcher fetcher(64);
    std::atomic<bool> done(false);
    std::thread fetch([&] {
        EXPECT_EQ(SVStatusPreloadTimeout, fetcher.Fetch("http://origin/m.smil", kVeryLong));
        done = true;
    });
    ASSERT_TRUE(SvTestSupport::WaitUntil([&] { return transports.Count() == 1; }));
    ASSERT_TRUE(SvTestSupport::WaitUntil([&] { return !transports.Last()->Starts().empty(); }));
    fetcher.Abort();
    EXPECT_TRUE(SvTestSupport::WaitUntil([&] { return done.load(); }, 5000));
    fetch.join();
    EXPECT_EQ("", fetcher.GetText());
}

}  // namespace
}  // namespace SarvelonMediaKit
