#include "app/LoginViewController.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <utility>

#include "app/LoginUDID.h"
#include "app/LoginViewControllerBuilders.h"
#include "app/WeakCallback.h"
#include "app/ZULAlert.h"
#include "app/ZULColor.h"
#include "app/ZULCookies.h"
#include "app/ZULFont.h"
#include "app/ZULLoginConnection.h"
#include "platform/core/LogWriter.h"
#include "platform/core/NotificationCenter.h"
#include "platform/net/URLCredential.h"
#include "platform/store/Bundle.h"
#include "platform/store/UserDefaults.h"
#include "platform/ui/Animate.h"
#include "platform/ui/Image.h"
#include "platform/ui/ImageView.h"
#include "platform/ui/Keyboard.h"
#include "platform/ui/NavigationBar.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/NavigationItem.h"
#include "platform/ui/UiDevice.h"

namespace {

constexpr double kSignInAnimationDuration = 0.35;
constexpr double kFormAnimationDuration = 0.25;
constexpr double kKeyboardAnimationDuration = 0.25;
constexpr double kShakeScale = 1.05;
constexpr double kShakeDuration = 0.15;
constexpr float kShakeRepeatCount = 2;
constexpr double kFormCornerRadius = 6;

std::string Localized(const char* key) { return ns::Bundle::Main().LocalizedString(key); }

bool IsPhoneLayout() { return !ui::UiDevice::Current().IsPad(); }

// The value of a "DEVICE_..." header as a number; none when the header is missing, empty or not
// a whole number (a value the portal did not mean cannot pass for status 0, "signed in").
std::optional<int> HeaderNumber(const ns::URLResponse& response, const char* name) {
    const std::string text = response.ValueForHTTPHeaderField(name);
    if (text.empty()) return std::nullopt;
    errno = 0;
    char* end = nullptr;
    const long value = std::strtol(text.c_str(), &end, 10);
    if (end == text.c_str() || *end != '\0' || errno == ERANGE || value < INT_MIN ||
        value > INT_MAX) {
        return std::nullopt;
    }
    return static_cast<int>(value);
}

// The header fields as the log shows them: {Name = value; ...}.
std::string FieldsText(const ns::HTTPHeaderFields& fields) {
    std::string text = "{";
    for (const auto& [name, value] : fields.Fields()) {
        text += " " + name + " = \"" + value + "\";";
    }
    return text + " }";
}

}  // namespace

LoginViewController::LoginViewController(const std::string& interfaceFileName,
                                         std::weak_ptr<ZULScreenHost> host)
    : ui::ViewController(interfaceFileName),
      host_(std::move(host)),
      horizontalMargin_(ui::UiDevice::Current().IsPad() ? 30 : 25) {
    RegisterLoginViewControllerBuilders();
    BindOutlet("label", label_);
    BindOutlet("emailAndPasswordView", emailAndPasswordView_);
    BindOutlet("emailTextField", emailTextField_);
    BindOutlet("passwordlTextField", passwordlTextField_);
    BindOutlet("signInButton", signInButton_);
    // The device's identity exists before the first sign-in needs it.
    LoginUDID::sharedLoginUDID();
}

LoginViewController::~LoginViewController() {
    stopObservingNotifications();
    // The connections call this controller back: nothing may reach it once it is gone.
    if (fakeURLConnection_) fakeURLConnection_->Cancel();
    if (loginURLConnection_) loginURLConnection_->Cancel();
}

std::shared_ptr<LoginViewController> LoginViewController::self() {
    return std::static_pointer_cast<LoginViewController>(shared_from_this());
}

void LoginViewController::showPortal() {
    if (const std::shared_ptr<ZULScreenHost> host = host_.lock()) host->showWebViewController();
}

// --- screen set-up

