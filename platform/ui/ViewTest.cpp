#include "platform/ui/View.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

namespace {

using ui::AffineTransform;
using ui::Point;
using ui::Rect;
using ui::Size;
using ui::View;

std::shared_ptr<View> MakeView(double x, double y, double w, double h) {
    return std::make_shared<View>(Rect(x, y, w, h));
}

TEST(ViewTest, FrameIsDerivedFromCenterBoundsAndTransform) {
    auto v = MakeView(10, 20, 100, 50);
    EXPECT_EQ(v->Center(), Point(60, 45));  // 10 + 100/2, 20 + 50/2
    EXPECT_EQ(v->Bounds(), Rect(0, 0, 100, 50));
    v->SetCenter(Point(0, 0));
    EXPECT_EQ(v->Frame(), Rect(-50, -25, 100, 50));
    // Scrolling the bounds moves the content, not the frame.
    v->SetBounds(Rect(5, 5, 100, 50));
    EXPECT_EQ(v->Frame(), Rect(-50, -25, 100, 50));

    // A quarter turn about the centre (50, 25) of a 100 x 50 view: the box becomes 50 x 100
    // around the same centre.
    auto r = MakeView(0, 0, 100, 50);
    r->SetTransform(AffineTransform::MakeRotation(M_PI / 2));
    EXPECT_EQ(r->Frame(), Rect(25, -25, 50, 100));
    EXPECT_EQ(r->Bounds().size, Size(100, 50));
    // Setting the frame of the turned view: bounds 120 x 60 turned give a 60 x 120 frame.
    r->SetFrame(Rect(0, 0, 60, 120));
    EXPECT_EQ(r->Bounds().size, Size(120, 60));
    EXPECT_EQ(r->Center(), Point(30, 60));
    EXPECT_EQ(r->Frame(), Rect(0, 0, 60, 120));
}

TEST(ViewTest, TreeOperationsKeepOneSuperviewAndRefuseCycles) {
    auto root = MakeView(0, 0, 320, 480);
    auto a = MakeView(0, 0, 10, 10);
    auto b = MakeView(0, 0, 10, 10);
    auto c = MakeView(0, 0, 10, 10);
    ASSERT_TRUE(root->AddSubview(a));
    ASSERT_TRUE(root->AddSubview(b));
    EXPECT_EQ(a->Superview(), root);
    EXPECT_FALSE(a->AddSubview(root));  // an ancestor
    EXPECT_FALSE(a->AddSubview(a));     // itself
    EXPECT_FALSE(a->AddSubview(nullptr));

    EXPECT_TRUE(root->InsertSubviewBelow(c, b));
    EXPECT_EQ(root->Subviews(), (std::vector<View::Ptr>{a, c, b}));
    EXPECT_TRUE(root->InsertSubviewAbove(a, b));  // a move within the same superview
    EXPECT_EQ(root->Subviews(), (std::vector<View::Ptr>{c, b, a}));
    root->SendSubviewToBack(a);
    EXPECT_EQ(root->Subviews(), (std::vector<View::Ptr>{a, c, b}));
    root->BringSubviewToFront(a);
    EXPECT_EQ(root->Subviews(), (std::vector<View::Ptr>{c, b, a}));
    EXPECT_TRUE(root->InsertSubviewAt(a, 1));
    EXPECT_EQ(root->Subviews(), (std::vector<View::Ptr>{c, a, b}));

    // Adding to another view takes it out of the old one.
    b->AddSubview(a);
    EXPECT_EQ(root->Subviews(), (std::vector<View::Ptr>{c, b}));
    EXPECT_EQ(a->Superview(), b);
    EXPECT_TRUE(a->IsDescendantOf(root.get()));
    a->RemoveFromSuperview();
    EXPECT_EQ(a->Superview(), nullptr);
    EXPECT_TRUE(b->Subviews().empty());
}

TEST(ViewTest, FindsViewsByTagAndIdentifierDepthFirst) {
    auto root = MakeView(0, 0, 100, 100);
    auto box = MakeView(0, 0, 50, 50);
    auto deep = MakeView(0, 0, 5, 5);
    auto later = MakeView(0, 0, 5, 5);
    root->AddSubview(box);
    box->AddSubview(deep);
    root->AddSubview(later);
    deep->SetTag(7);
    later->SetTag(7);
    deep->SetIdentifier("signInButton");
    EXPECT_EQ(root->ViewWithTag(7), deep);  // the first in depth-first order
    EXPECT_EQ(root->ViewWithTag(0), root);  // the view itself counts
    EXPECT_EQ(root->ViewWithTag(99), nullptr);
    EXPECT_EQ(root->FindByIdentifier("signInButton"), deep);
    EXPECT_EQ(root->FindByIdentifier(""), nullptr);
    EXPECT_EQ(box->FindByIdentifier("missing"), nullptr);
}

TEST(ViewTest, ConvertsPointsThroughScrolledAndTransformedAncestors) {
    auto root = MakeView(0, 0, 320, 480);
    auto parent = MakeView(100, 50, 200, 200);
    parent->SetBounds(Rect(0, 20, 200, 200));  // scrolled down by 20
    auto child = MakeView(10, 30, 20, 20);
    root->AddSubview(parent);
    parent->AddSubview(child);
    // child (0,0) is parent (10,30); parent shows its y 20 at its top, so it lies at
    // root (100 + 10, 50 + 30 - 20).
    EXPECT_EQ(child->ConvertPointTo(Point(0, 0), root.get()), Point(110, 60));
    EXPECT_EQ(child->ConvertPointTo(Point(0, 0), nullptr), Point(110, 60));
    EXPECT_EQ(root->ConvertPointTo(Point(110, 60), child.get()), Point(0, 0));
    EXPECT_EQ(child->ConvertPointFrom(Point(110, 60), root.get()), Point(0, 0));
    EXPECT_EQ(child->ConvertRectTo(Rect(0, 0, 20, 20), root.get()), Rect(110, 60, 20, 20));

    // A 2x scale about the centre (100, 100) of a 200 x 200 view at (0, 0): its point (0, 0)
    // lies 100 to the left and above the centre, doubled: (100 - 200, 100 - 200).
    auto scaled = MakeView(0, 0, 200, 200);
    root->AddSubview(scaled);
    scaled->SetTransform(AffineTransform::MakeScale(2, 2));
    EXPECT_EQ(scaled->ConvertPointTo(Point(0, 0), root.get()), Point(-100, -100));
    EXPECT_EQ(scaled->ConvertPointFrom(Point(-100, -100), root.get()), Point(0, 0));
    EXPECT_EQ(scaled->ConvertRectTo(Rect(0, 0, 200, 200), root.get()), Rect(-100, -100, 400, 400));
}

TEST(ViewTest, HitTestSkipsHiddenTransparentAndNonInteractiveViews) {
    auto root = MakeView(0, 0, 320, 480);
    auto button = MakeView(10, 10, 100, 44);
    auto inner = MakeView(5, 5, 10, 10);
    auto overlay = MakeView(50, 10, 100, 44);  // above button, sharing x 50..110
    root->AddSubview(button);
    button->AddSubview(inner);
    root->AddSubview(overlay);

    EXPECT_EQ(root->HitTest(Point(30, 30)), button);   // button (20,20), beside inner
    EXPECT_EQ(root->HitTest(Point(16, 16)), inner);    // button (6,6) is inner (1,1)
    EXPECT_EQ(root->HitTest(Point(60, 30)), overlay);  // the topmost wins
    EXPECT_EQ(root->HitTest(Point(400, 20)), nullptr);

    overlay->SetHidden(true);
    EXPECT_EQ(root->HitTest(Point(60, 30)), button);
    overlay->SetHidden(false);
    overlay->SetAlpha(0.009);  // below 0.01 counts as invisible
    EXPECT_EQ(root->HitTest(Point(60, 30)), button);
    overlay->SetAlpha(0.01);
    EXPECT_EQ(root->HitTest(Point(60, 30)), overlay);
    overlay->SetUserInteractionEnabled(false);
    EXPECT_EQ(root->HitTest(Point(60, 30)), button);

    // A non-interactive view shuts out its subviews, and the touch falls to what lies behind.
    button->SetUserInteractionEnabled(false);
    EXPECT_EQ(root->HitTest(Point(16, 16)), root);
    // Subviews outside their superview's bounds are not reached.
    button->SetUserInteractionEnabled(true);
    inner->SetFrame(Rect(200, 5, 10, 10));
    EXPECT_EQ(root->HitTest(Point(215, 20)), root);
}

TEST(ViewTest, EveryChangeBumpsTheRevisionAndReachesTheHook) {
    auto root = MakeView(0, 0, 100, 100);
    auto sub = MakeView(0, 0, 10, 10);
    std::vector<View*> changed;
    View::SetChangeHook([&](View& v) { changed.push_back(&v); });

    uint64_t r0 = sub->Revision();
    sub->SetAlpha(0.5);
    sub->SetAlpha(0.5);  // the same value is no change
    EXPECT_EQ(sub->Revision(), r0 + 1);
    sub->SetBackgroundColor(ui::Color::Black());
    sub->SetBackgroundColor(std::nullopt);
    sub->SetIdentifier("label");
    EXPECT_EQ(sub->Revision(), r0 + 4);
    EXPECT_EQ(changed.size(), 4u);

    changed.clear();
    uint64_t rootRev = root->Revision();
    root->AddSubview(sub);  // both the superview's list and the subview's superview change
    EXPECT_GT(root->Revision(), rootRev);
    EXPECT_NE(std::find(changed.begin(), changed.end(), root.get()), changed.end());
    EXPECT_NE(std::find(changed.begin(), changed.end(), sub.get()), changed.end());
    View::SetChangeHook(nullptr);
    sub->SetHidden(true);
    EXPECT_EQ(changed.size(), 2u);
    EXPECT_DOUBLE_EQ(sub->Alpha(), 0.5);
    sub->SetAlpha(7);  // clamped
    EXPECT_DOUBLE_EQ(sub->Alpha(), 1);
}

class FakeWindow : public View {
public:
    using View::View;
    bool IsWindow() const override { return true; }
};

class WindowWatcher : public View {
public:
    using View::View;
    int moves = 0;

protected:
    void DidMoveToWindow() override { ++moves; }
};

TEST(ViewTest, WindowIsFoundUpTheChainAndMovesAreAnnounced) {
    auto window = std::make_shared<FakeWindow>(Rect(0, 0, 320, 480));
    auto box = MakeView(0, 0, 100, 100);
    auto watcher = std::make_shared<WindowWatcher>(Rect(0, 0, 10, 10));
    box->AddSubview(watcher);
    EXPECT_EQ(watcher->moves, 0);  // no window yet
    EXPECT_EQ(watcher->WindowOf(), nullptr);
    window->AddSubview(box);
    EXPECT_EQ(watcher->moves, 1);
    EXPECT_EQ(watcher->WindowOf(), window);
    EXPECT_EQ(window->WindowOf(), window);
    box->RemoveFromSuperview();
    EXPECT_EQ(watcher->moves, 2);
    EXPECT_EQ(watcher->WindowOf(), nullptr);
}

}  // namespace
