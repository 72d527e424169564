// The ready-made alerts take each text from the bundle's default strings table under keys of
// their own: what an alert shows is the table's entry for its key, read here from the table's
// file, so a changed wording changes both sides and a key mixed up between alerts shows.
#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <string>

#include "app/ZULAlert.h"
#include "platform/store/Bundle.h"
#include "platform/store/StringsFile.h"

namespace {

// The default table of the language the application's bundle chose, loaded from its file.
const ns::StringsFile& Table() {
    static const ns::StringsFile table = [] {
        const ns::Bundle& bundle = ns::Bundle::Main();
        ns::StringsFile loaded;
        std::string error;
        EXPECT_TRUE(loaded.Load(
            bundle.Path() + "/" + bundle.Localization() + ".lproj/Localizable.strings", &error))
            << error;
        return loaded;
    }();
    return table;
}

// The table's entry for key; a key the table lacks fails the test.
std::string Entry(const std::string& key) {
    const std::string* text = Table().Find(key);
    EXPECT_NE(nullptr, text) << key << " is not in the strings table";
    return text != nullptr ? *text : std::string();
}

// The alert shows the entries of prefix's keys (its message followed by suffix), with one
// button, the cancel button; it is made, not shown.
void ExpectAlertOf(const ui::AlertView::Ptr& alert, const std::string& prefix,
                   const std::string& suffix = "") {
    ASSERT_NE(nullptr, alert) << prefix;
    EXPECT_EQ(Entry(prefix + "-Title"), alert->Title()) << prefix;
    EXPECT_EQ(Entry(prefix + "-Message") + suffix, alert->Message()) << prefix;
    ASSERT_EQ(1, alert->NumberOfButtons()) << prefix;
    EXPECT_EQ(0, alert->CancelButtonIndex()) << prefix;
    EXPECT_EQ(Entry(prefix + "-Button"), alert->ButtonTitleAtIndex(0)) << prefix;
    EXPECT_FALSE(alert->IsVisible()) << prefix;
}

TEST(ZULAlertTest, EachAlertShowsTheTableEntriesOfItsOwnKeys) {
    const struct {
        ui::AlertView::Ptr (*make)(const ZULAlert::Delegate&);
        const char* prefix;
    } alerts[] = {
        {ZULAlert::initWithNetworkErrorForDelegate, "Error-Network"},
        {ZULAlert::initWithSignInErrorBadCredentialsForDelegate, "Error-Sign-In"},
        {ZULAlert::initWithSignInErrorNoMoreFreeSlotsForDelegate, "Error-Sign-In-No-More-Slots"},
        {ZULAlert::initWithSignInSuccessDeviceAddedForDelegate, "Success-Sign-In-Device-Added"},
        {ZULAlert::initWithSignInErrorServiceUnavailableForDelegate,
         "Error-Sign-In-Service-Unavailable"},
    };
    std::set<std::string> titles;
    for (const auto& a : alerts) {
        auto delegate = std::make_shared<ui::AlertViewDelegate>();
        const ui::AlertView::Ptr alert = a.make(delegate);
        ExpectAlertOf(alert, a.prefix);
        EXPECT_EQ(delegate, alert->Delegate()) << a.prefix;
        titles.insert(Entry(std::string(a.prefix) + "-Title"));
    }
    // Each has a title of its own in the table, so one reading another's keys would show.
    EXPECT_EQ(sizeof alerts / sizeof alerts[0], titles.size());
}

TEST(ZULAlertTest, PlayerErrorShowsTheTableMessageFollowedByTheCode) {
    auto delegate = std::make_shared<ui::AlertViewDelegate>();
    const ui::AlertView::Ptr alert = ZULAlert::initWithPlayerCustomErrorForDelegate(delegate, 300);
    ExpectAlertOf(alert, "Error-Player-Custom-Error", " (300)");
    EXPECT_EQ(delegate, alert->Delegate());
    // One alert as a person reads it, so that the table the test reads is the one shown.
    EXPECT_EQ("Playback error", alert->Title());
    EXPECT_EQ("The title cannot be played (300)", alert->Message());
    EXPECT_EQ("OK", alert->ButtonTitleAtIndex(0));
    ExpectAlertOf(ZULAlert::initWithPlayerCustomErrorForDelegate(nullptr, -1),
                  "Error-Player-Custom-Error", " (-1)");
}

}  // namespace
