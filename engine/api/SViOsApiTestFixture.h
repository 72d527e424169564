#ifndef ENGINE_API_SVIOSAPITESTFIXTURE_H
#define ENGINE_API_SVIOSAPITESTFIXTURE_H
// Header-only: the base of the bridge's tests. Each test starts with a fresh bridge whose
// application callback records (SViOsApiTestSupport.h) and a documents folder of its own, so no
// test touches the real home directory; a bridge the test left initialised is stopped and
// terminated afterwards, and what it still queued is run and forgotten.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "engine/api/SViOsApi.h"
#include "engine/api/SViOsApiState.h"
#include "engine/api/SViOsApiTestSupport.h"
#include "engine/serve/ListeningPort.h"
#include "tests/support/LoopbackHttpGet.h"
#include "tests/support/ScopedEnvironment.h"
#include "tests/support/TemporaryDirectory.h"
#include "tests/support/ThreadTestSupport.h"
#include "tests/support/UnusedPort.h"

namespace BridgeTestSupport {

class SViOsApiTestFixture : public ::testing::Test {
protected:
    void SetUp() override { StartRecordingFresh(); }
    void TearDown() override {
        if (SarvelonMediaKit::SViOsApiState::Instance().IsInitialized()) {
            SV_Stop();
            SV_Terminate();
        }
        FinishRecording();
    }

    // Points the engine's loopback server at a port nothing holds, initialises the bridge with
    // `root` as its asset root and plays `title` (named relative to it). Returns the port, and
    // the playback URL in url; 0 when any step failed (the failure is the test's).
    uint16_t PlayFromRoot(const std::string& root, const std::string& title, std::string* url) {
        const uint16_t port = SvTestSupport::UnusedLoopbackPort();
        EXPECT_NE(0, port);
        if (port == 0) return 0;
        SarvelonMediaKit::SetLoopbackPort(port);
        ns::Dictionary settings;
        settings.Set("SVAssetRootKey", ns::Value(root));
        const int initialized = SV_Initialize(&Record, settings);
        EXPECT_EQ(0, initialized);
        if (initialized != 0) return 0;
        const int played = SV_Play(title, url, 0);
        EXPECT_EQ(0, played);
        return played == 0 ? port : 0;
    }

    // The playlist at the playback URL, once the loopback server answers: the engine's worker
    // opens the port after SV_Play returns. Status 0 when it never answered.
    static SvTestSupport::HttpAnswer AwaitPlaylist(uint16_t port, const std::string& url) {
        const std::string playlist = url.substr(url.rfind('/') + 1);
        SvTestSupport::HttpAnswer list;
        SvTestSupport::WaitUntil([&] {
            list = SvTestSupport::HttpGet(port, playlist);
            return list.status != 0;
        });
        return list;
    }

    SvTestSupport::TemporaryDirectory tmp_{"svbridge"};
    SvTestSupport::ScopedEnvironment documents_{"SV_DOCUMENTS_DIR", tmp_.File("Documents").c_str()};
};

}  // namespace BridgeTestSupport

#endif  // ENGINE_API_SVIOSAPITESTFIXTURE_H