void LoginViewController::ViewDidLoad() {
    styleNavigationBar();
    if (label_) {
        label_->SetFont(ZULFont::zulSignInTextFont());
        label_->SetShadowColor(ui::Color::Black());
        label_->SetShadowOffset(ui::Size(0, 1));
        label_->SetText(Localized("Login-Message"));
    }
    if (emailTextField_) {
        emailTextField_->SetFont(ZULFont::zulFontWithSize(emailTextField_->GetFont().PointSize()));
        emailTextField_->SetPlaceholder(Localized("Login-Email-Placeholder"));
        emailTextField_->SetDelegate(self());
        emailTextField_->SetText(ns::UserDefaults::Standard().StringForKey(kUserLoginKey));
    }
    if (passwordlTextField_) {
        passwordlTextField_->SetFont(
            ZULFont::zulFontWithSize(passwordlTextField_->GetFont().PointSize()));
        passwordlTextField_->SetPlaceholder(Localized("Login-Password-Placeholder"));
        passwordlTextField_->SetDelegate(self());
        passwordlTextField_->SetText(ns::UserDefaults::Standard().StringForKey(kUserPasswordKey));
    }
    if (signInButton_) {
        signInButton_->TitleLabel()->SetFont(ZULFont::zulSignInButtonFont());
        signInButton_->SetTitle(Localized("Login-SignIn"), ui::ControlState::Normal);
    }
    if (emailAndPasswordView_) {
        emailAndPasswordView_->GetLayer().SetCornerRadius(kFormCornerRadius);
        zulLoadingView_ = std::make_shared<ZULLoadingView>(
            ui::Rect(ui::Point(), emailAndPasswordView_->Bounds().size));
        zulLoadingView_->SetIdentifier("loadingView");
        zulLoadingView_->setLoadingText(Localized("Login-Signing-In"));
        zulLoadingView_->SetAlpha(0);
        emailAndPasswordView_->AddSubview(zulLoadingView_);
    }
    if (IsPhoneLayout() && keyboardObserver_ == 0) {
        keyboardObserver_ = ns::NotificationCenter::Default().AddObserver(
            ui::kKeyboardWillShowNotification,
            WeakCallback(*this, &LoginViewController::keyboardWillShowNotification));
    }
}

void LoginViewController::ViewWillAppear(bool /*animated*/) {
    // A controller loaded before it was put in its navigation controller styles the bar now.
    styleNavigationBar();
}

void LoginViewController::styleNavigationBar() {
    std::shared_ptr<ui::NavigationController> navigation = GetNavigationController();
    if (!navigation) return;
    auto bar = std::dynamic_pointer_cast<ui::NavigationBar>(navigation->NavigationBar());
    if (!bar) {
        bar = std::make_shared<ui::NavigationBar>();
        navigation->SetNavigationBar(bar);
    }
    bar->SetBackgroundImage(ui::Image::Named("Navigation-Bar-Background.png"),
                            ui::BarMetrics::Default);
    ui::NavigationItem::Ptr item = GetNavigationItem();
    if (!item) {
        item = std::make_shared<ui::NavigationItem>();
        SetNavigationItem(item);
    }
    if (!item->TitleView()) {
        item->SetTitleView(
            std::make_shared<ui::ImageView>(ui::Image::Named("Navigation-Bar-Title")));
    }
    if (bar->TopItem() != item) bar->PushNavigationItem(item, false);
}

void LoginViewController::ViewDidUnload() {
    stopObservingNotifications();
    label_.reset();
    emailAndPasswordView_.reset();
    emailTextField_.reset();
    passwordlTextField_.reset();
    signInButton_.reset();
    zulLoadingView_.reset();
}

void LoginViewController::stopObservingNotifications() {
    if (keyboardObserver_ != 0) {
        ns::NotificationCenter::Default().RemoveObserver(keyboardObserver_);
        keyboardObserver_ = 0;
    }
}

bool LoginViewController::ShouldAutorotateToInterfaceOrientation(
    ui::InterfaceOrientation /*orientation*/) {
    return true;
}

