// The search bar: its subviews, editing through its delegate, and the cancel button.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/ui/AnimationLog.h"
#include "platform/ui/Keyboard.h"
#include "platform/ui/SearchBar.h"
#include "platform/ui/TestLoop.h"

namespace {

using ui::Point;
using ui::Rect;
using ui::SearchBar;

struct SearchBarRecorder : ui::SearchBarDelegate {
    bool ShouldBeginEditing(SearchBar&) override {
        calls.push_back("should begin");
        return allowBegin;
    }
    void TextDidChange(SearchBar&, const std::string& text) override {
        calls.push_back("text '" + text + "'");
    }
    void SearchButtonClicked(SearchBar& bar) override {
        calls.push_back("search");
        bar.ResignFirstResponder();
    }
    void CancelButtonClicked(SearchBar&) override { calls.push_back("cancel"); }
    std::vector<std::string> calls;
    bool allowBegin = true;
};

std::vector<std::string> Classes(const ui::View& view) {
    std::vector<std::string> names;
    for (const auto& sub : view.Subviews()) {
        names.push_back(sub->ClassName());
    }
    return names;
}

void TapSearchBar(ui::View& view) {
    view.TouchesBegan(Point(1, 1));
    view.TouchesEnded(Point(1, 1));
}

class SearchBarTest : public ::testing::Test {
protected:
    void SetUp() override {
        // A device with an on-screen keyboard.
        ui::Keyboard::SetOnScreen(true);
        parent = std::make_shared<ui::View>(Rect(0, 0, 320, 480));
        bar = std::make_shared<SearchBar>(Rect(0, 0, 320, 44));
        parent->AddSubview(bar);
        delegate = std::make_shared<SearchBarRecorder>();
        bar->SetDelegate(delegate);
    }
    void TearDown() override {
        bar->ResignFirstResponder();
        ui::Keyboard::SetOnScreen(false);
    }

    ui::TestLoop loop;
    std::shared_ptr<ui::View> parent;
    std::shared_ptr<SearchBar> bar;
    std::shared_ptr<SearchBarRecorder> delegate;
};

TEST_F(SearchBarTest, SubviewsAreTheFieldAndWhileShownTheCancelButton) {
    EXPECT_EQ(Classes(*bar), std::vector<std::string>{"TextField"});
    // Field at x 8, 30 high centred in 44 (y 7), to 8 before the right edge.
    EXPECT_EQ(bar->SearchField()->Frame(), Rect(8, 7, 304, 30));

    bar->SetShowsCancelButton(true, false);
    EXPECT_EQ(Classes(*bar), (std::vector<std::string>{"TextField", "Button"}));
    EXPECT_EQ(bar->CancelButton()->CurrentTitle(), "Cancel");
    EXPECT_EQ(bar->CancelButton()->Frame(), Rect(252, 7, 60, 30));  // 320 - 8 - 60
    EXPECT_EQ(bar->SearchField()->Frame(), Rect(8, 7, 236, 30));    // up to 252 - 8

    // The application re-enables every button among the bar's subviews.
    bar->CancelButton()->SetEnabled(false);
    for (const auto& sub : bar->Subviews()) {
        if (auto button = std::dynamic_pointer_cast<ui::Button>(sub)) {
            button->SetEnabled(true);
        }
    }
    EXPECT_TRUE(bar->CancelButton()->IsEnabled());

    bar->SetFrame(Rect(0, 0, 400, 44));  // widened: laid out again
    loop.Step();
    EXPECT_EQ(bar->CancelButton()->Frame(), Rect(332, 7, 60, 30));
    EXPECT_EQ(bar->SearchField()->Frame(), Rect(8, 7, 316, 30));

    ui::AnimationLog::Clear();
    bar->SetShowsCancelButton(false, true);
    EXPECT_EQ(Classes(*bar), std::vector<std::string>{"TextField"});
    EXPECT_EQ(bar->SearchField()->Frame(), Rect(8, 7, 384, 30));
    ASSERT_EQ(ui::AnimationLog::Entries().size(), 1u);
    EXPECT_DOUBLE_EQ(ui::AnimationLog::Entries()[0].duration, 0.25);
    EXPECT_EQ(bar->SizeThatFits(ui::Size(400, 0)), ui::Size(400, 44));
}

TEST_F(SearchBarTest, EditingTypingReturnAndCancelReachTheDelegate) {
    delegate->allowBegin = false;
    TapSearchBar(*bar->SearchField());
    EXPECT_FALSE(bar->IsFirstResponder());
    EXPECT_FALSE(ui::Keyboard::IsVisible());

    delegate->allowBegin = true;
    TapSearchBar(*bar->SearchField());
    EXPECT_TRUE(bar->IsFirstResponder());
    EXPECT_TRUE(ui::Keyboard::IsVisible());
    auto field = bar->SearchField();
    field->InsertText("m");
    field->InsertText("y");
    field->DeleteBackward();
    bar->SetText("programmatic");  // the delegate hears nothing of it
    EXPECT_EQ(bar->Text(), "programmatic");
    EXPECT_TRUE(field->PressReturn());  // the delegate dismisses the keyboard
    EXPECT_FALSE(bar->IsFirstResponder());
    EXPECT_FALSE(ui::Keyboard::IsVisible());

    bar->SetShowsCancelButton(true, false);
    TapSearchBar(*bar->CancelButton());
    EXPECT_EQ(delegate->calls,
              (std::vector<std::string>{"should begin", "should begin", "text 'm'", "text 'my'",
                                        "text 'm'", "search", "cancel"}));
}

TEST_F(SearchBarTest, TheBarAnswersForItsFieldAsFirstResponder) {
    EXPECT_TRUE(bar->CanBecomeFirstResponder());
    ASSERT_TRUE(bar->BecomeFirstResponder());
    EXPECT_TRUE(bar->SearchField()->IsEditing());
    EXPECT_EQ(ui::Responder::FirstResponderOf(*parent), bar->SearchField());
    EXPECT_TRUE(bar->ResignFirstResponder());
    EXPECT_FALSE(bar->SearchField()->IsEditing());

    // The field's delegate is the bar's own; once the bar is gone the field is on its own.
    auto field = bar->SearchField();
    bar->RemoveFromSuperview();
    bar.reset();
    parent->AddSubview(field);
    ASSERT_TRUE(field->BecomeFirstResponder());
    EXPECT_TRUE(field->InsertText("still fine"));
    field->ResignFirstResponder();
    bar = std::make_shared<SearchBar>();
}

}  // namespace
