// Autoresizing and the layout pass.

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/ui/TestLoop.h"
#include "platform/ui/View.h"

namespace {

using ui::Rect;
using ui::View;
namespace A = ui::Autoresizing;

std::shared_ptr<View> Child(const std::shared_ptr<View>& parent, Rect frame, unsigned mask) {
    auto v = std::make_shared<View>(frame);
    v->SetAutoresizingMask(mask);
    parent->AddSubview(v);
    return v;
}

TEST(ViewLayoutTest, AutoresizingFollowsTheMaskPerAxis) {
    // The superview grows from 300 x 200 to 400 x 160: +100 across, -40 down. Every child
    // starts at x 50, width 100 (so its right margin is 300 - 150 = 150) and y 20, height 60
    // (bottom margin 200 - 80 = 120).
    auto parent = std::make_shared<View>(Rect(0, 0, 300, 200));
    const Rect start(50, 20, 100, 60);
    auto fixed = Child(parent, start, A::None);
    auto width = Child(parent, start, A::FlexibleWidth);
    auto left = Child(parent, start, A::FlexibleLeftMargin);
    auto centred = Child(parent, start, A::FlexibleLeftMargin | A::FlexibleRightMargin);
    auto all =
        Child(parent, start, A::FlexibleLeftMargin | A::FlexibleWidth | A::FlexibleRightMargin);
    auto widthRight = Child(parent, start, A::FlexibleWidth | A::FlexibleRightMargin);
    auto topHeight = Child(parent, start, A::FlexibleTopMargin | A::FlexibleHeight);
    auto bottom = Child(parent, start, A::FlexibleBottomMargin);

    parent->SetFrame(Rect(0, 0, 400, 160));

    EXPECT_EQ(fixed->Frame(), start);
    // The width alone takes the +100.
    EXPECT_EQ(width->Frame(), Rect(50, 20, 200, 60));
    // The left margin alone takes it: the view keeps its right margin.
    EXPECT_EQ(left->Frame(), Rect(150, 20, 100, 60));
    // Margins 50 and 150 share +100 as 50:150: the left one grows by 25.
    EXPECT_EQ(centred->Frame(), Rect(75, 20, 100, 60));
    // 50 : 100 : 150 share +100: +16.67, +33.33, +50 (each part grows by a third).
    EXPECT_EQ(all->Frame(), Rect(50 + 50.0 / 3, 20, 100 + 100.0 / 3, 60));
    // Width 100 and right margin 150 share +100 as 100:150: the width grows by 40.
    EXPECT_EQ(widthRight->Frame(), Rect(50, 20, 140, 60));
    // Top margin 20 and height 60 share -40 as 20:60: y 20 - 10, height 60 - 30.
    EXPECT_EQ(topHeight->Frame(), Rect(50, 10, 100, 30));
    // The bottom margin alone shrinks; the view keeps its place.
    EXPECT_EQ(bottom->Frame(), start);
}

TEST(ViewLayoutTest, AutoresizingEdgeCasesAndPropagation) {
    auto parent = std::make_shared<View>(Rect(0, 0, 300, 200));
    // Flexible parts that measure nothing together share the change equally: margin 0 and
    // width 0, +100 -> +50 each.
    auto zero = Child(parent, Rect(0, 0, 0, 10), A::FlexibleLeftMargin | A::FlexibleWidth);
    // A flexible-width child whose own child keeps its right margin.
    auto bar = Child(parent, Rect(0, 0, 300, 44), A::FlexibleWidth);
    auto button = Child(bar, Rect(250, 7, 40, 30), A::FlexibleLeftMargin);
    parent->SetFrame(Rect(0, 0, 400, 200));
    EXPECT_EQ(zero->Frame(), Rect(50, 0, 50, 10));
    EXPECT_EQ(bar->Frame(), Rect(0, 0, 400, 44));
    EXPECT_EQ(button->Frame(), Rect(350, 7, 40, 30));  // right margin 10 kept

    // Moving without resizing, or with autoresizing of subviews off, leaves children alone.
    parent->SetFrame(Rect(30, 30, 400, 200));
    EXPECT_EQ(bar->Frame(), Rect(0, 0, 400, 44));
    parent->SetAutoresizesSubviews(false);
    parent->SetFrame(Rect(0, 0, 500, 200));
    EXPECT_EQ(bar->Frame(), Rect(0, 0, 400, 44));
}

class CountingView : public View {
public:
    CountingView(Rect frame, std::vector<std::string>* order, std::string name)
        : View(frame), order_(order), name_(std::move(name)) {}
    int layouts = 0;
    std::function<void()> onLayout;

