// The loading view's layout (frames worked out by hand from the model's text metrics: 0.5 x
// the point size per character, lines ceil(1.2 x size) high; the text font is 18 points, so
// 9 per character and 22 high) and its spin across a trip to the background.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <memory>
#include <string>

#include "app/ZULLoadingView.h"
#include "platform/core/NotificationCenter.h"
#include "platform/ui/Application.h"
#include "platform/ui/BasicAnimation.h"
#include "platform/ui/TestLoop.h"

namespace {

class ZULLoadingViewTest : public ::testing::Test {
protected:
    // This thread steps the main loop, so the application's notifications arrive at once.
    void SetUp() override { ns::RunLoop::Main().RunOnce(std::chrono::milliseconds(0)); }

    // A 20 x 20 spinner, whatever picture the bundle holds.
    std::shared_ptr<ZULLoadingView> Make(const ui::Rect& frame, const std::string& text) {
        auto view = std::make_shared<ZULLoadingView>(frame);
        view->spinner()->SetFrame(ui::Rect(0, 0, 20, 20));
        view->setLoadingText(text);
        view->LayoutIfNeeded();
        return view;
    }

    ui::TestLoop loop_;
};

TEST_F(ZULLoadingViewTest, TextAndSpinnerStandSideBySideCentredTogether) {
    // "Signing in..." is 13 characters, 117 wide. x = (280 - 117 - 20 - 10) / 2 = 66.5,
    // rounded to 67; y = (88 - 22) / 2 = 33. The spinner: x = 67 + 117 + 10 = 194,
    // y = (88 - 20) / 2 = 34.
    auto view = Make(ui::Rect(0, 0, 280, 88), "Signing in...");
    EXPECT_EQ(ui::Rect(67, 33, 117, 22), view->label()->Frame());
    EXPECT_EQ(ui::Rect(194, 34, 20, 20), view->spinner()->Frame());
    // The spinner is below the text in the stacking order, as it was added first.
    ASSERT_EQ(2u, view->Subviews().size());
    EXPECT_EQ(view->spinner(), view->Subviews()[0]);
    EXPECT_TRUE(view->ClipsToBounds());
}

TEST_F(ZULLoadingViewTest, TextWiderThanTheViewIsCutToLeaveRoomForSpinnerAndGap) {
    // 30 characters are 270 wide; at most 200 - 20 - 10 = 170 remain. x = 0, y = (40-22)/2.
    auto view = Make(ui::Rect(0, 0, 200, 40), std::string(30, 'x'));
    EXPECT_EQ(ui::Rect(0, 9, 170, 22), view->label()->Frame());
    EXPECT_EQ(ui::Rect(180, 10, 20, 20), view->spinner()->Frame());
    // A new text asks for a new layout.
    view->setLoadingText("ok");  // 18 wide: x = (200 - 18 - 30) / 2 = 76
    view->LayoutIfNeeded();
    EXPECT_EQ(ui::Rect(76, 9, 18, 22), view->label()->Frame());
    EXPECT_EQ(ui::Rect(104, 10, 20, 20), view->spinner()->Frame());
}

TEST_F(ZULLoadingViewTest, ViewTooNarrowForTheSpinnerShowsNoText) {
    // 20 - 20 - 10 leaves no room: the text gets width 0, x = (20 - 0 - 30) / 2 = -5.
    auto view = Make(ui::Rect(0, 0, 20, 40), "Signing in...");
    EXPECT_EQ(ui::Rect(-5, 9, 0, 22), view->label()->Frame());
    EXPECT_EQ(ui::Rect(5, 10, 20, 20), view->spinner()->Frame());
}

TEST_F(ZULLoadingViewTest, SpinIsAnEndlessTurnAddedAgainOnReturnToTheForeground) {
    ui::Application app;
    app.BecomeActive();
    auto view = Make(ui::Rect(0, 0, 280, 88), "Signing in...");
    ui::Layer& layer = view->spinner()->GetLayer();

    view->startSpin();
    EXPECT_TRUE(view->isSpinning());
    auto spin =
        std::dynamic_pointer_cast<const ui::BasicAnimation>(layer.AnimationForKey("SpinAnimation"));
    ASSERT_NE(nullptr, spin);
    EXPECT_EQ("transform.rotation", spin->KeyPath());
    EXPECT_EQ(0.0, std::get<double>(*spin->FromValue()));
    EXPECT_DOUBLE_EQ(2 * M_PI, std::get<double>(*spin->ToValue()));
    EXPECT_EQ(1.0, spin->Duration());
    EXPECT_TRUE(spin->IsInfinite());

    // The background takes the layer's animations away; the foreground brings the spin back.
    app.EnterBackground();
    layer.RemoveAllAnimations();
    app.EnterForeground();
    EXPECT_NE(nullptr, layer.AnimationForKey("SpinAnimation"));

    view->cancelSpin();
    EXPECT_FALSE(view->isSpinning());
    EXPECT_EQ(nullptr, layer.AnimationForKey("SpinAnimation"));
    app.EnterBackground();
    app.EnterForeground();
    EXPECT_EQ(nullptr, layer.AnimationForKey("SpinAnimation"));
}

TEST_F(ZULLoadingViewTest, AViewThatIsGoneStopsObserving) {
    ns::NotificationCenter& center = ns::NotificationCenter::Default();
    const size_t before = center.ObserverCount();
    {
        auto view = Make(ui::Rect(0, 0, 280, 88), "x");
        view->startSpin();
        EXPECT_EQ(before + 1, center.ObserverCount());
    }
    EXPECT_EQ(before, center.ObserverCount());
}

}  // namespace
