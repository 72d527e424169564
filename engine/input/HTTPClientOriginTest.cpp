// The HTTP client against a real origin: the libcurl transport, the loopback test origin and
// titles made by the fixture recipe. What a chain receives over HTTP must be what it receives
// from the local file: the same samples, the same bytes at the same positions, the same
// out-of-band ranges and thumbnails; the measured rate must be the rate the origin sends at.

#include <gtest/gtest.h>

#include <boost/make_shared.hpp>

#include <cstdlib>
#include <string>
#include <vector>

#include "SVLibrary/TypedValue/SVDictionary.h"
#include "engine/core/DefaultBandwidth.h"
#include "engine/core/MemoryTracker.h"
#include "engine/input/HTTPClientOriginTestSupport.h"
#include "tests/support/Fixtures.h"

namespace SarvelonMediaKit {
namespace origintest {
namespace {

using SvTestSupport::Fixtures;
using SvTestSupport::TestOrigin;

class HTTPClientOriginTest : public ::testing::Test {
protected:
    void ServeTitle(const std::string& path, uint64_t bytesPerSecond = 0) {
        title = ReadFile(path);
        ASSERT_GT(title.size(), 100000u) << path;
        origin.ServeFile("/title.svm", path);
        if (bytesPerSecond != 0) {
            TestOrigin::Fault throttle;
            throttle.bytesPerSecond = bytesPerSecond;
            origin.SetFault("/title.svm", throttle);
        }
    }
    std::string Url() const { return origin.Url("/title.svm"); }