    void LayoutSubviews() override {
        ++layouts;
        order_->push_back(name_);
        if (onLayout) {
            onLayout();
        }
    }

private:
    std::vector<std::string>* order_;
    std::string name_;
};

TEST(ViewLayoutTest, LayoutRunsOncePerPassSuperviewsFirst) {
    ui::TestLoop loop;
    std::vector<std::string> order;
    auto parent = std::make_shared<CountingView>(Rect(0, 0, 100, 100), &order, "parent");
    auto child = std::make_shared<CountingView>(Rect(0, 0, 10, 10), &order, "child");
    parent->AddSubview(child);  // asks for the child's layout
    loop.Step();
    EXPECT_EQ(order, (std::vector<std::string>{"child"}));

    order.clear();
    child->SetNeedsLayout();
    child->SetNeedsLayout();
    parent->SetNeedsLayout();
    parent->SetNeedsLayout();
    parent->SetNeedsLayout();
    EXPECT_EQ(parent->layouts, 0);  // nothing happens until the pass
    loop.Step();
    // Once each, the superview before its subview although the subview asked first.
    EXPECT_EQ(order, (std::vector<std::string>{"parent", "child"}));
    loop.Step();
    EXPECT_EQ(order.size(), 2u);

    // A size change asks for layout; a move does not.
    order.clear();
    parent->SetFrame(Rect(5, 5, 100, 100));
    loop.Step();
    EXPECT_TRUE(order.empty());
    parent->SetFrame(Rect(5, 5, 120, 100));
    loop.Step();
    EXPECT_EQ(order, (std::vector<std::string>{"parent"}));

    // LayoutIfNeeded lays out at once, and the pass then has nothing left to do.
    order.clear();
    parent->SetNeedsLayout();
    child->SetNeedsLayout();
    parent->LayoutIfNeeded();
    EXPECT_EQ(order, (std::vector<std::string>{"parent", "child"}));
    loop.Step();
    EXPECT_EQ(order.size(), 2u);
}

TEST(ViewLayoutTest, ALayoutThatAlwaysAsksAgainStillEndsThePass) {
    ui::TestLoop loop;
    std::vector<std::string> order;
    auto view = std::make_shared<CountingView>(Rect(0, 0, 10, 10), &order, "restless");
    view->onLayout = [&] { view->SetNeedsLayout(); };
    view->SetNeedsLayout();
    loop.Step();  // must return
    EXPECT_GE(view->layouts, 1);
    EXPECT_LE(view->layouts, 8);
    view->onLayout = nullptr;
    loop.Step();
    int settled = view->layouts;
    loop.Step();
    EXPECT_EQ(view->layouts, settled);
}

TEST(ViewLayoutTest, ScopedLoopsNestAndRestore) {
    ns::RunLoop& outer = ui::Loop();
    {
        ui::TestLoop first;
        EXPECT_EQ(&ui::Loop(), &first.Loop());
        {
            ui::TestLoop second;
            EXPECT_EQ(&ui::Loop(), &second.Loop());
        }
        EXPECT_EQ(&ui::Loop(), &first.Loop());
    }
    EXPECT_EQ(&ui::Loop(), &outer);
    // Seconds become loop ticks rounded to the nearest: 0.15 x 4 is a hair under 0.6 in
    // binary and still makes 600 ms.
    EXPECT_EQ(ui::SecondsToDuration(0.15 * 2 * 2), std::chrono::milliseconds(600));
    EXPECT_EQ(ui::SecondsToDuration(-1), ns::RunLoop::Duration::zero());
}

}  // namespace
