#ifndef ENGINE_INPUT_HTTPCLIENTINTERFACEFACTORY_H
#define ENGINE_INPUT_HTTPCLIENTINTERFACEFACTORY_H

#include <boost/shared_ptr.hpp>

#include <cstdint>
#include <map>
#include <string>

namespace SarvelonMediaKit {

class HTTPClientInterface;
class HTTPClientInterfaceClient;

// Makes the transport for one request: (out transport, URL, request parameters or null, owner or
// null, request body, transport parameter). With null parameters the body is ignored. The
// transport parameter is an opaque word the caller takes from its session.
typedef void (*HTTPClientInterfaceFactory)(boost::shared_ptr<HTTPClientInterface>& result,
                                           const std::string& url,
                                           const std::map<std::string, std::string>* parameters,
                                           HTTPClientInterfaceClient* client,
                                           const std::string& body, uint32_t transportParameter);

// Installs the engine-wide factory (null removes it); a later call replaces it. Any thread.
void SetHTTPClientInterfaceFactory(HTTPClientInterfaceFactory factory);

// The installed factory. Throws SVLibraryException SVL_BadInternalState ("No
// HTTPClientInterface was set") when none is installed. Callers fetch it right before every
// transport they make, so a replaced factory takes effect at once.
HTTPClientInterfaceFactory GetHTTPClientInterfaceFactory();

}  // namespace SarvelonMediaKit

#endif
