#ifndef ENGINE_API_SVIOSAPITESTFIXTURE_H
#define ENGINE_API_SVIOSAPITESTFIXTURE_H
// Header-only: the base of the bridge's tests. Each test starts with a fresh bridge whose
// application callback records (SViOsApiTestSupport.h) and a documents folder of its own, so no
// test touches the real home directory; a bridge the test left initialised is stopped and
// terminated afterwards, and what it still queued is run and forgotten.

#include <gtest/gtest.h>

#include "engine/api/SViOsApi.h"
#include "engine/api/SViOsApiState.h"
#include "engine/api/SViOsApiTestSupport.h"
#include "tests/support/ScopedEnvironment.h"
#include "tests/support/TemporaryDirectory.h"

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

    SvTestSupport::TemporaryDirectory tmp_{"svbridge"};
    SvTestSupport::ScopedEnvironment documents_{"SV_DOCUMENTS_DIR", tmp_.File("Documents").c_str()};
};

}  // namespace BridgeTestSupport

#endif  // ENGINE_API_SVIOSAPITESTFIXTURE_H
