// The palette and the fonts by idiom, against the values of the product's style sheet.
#include <gtest/gtest.h>

#include "app/ZULColor.h"
#include "app/ZULFont.h"
#include "platform/ui/UiDevice.h"

namespace {

class ZULLookTest : public ::testing::Test {
protected:
    void TearDown() override { ui::UiDevice::Current().SetIdiom(ui::UserInterfaceIdiom::Phone); }
};

TEST_F(ZULLookTest, ColoursAreTheStyleSheets) {
    // Colour::ToString is #RRGGBBAA of the 0..255 components.
    EXPECT_EQ("#F8D7D6FF", ZULColor::zulEmptyLoginTextFieldColor().ToString());      // 248 215 214
    EXPECT_EQ("#232323FF", ZULColor::zulSigningInBackgroundColor().ToString());      // 35
    EXPECT_EQ("#151515FF", ZULColor::zulTableViewBackgroundColor().ToString());      // 21
    EXPECT_EQ("#111111FF", ZULColor::zulTableViewCellBackgroundColor().ToString());  // 17
    EXPECT_EQ("#1B1B1BFF", ZULColor::zulTableViewCellSelectedBackgroundColor().ToString());  // 27
    EXPECT_EQ("#B7B7B7FF", ZULColor::zulTableViewCellTextColor().ToString());                // 183
    EXPECT_EQ("#FFFFFFFF", ZULColor::zulTableViewCellSelectedTextColor().ToString());
    EXPECT_EQ("#FFFFFFFF", ZULColor::zulTableViewResultCellTextColor().ToString());
    EXPECT_EQ("#151515FF", ZULColor::zulTableViewResultLoadingCellBackgroundColor().ToString());
    EXPECT_EQ("#B7B7B7FF", ZULColor::zulSearchBarTextFieldTextColor().ToString());
}

TEST_F(ZULLookTest, FontSizesFollowTheIdiomAndNoIdiomCountsAsAPhone) {
    struct Case {
        ui::UserInterfaceIdiom idiom;
        double resultCell, signInText;
    };
    for (const Case& c :
         {Case{ui::UserInterfaceIdiom::Pad, 16, 26}, Case{ui::UserInterfaceIdiom::Phone, 12, 17},
          Case{ui::UserInterfaceIdiom::Unspecified, 12, 17}}) {
        SCOPED_TRACE(static_cast<int>(c.idiom));
        ui::UiDevice::Current().SetIdiom(c.idiom);
        EXPECT_EQ(ui::Font("HelveticaNeue", c.resultCell), ZULFont::zulTableViewResultCellFont());
        EXPECT_EQ(ui::Font("HelveticaNeue", c.signInText), ZULFont::zulSignInTextFont());
        // The others are the same everywhere.
        EXPECT_EQ(ui::Font("HelveticaNeue", 18), ZULFont::zulTableViewCellFont());
        EXPECT_EQ(ui::Font("HelveticaNeue", 16), ZULFont::zulTableViewSectionFont());
        EXPECT_EQ(ui::Font("HelveticaNeue", 18), ZULFont::zulTableViewResultLoadingCellFont());
        EXPECT_EQ(ui::Font("HelveticaNeue", 14), ZULFont::zulSearchBarTextFieldFont());
        EXPECT_EQ(ui::Font("HelveticaNeue", 16), ZULFont::zulSignInButtonFont());
        EXPECT_EQ(ui::Font("HelveticaNeue", 13.5), ZULFont::zulFontWithSize(13.5));
    }
}

}  // namespace
