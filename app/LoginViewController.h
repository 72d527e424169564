#ifndef APP_LOGINVIEWCONTROLLER_H
#define APP_LOGINVIEWCONTROLLER_H
// The sign-in screen: an e-mail address and a password, and two requests to the portal. The
// first, a GET of the home page, only collects the portal's cookies; the second posts the form
// (ZULLoginConnection) and registers this device with the account. The portal answers through
// the "DEVICE_..." headers of the redirect that follows the POST and through the sign-in
// cookies:
//
//   signed in  = "DEVICE_LOGIN_STATUS" 0 and both sign-in cookies stored
//   signed in, "DEVICE_LOGIN_STATUS_CODE" 1     -> device-added alert, the portal after it
//   signed in otherwise                         -> the portal at once
//   refused, last HTTP status 503               -> service-unavailable alert
//   refused, "DEVICE_LOGIN_STATUS_CODE" 1       -> no-free-slot alert
//   refused otherwise                           -> bad-credentials alert
//
// After a refusal every cookie is deleted, so the next attempt starts clean, and the form comes
// back; a transport failure shows the network alert and brings the form back too. A successful
// sign-in stores the e-mail and password in the user defaults, from where the fields are filled
// the next time the screen loads.
//
// The interface comes from "LoginViewController~iPhone" or "LoginViewController~iPad"
// (LoginViewControllerBuilders.h). Its host (ZULAppDelegate) gives the portal's addresses and
// Basic credentials and shows the portal after a sign-in. Main thread only; make it with
// std::make_shared.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "app/ZULLoadingView.h"
#include "app/ZULScreenHost.h"
#include "app/ZULSecureTextField.h"
#include "app/ZULTextField.h"
#include "platform/core/Notification.h"
#include "platform/net/URLConnection.h"
#include "platform/net/URLConnectionDelegate.h"
#include "platform/ui/AlertView.h"
#include "platform/ui/Animation.h"
#include "platform/ui/BasicAnimation.h"
#include "platform/ui/Button.h"
#include "platform/ui/Label.h"
#include "platform/ui/TextField.h"
#include "platform/ui/ViewController.h"

class LoginViewController : public ui::ViewController,
                            public ns::URLConnectionDelegate,
                            public ui::TextFieldDelegate,
                            public ui::AlertViewDelegate,
                            public ui::AnimationDelegate {
public:
    // The user defaults that keep the last credentials that signed in.
    static constexpr const char* kUserLoginKey = "ZUL User Login";
    static constexpr const char* kUserPasswordKey = "ZUL User Password";
    // The response headers of the sign-in's redirect.
    static constexpr const char* kLoginStatusHeader = "DEVICE_LOGIN_STATUS";
    static constexpr const char* kLoginStatusCodeHeader = "DEVICE_LOGIN_STATUS_CODE";
    static constexpr const char* kFreeSlotsHeader = "DEVICE_FREE_SLOTS";
    static constexpr const char* kMaxSlotsHeader = "DEVICE_MAX_SLOTS";
    // The device-added alert, after which the portal is shown.
    static constexpr int kDeviceAddedAlertTag = 100;
    // "DEVICE_LOGIN_STATUS_CODE" for a new device (signed in) or no free slot (refused).
    static constexpr int kStatusCodeDeviceSlot = 1;

    // host: held weakly; without one the requests have no address and the portal never comes.
    LoginViewController(const std::string& interfaceFileName, std::weak_ptr<ZULScreenHost> host);
    ~LoginViewController() override;
    const char* ClassName() const override { return "LoginViewController"; }

    // Outlets (null until the view is loaded).
    const std::shared_ptr<ui::Label>& label() const { return label_; }
    const std::shared_ptr<ui::View>& emailAndPasswordView() const { return emailAndPasswordView_; }
    const std::shared_ptr<ZULTextField>& emailTextField() const { return emailTextField_; }
    const std::shared_ptr<ZULSecureTextField>& passwordlTextField() const {
        return passwordlTextField_;
    }
    const std::shared_ptr<ui::Button>& signInButton() const { return signInButton_; }
    const std::shared_ptr<ZULLoadingView>& loadingView() const { return zulLoadingView_; }

    void signInAction();
    void enableSignInInterface(bool enable);
    void hideSignInInterface(bool hide);
    void hideSignInInterface(bool hide, bool animated);
    void updateSubviewsFrameForKeyboardShow(bool keyboardShown);
    ui::BasicAnimation emptyTextFieldAnimation();
    void resetFakeConnection();
    void resetLoginConnection();

    // ui::ViewController
    void ViewDidLoad() override;
    void ViewDidUnload() override;
    void ViewWillAppear(bool animated) override;
    bool ShouldAutorotateToInterfaceOrientation(ui::InterfaceOrientation orientation) override;
    void WillAnimateRotationToInterfaceOrientation(ui::InterfaceOrientation orientation,
                                                   double duration) override;

    // ns::URLConnectionDelegate
    std::optional<ns::URLRequest> WillSendRequest(ns::URLConnection& connection,
                                                  const ns::URLRequest& request,
                                                  const ns::URLResponse& redirectResponse) override;
    void WillSendRequestForAuthenticationChallenge(
        ns::URLConnection& connection, const ns::AuthenticationChallenge& challenge) override;
    void DidReceiveResponse(ns::URLConnection& connection,
                            const ns::URLResponse& response) override;
    void DidFailWithError(ns::URLConnection& connection, const ns::Error& error) override;
    void DidFinishLoading(ns::URLConnection& connection) override;

    // ui::TextFieldDelegate
    bool ShouldReturn(ui::TextField& field) override;
    // ui::AlertViewDelegate
    void DidDismissWithButtonIndex(ui::AlertView& alert, int index) override;
    // ui::AnimationDelegate
    void AnimationDidStop(const ui::Animation& animation, bool finished) override;

private:
    std::shared_ptr<LoginViewController> self();
    void styleNavigationBar();
    void keyboardWillShowNotification(const ns::Notification& notification);
    void stopObservingNotifications();
    void loginConnectionDidFinishLoading();
    void showRefusal();
    void showPortal();

    std::weak_ptr<ZULScreenHost> host_;
    std::shared_ptr<ui::Label> label_;
    std::shared_ptr<ui::View> emailAndPasswordView_;
    std::shared_ptr<ZULTextField> emailTextField_;
    std::shared_ptr<ZULSecureTextField> passwordlTextField_;
    std::shared_ptr<ui::Button> signInButton_;

    double horizontalMargin_;
    int httpResponseStatusCode_ = 200;
    int loginStatus_ = -1;
    int loginStatusCode_ = 0;
    int loginFreeSlots_ = 0;
    int loginMaxSlots_ = 0;
    std::shared_ptr<ns::URLConnection> fakeURLConnection_;
    std::shared_ptr<ns::URLConnection> loginURLConnection_;
    std::shared_ptr<ZULLoadingView> zulLoadingView_;
    uint64_t keyboardObserver_ = 0;
};

#endif  // APP_LOGINVIEWCONTROLLER_H
