#include "platform/core/LogWriter.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <mutex>
#include <regex>
#include <thread>
#include <vector>

namespace {

// Runs a test under a fixed time zone and restores the one before.
class LogWriterTest : public ::testing::Test {
protected:
    void SetUp() override {
        const char* tz = getenv("TZ");
        hadTz_ = tz != nullptr;
        if (hadTz_) oldTz_ = tz;
        setenv("TZ", "UTC", 1);
        tzset();
    }
    void TearDown() override {
        ns::LogWriter::Shared().SetSink(nullptr);
        if (hadTz_)
            setenv("TZ", oldTz_.c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }
    bool hadTz_ = false;
    std::string oldTz_;
};

TEST_F(LogWriterTest, LineHasDateProcessIdsAndMessage) {
    // 2013-05-06 14:03:27.512 UTC is 1367849007 s and 512 ms after the epoch.
    auto when = std::chrono::system_clock::time_point(std::chrono::milliseconds(1367849007512LL));
    EXPECT_EQ(ns::LogWriter::MakeLine(when, "Zul", 4242, 4250, "[Q] PLAYSTATE: 1"),
              "2013-05-06 14:03:27.512 Zul[4242:4250] [Q] PLAYSTATE: 1");
    // Milliseconds keep three digits; a time before 1970 borrows a whole second.
    auto early = std::chrono::system_clock::time_point(std::chrono::milliseconds(-1));
    EXPECT_EQ(ns::LogWriter::MakeLine(early, "p", 1, 2, ""), "1969-12-31 23:59:59.999 p[1:2] ");
}

TEST_F(LogWriterTest, SinkReceivesFormattedLinesFromEveryThread) {
    std::mutex mutex;
    std::vector<std::string> lines;
    auto& writer = ns::LogWriter::Shared();
    writer.SetProcessName("Zul");
    writer.SetSink([&](const std::string& line) {
        std::lock_guard<std::mutex> lock(mutex);
        lines.push_back(line);
    });
    ns::Log("[UDID] There is a problem with searching in keychain: %ld", -25300L);
    const long pid = getpid();
    const long tid = syscall(SYS_gettid);
    std::thread([] { ns::Log("[Q] %i", 3); }).join();
    writer.SetSink(nullptr);
    ns::Log("not captured");

    ASSERT_EQ(lines.size(), 2u);
    std::smatch m;
    const std::regex form(R"((\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}) Zul\[(\d+):(\d+)\] (.*)\n)");
    ASSERT_TRUE(std::regex_match(lines[0], m, form)) << lines[0];
    EXPECT_EQ(std::stol(m[2]), pid);
    EXPECT_EQ(std::stol(m[3]), tid);
    EXPECT_EQ(m[4], "[UDID] There is a problem with searching in keychain: -25300");
    ASSERT_TRUE(std::regex_match(lines[1], m, form)) << lines[1];
    EXPECT_EQ(std::stol(m[2]), pid);
    EXPECT_NE(std::stol(m[3]), tid);  // another thread
    EXPECT_EQ(m[4], "[Q] 3");
}

// A message that would make the line longer than 4096 bytes keeps its start and says how much
// was left out; one that fits, to the last byte, is written whole.
TEST_F(LogWriterTest, LongMessageIsCutAtTheBoundWithTheCountOfBytesLeftOut) {
    const std::string prefix = "2013-05-06 14:03:27.512 Zul[4242:4250] ";
    // Fits exactly: prefix + message + line break = 4096.
    const std::string fits(4096 - prefix.size() - 1, 'a');
    EXPECT_EQ(prefix + fits + "\n", ns::LogWriter::BoundedLine(prefix, fits));

    const auto expectCut = [&prefix](const std::string& message) -> std::string {
        const std::string line = ns::LogWriter::BoundedLine(prefix, message);
        EXPECT_LE(line.size(), 4096u);
        EXPECT_EQ(0u, line.find(prefix));
        const size_t open = line.rfind("... (");
        if (open == std::string::npos || open < prefix.size()) {
            ADD_FAILURE() << "no marker: " << line.substr(0, 100);
            return std::string();
        }
        const std::string kept = line.substr(prefix.size(), open - prefix.size());
        EXPECT_EQ(message.substr(0, kept.size()), kept);
        // Nearly all of the room is used: the marker is at most 24 bytes here.
        EXPECT_GE(prefix.size() + kept.size() + 24 + 1, 4096u);
        EXPECT_EQ("... (" + std::to_string(message.size() - kept.size()) + " bytes cut)\n",
                  line.substr(open));
        return kept;
    };
    // One byte over the bound.
    expectCut(fits + "b");
    // A whole search answer's worth.
    expectCut("[S] connection connectionDidFinishLoading:" + std::string(3400000, 'x'));
    // Two-byte characters ("\xC3\xA9", e with acute) are never cut in half, wherever the
    // bound falls.
    for (size_t lead = 0; lead < 2; ++lead) {
        const std::string kept = expectCut(std::string(lead, '-') + [] {
            std::string text;
            for (int i = 0; i < 5000; ++i) text += "\xC3\xA9";
            return text;
        }());
        EXPECT_EQ(0u, (kept.size() - lead) % 2) << kept.size();
    }
}

TEST_F(LogWriterTest, WrittenLinesStayWithinTheBound) {
    std::vector<std::string> lines;
    ns::LogWriter::Shared().SetSink([&](const std::string& line) { lines.push_back(line); });
    const std::string text(100000, 'q');
    ns::Log("[Q-S] %@", text);
    ns::LogWriter::Shared().SetSink(nullptr);
    ASSERT_EQ(1u, lines.size());
    EXPECT_LE(lines[0].size(), ns::LogWriter::kMaxLineBytes);
    EXPECT_NE(std::string::npos, lines[0].find("] [Q-S] qqqq"));
    EXPECT_NE(std::string::npos, lines[0].find(" bytes cut)\n"));
}

}  // namespace