void LoginViewController::WillAnimateRotationToInterfaceOrientation(
    ui::InterfaceOrientation /*orientation*/, double /*duration*/) {
    if (IsPhoneLayout()) updateSubviewsFrameForKeyboardShow(false);
}

// --- layout and form

void LoginViewController::updateSubviewsFrameForKeyboardShow(bool keyboardShown) {
    if (!label_ || !emailAndPasswordView_ || !signInButton_) return;
    ui::Rect labelFrame = label_->Frame();
    labelFrame.origin.y = keyboardShown ? -labelFrame.Height() : horizontalMargin_;
    label_->SetFrame(labelFrame);
    ui::Rect formFrame = emailAndPasswordView_->Frame();
    formFrame.origin.y = labelFrame.MaxY() + horizontalMargin_;
    emailAndPasswordView_->SetFrame(formFrame);
    ui::Rect buttonFrame = signInButton_->Frame();
    buttonFrame.origin.y = formFrame.MaxY() + horizontalMargin_;
    signInButton_->SetFrame(buttonFrame);
}

void LoginViewController::keyboardWillShowNotification(const ns::Notification& notification) {
    ns::Log("[LVC] keyboardWillShowNotification:%@", notification.userInfo);
    ui::Animate(
        kKeyboardAnimationDuration, [this] { updateSubviewsFrameForKeyboardShow(true); },
        WeakCallback(*this, [](LoginViewController& login) {
            if (login.label_) login.label_->SetHidden(true);
        }));
}

void LoginViewController::enableSignInInterface(bool enable) {
    if (emailTextField_) emailTextField_->SetEnabled(enable);
    if (passwordlTextField_) passwordlTextField_->SetEnabled(enable);
    if (signInButton_) signInButton_->SetEnabled(enable);
}

void LoginViewController::hideSignInInterface(bool hide) {
    const double fieldAlpha = hide ? 0 : 1;
    if (emailTextField_) emailTextField_->SetAlpha(fieldAlpha);
    if (passwordlTextField_) passwordlTextField_->SetAlpha(fieldAlpha);
    if (!zulLoadingView_) return;
    zulLoadingView_->SetAlpha(1 - fieldAlpha);
    if (hide) {
        zulLoadingView_->startSpin();
    } else {
        zulLoadingView_->cancelSpin();
    }
}

void LoginViewController::hideSignInInterface(bool hide, bool animated) {
    if (!animated) {
        hideSignInInterface(hide);
        return;
    }
    ui::Animate(kFormAnimationDuration, WeakCallback(*this, [hide](LoginViewController& login) {
                    login.hideSignInInterface(hide);
                }));
}

ui::BasicAnimation LoginViewController::emptyTextFieldAnimation() {
    ui::BasicAnimation shake("transform");
    shake.SetToValue(ui::Transform3D::MakeScale(kShakeScale, kShakeScale, 1));
    shake.SetTimingFunction(ui::TimingFunction::EaseIn);
    shake.SetDuration(kShakeDuration);
    shake.SetAutoreverses(true);
    shake.SetRepeatCount(kShakeRepeatCount);
    shake.SetDelegate(std::shared_ptr<ui::AnimationDelegate>(self()));
    return shake;
}

void LoginViewController::AnimationDidStop(const ui::Animation& /*animation*/, bool /*finished*/) {
    if (emailTextField_) emailTextField_->SetBackgroundColor(ui::Color::White());
    if (passwordlTextField_) passwordlTextField_->SetBackgroundColor(ui::Color::White());
}

bool LoginViewController::ShouldReturn(ui::TextField& field) {
    ns::Log("[LVC] textFieldShouldReturn");
    if (&field == emailTextField_.get()) {
        if (passwordlTextField_) passwordlTextField_->BecomeFirstResponder();
    } else if (&field == passwordlTextField_.get()) {
        signInAction();
    }
    return true;
}

