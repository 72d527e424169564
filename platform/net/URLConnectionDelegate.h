#ifndef PLATFORM_NET_URL_CONNECTION_DELEGATE_H
#define PLATFORM_NET_URL_CONNECTION_DELEGATE_H
// What a URL connection tells its delegate, on the run loop's thread, one call at a time and
// never under a lock. For one connection the calls come in this order: a redirect or an
// authentication challenge for each intermediate hop, then the response, its data in pieces,
// and finally either DidFinishLoading or DidFailWithError (a failure may also come before any
// response). After Cancel() nothing more arrives. A delegate may cancel the connection, drop
// its last reference to it, or start a new one from inside any of these calls.

#include <optional>
#include <string>

#include "platform/net/AuthenticationChallenge.h"
#include "platform/net/Error.h"
#include "platform/net/URLRequest.h"
#include "platform/net/URLResponse.h"

namespace ns {

class URLConnection;

class URLConnectionDelegate {
public:
    virtual ~URLConnectionDelegate() = default;

    // A redirect: `request` is the next hop as the connection would send it, `redirectResponse`
    // the 3xx that asked for it. Return the request to send (changed or not), or nothing to stop
    // here, in which case the redirect response becomes the connection's response.
    virtual std::optional<URLRequest> WillSendRequest(URLConnection& /*connection*/,
                                                      const URLRequest& request,
                                                      const URLResponse& /*redirectResponse*/) {
        return request;
    }
    // Answer with the connection's UseCredential, ContinueWithoutCredential or
    // CancelAuthenticationChallenge, now or later. The default goes on without a credential,
    // which delivers the 401 response as it came.
    virtual void WillSendRequestForAuthenticationChallenge(
        URLConnection& connection, const AuthenticationChallenge& challenge);
    virtual void DidReceiveResponse(URLConnection& /*connection*/,
                                    const URLResponse& /*response*/) {}
    virtual void DidReceiveData(URLConnection& /*connection*/, const std::string& /*data*/) {}
    virtual void DidFinishLoading(URLConnection& /*connection*/) {}
    virtual void DidFailWithError(URLConnection& /*connection*/, const Error& /*error*/) {}
};

}  // namespace ns

#endif
