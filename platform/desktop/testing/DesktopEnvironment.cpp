#include "platform/desktop/testing/DesktopEnvironment.h"

#include <exception>

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
}

void DesktopEnvironment::TearDown() {
    gDisplay = nullptr;
    display_.reset();
}

TestDisplay* DesktopEnvironment::Display() { return gDisplay; }

}  // namespace ns::desktop
