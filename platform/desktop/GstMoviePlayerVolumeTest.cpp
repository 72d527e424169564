// The GStreamer player plays at the application's volume and follows it as it changes.
#include <gtest/gtest.h>

#include <chrono>

#include "platform/core/NotificationCenter.h"
#include "platform/core/RunLoop.h"
#include "platform/desktop/GstMoviePlayer.h"
#include "platform/media/SystemVolume.h"

namespace ns::desktop {
namespace {

TEST(GstMoviePlayerVolumeTest, ThePipelinePlaysAtTheApplicationsVolume) {
    // This thread steps the main loop, so the default centre delivers here at once.
    RunLoop::Main().RunOnce(std::chrono::milliseconds(0));
    SystemVolume::Set(0.6);
    {
        GstMoviePlayer player(RunLoop::Main(), NotificationCenter::Default());
        EXPECT_DOUBLE_EQ(0.6, player.PipelineVolume());
        SystemVolume::Set(0.25);
        EXPECT_DOUBLE_EQ(0.25, player.PipelineVolume());
        SystemVolume::Set(0);
        EXPECT_DOUBLE_EQ(0, player.PipelineVolume());
    }
    // A player that is gone hears nothing more.
    SystemVolume::Set(1);
    EXPECT_DOUBLE_EQ(1, SystemVolume::Get());
}

}  // namespace
}  // namespace ns::desktop
