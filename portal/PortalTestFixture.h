#ifndef PORTAL_PORTALTESTFIXTURE_H
#define PORTAL_PORTALTESTFIXTURE_H
// A fresh portal per test on a port of its own; the demo data are made once, in the build
// folder, and shared by every test process.

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "portal/PortalServer.h"
#include "portal/PortalTestClient.h"

namespace ZulPortal {
namespace test {

class PortalTest : public ::testing::Test {
protected:
    static PortalServer::Options DefaultOptions() {
        PortalServer::Options options;
        options.dataFolder = SV_PORTAL_DATA_DIR;
        options.mktitle = SV_MKTITLE_PATH;
        options.slowSearchMs = 300;
        return options;
    }
    void SetUp() override { Start(DefaultOptions()); }
    void Start(const PortalServer::Options& options) {
        portal_.reset();
        portal_.reset(new PortalServer(options));
    }
    uint16_t Port() const { return portal_->Port(); }

    std::unique_ptr<PortalServer> portal_;
};

}  // namespace test
}  // namespace ZulPortal

#endif
