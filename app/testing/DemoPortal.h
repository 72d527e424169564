#ifndef APP_TESTING_DEMOPORTAL_H
#define APP_TESTING_DEMOPORTAL_H
// Header-only, for the application's tests: the demo portal started in the test's process from
// the build's portal data and title maker, and an accounts file in which this machine is one of
// the demo subscriber's devices already (so a sign-in goes straight to the portal).

#include <cstdio>
#include <memory>
#include <string>

#include "app/LoginUDID.h"
#include "portal/PortalServer.h"

namespace AppTestSupport {

// The demo portal's options: the build's data and title maker. With an accounts file, the
// portal's accounts are those; otherwise its built-in ones.
inline ZulPortal::PortalServer::Options DemoPortalOptions(
    const std::string& accountsFile = std::string()) {
    ZulPortal::PortalServer::Options options;
    options.dataFolder = SV_PORTAL_DATA_DIR;
    options.mktitle = SV_MKTITLE_PATH;
    options.accountsFile = accountsFile;
    return options;
}

inline std::unique_ptr<ZulPortal::PortalServer> StartDemoPortal(
    const std::string& accountsFile = std::string()) {
    return std::make_unique<ZulPortal::PortalServer>(DemoPortalOptions(accountsFile));
}

// Writes demo@zul.test/demo with this device's UDID registered to `path`; false when the file
// cannot be written.
inline bool WriteAccountsWithThisDevice(const std::string& path) {
    FILE* file = std::fopen(path.c_str(), "wbe");
    if (file == nullptr) return false;
    std::fprintf(
        file,
        R"({"accounts": [{"login": "demo@zul.test", "password": "demo", "devices": ["%s"]}]})",
        LoginUDID::sharedLoginUDID().getUDID().c_str());
    std::fclose(file);
    return true;
}

}  // namespace AppTestSupport

#endif  // APP_TESTING_DEMOPORTAL_H
