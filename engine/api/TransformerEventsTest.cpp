#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <unistd.h>
#include <utility>
#include <vector>

#include "engine/api/Transformer.h"
#include "engine/api/TransformerTestSupport.h"
#include "engine/core/ErrorInfoMonitor.h"
#include "engine/core/Session.h"
#include "tests/support/Fixtures.h"

namespace SarvelonMediaKit {
namespace {

using SvTestSupport::LineCapture;

class ErrorLog : public ErrorInfoMonitor {
public:
    ~ErrorLog() override { DetachFromSources(); }
    void SetError(SVStatus status, std::string text) override {
        std::lock_guard<std::mutex> lock(mutex_);
        errors.push_back(std::make_pair(status, text));
    }
    void SetWarning(SVStatus status, std::string text) override {
        std::lock_guard<std::mutex> lock(mutex_);
        warnings.push_back(std::make_pair(status, text));
    }
    std::vector<std::pair<SVStatus, std::string>> Errors() {
        std::lock_guard<std::mutex> lock(mutex_);
        return errors;
    }
    std::vector<std::pair<SVStatus, std::string>> Warnings() {
        std::lock_guard<std::mutex> lock(mutex_);
        return warnings;
    }

private:
    std::mutex mutex_;
    std::vector<std::pair<SVStatus, std::string>> errors;
    std::vector<std::pair<SVStatus, std::string>> warnings;
};

TEST(TransformerStreamEvents, OnlyStreamTypeTwoGoesIntoTheTimeMap) {
    Transformer transformer("/x/movie.ps", MediaFormatHls, OutputKindHls, "");
    transformer.MediaTimeAvailable(1, MediaTime(5000), MediaTime(1000));
    EXPECT_FALSE(transformer.IsStarted());
    transformer.MediaTimeAvailable(2, MediaTime(5000), MediaTime(1000));
    EXPECT_TRUE(transformer.IsStarted());
    EXPECT_EQ(4000u, transformer.GetOffset().Get());
}

TEST(TransformerErrors, ErrorIsRecordedStopsTheSessionAndIsPassedOn) {
    LineCapture capture;
    Transformer transformer("/x/movie.ps", MediaFormatHls, OutputKindHls, "");
    ErrorLog log;
    static_cast<ErrorInfoSource&>(transformer).AddMonitor(&log);
    transformer.SetError(SVStatusMediaTruncated, "Media was truncated");
    EXPECT_EQ(SVStatusMediaTruncated, transformer.GetStatus());
    EXPECT_EQ("Media was truncated", transformer.GetErrorText());
    ASSERT_EQ(1u, log.Errors().size());
    EXPECT_EQ(SVStatusMediaTruncated, log.Errors()[0].first);
    EXPECT_EQ("Media was truncated", log.Errors()[0].second);
    EXPECT_TRUE(transformer.GetSession()->WaitForStop(5000));
    // A later preload does not wait for a stopped chain (here it fails to open the file).
    EXPECT_NE(SVStatusSuccess, transformer.PreLoad());
    transformer.ClearStatus();
    EXPECT_EQ(SVStatusSuccess, transformer.GetLastStatus());
}

// A player that seeks back across damaged media has the demultiplexer report the same stretch
// again: the playback tells it once, each stretch by its own text.
TEST(TransformerErrors, EachDamagedStretchIsToldOnceHoweverOftenItIsRead) {
    LineCapture capture;
    Transformer transformer("/x/movie.ps", MediaFormatHls, OutputKindHls, "");
    ErrorLog log;
    static_cast<ErrorInfoSource&>(transformer).AddMonitor(&log);
    const std::string first = "Damaged data: 65556 bytes skipped at byte 460484";
    const std::string second = "Damaged data: 188 bytes skipped at byte 9000";
    transformer.SetWarning(SVStatusParserError, first);
    transformer.SetWarning(SVStatusParserError, first);
    transformer.SetWarning(SVStatusParserError, second);
    transformer.SetWarning(SVStatusParserError, first);
    const std::vector<std::pair<SVStatus, std::string>> told = {{SVStatusParserError, first},
                                                                {SVStatusParserError, second}};
    EXPECT_EQ(told, log.Warnings());
    // The session's own lines aside.
    std::vector<std::string> lines;
    for (const std::string& line : capture.Lines()) {
        if (line.find("Damaged") != std::string::npos) lines.push_back(line);
    }
    EXPECT_EQ(std::vector<std::string>(
                  {"/x/movie.ps: " + first + " (1003)", "/x/movie.ps: " + second + " (1003)"}),
              lines);
    EXPECT_TRUE(log.Errors().empty());
}

TEST(TransformerErrors, SessionErrorsReachTheTransformer) {
    Transformer transformer("/x/movie.ps", MediaFormatHls, OutputKindHls, "");
    ErrorLog log;
    static_cast<ErrorInfoSource&>(transformer).AddMonitor(&log);
    // The session publishes from its own task thread.
    transformer.GetSession()->SetError(SVStatusDataStalled, "stalled");
    for (int i = 0; i < 500 && log.Errors().empty(); ++i) usleep(10000);
    ASSERT_EQ(1u, log.Errors().size());
    EXPECT_EQ(SVStatusDataStalled, transformer.GetStatus());
    EXPECT_EQ("stalled", transformer.GetErrorText());
}

TEST(TransformerErrors, RtmpOutputKeepsTheSessionRunning) {
    LineCapture capture;
    Transformer transformer("/x/movie.ps", MediaFormatHls, OutputKindRtmpServer, "");
    ASSERT_EQ(SVStatusUnrecognisedScheme, transformer.GetStatus());
    ErrorLog log;
    static_cast<ErrorInfoSource&>(transformer).AddMonitor(&log);
    transformer.SetError(SVStatusFileInput, "cannot read");
    EXPECT_EQ(SVStatusFileInput, transformer.GetStatus());
    EXPECT_EQ(1u, log.Errors().size());
    EXPECT_FALSE(transformer.GetSession()->WaitForStop(200)) << "the session goes on";
    EXPECT_EQ(SVStatusFileInput, transformer.StopSession());
    EXPECT_TRUE(transformer.GetSession()->WaitForStop(5000));
}

TEST(TransformerSessionEvents, LifeCycleLines) {
    LineCapture capture;
    Transformer transformer("/x/movie.ps", MediaFormatHls, OutputKindHls, "");
    transformer.SessionStopped();
    transformer.SessionSetupCompleted();
    EXPECT_EQ(std::vector<std::string>(
                  {"SessionSetupCompleted", "SessionStopped", "SessionSetupCompleted"}),
              capture.Lines());
}

TEST(TransformerStreamEvents, PreloadCompleteEndsTheWait) {
    Transformer transformer(SvTestSupport::Fixtures::ShortTitle(), MediaFormatHls, OutputKindHls,
                            "");
    // A completion that arrives early (counted once per demultiplexer) leaves nothing to wait
    // for: the stage goes straight to its end.
    transformer.PreloadComplete();
    EXPECT_EQ(SVStatusSuccess, transformer.PreLoad());
    EXPECT_EQ(8388608u - 524288u, transformer.GetSession()->GetCapacity().Get())
        << "the preload stage did not run: the capacity stays reduced";
}

}  // namespace
}  // namespace SarvelonMediaKit
