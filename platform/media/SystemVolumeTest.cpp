// The application's sound volume: kept within [0, 1], and a change is announced once.

#include "platform/media/SystemVolume.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <vector>

#include "platform/core/NotificationCenter.h"
#include "platform/core/RunLoop.h"

namespace {

TEST(SystemVolumeTest, ClampsIgnoresNaNAndAnnouncesEachChangeOnce) {
    // This thread steps the main loop, so the default centre delivers at once.
    ns::RunLoop::Main().RunOnce(std::chrono::milliseconds(0));
    ns::SystemVolume::Set(1);
    std::vector<double> heard;
    const uint64_t token = ns::NotificationCenter::Default().AddObserver(
        ns::SystemVolume::kDidChange, [&heard](const ns::Notification& n) {
            heard.push_back(n.userInfo[ns::SystemVolume::kVolumeKey].DoubleValue());
        });
    ns::SystemVolume::Set(0.5);
    ns::SystemVolume::Set(0.5);  // no change, nothing said
    ns::SystemVolume::Set(std::nan(""));
    EXPECT_EQ(0.5, ns::SystemVolume::Get());
    ns::SystemVolume::Set(-3);
    EXPECT_EQ(0.0, ns::SystemVolume::Get());
    ns::SystemVolume::Set(7);
    EXPECT_EQ(1.0, ns::SystemVolume::Get());
    ns::NotificationCenter::Default().RemoveObserver(token);
    EXPECT_EQ((std::vector<double>{0.5, 0.0, 1.0}), heard);
}

}  // namespace
