#ifndef ENGINE_INPUT_HTTPCLIENTINTERFACECLIENT_H
#define ENGINE_INPUT_HTTPCLIENTINTERFACECLIENT_H

namespace SarvelonMediaKit {

class HTTPClientInterface;

// The owner of a transport, told when the transport is made and when it goes away without
// having been closed (a closed transport has forgotten its owner).
class HTTPClientInterfaceClient {
public:
    virtual ~HTTPClientInterfaceClient() {}

    virtual void HTTPClientInterfaceCreated(HTTPClientInterface* transport) = 0;
    virtual void HTTPClientInterfaceDestroyed(HTTPClientInterface* transport) = 0;
};

}  // namespace SarvelonMediaKit

#endif
