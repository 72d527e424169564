#include "platform/ui/ScreenMetrics.h"

#include <optional>

#include "platform/ui/Screen.h"
#include "platform/ui/UiDevice.h"

namespace ui {
namespace {

std::optional<ScreenMetrics>& Override() {
    static auto* metrics = new std::optional<ScreenMetrics>();  // never destroyed
    return *metrics;
}

}  // namespace

ScreenMetrics ScreenMetrics::Current() {
    if (Override()) {
        return *Override();
    }
    ScreenMetrics metrics;
    metrics.pad = UiDevice::Current().Idiom() == UserInterfaceIdiom::Pad;
    metrics.size = Screen::Main().Bounds().size;
    return metrics;
}

void ScreenMetrics::SetCurrent(const ScreenMetrics& metrics) { Override() = metrics; }

void ScreenMetrics::ClearOverride() { Override().reset(); }

}  // namespace ui
