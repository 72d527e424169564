#include "platform/core/Device.h"

#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>

#include <optional>
#include <string>

namespace {

// Sets or unsets one environment variable for the life of the object, then restores it.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : name_(name) {
        if (const char* old = getenv(name)) old_ = old;
        if (value) {
            setenv(name, value, 1);
        } else {
            unsetenv(name);
        }
    }
    ~ScopedEnv() {
        if (old_) {
            setenv(name_.c_str(), old_->c_str(), 1);
        } else {
            unsetenv(name_.c_str());
        }
    }

private:
    std::string name_;
    std::optional<std::string> old_;
};

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
    ScopedEnv env("SV_DEVICE_MODEL", "iPhone2,1");
    EXPECT_EQ(ns::Device::Model(), "iPhone2,1");
}

TEST(DeviceTest, WithoutOverrideOrWithAnEmptyOneTheModelIsUnamesMachine) {
    const std::string expected = UnameMachine();
    ASSERT_FALSE(expected.empty());
    {
        ScopedEnv env("SV_DEVICE_MODEL", nullptr);
        EXPECT_EQ(ns::Device::Model(), expected);
    }
    {
        ScopedEnv env("SV_DEVICE_MODEL", "");
        EXPECT_EQ(ns::Device::Model(), expected);
    }
}

}  // namespace
