// The sign-in form's escaping and the device description, worked out by hand.
#include <gtest/gtest.h>

#include <string>

#include "app/LoginUDID.h"
#include "app/ZULLoginConnection.h"
#include "platform/ui/UiDevice.h"

namespace {

TEST(ZULLoginConnectionTest, FormValuesKeepOnlyUnreservedCharactersAsTheyAre) {
    EXPECT_EQ("a%2Bb%40c.pl", ZULLoginConnection::escapeFormValue("a+b@c.pl"));
    EXPECT_EQ("Az09-._~", ZULLoginConnection::escapeFormValue("Az09-._~"));
    // Every reserved character.
    EXPECT_EQ("%21%2A%27%28%29%3B%3A%40%26%3D%2B%24%2C%2F%3F%23%5B%5D",
              ZULLoginConnection::escapeFormValue("!*'();:@&=+$,/?#[]"));
    // A '%' is escaped even where it looks like an escape already: the server must read
    // "50%41", not "50A". UTF-8 goes byte by byte; space is %20.
    EXPECT_EQ("50%2541%20%C3%A9%22", ZULLoginConnection::escapeFormValue("50%41 \xC3\xA9\""));
}

TEST(ZULLoginConnectionTest, BodyCarriesTheEscapedDeviceDescription) {
    ui::UiDevice& device = ui::UiDevice::Current();
    device.SetName("Ola's pad & co=2");
    device.SetModel("iPad");
    device.SetSystemVersion("5.1.1");
    EXPECT_EQ("Ola's pad & co=2, iPad 5.1.1", ZULLoginConnection::deviceInformation());
    const std::string udid = LoginUDID::sharedLoginUDID().getUDID();
    EXPECT_EQ("_58_redirect=&_58_login=%25&_58_password=&_58_did=" + udid +
                  "&_58_dinfo=Ola%27s%20pad%20%26%20co%3D2%2C%20iPad%205.1.1&sign_in=Sign+in",
              ZULLoginConnection::loginBodyForEmail("%", ""));
}

}  // namespace
