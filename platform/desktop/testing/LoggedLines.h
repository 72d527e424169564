#ifndef PLATFORM_DESKTOP_TESTING_LOGGED_LINES_H
#define PLATFORM_DESKTOP_TESTING_LOGGED_LINES_H

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

#include "platform/core/LogWriter.h"

namespace ns::desktop {

// The log lines written while it lives (from any thread), instead of standard error.
class LoggedLines {
public:
    LoggedLines() {
        LogWriter::Shared().SetSink([this](const std::string& line) {
            std::lock_guard<std::mutex> lock(mutex_);
            lines_.push_back(line);
        });
    }
    ~LoggedLines() { LogWriter::Shared().SetSink(nullptr); }
    LoggedLines(const LoggedLines&) = delete;
    LoggedLines& operator=(const LoggedLines&) = delete;

    size_t Containing(const std::string& text) const {
        std::lock_guard<std::mutex> lock(mutex_);
        return static_cast<size_t>(std::count_if(lines_.begin(), lines_.end(), [&](auto& line) {
            return line.find(text) != std::string::npos;
        }));
    }
    // The first line that holds text; empty when none does.
    std::string FirstContaining(const std::string& text) const {
        std::lock_guard<std::mutex> lock(mutex_);
        for (const std::string& line : lines_) {
            if (line.find(text) != std::string::npos) return line;
        }
        return {};
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
};

}  // namespace ns::desktop

#endif
