#include "platform/ui/Window.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "platform/ui/ControllerTestSupport.h"

namespace ui {
namespace {

using Journal = RecordingViewController::Journal;

class WindowTest : public ControllerTest {
protected:
    std::shared_ptr<Window> window_ = std::make_shared<Window>(Rect(0, 0, 320, 480));
};

TEST_F(WindowTest, ReplacingTheRootSendsDisappearToTheOldOneAndFreesIt) {
    auto a = Make("A");
    window_->SetRootViewController(a);
    EXPECT_TRUE(window_->IsHidden());
    EXPECT_EQ(Take(), (Journal{"A.didLoad()"}));  // no appear calls while hidden
    window_->MakeKeyAndVisible();
    EXPECT_EQ(Take(), (Journal{"A.willAppear(0)", "A.didAppear(0)"}));
    EXPECT_TRUE(window_->IsKeyWindow());
    EXPECT_EQ(app_->Windows(), (std::vector<std::shared_ptr<Window>>{window_}));

    std::weak_ptr<ViewController> oldRoot = a;
    std::weak_ptr<View> oldView = a->GetView();
    auto b = Make("B");
    a.reset();
    window_->SetRootViewController(b);
    EXPECT_EQ(Take(), (Journal{"A.willDisappear(0)", "B.didLoad()", "B.willAppear(0)",
                               "A.didDisappear(0)", "B.didAppear(0)"}));
    EXPECT_TRUE(oldRoot.expired());
    EXPECT_TRUE(oldView.expired());
    EXPECT_EQ(window_->Subviews(), (std::vector<View::Ptr>{b->GetView()}));
    // Below the shown status bar: 480 - 20 points high.
    EXPECT_EQ(b->GetView()->Frame(), Rect(0, 20, 320, 460));
}

TEST_F(WindowTest, ARootReplacedWhilePresentingTakesItsModalAlong) {
    auto a = Make("A");
    window_->SetRootViewController(a);
    window_->MakeKeyAndVisible();
    auto modal = Make("M");
    a->PresentViewController(modal, true);
    loop_.Advance(0.3);
    Take();
    std::weak_ptr<ViewController> oldRoot = a, oldModal = modal;
    a.reset();
    modal.reset();
    window_->SetRootViewController(Make("B"));
    // The modal had covered A: A had already disappeared and is not told again.
    EXPECT_EQ(Take(), (Journal{"M.willDisappear(0)", "M.didDisappear(0)", "B.didLoad()",
                               "B.willAppear(0)", "B.didAppear(0)"}));
    EXPECT_TRUE(oldRoot.expired());
    EXPECT_TRUE(oldModal.expired());
    EXPECT_EQ(window_->Subviews().size(), 1u);
}

TEST_F(WindowTest, ARootReplacedDuringItsPresentTransitionStillCompletes) {
    auto a = Make("A");
    window_->SetRootViewController(a);
    window_->MakeKeyAndVisible();
    bool presented = false;
    a->PresentViewController(Make("M"), true, [&] { presented = true; });
    loop_.Advance(0.1);
    window_->SetRootViewController(Make("B"));
    EXPECT_TRUE(presented);  // ended at once, not left hanging
    EXPECT_EQ(window_->Subviews().size(), 1u);
    loop_.Advance(1);  // and its timer does nothing more
    EXPECT_EQ(window_->Subviews().size(), 1u);
}

TEST_F(WindowTest, ControllerViewsFollowTheStatusBarUnlessTheyWantFullScreen) {
    auto root = Make("R");
    window_->SetRootViewController(root);
    window_->MakeKeyAndVisible();
    auto full = Make("F");
    full->SetWantsFullScreenLayout(true);
    root->PresentViewController(full, false);
    loop_.Step();
    EXPECT_EQ(full->GetView()->Frame(), Rect(0, 0, 320, 480));
    app_->SetStatusBarHidden(true, true);
    EXPECT_TRUE(app_->StatusBarChangeAnimated());
    EXPECT_EQ(app_->StatusBarFrame(), Rect());
    root->DismissViewController(false);
    // The presenting view comes back framed for the status bar as it is now.
    EXPECT_EQ(root->GetView()->Frame(), Rect(0, 0, 320, 480));
    loop_.Step();
    app_->SetStatusBarHidden(false);
    EXPECT_EQ(root->GetView()->Frame(), Rect(0, 20, 320, 460));
    EXPECT_EQ(app_->StatusBarFrame(), Rect(0, 0, 320, 20));
}

}  // namespace
}  // namespace ui
