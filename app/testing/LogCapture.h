#ifndef APP_TESTING_LOGCAPTURE_H
#define APP_TESTING_LOGCAPTURE_H
// Header-only, for the application's tests: what the application logs while a test runs.

#include <mutex>
#include <string>
#include <vector>

#include "app/testing/AppTestSupport.h"
#include "platform/core/LogWriter.h"

namespace AppTestSupport {

// Takes the shared log writer's lines for as long as it lives (one at a time: the writer has
// one sink), then gives the writer back its own output. Lines may come from any thread.
class LogCapture {
public:
    LogCapture() {
        ns::LogWriter::Shared().SetSink([this](const std::string& line) {
            std::lock_guard<std::mutex> lock(mutex_);
            lines_.push_back(line);
        });
    }
    ~LogCapture() { ns::LogWriter::Shared().SetSink(nullptr); }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    // The messages of the lines that begin with prefix ("[Q-S]"), in order.
    std::vector<std::string> Messages(const std::string& prefix) const {
        std::lock_guard<std::mutex> lock(mutex_);
        return AppTestSupport::Messages(lines_, prefix);
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
};

}  // namespace AppTestSupport

#endif  // APP_TESTING_LOGCAPTURE_H
