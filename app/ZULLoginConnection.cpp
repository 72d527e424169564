#include "app/ZULLoginConnection.h"

#include "app/LoginUDID.h"
#include "app/ZULRequest.h"
#include "platform/core/Format.h"
#include "platform/net/PercentEscape.h"
#include "platform/ui/Loop.h"
#include "platform/ui/UiDevice.h"

namespace ZULLoginConnection {

namespace {

// The form's fixed headers, in the order they are sent (Referer follows them).
const std::pair<const char*, const char*> kFormHeaders[] = {
    {"Accept-Language", "pl,en-US;q=0.8,en;q=0.6"},
    {"Accept-Charset", "ISO-8859-2,utf-8;q=0.7,*;q=0.3"},
    {"Connection", "keep-alive"},
    {"Cache-Control", "max-age=0"},
    {"Content-Type", "application/x-www-form-urlencoded"},
    {"Accept", "text/html,application/xhtml+xml,application/xml;q=0.9,*/*;q=0.8"},
};

}  // namespace

std::string escapeFormValue(const std::string& text) {
    return ns::PercentEscape::EscapeComponent(text);
}

std::string deviceInformation() {
    const ui::UiDevice& device = ui::UiDevice::Current();
    return ns::Format("%@, %@ %@", device.Name(), device.Model(), device.SystemVersion());
}

std::string loginBodyForEmail(const std::string& email, const std::string& password) {
    return ns::Format(
        "_58_redirect=&_58_login=%@&_58_password=%@&_58_did=%@&_58_dinfo=%@&sign_in=Sign+in",
        escapeFormValue(email), escapeFormValue(password), LoginUDID::sharedLoginUDID().getUDID(),
        escapeFormValue(deviceInformation()));
}

ns::URLRequest fakeRequest(const std::string& fakeURL) {
    return ZULRequest::requestWithURL(fakeURL);
}

ns::URLRequest loginRequestWithEmail(const std::string& loginURL, const std::string& fakeURL,
                                     const std::string& email, const std::string& password) {
    ns::URLRequest request = ZULRequest::requestWithURL(loginURL);
    request.SetHTTPMethod("POST");
    for (const auto& [field, value] : kFormHeaders) {
        request.SetValue(value, field);
    }
    request.SetValue(fakeURL, "Referer");
    request.SetHTTPBody(loginBodyForEmail(email, password));
    return request;
}

namespace {

std::shared_ptr<ns::URLConnection> StartCapped(const ns::URLRequest& request,
                                               ns::URLConnectionDelegate* delegate) {
    std::shared_ptr<ns::URLConnection> connection =
        ns::URLConnection::Start(request, delegate, ui::Loop());
    connection->SetMaximumBodyBytes(kMaxAnswerBytes);
    return connection;
}

}  // namespace

std::shared_ptr<ns::URLConnection> initForFakeConnection(const std::string& fakeURL,
                                                         ns::URLConnectionDelegate* delegate) {
    return StartCapped(fakeRequest(fakeURL), delegate);
}

std::shared_ptr<ns::URLConnection> initForLoginConnectionWithEmail(
    const std::string& loginURL, const std::string& fakeURL, const std::string& email,
    const std::string& password, ns::URLConnectionDelegate* delegate) {
    return StartCapped(loginRequestWithEmail(loginURL, fakeURL, email, password), delegate);
}

}  // namespace ZULLoginConnection
