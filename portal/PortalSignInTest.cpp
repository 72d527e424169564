#include <gtest/gtest.h>

#include <cstdio>

#include "portal/FormData.h"
#include "portal/PortalTestFixture.h"

namespace ZulPortal {
namespace test {
namespace {

std::string SignInBody(const std::string& login, const std::string& password,
                       const std::string& device) {
    return "_58_redirect=&_58_login=" + FormData::Encode(login) +
           "&_58_password=" + FormData::Encode(password) + "&_58_did=" + device +
           "&_58_dinfo=Test, Phone 1.0&sign_in=Sign+in";
}

// The cookie names a response sets ("COMPANY_ID" from "COMPANY_ID=10157; Path=/").
std::vector<std::string> CookieNames(const TestResponse& response) {
    std::vector<std::string> names;
    for (const std::string& cookie : response.All("Set-Cookie")) {
        names.push_back(cookie.substr(0, cookie.find('=')));
    }
    return names;
}

using SignInPortal = PortalTest;

// Every outcome of the built-in accounts (3 slots for demo, 1 slot taken for full): the
// header values are worked out from those slot counts by hand.
TEST_F(SignInPortal, AnswersEachOutcomeWithTheRedirectTheHeadersAndTheCookies) {
    struct Case {
        const char* what;
        std::string login, password, device;
        std::string location;  // path of the redirect
        const char* status;    // nullptr: header absent
        std::string code, freeSlots, maxSlots;
        bool cookies;
    };
    const std::string taken = "00000000-0000-0000-0000-000000000001";
    const std::vector<Case> cases = {
        {"new device, free slot", "demo@zul.test", "demo", "DEV-A", "/home", "0", "1", "2", "3",
         true},
        {"known device", "demo@zul.test", "demo", "DEV-A", "/home", "0", "0", "2", "3", true},
        {"second new device", "demo@zul.test", "demo", "DEV-B", "/home", "0", "1", "1", "3", true},
        {"bad password", "demo@zul.test", "wrong", "DEV-C", "/c/portal/login", "1", "2", "0", "0",
         false},
        {"unknown account", "nobody@zul.test", "demo", "DEV-C", "/c/portal/login", "1", "2", "0",
         "0", false},
        {"no free slot", "full@zul.test", "full", "DEV-A", "/c/portal/login", "1", "1", "0", "1",
         false},
        {"the device holding the slot", "full@zul.test", "full", taken, "/home", "0", "0", "0", "1",
         true},
        {"no device identifier", "demo@zul.test", "demo", "", "/c/portal/login", "1", "4", "1", "3",
         false},
        {"maintenance", "maintenance@zul.test", "maintenance", "DEV-A", "/c/portal/maintenance",
         "1", "3", "3", "3", false},
        {"missing status header", "nostatus@zul.test", "nostatus", "DEV-A", "/home", nullptr, "1",
         "2", "3", true},
        {"empty free slots", "emptyslots@zul.test", "emptyslots", "DEV-A", "/home", "0", "1", "",
         "3", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const TestResponse response =
            Post(Port(), "/c/portal/login", SignInBody(c.login, c.password, c.device));
        EXPECT_EQ(302, response.status);
        EXPECT_EQ(portal_->Url(c.location), response.Header("Location"));
        EXPECT_EQ(c.status != nullptr, response.Has("DEVICE_LOGIN_STATUS"));
        if (c.status != nullptr) {
            EXPECT_EQ(c.status, response.Header("DEVICE_LOGIN_STATUS"));
        }
        EXPECT_EQ(c.code, response.Header("DEVICE_LOGIN_STATUS_CODE"));
        ASSERT_TRUE(response.Has("DEVICE_FREE_SLOTS"));
        EXPECT_EQ(c.freeSlots, response.Header("DEVICE_FREE_SLOTS"));
        EXPECT_EQ(c.maxSlots, response.Header("DEVICE_MAX_SLOTS"));
        EXPECT_EQ(
            c.cookies ? std::vector<std::string>({"COMPANY_ID", "ID"}) : std::vector<std::string>(),
            CookieNames(response));
    }
    // The redirect of a sign-in during maintenance ends in a 503.
    EXPECT_EQ(503, Get(Port(), "/c/portal/maintenance").status);
}

TEST_F(SignInPortal, AFourthDeviceFindsEveryOneOfThreeSlotsTaken) {
    for (const char* device : {"D1", "D2", "D3"}) {
        EXPECT_EQ("1", Post(Port(), "/c/portal/login", SignInBody("demo@zul.test", "demo", device))
                           .Header("DEVICE_LOGIN_STATUS_CODE"));
    }
    const TestResponse refused =
        Post(Port(), "/c/portal/login", SignInBody("demo@zul.test", "demo", "D4"));
    EXPECT_EQ("1", refused.Header("DEVICE_LOGIN_STATUS"));
    EXPECT_EQ("1", refused.Header("DEVICE_LOGIN_STATUS_CODE"));
    EXPECT_EQ("0", refused.Header("DEVICE_FREE_SLOTS"));
    EXPECT_TRUE(refused.All("Set-Cookie").empty());
}

TEST_F(SignInPortal, AConfiguredPortalChallengesSignInAndThumbnailsWithBasicAuth) {
    const std::string path = ::testing::TempDir() + "/portal-accounts.json";
    FILE* file = std::fopen(path.c_str(), "w");
    ASSERT_NE(nullptr, file);
    std::fputs(
        "{\"accounts\": [{\"login\": \"a+b@zul.test\", \"password\": \"p&q\", \"slots\": 1}],"
        " \"basicAuth\": {\"user\": \"zul\", \"password\": \"open\"}}",
        file);
    std::fclose(file);
    PortalServer::Options options = DefaultOptions();
    options.accountsFile = path;
    Start(options);
    const std::string body = SignInBody("a+b@zul.test", "p&q", "DEV-A");
    const TestResponse challenged = Post(Port(), "/c/portal/login", body);
    EXPECT_EQ(401, challenged.status);
    EXPECT_EQ("Basic realm=\"ZUL\"", challenged.Header("WWW-Authenticate"));
    EXPECT_EQ(401, Get(Port(), "/thumbs/101.jpg").status);
    // base64("zul:open") is "enVsOm9wZW4=".
    const std::string credentials = "Authorization: Basic enVsOm9wZW4=\r\n";
    EXPECT_EQ(401, Post(Port(), "/c/portal/login", body,
                        "Authorization: Basic enVsOndyb25n\r\n")  // "zul:wrong"
                       .status);
    const TestResponse signedIn = Post(Port(), "/c/portal/login", body, credentials);
    EXPECT_EQ("0", signedIn.Header("DEVICE_LOGIN_STATUS"));
    EXPECT_EQ("1", signedIn.Header("DEVICE_MAX_SLOTS"));
    EXPECT_EQ(200, Get(Port(), "/thumbs/101.jpg", credentials).status);
    // The built-in accounts are gone with a file of their own.
    EXPECT_EQ("2",
              Post(Port(), "/c/portal/login", SignInBody("demo@zul.test", "demo", "X"), credentials)
                  .Header("DEVICE_LOGIN_STATUS_CODE"));
    // The bundle configuration answers the challenge with the configured pair.
    EXPECT_EQ("zul", portal_->BundleConfiguration()["ZUL User"].StringValue());
    EXPECT_EQ("open", portal_->BundleConfiguration()["ZUL Password"].StringValue());
}

TEST(PortalAccounts, RefusesConfigurationsItCannotUse) {
    PortalAccounts accounts;
    std::string error;
    EXPECT_FALSE(accounts.LoadText("not json", error));
    EXPECT_FALSE(accounts.LoadText("{\"accounts\": []}", error));
    EXPECT_FALSE(accounts.LoadText("{\"accounts\": [{\"login\": \"a\"}]}", error));
    EXPECT_FALSE(accounts.LoadText(
        "{\"accounts\": [{\"login\": \"a\", \"password\": \"b\", \"slots\": -1}]}", error));
    EXPECT_FALSE(accounts.LoadText(
        "{\"accounts\": [{\"login\": \"a\", \"password\": \"b\", \"behaviour\": \"odd\"}]}",
        error));
    EXPECT_NE(std::string::npos, error.find("odd"));
    // Nothing refused replaced the built-in accounts.
    EXPECT_TRUE(accounts.SignIn("demo@zul.test", "demo", "D").signedIn);
}

TEST_F(SignInPortal, PagesWithoutBothSignInCookiesRedirectToTheSignInPage) {
    for (const char* page : {"/series", "/movies", "/my"}) {
        SCOPED_TRACE(page);
        for (const char* cookies : {"", "Cookie: COMPANY_ID=10157\r\n", "Cookie: ID=x\r\n",
                                    "Cookie: XID=1; COMPANY_IDS=2\r\n"}) {
            const TestResponse response = Get(Port(), page, cookies);
            EXPECT_EQ(302, response.status) << cookies;
            EXPECT_EQ("/c/portal/login", response.Header("Location"));
        }
        EXPECT_EQ(200, Get(Port(), page, "Cookie: COMPANY_ID=10157; ID=x\r\n").status);
    }
}

TEST_F(SignInPortal, HomeSetsASessionCookieOnceAndLogoutExpiresTheSignInCookies) {
    const TestResponse first = Get(Port(), "/home");
    EXPECT_EQ(200, first.status);
    ASSERT_EQ(1u, first.All("Set-Cookie").size());
    EXPECT_EQ(0u, first.Header("Set-Cookie").find("ZULSESSION="));
    EXPECT_TRUE(Get(Port(), "/home", "Cookie: ZULSESSION=abc\r\n").All("Set-Cookie").empty());

    const TestResponse logout = Get(Port(), "/c/portal/logout");
    EXPECT_EQ(302, logout.status);
    EXPECT_EQ("/c/portal/login", logout.Header("Location"));
    EXPECT_EQ(std::vector<std::string>(
                  {"COMPANY_ID=; Path=/; Max-Age=0; Expires=Thu, 01 Jan 1970 00:00:00 GMT",
                   "ID=; Path=/; Max-Age=0; Expires=Thu, 01 Jan 1970 00:00:00 GMT"}),
              logout.All("Set-Cookie"));
}

}  // namespace
}  // namespace test
}  // namespace ZulPortal
