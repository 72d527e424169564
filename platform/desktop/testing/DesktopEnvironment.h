#ifndef PLATFORM_DESKTOP_TESTING_DESKTOP_ENVIRONMENT_H
#define PLATFORM_DESKTOP_TESTING_DESKTOP_ENVIRONMENT_H
// The desktop test program's global environment: one TestDisplay (a private Xvfb with GTK on
// it) for the whole run, started before the first test and stopped after the last. When it
// cannot start, the set-up fails and no test runs.

#include <gtest/gtest.h>

#include <memory>

#include "platform/desktop/testing/TestDisplay.h"

namespace ns::desktop {

class DesktopEnvironment : public ::testing::Environment {
public:
    void SetUp() override;
    void TearDown() override;

    // The display of the run; null outside it.
    static TestDisplay* Display();

private:
    std::unique_ptr<TestDisplay> display_;
};

}  // namespace ns::desktop

#endif
