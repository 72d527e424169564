#include "platform/net/URLConnectionDelegate.h"

#include "platform/net/URLConnection.h"

namespace ns {

void URLConnectionDelegate::WillSendRequestForAuthenticationChallenge(
    URLConnection& connection, const AuthenticationChallenge& /*challenge*/) {
    connection.ContinueWithoutCredential();
}

}  // namespace ns
