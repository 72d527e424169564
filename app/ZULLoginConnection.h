#ifndef APP_ZULLOGINCONNECTION_H
#define APP_ZULLOGINCONNECTION_H
// The two requests of a sign-in. The first, a GET of the portal's home page, only collects
// the portal's cookies. The second posts the sign-in form to the sign-in URL:
//
//   POST <loginURL>
//   User-Agent, Cookie            (every request of the application carries them)
//   Accept-Language: pl,en-US;q=0.8,en;q=0.6
//   Accept-Charset: ISO-8859-2,utf-8;q=0.7,*;q=0.3
//   Connection: keep-alive
//   Cache-Control: max-age=0
//   Content-Type: application/x-www-form-urlencoded
//   Accept: text/html,application/xhtml+xml,application/xml;q=0.9,*/*;q=0.8
//   Referer: <fakeURL>
//
//   _58_redirect=&_58_login=E&_58_password=P&_58_did=UUID&_58_dinfo=INFO&sign_in=Sign+in
//
// E, P and INFO ("<device name>, <model> <system version>") are percent-escaped UTF-8 in which
// only letters, digits and "-._~" stand as they are: a reserved character, a space or a '%'
// of the user's text would otherwise change what the server reads. The device UUID (upper-case
// hexadecimal and hyphens) needs no escaping. Both connections start at once on the toolkit's
// loop.
//
// Neither answer's body is used (the sign-in reads the headers of the redirects and the
// cookies), but it is read to its end before the sign-in goes on: each body, a redirect's
// included, is capped at kMaxAnswerBytes, so an answer that streams for ever fails the
// connection (with the exceeds-maximum error) instead of keeping "Signing in..." up for good.

#include <cstddef>
#include <memory>
#include <string>

#include "platform/net/URLConnection.h"
#include "platform/net/URLConnectionDelegate.h"
#include "platform/net/URLRequest.h"

namespace ZULLoginConnection {

// Far above a portal page; an answer longer than this is not one.
constexpr size_t kMaxAnswerBytes = 4 * 1024 * 1024;

// A value of the sign-in form as it goes into the body.
std::string escapeFormValue(const std::string& text);
// "<device name>, <model> <system version>" of this device, not escaped.
std::string deviceInformation();
std::string loginBodyForEmail(const std::string& email, const std::string& password);

// fakeURL and loginURL are the portal's home page and its sign-in URL, from the application's
// configuration; an empty one fails to load.
ns::URLRequest fakeRequest(const std::string& fakeURL);
ns::URLRequest loginRequestWithEmail(const std::string& loginURL, const std::string& fakeURL,
                                     const std::string& email, const std::string& password);

std::shared_ptr<ns::URLConnection> initForFakeConnection(const std::string& fakeURL,
                                                         ns::URLConnectionDelegate* delegate);
std::shared_ptr<ns::URLConnection> initForLoginConnectionWithEmail(
    const std::string& loginURL, const std::string& fakeURL, const std::string& email,
    const std::string& password, ns::URLConnectionDelegate* delegate);

}  // namespace ZULLoginConnection

#endif  // APP_ZULLOGINCONNECTION_H
