#ifndef ENGINE_INPUT_CURLTRANSPORTTESTFIXTURE_H
#define ENGINE_INPUT_CURLTRANSPORTTESTFIXTURE_H

// Header-only: the base of tests whose downloads go through the engine's real transport. The
// transport is installed before each test and shut down after it, so no download thread or
// connection outlives the test that started it.

#include <gtest/gtest.h>

#include "engine/input/CurlHTTPClientInterface.h"
#include "engine/input/HTTPClientInterfaceFactory.h"
#include "engine/input/HTTPThread.h"

namespace SarvelonMediaKit {

class CurlTransportTestFixture : public ::testing::Test {
protected:
    void SetUp() override { SetHTTPClientInterfaceFactory(&CreateCurlHTTPClientInterface); }
    void TearDown() override {
        ShutdownCurlHTTPClientInterface();
        SetHTTPClientInterfaceFactory(nullptr);
    }
};

}  // namespace SarvelonMediaKit

#endif
