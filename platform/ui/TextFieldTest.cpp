// Text fields: typing through the delegate, Return, the clear button, edit-menu actions and the
// overridable rectangles.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/ui/TextField.h"

namespace {

using ui::Rect;
using ui::TextField;
using ui::TextRange;
namespace Event = ui::ControlEvent;

struct TextFieldRecorder : ui::TextFieldDelegate {
    bool ShouldBeginEditing(TextField&) override {
        calls.push_back("should begin");
        return allowBegin;
    }
    bool ShouldChangeCharacters(TextField&, const TextRange& range,
                                const std::string& replacement) override {
        calls.push_back("change " + std::to_string(range.location) + "," +
                        std::to_string(range.length) + " '" + replacement + "'");
        return replacement != "x";
    }
    bool ShouldReturn(TextField&) override {
        calls.push_back("should return");
        return allowReturn;
    }
    bool ShouldClear(TextField&) override {
        calls.push_back("should clear");
        return allowClear;
    }
    std::vector<std::string> calls;
    bool allowBegin = true;
    bool allowReturn = true;
    bool allowClear = true;
};

class TextFieldTest : public ::testing::Test {
protected:
    void SetUp() override {
        root = std::make_shared<ui::View>(Rect(0, 0, 320, 480));
        field = std::make_shared<TextField>(Rect(10, 10, 200, 31));
        root->AddSubview(field);
        delegate = std::make_shared<TextFieldRecorder>();
        field->SetDelegate(delegate);
        field->AddTarget(
            nullptr, [this](ui::Control&) { ++changed; }, Event::EditingChanged);
    }
    void TearDown() override { field->ResignFirstResponder(); }

