#include "platform/core/Device.h"

#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>

#include <optional>
#include <string>

#include "tests/support/ScopedEnvironment.h"

namespace {

using SvTestSupport::ScopedEnvironment;

// The machine field as the uname program reports it: an oracle outside the code under test.
std::string UnameMachine() {
    std::string out;
    if (FILE* p = popen("uname -m", "r")) {
        char buffer[256];
        while (fgets(buffer, sizeof buffer, p)) out += buffer;
        pclose(p);
    }
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
    return out;
}

TEST(DeviceTest, EnvironmentOverridesTheMachineField) {
    ScopedEnvironment env("SV_DEVICE_MODEL", "iPhone2,1");
    EXPECT_EQ(ns::Device::Model(), "iPhone2,1");
}

TEST(DeviceTest, WithoutOverrideOrWithAnEmptyOneTheModelIsUnamesMachine) {
    const std::string expected = UnameMachine();
    ASSERT_FALSE(expected.empty());
    {
        ScopedEnvironment env("SV_DEVICE_MODEL", nullptr);
        EXPECT_EQ(ns::Device::Model(), expected);
    }
    {
        ScopedEnvironment env("SV_DEVICE_MODEL", "");
        EXPECT_EQ(ns::Device::Model(), expected);
    }
}

}  // namespace
