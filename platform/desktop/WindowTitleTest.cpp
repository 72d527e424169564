// The window's title comes from the bundle: the name it gives for showing first, its short name
// when it gives none, and the program's name when the bundle has neither.
#include "platform/desktop/WindowTitle.h"

#include <glib.h>
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "tests/support/TemporaryDirectory.h"

namespace ns::desktop {
namespace {

class WindowTitleTest : public ::testing::Test {
protected:
    // An Info.plist holding `entries` (key/string pairs written as given).
    void WriteInfo(const std::string& entries) {
        std::ofstream(dir_.File("Info.plist"))
            << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>\n"
            << entries << "</dict></plist>\n";
    }
    SvTestSupport::TemporaryDirectory dir_{"window-title-"};
};

TEST_F(WindowTitleTest, TheDisplayNameWinsOverTheShortName) {
    WriteInfo(
        "<key>CFBundleName</key><string>Short</string>\n"
        "<key>CFBundleDisplayName</key><string>Shown Name</string>\n");
    EXPECT_EQ("Shown Name", WindowTitle(Bundle(dir_.Path(), {"en"})));
}

TEST_F(WindowTitleTest, TheShortNameStandsInForAMissingOrEmptyDisplayName) {
    WriteInfo("<key>CFBundleName</key><string>Short</string>\n");
    EXPECT_EQ("Short", WindowTitle(Bundle(dir_.Path(), {"en"})));
    WriteInfo(
        "<key>CFBundleName</key><string>Short</string>\n"
        "<key>CFBundleDisplayName</key><string></string>\n");
    EXPECT_EQ("Short", WindowTitle(Bundle(dir_.Path(), {"en"})));
}

TEST_F(WindowTitleTest, WithoutNamesTheProgramNamesTheWindow) {
    const char* program = g_get_prgname();
    ASSERT_NE(program, nullptr);
    EXPECT_EQ(program, WindowTitle(Bundle(dir_.Path() + "/missing", {"en"})));
}

}  // namespace
}  // namespace ns::desktop