void LoginViewController::signInAction() {
    if (!emailTextField_ || !passwordlTextField_ || !emailAndPasswordView_) return;
    const bool emailEmpty = emailTextField_->Text().empty();
    if (emailEmpty) {
        emailTextField_->SetBackgroundColor(ZULColor::zulEmptyLoginTextFieldColor());
        emailAndPasswordView_->GetLayer().AddAnimation(emptyTextFieldAnimation(), "");
    }
    if (passwordlTextField_->Text().empty()) {
        passwordlTextField_->SetBackgroundColor(ZULColor::zulEmptyLoginTextFieldColor());
        emailAndPasswordView_->GetLayer().AddAnimation(emptyTextFieldAnimation(), "");
        return;
    }
    if (emailEmpty) return;

    if (label_) label_->SetHidden(false);
    enableSignInInterface(false);
    ui::Animate(
        kSignInAnimationDuration,
        [this] {
            updateSubviewsFrameForKeyboardShow(false);
            hideSignInInterface(true);
        },
        WeakCallback(*this, [](LoginViewController& login) {
            login.resetFakeConnection();
            login.resetLoginConnection();
            const std::shared_ptr<ZULScreenHost> host = login.host_.lock();
            login.fakeURLConnection_ = ZULLoginConnection::initForFakeConnection(
                host ? host->zulHomeURL() : std::string(), &login);
        }));
}

// --- connections

void LoginViewController::resetFakeConnection() {
    if (fakeURLConnection_) fakeURLConnection_->Cancel();
    fakeURLConnection_.reset();
}

void LoginViewController::resetLoginConnection() {
    if (loginURLConnection_) loginURLConnection_->Cancel();
    loginURLConnection_.reset();
    loginStatus_ = -1;
    loginStatusCode_ = 0;
    loginFreeSlots_ = 0;
    loginMaxSlots_ = 0;
}

std::optional<ns::URLRequest> LoginViewController::WillSendRequest(
    ns::URLConnection& connection, const ns::URLRequest& request,
    const ns::URLResponse& redirectResponse) {
    if (&connection == loginURLConnection_.get() && redirectResponse.IsHTTP()) {
        ns::Log("[LVC] connection willSendRequest redirectResponse:%@ statusCode:%d",
                FieldsText(redirectResponse.AllHeaderFields()), redirectResponse.StatusCode());
        if (auto v = HeaderNumber(redirectResponse, kLoginStatusHeader)) loginStatus_ = *v;
        if (auto v = HeaderNumber(redirectResponse, kLoginStatusCodeHeader)) loginStatusCode_ = *v;
        if (auto v = HeaderNumber(redirectResponse, kFreeSlotsHeader)) loginFreeSlots_ = *v;
        if (auto v = HeaderNumber(redirectResponse, kMaxSlotsHeader)) loginMaxSlots_ = *v;
    }
    return request;
}

void LoginViewController::DidReceiveResponse(ns::URLConnection& /*connection*/,
                                             const ns::URLResponse& response) {
    if (!response.IsHTTP()) return;
    ns::Log("[LVC] connection didReceiveResponse:%@ statusCode:%d",
            FieldsText(response.AllHeaderFields()), response.StatusCode());
    httpResponseStatusCode_ = response.StatusCode();
}

void LoginViewController::WillSendRequestForAuthenticationChallenge(
    ns::URLConnection& connection, const ns::AuthenticationChallenge& /*challenge*/) {
    ns::Log("[LVC] connection willSendRequestForAuthenticationChallenge");
    const std::shared_ptr<ZULScreenHost> host = host_.lock();
    if (!host) {
        connection.ContinueWithoutCredential();
        return;
    }
    // Both requests start at the portal's configured addresses: the credential goes to that
    // origin only, wherever the portal's answers lead.
    ns::URLCredential credential(host->zulUser(), host->zulPassword(),
                                 ns::URLCredential::Persistence::ForSession);
    credential.BindToOrigin(connection.OriginalRequest().GetURL());
    connection.UseCredential(credential);
}

