#include "platform/desktop/testing/DesktopEnvironment.h"

#include <exception>

#include "platform/desktop/PangoTextMeasure.h"
#include "platform/ui/TextMeasure.h"

namespace ns::desktop {

namespace {

TestDisplay* gDisplay = nullptr;

}  // namespace

void DesktopEnvironment::SetUp() {
    try {
        display_ = std::make_unique<TestDisplay>();
    } catch (const std::exception& e) {
        FAIL() << "no test display: " << e.what();
    }
    gDisplay = display_.get();
    // Models in a window measure their text as the window draws it.
    PangoTextMeasure::Install();
}

void DesktopEnvironment::TearDown() {
    gDisplay = nullptr;
    ui::TextMeasure::SetWidthMeasure(nullptr);
    display_.reset();
}

TestDisplay* DesktopEnvironment::Display() { return gDisplay; }

}  // namespace ns::desktop
