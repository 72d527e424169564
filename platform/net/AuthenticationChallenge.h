#ifndef PLATFORM_NET_AUTHENTICATION_CHALLENGE_H
#define PLATFORM_NET_AUTHENTICATION_CHALLENGE_H
// A server's demand for credentials (an HTTP 401 with a Basic challenge), as a connection hands
// it to its delegate: where it comes from (the protection space), how many credentials for it
// have failed already, the response that carried it and the credential last used.

#include <optional>
#include <string>
#include <utility>

#include "platform/net/URLCredential.h"
#include "platform/net/URLResponse.h"

namespace ns {

class AuthenticationChallenge {
public:
    static constexpr const char* kMethodHTTPBasic = "NSURLAuthenticationMethodHTTPBasic";

    struct ProtectionSpace {
        std::string host;
        int port = -1;
        std::string protocol;  // the URL scheme, "http" or "https"
        std::string realm;
        std::string authenticationMethod = kMethodHTTPBasic;
    };

    AuthenticationChallenge(ProtectionSpace space, int previousFailureCount,
                            URLResponse failureResponse,
                            std::optional<URLCredential> proposedCredential)
        : space_(std::move(space)),
          previousFailureCount_(previousFailureCount),
          failureResponse_(std::move(failureResponse)),
          proposedCredential_(std::move(proposedCredential)) {}

    const ProtectionSpace& GetProtectionSpace() const { return space_; }
    int PreviousFailureCount() const { return previousFailureCount_; }
    const URLResponse& FailureResponse() const { return failureResponse_; }
    const std::optional<URLCredential>& ProposedCredential() const { return proposedCredential_; }

private:
    ProtectionSpace space_;
    int previousFailureCount_;
    URLResponse failureResponse_;
    std::optional<URLCredential> proposedCredential_;
};

}  // namespace ns

#endif