    std::shared_ptr<ui::View> root;
    std::shared_ptr<TextField> field;
    std::shared_ptr<TextFieldRecorder> delegate;
    int changed = 0;
};

TEST_F(TextFieldTest, TypingGoesThroughShouldChangeCharactersAndARefusalKeepsTheText) {
    EXPECT_FALSE(field->InsertText("a"));  // not editing: the keys go nowhere
    EXPECT_TRUE(delegate->calls.empty());

    ASSERT_TRUE(field->BecomeFirstResponder());
    EXPECT_TRUE(field->InsertText("ab"));
    EXPECT_FALSE(field->InsertText("x"));  // refused
    EXPECT_EQ(field->Text(), "ab");
    EXPECT_TRUE(field->InsertText("\xC3\xA9"));  // one code point, two bytes
    EXPECT_EQ(field->Text(), "ab\xC3\xA9");
    EXPECT_EQ(field->SelectedRange(), TextRange(3, 0));
    EXPECT_TRUE(field->DeleteBackward());  // takes the whole code point
    EXPECT_EQ(field->Text(), "ab");
    field->SetSelectedRange(TextRange(0, 1));
    EXPECT_TRUE(field->InsertText("Z"));  // replaces the selection
    EXPECT_EQ(field->Text(), "Zb");
    EXPECT_EQ(field->SelectedRange(), TextRange(1, 0));
    field->SetSelectedRange(TextRange(0, 0));
    EXPECT_FALSE(field->DeleteBackward());  // nothing before the caret: not even asked
    EXPECT_EQ(delegate->calls, (std::vector<std::string>{"should begin", "change 0,0 'ab'",
                                                         "change 2,0 'x'", "change 2,0 '\xC3\xA9'",
                                                         "change 2,1 ''", "change 0,1 'Z'"}));
    EXPECT_EQ(changed, 4);  // the refusal changed nothing

    delegate->calls.clear();
    field->SetText("new");  // programmatic: nobody is asked or told
    EXPECT_EQ(field->Text(), "new");
    EXPECT_EQ(field->SelectedRange(), TextRange(3, 0));
    EXPECT_TRUE(delegate->calls.empty());
    EXPECT_EQ(changed, 4);

    field->SetSelectedRange(TextRange(2, 10));  // clamped to the text
    EXPECT_EQ(field->SelectedRange(), TextRange(2, 1));
}

TEST_F(TextFieldTest, ReturnAsksShouldReturnAndEndsEditingOnlyForAnEndOnExitTarget) {
    EXPECT_FALSE(field->PressReturn());  // not editing
    ASSERT_TRUE(field->BecomeFirstResponder());
    delegate->calls.clear();

    delegate->allowReturn = false;
    EXPECT_FALSE(field->PressReturn());
    delegate->allowReturn = true;
    EXPECT_TRUE(field->PressReturn());
    EXPECT_TRUE(field->IsEditing());  // nobody listens for end-on-exit
    EXPECT_EQ(delegate->calls, (std::vector<std::string>{"should return", "should return"}));

    int exits = 0;
    field->AddTarget(
        nullptr, [&](ui::Control&) { ++exits; }, Event::EditingDidEndOnExit);
    delegate->allowReturn = false;
    EXPECT_FALSE(field->PressReturn());
    EXPECT_EQ(exits, 0);
    EXPECT_TRUE(field->IsEditing());
    delegate->allowReturn = true;
    EXPECT_TRUE(field->PressReturn());
    EXPECT_EQ(exits, 1);
    EXPECT_FALSE(field->IsEditing());
}

TEST_F(TextFieldTest, ATapBeginsEditingThroughShouldBeginEditing) {
    std::vector<std::string> events;
    field->AddTarget(
        nullptr, [&](ui::Control&) { events.push_back("began"); }, Event::EditingDidBegin);
    delegate->allowBegin = false;
    field->TouchesBegan(ui::Point(5, 5));
    field->TouchesEnded(ui::Point(5, 5));
    EXPECT_FALSE(field->IsEditing());
    delegate->allowBegin = true;
    field->TouchesBegan(ui::Point(5, 5));
    field->TouchesEnded(ui::Point(500, 5));  // ended outside: no
    EXPECT_FALSE(field->IsEditing());
    field->TouchesBegan(ui::Point(5, 5));
    field->TouchesEnded(ui::Point(5, 5));
    EXPECT_TRUE(field->IsEditing());
    EXPECT_EQ(delegate->calls, (std::vector<std::string>{"should begin", "should begin"}));
    EXPECT_EQ(events, std::vector<std::string>{"began"});
}

TEST_F(TextFieldTest, TheClearButtonShowsByModeAndAsksShouldClear) {
    field->SetText("abc");
    field->SetClearButtonMode(ui::TextFieldViewMode::WhileEditing);
    EXPECT_FALSE(field->IsClearButtonShown());
    EXPECT_FALSE(field->PressClearButton());
    ASSERT_TRUE(field->BecomeFirstResponder());
    EXPECT_TRUE(field->IsClearButtonShown());
    delegate->allowClear = false;
    EXPECT_FALSE(field->PressClearButton());
    EXPECT_EQ(field->Text(), "abc");
    delegate->allowClear = true;
    EXPECT_TRUE(field->PressClearButton());
    EXPECT_EQ(field->Text(), "");
    EXPECT_EQ(changed, 1);
    EXPECT_FALSE(field->IsClearButtonShown());  // nothing left to clear

    field->SetText("abc");
    field->SetClearButtonMode(ui::TextFieldViewMode::UnlessEditing);
    EXPECT_FALSE(field->IsClearButtonShown());
    field->ResignFirstResponder();
    EXPECT_TRUE(field->IsClearButtonShown());
}

// The keys of a keyboard: the caret moves, Shift extends from the end that stays, typing and
// the deletions replace what is selected, and only an editing field moves at all.
TEST_F(TextFieldTest, CaretKeysMoveAndExtendTheSelectionThatTypingReplaces) {
    using ui::CaretMovement;
    field->SetText(
        "ab\xC3\xA9"
        "cd");  // five code points, the third two bytes
    EXPECT_FALSE(field->MoveCaret(CaretMovement::Left, false));  // not editing
    EXPECT_FALSE(field->SelectAll());
    ASSERT_TRUE(field->BecomeFirstResponder());
    EXPECT_EQ(field->CaretPosition(), 5u);
    EXPECT_FALSE(field->MoveCaret(CaretMovement::Right, false));  // at the end already
    EXPECT_TRUE(field->MoveCaret(CaretMovement::Left, false));
    EXPECT_TRUE(field->MoveCaret(CaretMovement::Left, false));
    EXPECT_EQ(field->SelectedRange(), TextRange(3, 0));
    EXPECT_TRUE(field->InsertText("X"));  // typed at the caret, not at the end
    EXPECT_EQ(field->Text(),
              "ab\xC3\xA9"
              "Xcd");
    EXPECT_EQ(field->CaretPosition(), 4u);

    // Shift+Left twice selects leftwards: the caret is at the selection's start.
    EXPECT_TRUE(field->MoveCaret(CaretMovement::Left, true));
    EXPECT_TRUE(field->MoveCaret(CaretMovement::Left, true));
    EXPECT_EQ(field->SelectedRange(), TextRange(2, 2));
    EXPECT_EQ(field->CaretPosition(), 2u);
    EXPECT_EQ(field->SelectedText(),
              "\xC3\xA9"
              "X");
    // Shift+Right shrinks it again from the same end; Shift+End then reaches over the anchor.
    EXPECT_TRUE(field->MoveCaret(CaretMovement::Right, true));
    EXPECT_EQ(field->SelectedRange(), TextRange(3, 1));
    EXPECT_TRUE(field->MoveCaret(CaretMovement::End, true));
    EXPECT_EQ(field->SelectedRange(), TextRange(4, 2));
    EXPECT_EQ(field->CaretPosition(), 6u);
    // Left without Shift collapses to the selection's start, Right to its end.
    EXPECT_TRUE(field->MoveCaret(CaretMovement::Left, false));
    EXPECT_EQ(field->SelectedRange(), TextRange(4, 0));
    EXPECT_TRUE(field->MoveCaret(CaretMovement::Home, true));
    EXPECT_EQ(field->SelectedRange(), TextRange(0, 4));
    EXPECT_TRUE(field->MoveCaret(CaretMovement::Right, false));
    EXPECT_EQ(field->SelectedRange(), TextRange(4, 0));

    // A leftward selection is replaced as a whole by typing and deleted by Backspace.
    field->MoveCaret(CaretMovement::End, false);
    field->MoveCaret(CaretMovement::Left, true);
    field->MoveCaret(CaretMovement::Left, true);
    EXPECT_TRUE(field->DeleteBackward());
    EXPECT_EQ(field->Text(),
              "ab\xC3\xA9"
              "X");
    EXPECT_EQ(field->CaretPosition(), 4u);

    // Select all, then typing replaces everything.
    EXPECT_TRUE(field->SelectAll());
    EXPECT_FALSE(field->SelectAll());  // all selected already
    EXPECT_EQ(field->SelectedText(), field->Text());
    EXPECT_TRUE(field->InsertText("new"));
    EXPECT_EQ(field->Text(), "new");

    // Delete takes the character after the caret, or the selection; nothing at the end.
    field->MoveCaret(CaretMovement::Home, false);
    EXPECT_TRUE(field->DeleteForward());
    EXPECT_EQ(field->Text(), "ew");
    EXPECT_EQ(field->CaretPosition(), 0u);
    field->MoveCaret(CaretMovement::End, false);
    EXPECT_FALSE(field->DeleteForward());
    field->MoveCaret(CaretMovement::Left, true);
    EXPECT_TRUE(field->DeleteForward());
    EXPECT_EQ(field->Text(), "e");
    EXPECT_EQ(delegate->calls.back(), "change 1,1 ''");  // asked like any other edit

    // A disabled field takes no caret key (and stops editing).
    field->SetEnabled(false);
    EXPECT_FALSE(field->MoveCaret(CaretMovement::Home, false));
}

// A tap on the clear button empties the field and leaves it editing; a tap beside it only
// begins editing.
TEST_F(TextFieldTest, ATapOnTheShownClearButtonClearsTheText) {
    field->SetText("abc");
    field->SetClearButtonMode(ui::TextFieldViewMode::Always);
    const ui::Point button = field->ClearButtonRectForBounds(field->Bounds()).Center();
    field->TouchesBegan(ui::Point(20, 15));
    field->TouchesEnded(ui::Point(20, 15));
    EXPECT_EQ(field->Text(), "abc");
    EXPECT_TRUE(field->IsEditing());
    field->TouchesBegan(button);
    field->TouchesEnded(button);
    EXPECT_EQ(field->Text(), "");
    EXPECT_EQ(changed, 1);
    EXPECT_TRUE(field->IsEditing());

    // Not shown (nothing to clear in a field that is not editing): the tap only begins editing.
    field->ResignFirstResponder();
    field->SetClearButtonMode(ui::TextFieldViewMode::WhileEditing);
    field->SetText("abc");
    field->TouchesBegan(button);
    field->TouchesEnded(button);
    EXPECT_EQ(field->Text(), "abc");
    EXPECT_TRUE(field->IsEditing());
}

// A password field that offers no edit-menu action over its text.
struct NoMenuSecureField : TextField {
    bool CanPerformAction(const std::string& action) const override {
        for (const char* refused :
             {"cut:", "copy:", "select:", "selectAll:", "paste:", "delete:"}) {
            if (action == refused) {
                return false;
            }
        }
        return TextField::CanPerformAction(action);
    }
};

TEST_F(TextFieldTest, EditMenuActionsFollowTheContentAndASubclassMayRefuseThem) {
    const std::vector<std::string> actions = {
        "cut:", "copy:", "select:", "selectAll:", "paste:", "delete:"};
    auto offered = [&](const TextField& f) {
        std::string s;
        for (const std::string& a : actions) {
            if (f.CanPerformAction(a)) s += a;
        }
        return s;
    };
    field->SetText("secret");
    field->SetSelectedRange(TextRange(0, 3));
    EXPECT_EQ(offered(*field), "copy:");         // not editing: only copying a selection
    ASSERT_TRUE(field->BecomeFirstResponder());  // the caret goes to the end
    EXPECT_EQ(offered(*field), "select:selectAll:paste:");
    field->SetSelectedRange(TextRange(0, 3));
    EXPECT_EQ(offered(*field), "cut:copy:selectAll:paste:delete:");
    field->SetSelectedRange(TextRange(0, 6));
    EXPECT_EQ(offered(*field), "cut:copy:paste:delete:");
    EXPECT_FALSE(field->CanPerformAction("bold:"));

    field->SetSecureTextEntry(true);  // the base keeps secure text from the pasteboard
    EXPECT_EQ(offered(*field), "paste:delete:");

    auto password = std::make_shared<NoMenuSecureField>();
    password->SetSecureTextEntry(true);
    root->AddSubview(password);
    password->SetText("hunter2");
    ASSERT_TRUE(password->BecomeFirstResponder());
    EXPECT_TRUE(password->TextField::CanPerformAction("paste:"));  // the base would offer it
    EXPECT_EQ(offered(*password), "");
    password->SetSelectedRange(TextRange(0, 7));
    EXPECT_EQ(offered(*password), "");
    password->ResignFirstResponder();
}

// Text inset by 10 on the left and right, and room for the clear button.
struct InsetField : TextField {
    Rect TextRectForBounds(const Rect& b) const override {
        return Rect(10, 0, b.Width() - 20 - ClearButtonRectForBounds(b).Width(), b.Height());
    }
    Rect EditingRectForBounds(const Rect& b) const override { return TextRectForBounds(b); }
};

TEST_F(TextFieldTest, DefaultRectsAndOverridesOfThem) {
    // 200 x 31, rounded border (padding 7), clear button while editing: the button is 19
    // square, 6 from the right edge: x = 200 - 6 - 19 = 175, y = (31 - 19) / 2 = 6.
    const Rect b(0, 0, 200, 31);
    field->SetBorderStyle(ui::TextBorderStyle::RoundedRect);
    field->SetClearButtonMode(ui::TextFieldViewMode::WhileEditing);
    EXPECT_EQ(field->ClearButtonRectForBounds(b), Rect(175, 6, 19, 19));
    EXPECT_EQ(field->TextRectForBounds(b), Rect(7, 0, 186, 31));     // 7 .. 200 - 7
    EXPECT_EQ(field->EditingRectForBounds(b), Rect(7, 0, 168, 31));  // 7 .. 175
    EXPECT_EQ(field->PlaceholderRectForBounds(b), Rect(7, 0, 186, 31));
    field->SetBorderStyle(ui::TextBorderStyle::Line);
    EXPECT_EQ(field->TextRectForBounds(b), Rect(2, 0, 196, 31));
    EXPECT_EQ(field->DisplayedTextRect(), Rect(2, 0, 196, 31));
    ASSERT_TRUE(field->BecomeFirstResponder());
    EXPECT_EQ(field->DisplayedTextRect(), Rect(2, 0, 173, 31));  // 2 .. 175
    field->ResignFirstResponder();

    auto inset = std::make_shared<InsetField>();
    inset->SetFrame(Rect(0, 0, 200, 31));
    root->AddSubview(inset);
    // 200 - 20 - 19 = 161, editing or not; the placeholder follows the text rect.
    EXPECT_EQ(inset->DisplayedTextRect(), Rect(10, 0, 161, 31));
    inset->SetText("me@example.com");
    EXPECT_EQ(inset->DisplayedTextRect(), Rect(10, 0, 161, 31));
    ASSERT_TRUE(inset->BecomeFirstResponder());
    EXPECT_EQ(inset->DisplayedTextRect(), Rect(10, 0, 161, 31));
    inset->ResignFirstResponder();
}

}  // namespace
