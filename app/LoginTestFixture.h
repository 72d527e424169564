#ifndef APP_LOGINTESTFIXTURE_H
#define APP_LOGINTESTFIXTURE_H
// The sign-in tests' world: the application's test world (AppFixture) on a portrait phone
// named "Ann & Bob=1", an "iPhone" on system "6.1", launched against the demo portal on a
// loopback port of its own, with the sign-in screen at its window's root.

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "app/LoginViewController.h"
#include "app/ZULAppDelegate.h"
#include "app/testing/AppFixture.h"
#include "app/testing/SignInScreen.h"
#include "platform/store/Bundle.h"
#include "platform/ui/AlertView.h"
#include "platform/ui/UiDevice.h"

namespace LoginTest {

using AppTestSupport::kTimeout;

class LoginTestBase : public AppTestSupport::AppFixture {
protected:
    void SetUp() override {
        AppFixture::SetUp();
        ui::UiDevice& device = ui::UiDevice::Current();
        device.SetIdiom(ui::UserInterfaceIdiom::Phone);
        device.SetOrientation(ui::DeviceOrientation::Portrait);
        device.SetName("Ann & Bob=1");
        device.SetModel("iPhone");
        device.SetSystemVersion("6.1");
    }

    // Launches the application against the portal (configured from `bundle`, null: the
    // program's own): the sign-in screen at the window's root.
    void Launch(const ns::Bundle* bundle = nullptr) {
        ASSERT_NO_FATAL_FAILURE(StartApplication(portal_->Address(), bundle));
        app_->BecomeActive();
        ASSERT_NE(nullptr, Login());
    }

    std::shared_ptr<LoginViewController> Login() const {
        return AppTestSupport::SignInScreen(*appDelegate_);
    }
    // The sign-in screen is no longer shown (the portal is).
    bool LeftSignIn() const { return Login() == nullptr; }

    // Types into each field as a person would: a tap, then the keys.
    void Fill(const std::string& email, const std::string& password) {
        ASSERT_TRUE(driver_.Tap("emailTextField"));
        if (!email.empty()) {
            ASSERT_TRUE(driver_.Type(email));
        }
        ASSERT_TRUE(driver_.Tap("passwordlTextField"));
        if (!password.empty()) {
            ASSERT_TRUE(driver_.Type(password));
        }
    }

    // Fills the form, taps the button and waits for an alert or the portal.
    bool SignIn(const std::string& email, const std::string& password) {
        Fill(email, password);
        if (!driver_.Tap("signInButton")) return false;
        return driver_.WaitFor(
            [this] { return ui::AlertView::TopVisibleAlert() != nullptr || LeftSignIn(); },
            kTimeout);
    }

    // The form is usable again: fields shown and enabled, the spinner gone.
    void ExpectFormBack() {
        auto login = Login();
        ASSERT_NE(nullptr, login);
        // The form comes back inside a 0.25 s animation block.
        driver_.Advance(0.3);
        EXPECT_TRUE(login->emailTextField()->IsEnabled());
        EXPECT_TRUE(login->passwordlTextField()->IsEnabled());
        EXPECT_TRUE(login->signInButton()->IsEnabled());
        EXPECT_EQ(1.0, login->emailTextField()->Alpha());
        EXPECT_EQ(1.0, login->passwordlTextField()->Alpha());
        EXPECT_EQ(0.0, login->loadingView()->Alpha());
        EXPECT_FALSE(login->loadingView()->isSpinning());
    }

    std::string TopAlertTitle() const {
        ui::AlertView::Ptr alert = ui::AlertView::TopVisibleAlert();
        return alert ? alert->Title() : std::string("(none)");
    }
};

}  // namespace LoginTest

#endif  // APP_LOGINTESTFIXTURE_H
