// The sign-in form without the network: empty fields, the shake, the return key and the
// layout when the keyboard comes. Frames are worked out by hand from the phone's interface
// file: a 280-point column 20 points in, 25 points from the top and between the pieces
// (label 44 high, form two 44-point fields, button 44 high).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>

#include "app/LoginTestFixture.h"
#include "platform/ui/AnimationLog.h"
#include "platform/ui/Keyboard.h"
#include "platform/ui/NavigationBar.h"

namespace LoginTest {
namespace {

const ui::Color kEmptyColour = ui::Color::FromRGB255(248, 215, 214);

class LoginViewControllerFormTest : public LoginTestBase {
protected:
    void SetUp() override {
        // A phone with an on-screen keyboard; the test without one turns it off.
        ui::Keyboard::SetOnScreen(true);
        LoginTestBase::SetUp();
        StartPortal();
        Launch();
    }
    void TearDown() override {
        LoginTestBase::TearDown();
        ui::Keyboard::SetOnScreen(false);
    }
    // The shake animations the form box has had.
    int Shakes() const {
        int n = 0;
        for (const ui::AnimationLogEntry& e : ui::AnimationLog::Entries()) {
            n += e.kind == "basic" && e.keyPath == "transform" &&
                 e.identifier == "emailAndPasswordView";
        }
        return n;
    }
};

TEST_F(LoginViewControllerFormTest, OnlyThePasswordEmptyMarksItShakesAndSendsNothing) {
    Fill("demo@zul.test", "");
    ASSERT_TRUE(driver_.Tap("signInButton"));
    auto login = Login();
    EXPECT_EQ(kEmptyColour, *login->passwordlTextField()->BackgroundColor());
    EXPECT_EQ(ui::Color::White(), *login->emailTextField()->BackgroundColor());
    ASSERT_EQ(1, Shakes());
    const ui::AnimationLogEntry& shake = ui::AnimationLog::Entries().back();
    EXPECT_EQ(0.15, shake.duration);
    EXPECT_EQ(2.0, shake.repeatCount);
    EXPECT_TRUE(shake.autoreverses);
    EXPECT_EQ("easeIn", shake.timing);
    // Its end value: a scale of 1.05 in x and y, 1 in z.
    const ui::BasicAnimation made = login->emptyTextFieldAnimation();
    EXPECT_EQ(ui::AnimationValue(ui::Transform3D::MakeScale(1.05, 1.05, 1)), *made.ToValue());
    EXPECT_FALSE(made.FromValue().has_value());

    // Two auto-reversing 0.15 s cycles: 0.6 s. The fields are white again when it stops.
    driver_.Advance(0.55);
    EXPECT_EQ(kEmptyColour, *login->passwordlTextField()->BackgroundColor());
    driver_.Advance(0.1);
    EXPECT_EQ(ui::Color::White(), *login->passwordlTextField()->BackgroundColor());
    // The form stayed as it was and the portal heard nothing.
    driver_.Advance(2);
    EXPECT_TRUE(login->signInButton()->IsEnabled());
    EXPECT_EQ(1.0, login->passwordlTextField()->Alpha());
    EXPECT_TRUE(portal_->Requests().empty());
}

TEST_F(LoginViewControllerFormTest, BothEmptyMarksBothAndShakesForEach) {
    ASSERT_TRUE(driver_.Tap("signInButton"));
    auto login = Login();
    EXPECT_EQ(kEmptyColour, *login->emailTextField()->BackgroundColor());
    EXPECT_EQ(kEmptyColour, *login->passwordlTextField()->BackgroundColor());
    EXPECT_EQ(2, Shakes());
    driver_.Advance(0.7);
    EXPECT_EQ(ui::Color::White(), *login->emailTextField()->BackgroundColor());
    EXPECT_EQ(ui::Color::White(), *login->passwordlTextField()->BackgroundColor());
    EXPECT_TRUE(portal_->Requests().empty());
}

TEST_F(LoginViewControllerFormTest, OnlyTheEmailEmptyMarksItAndSendsNothing) {
    Fill("", "demo");
    ASSERT_TRUE(driver_.Tap("signInButton"));
    auto login = Login();
    EXPECT_EQ(kEmptyColour, *login->emailTextField()->BackgroundColor());
    EXPECT_EQ(ui::Color::White(), *login->passwordlTextField()->BackgroundColor());
    EXPECT_EQ(1, Shakes());
    driver_.Advance(2);
    EXPECT_TRUE(portal_->Requests().empty());
}

TEST_F(LoginViewControllerFormTest, ReturnInTheEmailFieldMovesToThePasswordAndThenSignsIn) {
    auto login = Login();
    ASSERT_TRUE(driver_.Tap("emailTextField"));
    ASSERT_TRUE(driver_.Type("demo@zul.test"));
    EXPECT_TRUE(driver_.PressReturn());
    EXPECT_TRUE(login->passwordlTextField()->IsFirstResponder());
    EXPECT_FALSE(login->emailTextField()->IsFirstResponder());
    EXPECT_EQ(1, LogsContaining("[LVC] textFieldShouldReturn"));
    EXPECT_TRUE(portal_->Requests().empty());

    ASSERT_TRUE(driver_.Type("demo"));
    EXPECT_TRUE(driver_.PressReturn());
    // Signing in: the form is disabled and gives way to the turning spinner at once.
    EXPECT_FALSE(login->signInButton()->IsEnabled());
    EXPECT_FALSE(login->emailTextField()->IsEnabled());
    EXPECT_EQ(0.0, login->emailTextField()->Alpha());
    EXPECT_EQ(1.0, login->loadingView()->Alpha());
    EXPECT_TRUE(login->loadingView()->isSpinning());
    ASSERT_TRUE(
        driver_.WaitFor([] { return ui::AlertView::TopVisibleAlert() != nullptr; }, kTimeout));
    EXPECT_EQ("Device added", TopAlertTitle());
}

TEST_F(LoginViewControllerFormTest, WithoutAnOnScreenKeyboardTheFormStaysWhereItIs) {
    ui::Keyboard::SetOnScreen(false);
    auto login = Login();
    Fill("demo@zul.test", "demo");
    EXPECT_FALSE(ui::Keyboard::IsVisible());
    EXPECT_EQ(0, LogsContaining("[LVC] keyboardWillShowNotification:"));
    driver_.Advance(0.3);
    EXPECT_EQ(ui::Rect(20, 25, 280, 44), login->label()->Frame());
    EXPECT_FALSE(login->label()->IsHidden());
    EXPECT_EQ(ui::Rect(20, 94, 280, 88), login->emailAndPasswordView()->Frame());
    EXPECT_EQ(ui::Rect(20, 207, 280, 44), login->signInButton()->Frame());
    EXPECT_EQ("demo@zul.test", login->emailTextField()->Text());
    EXPECT_EQ("demo", login->passwordlTextField()->Text());
}

TEST_F(LoginViewControllerFormTest, KeyboardOnAPhoneLiftsTheFormAndSigningInBringsTheLabelBack) {
    auto login = Login();
    EXPECT_EQ(ui::Rect(20, 25, 280, 44), login->label()->Frame());
    EXPECT_EQ(ui::Rect(20, 94, 280, 88), login->emailAndPasswordView()->Frame());
    EXPECT_EQ(ui::Rect(20, 207, 280, 44), login->signInButton()->Frame());
    // The loading view fills the form box.
    EXPECT_EQ(ui::Rect(0, 0, 280, 88), login->loadingView()->Frame());

    Fill("demo@zul.test", "demo");  // the keyboard comes with the first tap
    ASSERT_TRUE(ui::Keyboard::IsVisible());
    EXPECT_EQ(1, LogsContaining("[LVC] keyboardWillShowNotification:"));
    // The label goes out of sight above; the form and the button follow it up.
    EXPECT_EQ(ui::Rect(20, -44, 280, 44), login->label()->Frame());
    EXPECT_EQ(ui::Rect(20, 25, 280, 88), login->emailAndPasswordView()->Frame());
    EXPECT_EQ(ui::Rect(20, 138, 280, 44), login->signInButton()->Frame());
    driver_.Advance(0.3);
    EXPECT_TRUE(login->label()->IsHidden());

    ASSERT_TRUE(driver_.Tap("signInButton"));
    EXPECT_FALSE(login->label()->IsHidden());
    EXPECT_EQ(ui::Rect(20, 25, 280, 44), login->label()->Frame());
    EXPECT_EQ(ui::Rect(20, 94, 280, 88), login->emailAndPasswordView()->Frame());
    EXPECT_EQ(ui::Rect(20, 207, 280, 44), login->signInButton()->Frame());
}

TEST_F(LoginViewControllerFormTest, ScreenIsSetUpFromTheBundle) {
    auto login = Login();
    EXPECT_EQ("Sign in to watch", login->label()->Text());
    EXPECT_EQ(ui::Font("HelveticaNeue", 17), login->label()->GetFont());
    EXPECT_EQ("E-mail", login->emailTextField()->Placeholder());
    EXPECT_EQ("Password", login->passwordlTextField()->Placeholder());
    EXPECT_TRUE(login->passwordlTextField()->IsSecureTextEntry());
    EXPECT_EQ("HelveticaNeue", login->emailTextField()->GetFont().Name());
    EXPECT_EQ("Sign in", login->signInButton()->TitleForState(ui::ControlState::Normal));
    EXPECT_EQ(ui::Font("HelveticaNeue", 16), login->signInButton()->TitleLabel()->GetFont());
    EXPECT_EQ("Signing in...", login->loadingView()->label()->Text());
    EXPECT_EQ(6.0, login->emailAndPasswordView()->GetLayer().CornerRadius());
    // The navigation bar shows the title picture on its background.
    auto bar = std::dynamic_pointer_cast<ui::NavigationBar>(
        login->GetNavigationController()->NavigationBar());
    ASSERT_NE(nullptr, bar);
    ASSERT_NE(nullptr, bar->CurrentBackgroundImage());
    EXPECT_EQ("Navigation-Bar-Background.png", bar->CurrentBackgroundImage()->Name());
    auto title = std::dynamic_pointer_cast<ui::ImageView>(bar->TitleItemView());
    ASSERT_NE(nullptr, title);
    ASSERT_NE(nullptr, title->GetImage());
    EXPECT_EQ("Navigation-Bar-Title", title->GetImage()->Name());
}

// Relative luminance and contrast ratio of two opaque colours, as readability guidelines for
// text define them: (lighter + 0.05) / (darker + 0.05).
double LuminanceOf(const ui::Color& c) {
    auto channel = [](double v) {
        return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(c.R()) + 0.7152 * channel(c.G()) + 0.0722 * channel(c.B());
}
double ContrastOf(const ui::Color& a, const ui::Color& b) {
    const double la = LuminanceOf(a), lb = LuminanceOf(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

TEST_F(LoginViewControllerFormTest, TheSigningInTextIsReadableOnWhatLiesUnderIt) {
    auto login = Login();
    login->hideSignInInterface(true);
    ui::RunLayoutPass();
    std::shared_ptr<ui::Label> text = login->loadingView()->label();
    ASSERT_EQ(1.0, login->loadingView()->Alpha());
    // The fields are gone; what shows under the text is the first background from the loading
    // view up (the label and the loading view are clear).
    ASSERT_EQ(0.0, login->emailTextField()->Alpha());
    ASSERT_EQ(0.0, login->passwordlTextField()->Alpha());
    auto clear = [](const ui::View& v) {
        return !v.BackgroundColor() || v.BackgroundColor()->A() == 0;
    };
    ASSERT_TRUE(clear(*text));
    std::optional<ui::Color> under;
    for (std::shared_ptr<ui::View> v = login->loadingView(); v && !under; v = v->Superview()) {
        if (!clear(*v)) under = v->BackgroundColor();
    }
    ASSERT_TRUE(under.has_value());
    EXPECT_GE(ContrastOf(text->TextColor(), *under), 4.5) << text->TextColor() << " on " << *under;
    // The text keeps its grey.
    EXPECT_EQ(ui::Color::FromRGB255(183, 183, 183), text->TextColor());
}

}  // namespace
}  // namespace LoginTest
