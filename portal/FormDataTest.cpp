#include "portal/FormData.h"

#include <gtest/gtest.h>

namespace ZulPortal {
namespace {

// The sign-in body as the application writes it: e-mail and password percent-escaped as
// UTF-8 (reserved characters included), the device fields as they are.
TEST(FormData, ReadsTheSignInBodyWithItsEscapes) {
    FormData form;
    ASSERT_TRUE(
        FormData::Parse("_58_redirect=&_58_login=a%2Bb%40zul.test&_58_password=p%26q%3D1"
                        "&_58_did=0A1B-2C&_58_dinfo=Ann's phone, Phone 1.0&sign_in=Sign+in",
                        form));
    EXPECT_EQ("", form.Get("_58_redirect", "absent"));
    EXPECT_EQ("a+b@zul.test", form.Get("_58_login"));
    EXPECT_EQ("p&q=1", form.Get("_58_password"));
    EXPECT_EQ("0A1B-2C", form.Get("_58_did"));
    EXPECT_EQ("Ann's phone, Phone 1.0", form.Get("_58_dinfo"));
    EXPECT_EQ("Sign in", form.Get("sign_in"));
    EXPECT_FALSE(form.Has("missing"));
}

TEST(FormData, DecodesUtf8AndRefusesBrokenInput) {
    FormData form;
    // "Żółw" as UTF-8 bytes C5 BB C3 B3 C5 82 77, and a space as %20.
    ASSERT_TRUE(FormData::Parse("q=%C5%BB%C3%B3%C5%82w%20i", form));
    EXPECT_EQ("\xC5\xBB\xC3\xB3\xC5\x82w i", form.Get("q"));
    for (const char* bad : {"q=%", "q=%4", "q=%G1", "q=%C5", "q=%C0%AF" /* overlong "/" */,
                            "q=%ED%A0%80" /* a surrogate */, "q=%FF"}) {
        FormData broken;
        EXPECT_FALSE(FormData::Parse(bad, broken)) << bad;
    }
}

TEST(FormData, ReadsCookieHeaders) {
    const FormData cookies = FormData::Cookies("ZULSESSION=ab; COMPANY_ID=10157;ID=x=y; junk");
    EXPECT_EQ("ab", cookies.Get("ZULSESSION"));
    EXPECT_EQ("10157", cookies.Get("COMPANY_ID"));
    EXPECT_EQ("x=y", cookies.Get("ID"));
    EXPECT_FALSE(cookies.Has("junk"));
    EXPECT_FALSE(FormData::Cookies("XID=1; COMPANY_IDS=2").Has("ID"));
}

TEST(FormData, EncodesAllButUnreservedCharacters) {
    EXPECT_EQ("a%20b%2Bc%40d%C5%BB-._~", FormData::Encode("a b+c@d\xC5\xBB-._~"));
}

}  // namespace
}  // namespace ZulPortal
