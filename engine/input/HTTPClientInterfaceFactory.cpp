#include "engine/input/HTTPClientInterfaceFactory.h"

#include <atomic>

#include "SVLibrary/Exception/Exception.h"

namespace SarvelonMediaKit {

namespace {

// Atomic: the host installs it once, but sessions on other threads read it at any time.
std::atomic<HTTPClientInterfaceFactory> gFactory{nullptr};

}  // namespace

void SetHTTPClientInterfaceFactory(HTTPClientInterfaceFactory factory) { gFactory = factory; }

HTTPClientInterfaceFactory GetHTTPClientInterfaceFactory() {
    HTTPClientInterfaceFactory factory = gFactory.load();
    if (factory == nullptr) {
        throw SV::SVLibraryException(SV::SVL_BadInternalState, "No HTTPClientInterface was set");
    }
    return factory;
}

}  // namespace SarvelonMediaKit
