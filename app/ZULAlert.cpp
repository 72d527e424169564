#include "app/ZULAlert.h"

#include <string>

#include "platform/core/Format.h"
#include "platform/store/Bundle.h"

namespace ZULAlert {

namespace {

std::string Localized(const std::string& key) { return ns::Bundle::Main().LocalizedString(key); }

ui::AlertView::Ptr Make(const std::string& prefix, const Delegate& delegate) {
    return std::make_shared<ui::AlertView>(Localized(prefix + "-Title"),
                                           Localized(prefix + "-Message"), delegate,
                                           Localized(prefix + "-Button"));
}

}  // namespace

ui::AlertView::Ptr initWithNetworkErrorForDelegate(const Delegate& delegate) {
    return Make("Error-Network", delegate);
}

ui::AlertView::Ptr initWithPlayerCustomErrorForDelegate(const Delegate& delegate, int code) {
    ui::AlertView::Ptr alert = Make("Error-Player-Custom-Error", delegate);
    alert->SetMessage(ns::Format("%@ (%d)", alert->Message(), code));
    return alert;
}

ui::AlertView::Ptr initWithSignInErrorBadCredentialsForDelegate(const Delegate& delegate) {
    return Make("Error-Sign-In", delegate);
}

ui::AlertView::Ptr initWithSignInErrorNoMoreFreeSlotsForDelegate(const Delegate& delegate) {
    return Make("Error-Sign-In-No-More-Slots", delegate);
}

ui::AlertView::Ptr initWithSignInSuccessDeviceAddedForDelegate(const Delegate& delegate) {
    return Make("Success-Sign-In-Device-Added", delegate);
}

ui::AlertView::Ptr initWithSignInErrorServiceUnavailableForDelegate(const Delegate& delegate) {
    return Make("Error-Sign-In-Service-Unavailable", delegate);
}

}  // namespace ZULAlert
