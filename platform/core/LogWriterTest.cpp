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

}  // namespace
