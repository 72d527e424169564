// SV_Play of a remote HLS playlist: the system player plays it directly, so the engine runs no
// chain for it and hands the playlist's own URL out. Its start and its stop answer the same
// every time.

#include <gtest/gtest.h>

#include <string>

#include "engine/api/SViOsApi.h"
#include "engine/api/SViOsApiState.h"
#include "engine/api/SViOsApiTestFixture.h"
#include "engine/api/SViOsApiTestSupport.h"
#include "tests/support/ScopedEnvironment.h"
#include "tests/support/TemporaryDirectory.h"

namespace {

using namespace BridgeTestSupport;
using SarvelonMediaKit::SViOsApiState;

class SViOsApiRemotePlaylistTest : public SViOsApiTestFixture {};

// The worker of each start finds no chain to run. The start succeeds with the playlist's URL,
// however soon after SV_Play the worker gets there (when the worker recorded "no transformer",
// SV_Play returned 2008 whenever the worker was first). The stop answers 2008, "no
// transformer", every time: nothing ran; the bridge is free for the next start all the same.
TEST_F(SViOsApiRemotePlaylistTest, TwoHundredStartsSucceedAndTheirStopsSayNothingRan) {
    ASSERT_EQ(SV_Initialize(&Record, ns::Dictionary()), 0);
    const std::string remote = "https://origin.example/live/index.m3u8";
    int failures = 0;
    std::string first;
    const auto failed = [&](const std::string& what) {
        if (failures++ == 0) first = what;
    };
    for (int i = 0; i < 200; ++i) {
        std::string url;
        const int played = SV_Play(remote, &url, 0);
        if (played != 0 || url != remote) {
            failed("start " + std::to_string(i) + ": " + std::to_string(played) + " " + url);
        }
        const int stopped = SV_Stop();
        if (stopped != 2008) failed("stop " + std::to_string(i) + ": " + std::to_string(stopped));
    }
    EXPECT_EQ(0, failures) << "the first: " << first;
}

}  // namespace
