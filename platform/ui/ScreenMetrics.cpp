#include "platform/ui/ScreenMetrics.h"

namespace ui {
namespace {

ScreenMetrics& Metrics() {
    static auto* metrics = new ScreenMetrics();  // never destroyed
    return *metrics;
}

}  // namespace

const ScreenMetrics& ScreenMetrics::Current() { return Metrics(); }

void ScreenMetrics::SetCurrent(const ScreenMetrics& metrics) { Metrics() = metrics; }

}  // namespace ui