    CurlFactoryScope factory;
    TestOrigin origin;
    std::string title;
};

// Source -> demultiplexer -> multiplexer: the HTTP client hands the demultiplexer the same
// samples (stream, times, key flag, size, payload digest) as the file client, from one request
// for the whole resource, and the chain's events agree.
TEST_F(HTTPClientOriginTest, TheSampleLogOverHttpIsTheFileClientsLog) {
    for (const std::string& path : {Fixtures::ShortTitle(), Fixtures::ChapterTitle()}) {
        SCOPED_TRACE(path);
        ServeTitle(path);
        OriginChain file(OriginChain::kSamples, std::string(), path);
        ASSERT_TRUE(file.WaitForEndOfStream());
        file.session->Stop(true);
        const std::vector<SvTestSupport::SampleLogEntry> expected = file.mux->Log();
        ASSERT_GT(expected.size(), 100u);

        const size_t before = origin.Requests().size();
        OriginChain http(OriginChain::kSamples, Url(), path);
        ASSERT_TRUE(http.WaitForEndOfStream());
        EXPECT_EQ(title.size(),
                  http.OnTask<uint64_t>([&] { return http.client->EndPosition().Get(); }));
        http.session->Stop(true);

        EXPECT_EQ("", SvTestSupport::FirstDifference(expected, http.mux->Log()));
        EXPECT_EQ(1u, http.mux->CountMarkers(MemoryMarkerTypeEndOfStream));
        EXPECT_EQ(file.events.trackEvents, http.events.trackEvents);
        EXPECT_EQ(file.events.durations, http.events.durations);
        EXPECT_EQ(file.events.sizes, http.events.sizes);
        EXPECT_TRUE(http.events.errors.empty());
        EXPECT_TRUE(http.reports.Errors().empty());
        EXPECT_TRUE(http.reports.Warnings().empty());
        const std::vector<TestOrigin::Request> requests = origin.Requests();
        ASSERT_EQ(before + 1, requests.size()) << "one request for the whole title";
        EXPECT_EQ("GET", requests.back().method);
        EXPECT_EQ("", RangeOf(requests.back())) << "a fresh start asks for everything";
    }
}

// With a bandwidth monitor attached (as the seeker is in playback) the client measures the
// rate the origin sends at, publishes it to the monitor and as the engine's default, and
// answers the statistics with it in bits per second next to its buffer figures.
TEST_F(HTTPClientOriginTest, TheMeasuredBandwidthIsTheOriginsRate) {
    const uint32_t rate = 400 * 1024;
    ServeTitle(Fixtures::ChapterTitle(), rate);
    BandwidthRecorder monitor;
    // The sink takes nothing: every byte stays in the client's cache.
    OriginChain chain(OriginChain::kBytesHeld, Url(), std::string(), TaskManager::Clock(),
                      &monitor);

    struct Reading {
        uint32_t published = 0;  // the measurement the client holds
        uint32_t statistic = 0;  // StatsKey_MeasuredBandwidth
        uint32_t defaultBandwidth = 0;
        bool audioKeyUntouched = false;
        bool limited = false;
        std::vector<BandwidthRecorder::Report> reports;  // what the monitor heard so far
    };
    // About two seconds into the transfer, past the first few reports.
    ASSERT_TRUE(chain.WaitFor([&] { return chain.client->GetCurrentPosition() >= 850000; }));
    const Reading during = chain.OnTask<Reading>([&] {
        Reading reading;
        SV::SVDictionary statistics;
        statistics.SetValue("StatsKey_MeasuredBandwidth", SV::SVTypedValue(uint32_t(7)));
        statistics.SetValue("StatsKey_AudioStreamingBufferSize", SV::SVTypedValue(uint32_t(7)));
        chain.sink->GetStatistics(statistics);
        reading.published = chain.client->MeasuredBandwidth().Get();
        reading.statistic = statistics.GetUnsignedIntOrDefault("StatsKey_MeasuredBandwidth", 0);
        reading.defaultBandwidth = GetDefaultBandwidth().Get();
        reading.audioKeyUntouched =
            statistics.GetUnsignedIntOrDefault("StatsKey_AudioStreamingBufferSize", 0) == 7;
        reading.limited = chain.client->IsDownloadLimited();
        // Read here: the next report comes from this thread too.
        reading.reports = monitor.Reports();
        return reading;
    });
    EXPECT_TRUE(during.limited) << "a bandwidth monitor makes the downloads limited";
    const std::vector<BandwidthRecorder::Report>& reports = during.reports;
    ASSERT_FALSE(reports.empty()) << "no rate was published within two seconds of transfer";
    EXPECT_TRUE(reports.back().measured);
    EXPECT_EQ(reports.back().bytesPerSecond, during.published);
    EXPECT_NEAR(double(rate), double(during.published), rate * 0.15)
        << "the origin sends " << rate << " bytes per second";
    EXPECT_EQ(during.published * 8, during.statistic) << "bits per second";
    EXPECT_EQ(during.published, during.defaultBandwidth);
    EXPECT_TRUE(during.audioKeyUntouched) << "the main chain writes no audio key";

    // The whole title in the cache: the buffer figures are the session's budget and the
    // title's size.
    ASSERT_TRUE(chain.WaitFor([&] { return chain.client->GetCurrentPosition() == title.size(); }));
    const SV::SVDictionary after = chain.OnTask<SV::SVDictionary>([&] {
        SV::SVDictionary statistics;
        statistics.SetValue("StatsKey_VideoStreamingBufferSize", SV::SVTypedValue(uint32_t(0)));
        statistics.SetValue("StatsKey_VideoStreamingBufferUsed", SV::SVTypedValue(uint32_t(0)));
        chain.sink->GetStatistics(statistics);
        return statistics;
    });
    EXPECT_EQ(16u << 20, after.GetUnsignedIntOrDefault("StatsKey_VideoStreamingBufferSize", 0))
        << "the session's capacity, all of it the main tracker's";
    EXPECT_EQ(title.size(), after.GetUnsignedIntOrDefault("StatsKey_VideoStreamingBufferUsed", 0));
    EXPECT_EQ(nullptr, after.GetValue("StatsKey_MeasuredBandwidth"))
        << "a key the caller did not ask for is not written";
}

// A range asked for while a transfer runs: what the chain received before is the title's
// start, what it receives after is the title from the new start on, and nothing of the old
// transfer comes in between. A bounded range afterwards ends at its bound.
TEST_F(HTTPClientOriginTest, ASeekDuringATransferContinuesExactlyAtTheNewRange) {
    ServeTitle(Fixtures::ChapterTitle(), 800 * 1024);
    OriginChain chain(OriginChain::kBytes, Url(), std::string());
    ASSERT_TRUE(SvTestSupport::WaitUntil([&] { return chain.sink->Size() >= 300000; }, 20000));

    const uint64_t seekTo = 700001;
    const size_t mark = chain.OnTask<size_t>([&] {
        const size_t at = chain.sink->Mark();
        chain.client->SeekFilePosition(BytePosition(seekTo), BytePosition(0), true);
        return at;
    });
    ASSERT_LT(mark, seekTo) << "the seek must come while the first transfer still runs";
    ASSERT_TRUE(chain.WaitForEndOfData());
    std::string bytes = chain.sink->Bytes();
    ASSERT_GE(bytes.size(), mark);
    EXPECT_TRUE(bytes.compare(0, mark, title, 0, mark) == 0) << "the start of the title";
    EXPECT_EQ(title.size() - seekTo, bytes.size() - mark);
    EXPECT_TRUE(bytes.compare(mark, std::string::npos, title, seekTo, std::string::npos) == 0)
        << "after the seek: the title from " << seekTo << " on, and only that";
    const std::vector<std::pair<uint32_t, size_t>> ends = chain.sink->Markers();
    ASSERT_EQ(1u, ends.size());
    EXPECT_EQ(std::make_pair(uint32_t(MemoryMarkerTypeEndOfData), bytes.size()), ends[0]);
    EXPECT_EQ(title.size(), chain.OnTask<uint64_t>(
                                [&] { return chain.client->CurrentLoadedFilePosition().Get(); }));

    // A bounded range: [100000, 250000).
    const size_t second = chain.OnTask<size_t>([&] {
        const size_t at = chain.sink->Mark();
        chain.client->SeekFilePosition(BytePosition(100000), BytePosition(250000), true);
        return at;
    });
    ASSERT_TRUE(SvTestSupport::WaitUntil(
        [&] { return chain.sink->CountMarkers(MemoryMarkerTypeEndOfData) == 2; }, 20000));
    bytes = chain.sink->Bytes();
    EXPECT_TRUE(bytes.substr(second) == title.substr(100000, 150000));
    EXPECT_EQ(250000u, chain.OnTask<uint64_t>([&] { return chain.client->GetCurrentPosition(); }));

    const std::vector<TestOrigin::Request> requests = origin.Requests();
    ASSERT_EQ(3u, requests.size());
    EXPECT_EQ("", RangeOf(requests[0]));
    EXPECT_EQ("bytes=700001-", RangeOf(requests[1]));
    EXPECT_EQ("bytes=100000-249999", RangeOf(requests[2])) << "the last byte, inclusive";
    EXPECT_TRUE(chain.reports.Errors().empty());
}

// An out-of-band range fetched while the main transfer runs reaches the consumer whole and
// apart from the data: [a, b) exactly, and the main stream is still the whole title.
TEST_F(HTTPClientOriginTest, AnOutOfBandRangeIsExactlyThoseBytes) {
    ServeTitle(Fixtures::ChapterTitle(), 800 * 1024);
    OriginChain chain(OriginChain::kBytes, Url(), std::string());
    ASSERT_TRUE(SvTestSupport::WaitUntil([&] { return chain.sink->Size() >= 100000; }, 20000));

    const uint64_t a = 500000;
    const uint64_t b = 600123;
    EXPECT_TRUE(chain.OnTask<bool>([&] {
        return chain.sink->OutOfBandRequest(BytePosition(a), BytePosition(b));
    })) << "the request travels from the consumer to the source";
    ASSERT_TRUE(chain.WaitFor([&] {
        return chain.sink->OutOfBand().size() >= b - a && !chain.client->GetOutOfBandTransport();
    })) << "the range arrives and its transport is let go";
    ASSERT_TRUE(chain.WaitForEndOfData());
    EXPECT_TRUE(chain.sink->OutOfBand() == title.substr(a, b - a));
    EXPECT_TRUE(chain.sink->Bytes() == title) << "out-of-band bytes never enter the data";
    EXPECT_EQ(1u, chain.sink->CountMarkers(MemoryMarkerTypeEndOfData));

    const std::vector<TestOrigin::Request> requests = origin.Requests();
    ASSERT_EQ(2u, requests.size());
    EXPECT_EQ("bytes=500000-600122", RangeOf(requests[1]));
    EXPECT_TRUE(chain.reports.Errors().empty());
}

// The demultiplexer reads the pictures of the chapters out of band: over HTTP they arrive as
// the files the title was made from.
TEST_F(HTTPClientOriginTest, ThumbnailsArriveOverHttp) {
    ServeTitle(Fixtures::ChapterTitle());
    OriginChain chain(OriginChain::kSamples, Url(), std::string());
    ASSERT_TRUE(chain.events.WaitForPreload(30000));
    ASSERT_TRUE(chain.WaitFor([&] { return chain.events.chapterCounts.size() == 1; }));
    const std::vector<Mpeg2PsParser::Chapter> chapters =
        chain.OnTask<std::vector<Mpeg2PsParser::Chapter>>(
            [&] { return chain.demux->GetChapters(); });
    ASSERT_EQ(3u, chapters.size());

    chain.session->GetChapterData(0, 2);
    ASSERT_TRUE(chain.WaitFor([&] { return chain.events.thumbnails.size() >= 3; }));
    chain.session->Stop(true);
    ASSERT_EQ(3u, chain.events.thumbnails.size());
    for (unsigned i = 0; i < 3; ++i) {
        EXPECT_EQ(i, chain.events.thumbnails[i].first);
        const std::string expected = ReadFile(Fixtures::Thumbnail(int(i)));
        EXPECT_TRUE(std::string(chain.events.thumbnails[i].second.begin(),
                                chain.events.thumbnails[i].second.end()) == expected)
            << "thumbnail " << i;
    }
    EXPECT_EQ((std::vector<unsigned>{3}), chain.events.chapterCounts);
    EXPECT_TRUE(chain.events.errors.empty());
    // One range from the first picture's start to the last one's end.
    const std::vector<TestOrigin::Request> requests = origin.Requests();
    ASSERT_EQ(2u, requests.size());
    EXPECT_EQ("bytes=" + std::to_string(chapters[0].thumbnailPosition) + "-" +
                  std::to_string(chapters[2].thumbnailPosition + chapters[2].thumbnailSize - 1),
              RangeOf(requests[1]));
}

}  // namespace
}  // namespace origintest
}  // namespace SarvelonMediaKit