void LoginViewController::DidFailWithError(ns::URLConnection& /*connection*/,
                                           const ns::Error& error) {
    std::shared_ptr<LoginViewController> keep = self();
    ns::Log("[LVC] connection didFailWithError:%@", error.ToString());
    ZULAlert::initWithNetworkErrorForDelegate(nullptr)->Show();
    enableSignInInterface(true);
    hideSignInInterface(false, true);
}

void LoginViewController::DidFinishLoading(ns::URLConnection& connection) {
    // Showing the portal replaces this screen: it stays alive until the call is done.
    std::shared_ptr<LoginViewController> keep = self();
    if (&connection == fakeURLConnection_.get()) {
        ns::Log("[LVC] fake connection connectionDidFinishLoading");
        resetFakeConnection();
        const std::shared_ptr<ZULScreenHost> host = host_.lock();
        loginURLConnection_ = ZULLoginConnection::initForLoginConnectionWithEmail(
            host ? host->zulLoginURL() : std::string(), host ? host->zulHomeURL() : std::string(),
            emailTextField_ ? emailTextField_->Text() : std::string(),
            passwordlTextField_ ? passwordlTextField_->Text() : std::string(), this);
    } else if (&connection == loginURLConnection_.get()) {
        loginConnectionDidFinishLoading();
        resetLoginConnection();
    }
}

void LoginViewController::loginConnectionDidFinishLoading() {
    // The sign-in cookies count when they are the portal's, whose home page the first request
    // fetched.
    const std::shared_ptr<ZULScreenHost> host = host_.lock();
    const bool userSignedIn =
        loginStatus_ == 0 &&
        ZULCookies::hasUserSignedInCookies(PortalOrigin(host ? host->zulHomeURL() : std::string()));
    ns::Log(
        "[LVC] login connection connectionDidFinishLoading userSignedIn:%d status:%d "
        "statusCode:%d freeSlots:%d maxSlots:%d",
        userSignedIn, loginStatus_, loginStatusCode_, loginFreeSlots_, loginMaxSlots_);
    if (!userSignedIn) {
        showRefusal();
        return;
    }
    ns::UserDefaults& defaults = ns::UserDefaults::Standard();
    defaults.SetObject(kUserLoginKey, emailTextField_ ? emailTextField_->Text() : std::string());
    defaults.SetObject(kUserPasswordKey,
                       passwordlTextField_ ? passwordlTextField_->Text() : std::string());
    defaults.Synchronize();
    if (loginStatusCode_ == kStatusCodeDeviceSlot) {
        ui::AlertView::Ptr alert = ZULAlert::initWithSignInSuccessDeviceAddedForDelegate(self());
        alert->SetTag(kDeviceAddedAlertTag);
        alert->Show();
    } else {
        showPortal();
    }
}

void LoginViewController::showRefusal() {
    ui::AlertView::Ptr alert;
    if (httpResponseStatusCode_ == 503) {
        alert = ZULAlert::initWithSignInErrorServiceUnavailableForDelegate(nullptr);
    } else if (loginStatusCode_ == kStatusCodeDeviceSlot) {
        alert = ZULAlert::initWithSignInErrorNoMoreFreeSlotsForDelegate(nullptr);
    } else {
        alert = ZULAlert::initWithSignInErrorBadCredentialsForDelegate(nullptr);
    }
    alert->Show();
    ZULCookies::deleteAllCookies();
    enableSignInInterface(true);
    hideSignInInterface(false, true);
}

void LoginViewController::DidDismissWithButtonIndex(ui::AlertView& alert, int /*index*/) {
    if (alert.Tag() == kDeviceAddedAlertTag) {
        std::shared_ptr<LoginViewController> keep = self();
        showPortal();
    }
}
