// The application's fields: where their text stands, and the password field's edit menu.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "app/ZULSecureTextField.h"
#include "app/ZULTextField.h"
#include "platform/ui/View.h"

namespace {

const char* const kMenuActions[] = {"cut:", "copy:", "select:", "selectAll:", "paste:", "delete:"};

TEST(ZULTextFieldTest, TextStandsTenPointsInAndLeavesRoomForTheClearButton) {
    ZULTextField field(ui::Rect(0, 0, 200, 44));
    // The clear button's rectangle is 19 points wide whether or not it shows:
    // width 200 - 2 x 10 - 19 = 161.
    EXPECT_EQ(ui::Rect(10, 0, 161, 44), field.TextRectForBounds(ui::Rect(0, 0, 200, 44)));
    EXPECT_EQ(ui::Rect(10, 0, 161, 44), field.EditingRectForBounds(ui::Rect(0, 0, 200, 44)));
    EXPECT_EQ(ui::Rect(10, 0, 61, 30), field.TextRectForBounds(ui::Rect(5, 5, 100, 30)));
}

// An editing field holding "secret", in a window-less tree of its own.
template <typename Field>
std::shared_ptr<Field> EditingField(std::shared_ptr<ui::View>& root) {
    root = std::make_shared<ui::View>(ui::Rect(0, 0, 320, 480));
    auto field = std::make_shared<Field>(ui::Rect(0, 0, 200, 44));
    root->AddSubview(field);
    field->SetText("secret");
    EXPECT_TRUE(field->BecomeFirstResponder());
    return field;
}

TEST(ZULSecureTextFieldTest, OffersNoEditMenuActionWhereAPlainFieldWould) {
    std::shared_ptr<ui::View> plainRoot, secureRoot;
    auto plain = EditingField<ZULTextField>(plainRoot);
    auto secure = EditingField<ZULSecureTextField>(secureRoot);
    // With part of the text selected the plain field offers all but "select:"; with none
    // selected it offers "select:", "selectAll:" and "paste:".
    for (const ui::TextRange& selection : {ui::TextRange(0, 3), ui::TextRange(6, 0)}) {
        plain->SetSelectedRange(selection);
        secure->SetSelectedRange(selection);
        int plainOffers = 0;
        for (const std::string action : kMenuActions) {
            SCOPED_TRACE(action);
            plainOffers += plain->CanPerformAction(action) ? 1 : 0;
            EXPECT_FALSE(secure->CanPerformAction(action));
        }
        EXPECT_EQ(selection.length > 0 ? 5 : 3, plainOffers);
    }
}

// The six are the only ones it decides: any other action, near misses of the six among them,
// it answers as the plain field does, with or without a selection.
TEST(ZULSecureTextFieldTest, AnswersEveryOtherActionAsAPlainFieldDoes) {
    std::shared_ptr<ui::View> plainRoot, secureRoot;
    auto plain = EditingField<ZULTextField>(plainRoot);
    auto secure = EditingField<ZULSecureTextField>(secureRoot);
    const char* const others[] = {"",           "cut",      "Copy:",          "paste",
                                  "select:all", "replace:", "_define:",       "_share:",
                                  "undo:",      "redo:",    "toggleBoldface:"};
    for (const ui::TextRange& selection : {ui::TextRange(0, 3), ui::TextRange(6, 0)}) {
        plain->SetSelectedRange(selection);
        secure->SetSelectedRange(selection);
        for (const std::string action : others) {
            SCOPED_TRACE("\"" + action + "\"");
            EXPECT_EQ(plain->CanPerformAction(action), secure->CanPerformAction(action));
        }
    }
}

}  // namespace
