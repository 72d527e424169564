// The ready-made alerts against the bundle's English texts (en.lproj/Localizable.strings).
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "app/ZULAlert.h"

namespace {

struct Expected {
    std::string title;
    std::string message;
};

void ExpectAlert(const ui::AlertView::Ptr& alert, const Expected& expected) {
    ASSERT_NE(nullptr, alert);
    EXPECT_EQ(expected.title, alert->Title());
    EXPECT_EQ(expected.message, alert->Message());
    // One button, the cancel button.
    ASSERT_EQ(1, alert->NumberOfButtons());
    EXPECT_EQ(0, alert->CancelButtonIndex());
    EXPECT_EQ("OK", alert->ButtonTitleAtIndex(0));
    EXPECT_FALSE(alert->IsVisible());  // made, not shown
}

TEST(ZULAlertTest, PlayerErrorShowsTheMessageFollowedByTheCode) {
    auto delegate = std::make_shared<ui::AlertViewDelegate>();
    ui::AlertView::Ptr alert = ZULAlert::initWithPlayerCustomErrorForDelegate(delegate, 300);
    ExpectAlert(alert, {"Playback error", "The title cannot be played (300)"});
    EXPECT_EQ(delegate, alert->Delegate());
    EXPECT_EQ("The title cannot be played (-1)",
              ZULAlert::initWithPlayerCustomErrorForDelegate(nullptr, -1)->Message());
}

TEST(ZULAlertTest, EachAlertTakesItsOwnTexts) {
    ExpectAlert(ZULAlert::initWithNetworkErrorForDelegate(nullptr),
                {"No connection",
                 "The service cannot be reached. Check your network connection and try again."});
    ExpectAlert(ZULAlert::initWithSignInErrorBadCredentialsForDelegate(nullptr),
                {"Sign-in failed", "The e-mail address or the password is not correct."});
    ExpectAlert(ZULAlert::initWithSignInErrorNoMoreFreeSlotsForDelegate(nullptr),
                {"No free device slot",
                 "Your account has no room for another device. Remove a device from your "
                 "account on the portal and try again."});
    ExpectAlert(ZULAlert::initWithSignInSuccessDeviceAddedForDelegate(nullptr),
                {"Device added", "This device has been added to your account."});
    ExpectAlert(
        ZULAlert::initWithSignInErrorServiceUnavailableForDelegate(nullptr),
        {"Service unavailable", "The service is down for maintenance. Please try again later."});
}

}  // namespace
