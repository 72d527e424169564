// The router's text-input keys on plain view models (no window): Tab order, what the clipboard
// may take from a field and put into it, and where a tap puts the caret.
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>

#include "platform/desktop/InputRouter.h"
#include "platform/ui/TextField.h"

namespace ns::desktop {
namespace {

struct RefusingDelegate : ui::TextFieldDelegate {
    bool ShouldChangeCharacters(ui::TextField&, const ui::TextRange&, const std::string&) override {
        return false;
    }
};

class InputRouterTextTest : public ::testing::Test {
protected:
    void SetUp() override {
        root = std::make_shared<ui::View>(ui::Rect(0, 0, 320, 480));
        for (int i = 0; i < 5; ++i) {
            fields[i] = std::make_shared<ui::TextField>(ui::Rect(10, 10 + 40 * i, 200, 31));
        }
        // The third inside a box, which the tests hide or make transparent.
        box = std::make_shared<ui::View>(ui::Rect(0, 80, 320, 40));
        fields[2]->SetFrame(ui::Rect(10, 0, 200, 31));
        root->AddSubview(fields[0]);
        root->AddSubview(fields[1]);
        root->AddSubview(box);
        box->AddSubview(fields[2]);
        root->AddSubview(fields[3]);
        root->AddSubview(fields[4]);
    }
    void TearDown() override {
        for (auto& f : fields) f->ResignFirstResponder();
    }
    int Editing() const {
        for (int i = 0; i < 5; ++i) {
            if (fields[i]->IsEditing()) return i;
        }
        return -1;
    }

    ui::View::Ptr root;
    ui::View::Ptr box;
    std::shared_ptr<ui::TextField> fields[5];
    InputRouter router{[this] { return root; }};
};

TEST_F(InputRouterTextTest, TabGoesAroundTheFieldsAPersonCanEdit) {
    EXPECT_FALSE(router.Tab(false));  // nothing editing: the key is not taken
    ASSERT_TRUE(fields[0]->BecomeFirstResponder());
    fields[3]->SetEnabled(false);
    box->SetAlpha(0);
    ASSERT_TRUE(router.Tab(false));
    EXPECT_EQ(1, Editing());
    router.Tab(false);  // past the transparent box and the disabled field
    EXPECT_EQ(4, Editing());
    router.Tab(false);  // around to the first
    EXPECT_EQ(0, Editing());
    router.Tab(true);  // and back the other way
    EXPECT_EQ(4, Editing());
    box->SetAlpha(1);
    router.Tab(true);
    EXPECT_EQ(2, Editing());
    box->SetHidden(true);  // the editing field's box goes: Tab still finds the others
    router.Tab(false);
    EXPECT_EQ(4, Editing());
}

TEST_F(InputRouterTextTest, TheClipboardTakesAndGivesOnlyWhatTheFieldOffers) {
    ui::TextField& field = *fields[0];
    field.SetText("hello");
    EXPECT_FALSE(InputRouter::PasteInto(field, "x"));  // not editing
    EXPECT_EQ(std::nullopt, router.Copy());
    ASSERT_TRUE(field.BecomeFirstResponder());
    EXPECT_EQ(std::nullopt, router.Copy());  // nothing selected
    router.MoveCaret(ui::CaretMovement::Left, true);
    router.MoveCaret(ui::CaretMovement::Left, true);
    EXPECT_EQ(std::optional<std::string>("lo"), router.Copy());

    // One line: breaks and tabs become spaces, other control characters go.
    EXPECT_TRUE(InputRouter::PasteInto(field,
                                       "a\r\nb\tc\x01"
                                       "d\x7F\n"));
    EXPECT_EQ("hela b cd ", field.Text());
    EXPECT_FALSE(InputRouter::PasteInto(field, "\x02\x03"));  // nothing left to paste
    EXPECT_FALSE(InputRouter::PasteInto(field, std::string(InputRouter::kMaxPaste + 1, 'a')));
    EXPECT_EQ("hela b cd ", field.Text());

    // A delegate that refuses the edit: cut leaves text and clipboard alone.
    auto refusing = std::make_shared<RefusingDelegate>();
    field.SetDelegate(refusing);
    router.SelectAll();
    EXPECT_EQ(std::nullopt, router.Cut());
    EXPECT_EQ("hela b cd ", field.Text());
    field.SetDelegate(nullptr);
    EXPECT_EQ(std::optional<std::string>("hela b cd "), router.Cut());
    EXPECT_EQ("", field.Text());

    // A secure field keeps its text off the clipboard.
    field.SetText("secret");
    field.SetSecureTextEntry(true);
    router.SelectAll();
    EXPECT_EQ(ui::TextRange(0, 6), field.SelectedRange());
    EXPECT_EQ(std::nullopt, router.Copy());
    EXPECT_EQ(std::nullopt, router.Cut());
    EXPECT_EQ("secret", field.Text());
}

TEST_F(InputRouterTextTest, ATapInTheTextPutsTheCaretWhereTheLocatorSays) {
    ui::TextField& field = *fields[0];
    field.SetText("abcdef");
    field.SetClearButtonMode(ui::TextFieldViewMode::WhileEditing);
    std::optional<ui::Point> asked;
    router.SetCaretLocator([&](const ui::TextField&, const ui::Point& p) {
        asked = p;
        return std::optional<size_t>(2);
    });
    // The field's (10, 10) origin in the root: (30, 25) is (20, 15) in the field.
    router.Press(ui::Point(30, 25), 0);
    router.Release(ui::Point(31, 25), 50);
    ASSERT_TRUE(field.IsEditing());
    ASSERT_TRUE(asked.has_value());
    EXPECT_EQ(ui::Point(21, 15), *asked);
    EXPECT_EQ(ui::TextRange(2, 0), field.SelectedRange());

    // The clear button is not text: the tap there clears, the locator is not asked.
    asked.reset();
    const ui::Rect button = field.ClearButtonRectForBounds(field.Bounds());
    router.Press(ui::Point(10 + button.MidX(), 10 + button.MidY()), 100);
    router.Release(ui::Point(10 + button.MidX(), 10 + button.MidY()), 150);
    EXPECT_FALSE(asked.has_value());
    EXPECT_EQ("", field.Text());

    // A locator without an answer leaves the caret where it was.
    field.SetText("xyz");
    router.SetCaretLocator([](const ui::TextField&, const ui::Point&) { return std::nullopt; });
    router.Press(ui::Point(30, 25), 200);
    router.Release(ui::Point(30, 25), 250);
    EXPECT_EQ(ui::TextRange(3, 0), field.SelectedRange());
}

}  // namespace
}  // namespace ns::desktop
