// The HTTP client's resumes of a failed transfer: a dropped connection or a passing server
// answer is resumed with the stall warning and without an error, after a pause that doubles
// with each failure in a row, and its error is published once the five resumes in a row have
// failed; a resumed body is checked against the bytes held before it is taken. The session's
// clock is the bench's: each Check is one second later.

#include <gtest/gtest.h>

#include "SVLibrary/Types/SVStatus.h"
#include "engine/input/HTTPClientTestSupport.h"

namespace SarvelonMediaKit {
namespace test {
namespace {

const Report kDropped(1010, "CFStream error: transfer closed with 90000 bytes remaining to read");
const Report kUnavailable(503, "HTTP Error 503");

// The latest transfer fails as a platform transport reports it: its error, then its end.
void FailWith(HTTPClientBench& bench, const Report& error) {
    bench.Last()->ReportError(error.first, error.second);
    bench.Last()->Finish(true);
    bench.Run();
}

// Checks until a new transport is made (at most limit); how many it took.
int ChecksUntilRetry(HTTPClientBench& bench, int limit = 20) {
    const size_t before = bench.transports.Count();
    for (int i = 1; i <= limit; ++i) {
        bench.Check();
        if (bench.transports.Count() != before) return i;
    }
    return 0;
}

TEST(HTTPClientResume, ADroppedTransferIsResumedWithTheWarningAndNoError) {
    HTTPClientBench bench;
    StartWithBytes(bench, 100000, 10000);
    FailWith(bench, kDropped);
    EXPECT_TRUE(bench.errors.Errors().empty()) << "held back while it may pass";

    EXPECT_EQ(1, ChecksUntilRetry(bench));
    // From the byte reached less the 4096 bytes held that are asked for again.
    EXPECT_EQ(std::vector<Range>{Range(10000 - 4096, 0)}, bench.Last()->Starts());
    EXPECT_EQ(std::vector<Report>{kStallWarning}, bench.errors.Warnings());
    bench.Last()->Deliver(HTTPClientBench::Bytes(10000 - 4096, 30000));
    bench.Last()->Deliver(HTTPClientBench::Bytes(30000, 100000));
    bench.Last()->Finish(false);
    bench.Run();
    EXPECT_EQ(HTTPClientBench::Bytes(0, 100000), bench.sink->Bytes());
    EXPECT_EQ(1u, bench.sink->CountMarkers(MemoryMarkerTypeEndOfData));
    EXPECT_EQ((std::vector<Report>{kStallWarning, kWithdrawal}), bench.errors.Warnings());
    EXPECT_TRUE(bench.errors.Errors().empty()) << bench.errors.Errors()[0].second;
}

// Five resumes, each failing at once: the pauses before them are 0.5, 1, 2, 4 and 8 seconds,
// so the checks (one a second) that make them are the 1st, 1st, 2nd, 4th and 8th after each
// failure; the sixth failure is published as it was reported, once, and nothing is asked
// again.
TEST(HTTPClientResume, FailuresInARowArePausedLongerAndEndInTheErrorAfterFiveResumes) {
    HTTPClientBench bench;
    StartWithBytes(bench, 100000, 10000);
    FailWith(bench, kDropped);
    for (int expected : {1, 1, 2, 4, 8}) {
        EXPECT_EQ(expected, ChecksUntilRetry(bench));
        EXPECT_TRUE(bench.errors.Errors().empty());
        FailWith(bench, kDropped);
    }
    EXPECT_EQ(6u, bench.transports.Count());
    EXPECT_EQ(std::vector<Report>{kDropped}, bench.errors.Errors());
    EXPECT_EQ(0, ChecksUntilRetry(bench, 30)) << "given up";
    EXPECT_EQ(std::vector<Report>{kDropped}, bench.errors.Errors());
    EXPECT_EQ(5u, bench.errors.Warnings().size()) << "one warning per resume";
    EXPECT_EQ(HTTPClientBench::Bytes(0, 10000), bench.sink->Bytes());

    // A new range request is a new download: resumed again.
    bench.client->SeekFilePosition(50000, 0, true);
    FailWith(bench, kDropped);
    EXPECT_EQ(1, ChecksUntilRetry(bench));
    EXPECT_EQ(1u, bench.errors.Errors().size());
}

TEST(HTTPClientResume, NewBytesStartTheCountOfFailuresAgain) {
    HTTPClientBench bench;
    StartWithBytes(bench, 100000, 10000);
    FailWith(bench, kDropped);
    EXPECT_EQ(1, ChecksUntilRetry(bench));
    FailWith(bench, kDropped);
    EXPECT_EQ(1, ChecksUntilRetry(bench));
    FailWith(bench, kDropped);
    EXPECT_EQ(2, ChecksUntilRetry(bench)) << "the third failure in a row waits 2 s";
    // The seam and one new byte: the failures are over.
    bench.Last()->Deliver(HTTPClientBench::Bytes(10000 - 4096, 10001));
    bench.Run();
    EXPECT_EQ(0u, bench.client->GetFailedAttempts());
    FailWith(bench, kDropped);
    EXPECT_EQ(1, ChecksUntilRetry(bench)) << "a first failure again";
    EXPECT_TRUE(bench.errors.Errors().empty());
}

// 500, 502, 503 and 504 may pass, even before the first byte; an origin that cannot be reached
// before any byte came, or that does not have the resource, is told at once, as before.
TEST(HTTPClientResume, PassingServerAnswersAreRetriedAndOtherFailuresToldAtOnce) {
    for (SVStatus status : {500, 502, 503, 504}) {
        SCOPED_TRACE(status);
        HTTPClientBench bench;
        bench.Start();
        const Report answer(status, "HTTP Error " + std::to_string(status));
        FailWith(bench, answer);
        EXPECT_EQ(1, ChecksUntilRetry(bench));
        EXPECT_EQ(std::vector<Range>{Range(0, 0)}, bench.Last()->Starts());
        FailWith(bench, answer);  // the retry too
        EXPECT_EQ(1, ChecksUntilRetry(bench));
        bench.Last()->DeliverEnd(300);
        bench.Last()->Deliver(HTTPClientBench::Bytes(0, 300));
        bench.Last()->Finish(false);
        bench.Run();
        EXPECT_EQ(HTTPClientBench::Bytes(0, 300), bench.sink->Bytes());
        EXPECT_TRUE(bench.errors.Errors().empty());
        EXPECT_EQ((std::vector<Report>{kStallWarning, kStallWarning, kWithdrawal}),
                  bench.errors.Warnings());
    }

    HTTPClientBench refused;
    refused.Start();
    const Report connect(1010, "CFStream error: Failed to connect to 127.0.0.1 port 1");
    FailWith(refused, connect);
    EXPECT_EQ(std::vector<Report>{connect}, refused.errors.Errors());

    HTTPClientBench missing;
    StartWithBytes(missing, 100000, 10000);
    const Report gone(404, "HTTP Error 404");
    FailWith(missing, gone);
    EXPECT_EQ(std::vector<Report>{gone}, missing.errors.Errors());
}

// The origin answers the resume with a body shifted by one byte against the range it names:
// nothing of it reaches the chain, and the next resume, answered right, continues the bytes.
TEST(HTTPClientResume, AResumedBodyThatDoesNotContinueTheBytesHeldIsAskedAgain) {
    HTTPClientBench bench;
    StartWithBytes(bench, 100000, 10000);
    FailWith(bench, kDropped);
    EXPECT_EQ(1, ChecksUntilRetry(bench));
    auto shifted = bench.Last();
    shifted->Deliver(HTTPClientBench::Bytes(10000 - 4096 + 1, 30001));
    bench.Run();
    EXPECT_TRUE(shifted->IsClosed()) << "let go at the first difference";
    EXPECT_EQ(HTTPClientBench::Bytes(0, 10000), bench.sink->Bytes());
    EXPECT_TRUE(bench.errors.Errors().empty());

    EXPECT_EQ(1, ChecksUntilRetry(bench)) << "the second failure in a row: 1 s";
    EXPECT_EQ(std::vector<Range>{Range(10000 - 4096, 0)}, bench.Last()->Starts());
    // The seam arrives in pieces, the last with the first new bytes behind it.
    bench.Last()->Deliver(HTTPClientBench::Bytes(10000 - 4096, 8000));
    bench.Last()->Deliver(HTTPClientBench::Bytes(8000, 9999));
    bench.Last()->Deliver(HTTPClientBench::Bytes(9999, 20000));
    bench.Run();
    EXPECT_EQ(HTTPClientBench::Bytes(0, 20000), bench.sink->Bytes());
    EXPECT_TRUE(bench.errors.Errors().empty());
}

// A difference late in the seam (its last byte) is a difference too; when every resume
// differs the download fails with the named error (the drop and five differing resumes are
// six failures in a row), and the chain has only the bytes that were right.
TEST(HTTPClientResume, ASeamThatNeverMatchesEndsInItsOwnError) {
    HTTPClientBench bench;
    StartWithBytes(bench, 100000, 10000);
    FailWith(bench, kDropped);
    for (int i = 0; i < 5; ++i) {
        ASSERT_NE(0, ChecksUntilRetry(bench));
        std::vector<uint8_t> body = HTTPClientBench::Bytes(10000 - 4096, 12000);
        body[4095] ^= 0x01;  // byte 9999
        bench.Last()->Deliver(body);
        bench.Run();
    }
    const std::vector<Report> errors = bench.errors.Errors();
    ASSERT_EQ(1u, errors.size());
    EXPECT_EQ(SVStatus(1032), errors[0].first);
    EXPECT_EQ("Resumed download does not continue the data already received (at byte 10000)",
              errors[0].second);
    EXPECT_EQ(HTTPClientBench::Bytes(0, 10000), bench.sink->Bytes());
    EXPECT_EQ(0, ChecksUntilRetry(bench, 30));
}

// With fewer bytes held than the seam, all of them are asked again; within a range the seam
// starts no earlier than the range.
TEST(HTTPClientResume, TheSeamIsWhatIsHeldOfThisDownload) {
    HTTPClientBench bench;
    StartWithBytes(bench, 100000, 0);
    bench.client->SeekFilePosition(50000, 60000, true);
    bench.Last()->Deliver(HTTPClientBench::Bytes(50000, 51000));
    bench.Run();
    FailWith(bench, kDropped);
    EXPECT_EQ(1, ChecksUntilRetry(bench));
    EXPECT_EQ(std::vector<Range>{Range(50000, 60000)}, bench.Last()->Starts());
    bench.Last()->Deliver(HTTPClientBench::Bytes(50000, 60000));
    bench.Run();
    EXPECT_EQ(HTTPClientBench::Bytes(50000, 60000), bench.sink->Bytes());
}

}  // namespace
}  // namespace test
}  // namespace SarvelonMediaKit
