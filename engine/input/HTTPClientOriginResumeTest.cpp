// The HTTP client against an origin whose transfers fail and pass: bodies closed after a
// stretch, every other answer a 503, resumed bodies that do not continue the bytes sent before
// (shifted against their Content-Range), an origin that never comes back. Through the engine's
// own transport. The session's clock is driven (a second per step), so the pauses between
// resumes take no real time.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "engine/input/HTTPClientOriginTestSupport.h"
#include "tests/support/Fixtures.h"

namespace SarvelonMediaKit {
namespace origintest {
namespace {

class HTTPClientOriginResumeTest : public OriginTitleTest {
protected:
    // A chain on a clock that Step moves on.
    std::unique_ptr<OriginChain> Chain() {
        std::shared_ptr<std::atomic<int64_t>> offset = offset_;
        return std::unique_ptr<OriginChain>(new OriginChain(
            OriginChain::kBytes, Url(), std::string(),
            [offset] { return SV::PilTime(SV::PilTime::Now().Get() + offset->load()); }));
    }
    // Moves the clock on a second at a time (each with a pump pass and its check) until the
    // condition holds; false when it did not within the steps.
    bool Steps(OriginChain& chain, std::function<bool()> condition, int steps = 60) {
        for (int i = 0; i < steps; ++i) {
            if (chain.OnTask<bool>(condition)) return true;
            *offset_ += 1000;
            chain.Run([] {});
            std::this_thread::sleep_for(std::chrono::milliseconds(30));
        }
        return chain.OnTask<bool>(condition);
    }
    bool StepsToTheEnd(OriginChain& chain) {
        return Steps(chain,
                     [&] { return chain.sink->CountMarkers(MemoryMarkerTypeEndOfData) != 0; });
    }
    bool StepsToAnError(OriginChain& chain) {
        return Steps(chain, [&] { return !chain.reports.Errors().empty(); });
    }
    // Under the fault the chain gets the title once and whole, and no error is reported.
    std::unique_ptr<OriginChain> ChainToTheWholeTitle(const TestOrigin::Fault& fault) {
        SetFault(fault);
        std::unique_ptr<OriginChain> chain = Chain();
        EXPECT_TRUE(StepsToTheEnd(*chain));
        EXPECT_TRUE(chain->sink->Bytes() == title) << chain->sink->Size() << " bytes";
        EXPECT_TRUE(chain->reports.Errors().empty()) << Describe(chain->reports.Errors());
        return chain;
    }

private:
    std::shared_ptr<std::atomic<int64_t>> offset_ = std::make_shared<std::atomic<int64_t>>(0);
};

// Bodies closed (not reset) after 70000 bytes, and the first, third, fifth ... request answered
// 503: the title arrives once and whole, and neither failure is reported as an error.
TEST_F(HTTPClientOriginResumeTest, ClosedBodiesAndEveryOther503AreResumedWithoutAnError) {
    TestOrigin::Fault fault;
    fault.closeAfter = 70000;
    fault.failEvery = 2;
    fault.failStatus = 503;
    std::unique_ptr<OriginChain> chain = ChainToTheWholeTitle(fault);
    EXPECT_EQ(1u, chain->sink->CountMarkers(MemoryMarkerTypeEndOfData));
    const std::vector<TestOrigin::Request> requests = origin.Requests();
    // 503, 0-69999, 503, the rest from 65904 on (70000 less the 4096 bytes of seam) ...
    ASSERT_GE(requests.size(), 4u);
    EXPECT_EQ("", RangeOf(requests[0]));
    EXPECT_EQ("", RangeOf(requests[1]));
    EXPECT_EQ("bytes=65904-", RangeOf(requests[2]));
    EXPECT_EQ("bytes=65904-", RangeOf(requests[3]));
    const std::vector<ErrorRecorder::Report> warnings = chain->reports.Warnings();
    ASSERT_FALSE(warnings.empty());
    EXPECT_EQ(ErrorRecorder::Report(SVStatus(200), ""), warnings.back()) << "withdrawn";
}

// The first resume's body starts one byte later than its Content-Range says: it is let go at
// the seam and asked again, and the chain gets the title as it is.
TEST_F(HTTPClientOriginResumeTest, AResumeShiftedOnceIsAskedAgain) {
    TestOrigin::Fault fault;
    fault.closeAfter = 100000;
    fault.resumeShift = 1;
    fault.shiftedResumes = 1;
    ChainToTheWholeTitle(fault);
    const std::vector<TestOrigin::Request> requests = origin.Requests();
    ASSERT_GE(requests.size(), 3u);
    EXPECT_EQ("bytes=95904-", RangeOf(requests[1])) << "shifted";
    EXPECT_EQ("bytes=95904-", RangeOf(requests[2])) << "asked again";
}

// Every resume shifted by 1000 bytes: the download fails with its own error after the bounded
// resumes, and the chain never got a byte that is not the title's.
TEST_F(HTTPClientOriginResumeTest, AnOriginThatAlwaysShiftsItsResumesFailsWithTheSeamError) {
    TestOrigin::Fault fault;
    fault.closeAfter = 100000;
    fault.resumeShift = 1000;
    SetFault(fault);
    std::unique_ptr<OriginChain> chain = Chain();
    ASSERT_TRUE(StepsToAnError(*chain));
    const std::vector<ErrorRecorder::Report> errors = chain->reports.Errors();
    ASSERT_EQ(1u, errors.size()) << Describe(errors);
    EXPECT_EQ(SVStatus(1032), errors[0].first);
    EXPECT_EQ("Resumed download does not continue the data already received (at byte 100000)",
              errors[0].second);
    EXPECT_TRUE(chain->sink->Bytes() == title.substr(0, 100000)) << chain->sink->Size();
    EXPECT_EQ(6u, origin.Requests().size()) << "the first and five resumes";
    EXPECT_EQ(0u, chain->sink->CountMarkers(MemoryMarkerTypeEndOfData));
}

// The connection is reset after 100000 bytes and every later request too: five resumes, then
// the transport's own error (1010), once.
TEST_F(HTTPClientOriginResumeTest, AnOriginThatNeverComesBackFailsWith1010AfterFiveResumes) {
    TestOrigin::Fault fault;
    fault.dropAfter = 100000;
    fault.goneAfterCut = true;
    SetFault(fault);
    std::unique_ptr<OriginChain> chain = Chain();
    ASSERT_TRUE(StepsToAnError(*chain));
    const std::vector<ErrorRecorder::Report> errors = chain->reports.Errors();
    ASSERT_EQ(1u, errors.size()) << Describe(errors);
    EXPECT_EQ(SVStatus(SVStatusTransportStream), errors[0].first);
    EXPECT_EQ(6u, origin.Requests().size()) << "the first and five resumes";
    EXPECT_TRUE(chain->sink->Bytes() == title.substr(0, chain->sink->Size()));
    // Nothing more is asked.
    Steps(
        *chain, [] { return false; }, 20);
    EXPECT_EQ(6u, origin.Requests().size());
    EXPECT_EQ(1u, chain->reports.Errors().size());
}

}  // namespace
}  // namespace origintest
}  // namespace SarvelonMediaKit
