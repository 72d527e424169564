#ifndef TESTS_SUPPORT_ERRORRECORDER_H
#define TESTS_SUPPORT_ERRORRECORDER_H

// Header-only: a monitor that keeps the errors and warnings a source publishes.

#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "SVLibrary/Types/SVStatus.h"
#include "engine/core/ErrorInfoMonitor.h"

namespace SvTestSupport {

// Keeps every error and every warning it is told, in order, each as (status, text). Locked:
// the publishing thread may differ from the reading one.
class ErrorRecorder : public SarvelonMediaKit::ErrorInfoMonitor {
public:
    typedef std::pair<SVStatus, std::string> Report;

    ~ErrorRecorder() override { DetachFromSources(); }

    void SetError(SVStatus status, std::string text) override {
        std::lock_guard<std::mutex> lock(mutex_);
        errors_.push_back(std::make_pair(status, std::move(text)));
    }
    void SetWarning(SVStatus status, std::string text) override {
        std::lock_guard<std::mutex> lock(mutex_);
        warnings_.push_back(std::make_pair(status, std::move(text)));
    }

    std::vector<Report> Errors() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return errors_;
    }
    std::vector<Report> Warnings() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return warnings_;
    }
    void Clear() {
        std::lock_guard<std::mutex> lock(mutex_);
        errors_.clear();
        warnings_.clear();
    }

private:
    mutable std::mutex mutex_;
    std::vector<Report> errors_;
    std::vector<Report> warnings_;
};

}  // namespace SvTestSupport

#endif
