#include "platform/ui/NavigationController.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "platform/ui/ControllerTestSupport.h"
#include "platform/ui/Window.h"

namespace ui {
namespace {

using Journal = RecordingViewController::Journal;

// Reads its container's bar while its own view loads, as a sign-in screen styles it.
class BarReader : public RecordingViewController {
public:
    using RecordingViewController::RecordingViewController;
    void ViewDidLoad() override {
        RecordingViewController::ViewDidLoad();
        if (auto nav = GetNavigationController()) {
            barSeen = nav->NavigationBar();
        }
    }
    std::shared_ptr<View> barSeen;
};

class NavigationControllerTest : public ControllerTest {
protected:
    std::shared_ptr<Window> window_ = std::make_shared<Window>(Rect(0, 0, 320, 480));
};

TEST_F(NavigationControllerTest, TheRootKnowsItsContainerWhileItsViewLoads) {
    auto root = std::make_shared<BarReader>("A", journal_);
    auto nav = std::make_shared<NavigationController>(root);
    window_->SetRootViewController(nav);
    ASSERT_NE(root->barSeen, nullptr);
    EXPECT_EQ(root->barSeen, nav->NavigationBar());
    EXPECT_EQ(LogsWith({"while it loads"}), 0);
    // The container is below the status bar (320 x 460); the bar takes its top 44 points.
    EXPECT_EQ(nav->NavigationBar()->Frame(), Rect(0, 0, 320, 44));
    EXPECT_EQ(root->GetView()->Frame(), Rect(0, 44, 320, 416));
    EXPECT_EQ(root->GetView()->Superview(), nav->GetView());
}

TEST_F(NavigationControllerTest, PushAndPopSwapTheTopAndItsAppearance) {
    auto a = Make("A");
    auto nav = std::make_shared<NavigationController>(a);
    window_->SetRootViewController(nav);
    window_->MakeKeyAndVisible();
    EXPECT_EQ(Take(), (Journal{"A.didLoad()", "A.willAppear(0)", "A.didAppear(0)"}));

    auto b = Make("B");
    ASSERT_TRUE(nav->PushViewController(b, true));
    EXPECT_EQ(Take(), (Journal{"A.willDisappear(1)", "B.didLoad()", "B.willAppear(1)",
                               "A.didDisappear(1)", "B.didAppear(1)"}));
    EXPECT_EQ(nav->TopViewController(), b);
    EXPECT_EQ(b->GetNavigationController(), nav);
    EXPECT_EQ(b->GetView()->Frame(), Rect(0, 44, 320, 416));
    EXPECT_EQ(a->GetView()->Superview(), nullptr);
    EXPECT_FALSE(nav->PushViewController(b, false));  // already on the stack

    nav->SetNavigationBarHidden(true);
    EXPECT_EQ(b->GetView()->Frame(), Rect(0, 0, 320, 460));
    nav->SetNavigationBarHidden(false);

    EXPECT_EQ(nav->PopViewController(false), b);
    EXPECT_EQ(Take(), (Journal{"B.willDisappear(0)", "A.willAppear(0)", "B.didDisappear(0)",
                               "A.didAppear(0)"}));
    EXPECT_EQ(b->ParentViewController(), nullptr);
    EXPECT_EQ(nav->PopViewController(false), nullptr);  // the root stays
    EXPECT_EQ(nav->ViewControllers(), (std::vector<ViewController::Ptr>{a}));
}

TEST_F(NavigationControllerTest, ABarPutInTheSlotStaysAboveTheTopView) {
    auto a = Make("A");
    auto nav = std::make_shared<NavigationController>(a);
    window_->SetRootViewController(nav);
    auto bar = std::make_shared<View>();
    nav->SetNavigationBar(bar);
    EXPECT_EQ(nav->NavigationBar(), bar);
    EXPECT_EQ(bar->Frame(), Rect(0, 0, 320, 44));
    // The top view lies under the bar, the bar on top.
    EXPECT_EQ(nav->GetView()->Subviews(), (std::vector<View::Ptr>{a->GetView(), bar}));
}

}  // namespace
}  // namespace ui
