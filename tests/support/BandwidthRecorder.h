#ifndef TESTS_SUPPORT_BANDWIDTHRECORDER_H
#define TESTS_SUPPORT_BANDWIDTHRECORDER_H

// Header-only: a bandwidth monitor for tests of the sources that publish rates.

#include <cstdint>
#include <mutex>
#include <vector>

#include "engine/core/BandwidthInfoMonitor.h"

namespace SvTestSupport {

// Keeps every rate a bandwidth source publishes, in order, with whether it was measured.
class BandwidthRecorder : public SarvelonMediaKit::BandwidthInfoMonitor {
public:
    struct Report {
        uint32_t bytesPerSecond;
        bool measured;
    };
    ~BandwidthRecorder() override { DetachFromSources(); }
    void BandwidthUpdate(SarvelonMediaKit::ByteAmount bandwidth, bool measured) override {
        std::lock_guard<std::mutex> lock(mutex_);
        reports_.push_back(Report{bandwidth.Get(), measured});
    }
    std::vector<Report> Reports() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return reports_;
    }
    // The rates alone.
    std::vector<uint32_t> Rates() const {
        std::vector<uint32_t> rates;
        for (const Report& report : Reports()) {
            rates.push_back(report.bytesPerSecond);
        }
        return rates;
    }

private:
    mutable std::mutex mutex_;
    std::vector<Report> reports_;
};

}  // namespace SvTestSupport

#endif
