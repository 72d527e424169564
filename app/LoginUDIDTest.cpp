#include "app/LoginUDID.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "app/testing/AppTestSupport.h"
#include "platform/core/LogWriter.h"
#include "platform/store/Keychain.h"
#include "platform/store/UserDefaults.h"

namespace {

using AppTestSupport::Messages;

const char* const kKey = "test.zul.UniqueDevideUUIDKeyForKeychain";

class LoginUDIDTest : public ::testing::Test {
protected:
    void SetUp() override {
        ns::LogWriter::Shared().SetSink(
            [this](const std::string& line) { lines_.push_back(line); });
    }
    void TearDown() override { ns::LogWriter::Shared().SetSink(nullptr); }

    // The "[UDID]" messages so far, emptied.
    std::vector<std::string> TakeLog() {
        std::vector<std::string> out = Messages(lines_, "[UDID]");
        lines_.clear();
        return out;
    }
    std::string Stored(ns::Keychain& keychain) {
        ns::Data data;
        if (keychain.CopyGenericPassword(kKey, kKey, data) != ns::Keychain::kSuccess)
            return "<none>";
        return std::string(data.Bytes().begin(), data.Bytes().end());
    }

    SvTestSupport::TemporaryDirectory folder_{"zul-udid-"};
    const std::string keychainFolder_ = folder_.File("keychain");
    const std::string defaultsFolder_ = folder_.File("defaults");
    std::vector<std::string> lines_;
};

TEST_F(LoginUDIDTest, FirstStartStoresAnUpperCaseUuidThatARestartFindsAgain) {
    std::string first;
    {
        ns::Keychain keychain(keychainFolder_);
        ns::UserDefaults defaults(defaultsFolder_);
        LoginUDID udid(keychain, defaults, kKey);
        EXPECT_EQ((std::vector<std::string>{"[UDID] Item NOT found in keychain",
                                            "[UDID] adding generated UUID to keychain status: 1"}),
                  TakeLog());
        first = udid.getUDID();
        EXPECT_EQ(std::vector<std::string>{"[UDID] Item has been found in keychain"}, TakeLog());
        EXPECT_TRUE(std::regex_match(
            first, std::regex("[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}")))
            << first;
        // Service and account are both the key; the bytes are the text.
        EXPECT_EQ(first, Stored(keychain));
        EXPECT_EQ(first, udid.getUDID());
    }
    // A new process: new stores on the same files.
    ns::Keychain keychain(keychainFolder_);
    ns::UserDefaults defaults(defaultsFolder_);
    TakeLog();
    LoginUDID restarted(keychain, defaults, kKey);
    EXPECT_EQ((std::vector<std::string>{"[UDID] Item has been found in keychain",
                                        "[UDID] UDID has been found in keychain"}),
              TakeLog());
    EXPECT_EQ(first, restarted.getUDID());
}

TEST_F(LoginUDIDTest, LegacyDefaultMovesIntoTheKeychainAndTheDefaultGoes) {
    {
        ns::UserDefaults defaults(defaultsFolder_);
        ASSERT_TRUE(defaults.SetObject("Device UDID", ns::Value("5D1C2A9E-OLD-DEVICE")));
        ASSERT_TRUE(defaults.Synchronize());
    }
    ns::Keychain keychain(keychainFolder_);
    ns::UserDefaults defaults(defaultsFolder_);
    LoginUDID udid(keychain, defaults, kKey);
    EXPECT_EQ(
        (std::vector<std::string>{
            "[UDID] Item NOT found in keychain", "[UDID] UDID is loaded from NSUserDefaults",
            "[UDID] UDID was save properly to keychain", "[UDID] Item has been found in keychain",
            "[UDID] UDID was removed from NSUserDefaults"}),
        TakeLog());
    EXPECT_EQ("5D1C2A9E-OLD-DEVICE", udid.getUDID());
    EXPECT_EQ("5D1C2A9E-OLD-DEVICE", Stored(keychain));
    EXPECT_TRUE(defaults.ObjectForKey("Device UDID").IsNull());
    // The removal reached the file.
    ns::UserDefaults reread(defaultsFolder_);
    EXPECT_TRUE(reread.ObjectForKey("Device UDID").IsNull());
}

TEST_F(LoginUDIDTest, WithBothTheKeychainWinsAndTheDefaultStays) {
    ns::Keychain keychain(keychainFolder_);
    ASSERT_EQ(ns::Keychain::kSuccess,
              keychain.AddGenericPassword(kKey, kKey, ns::Data(std::string("KEYCHAIN-ID"))));
    ns::UserDefaults defaults(defaultsFolder_);
    ASSERT_TRUE(defaults.SetObject("Device UDID", ns::Value("LEGACY-ID")));

    LoginUDID udid(keychain, defaults, kKey);
    EXPECT_EQ("KEYCHAIN-ID", udid.getUDID());
    EXPECT_EQ("LEGACY-ID", defaults.StringForKey("Device UDID"));
    EXPECT_EQ((std::vector<std::string>{"[UDID] Item has been found in keychain",
                                        "[UDID] UDID has been found in keychain",
                                        "[UDID] Item has been found in keychain"}),
              TakeLog());
}

TEST_F(LoginUDIDTest, FailingKeychainGivesAnEmptyIdentifierAndSaysWhy) {
    // errSecInteractionNotAllowed, as a locked device answers.
    const int32_t kLocked = -25308;
    ns::Keychain keychain(keychainFolder_);
    keychain.SetInjectedFailure(kLocked);
    ns::UserDefaults defaults(defaultsFolder_);
    LoginUDID udid(keychain, defaults, kKey);
    EXPECT_EQ(
        (std::vector<std::string>{"[UDID] There is a problem with searching in keychain: -25308",
                                  "[UDID] adding generated UUID to keychain status: 0"}),
        TakeLog());
    EXPECT_EQ("", udid.getUDID());
    EXPECT_EQ(
        std::vector<std::string>{"[UDID] There is a problem with searching in keychain: -25308"},
        TakeLog());

    // Once the keychain answers again, the next start makes the identity after all.
    keychain.SetInjectedFailure(ns::Keychain::kSuccess);
    EXPECT_EQ("<none>", Stored(keychain));
    LoginUDID later(keychain, defaults, kKey);
    EXPECT_EQ(36u, later.getUDID().size());
}

TEST_F(LoginUDIDTest, FailedMoveKeepsTheLegacyDefaultForTheNextStart) {
    ns::Keychain keychain(keychainFolder_);
    keychain.SetInjectedFailure(ns::Keychain::kIOError);
    ns::UserDefaults defaults(defaultsFolder_);
    ASSERT_TRUE(defaults.SetObject("Device UDID", ns::Value("LEGACY-ID")));
    LoginUDID udid(keychain, defaults, kKey);
    EXPECT_EQ((std::vector<std::string>{"[UDID] There is a problem with searching in keychain: -36",
                                        "[UDID] UDID is loaded from NSUserDefaults",
                                        "[UDID] CRITICAL ERROR during saving UDID to keychain !"}),
              TakeLog());
    EXPECT_EQ("LEGACY-ID", defaults.StringForKey("Device UDID"));

    keychain.SetInjectedFailure(ns::Keychain::kSuccess);
    LoginUDID retried(keychain, defaults, kKey);
    EXPECT_EQ("LEGACY-ID", retried.getUDID());
    EXPECT_TRUE(defaults.ObjectForKey("Device UDID").IsNull());
}

// Bytes that are not UTF-8 text cannot be an identifier; they are not passed on as one.
TEST_F(LoginUDIDTest, StoredBytesThatAreNoTextGiveAnEmptyIdentifier) {
    ns::Keychain keychain(keychainFolder_);
    ASSERT_EQ(ns::Keychain::kSuccess,
              keychain.AddGenericPassword(kKey, kKey, ns::Data(std::vector<uint8_t>{0xC0, 0xAF})));
    ns::UserDefaults defaults(defaultsFolder_);
    LoginUDID udid(keychain, defaults, kKey);
    EXPECT_EQ("", udid.getUDID());
    // The stored item is never replaced.
    EXPECT_EQ(std::string("\xC0\xAF"), Stored(keychain));
}

TEST_F(LoginUDIDTest, SharedInstanceKeysTheStandardKeychainByTheBundleIdentifier) {
    LoginUDID& shared = LoginUDID::sharedLoginUDID();
    EXPECT_EQ(&shared, &LoginUDID::sharedLoginUDID());
    const std::string id = shared.getUDID();
    EXPECT_EQ(36u, id.size());
    // The bundle's Info.plist names the application "tv.zul.client".
    ns::Data data;
    ASSERT_EQ(ns::Keychain::kSuccess, ns::Keychain::Standard().CopyGenericPassword(
                                          "tv.zul.client.UniqueDevideUUIDKeyForKeychain",
                                          "tv.zul.client.UniqueDevideUUIDKeyForKeychain", data));
    EXPECT_EQ(id, std::string(data.Bytes().begin(), data.Bytes().end()));
}

}  // namespace
