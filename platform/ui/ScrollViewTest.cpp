#include "platform/ui/ScrollView.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/ui/TestLoop.h"

namespace {

using ui::Point;
using ui::Rect;
using ui::ScrollView;
using ui::Size;

// Records every call, with the flags the view showed at that moment.
class ScrollRecorder : public ui::ScrollViewDelegate {
public:
    void DidScroll(ScrollView& v) override {
        ++scrolls;
        last = v.ContentOffset();
    }
    void WillBeginDragging(ScrollView& v) override {
        events.push_back(std::string("begin") + (v.IsDragging() ? "+dragging" : ""));
    }
    void DidEndDragging(ScrollView& v, bool willDecelerate) override {
        events.push_back(std::string("end(") + (willDecelerate ? "true" : "false") + ")" +
                         (v.IsDragging() ? "+dragging" : ""));
    }
    void DidEndDecelerating(ScrollView& v) override {
        events.push_back(std::string("stop") + (v.IsDecelerating() ? "+decelerating" : ""));
    }

    int scrolls = 0;
    Point last;
    std::vector<std::string> events;
};

class ScrollViewTest : public ::testing::Test {
protected:
    void SetUp() override {
        view = std::make_shared<ScrollView>(Rect(0, 0, 320, 440));
        view->SetContentSize(Size(320, 4400));  // the offset can go from 0 to 4400 - 440 = 3960
        recorder = std::make_shared<ScrollRecorder>();
        view->SetDelegate(recorder);
    }

    ui::TestLoop loop;
    std::shared_ptr<ScrollView> view;
    std::shared_ptr<ScrollRecorder> recorder;
};

TEST_F(ScrollViewTest, OffsetIsTheBoundsOriginAndStaysWithinTheContent) {
    view->SetContentOffset(Point(0, 300));
    EXPECT_EQ(view->Bounds(), Rect(0, 300, 320, 440));
    EXPECT_EQ(view->Frame(), Rect(0, 0, 320, 440));  // the view itself does not move
    EXPECT_EQ(recorder->scrolls, 1);

    view->SetContentOffset(Point(50, 5000));  // no horizontal room; 3960 at most
    EXPECT_EQ(view->ContentOffset(), Point(0, 3960));
    view->SetContentOffset(Point(0, -20));
    EXPECT_EQ(view->ContentOffset(), Point(0, 0));
    EXPECT_EQ(recorder->scrolls, 3);
    view->SetContentOffset(Point(0, 0));  // no change: no call
    EXPECT_EQ(recorder->scrolls, 3);

    // Content that shrinks under the offset takes it back: 1000 - 440 = 560.
    view->SetContentOffset(Point(0, 900));
    view->SetContentSize(Size(320, 1000));
    EXPECT_EQ(view->ContentOffset(), Point(0, 560));
    EXPECT_EQ(recorder->last, Point(0, 560));
}

TEST_F(ScrollViewTest, AnimatedOffsetMovesOnTheLoopClockWithoutDecelerating) {
    view->SetContentOffset(Point(0, 300), true);
    EXPECT_EQ(view->ContentOffset(), Point(0, 0));
    EXPECT_FALSE(view->IsDecelerating());
    // Half of 0.3 s: 2 x 0.5 - 0.5^2 = 0.75 of the way, 225.
    loop.Advance(0.15);
    EXPECT_EQ(view->ContentOffset(), Point(0, 225));
    loop.Advance(0.15);
    EXPECT_EQ(view->ContentOffset(), Point(0, 300));
    loop.Advance(1);
    EXPECT_EQ(recorder->scrolls, 2);
    EXPECT_TRUE(recorder->events.empty());  // no drag, no deceleration
}

TEST_F(ScrollViewTest, DragFollowsTheFingerAndTheRubberBandNeedsBounces) {
    ASSERT_TRUE(view->BeginDrag());
    EXPECT_TRUE(view->IsTracking());
    EXPECT_FALSE(view->IsDragging());
    EXPECT_FALSE(view->BeginDrag());  // one finger at a time
    view->DragBy(Point(0, -100));     // finger up 100: the content goes up, offset +100
    EXPECT_TRUE(view->IsDragging());
    EXPECT_EQ(view->ContentOffset(), Point(0, 100));
    view->DragBy(Point(0, 150));  // down 150: 100 to 0 in full, the last 50 at half rate
    EXPECT_EQ(view->ContentOffset(), Point(0, -25));
    view->DragBy(Point(0, -20));  // back 20 beyond the edge is 10 shown: -15
    EXPECT_EQ(view->ContentOffset(), Point(0, -15));
    EXPECT_EQ(recorder->events, (std::vector<std::string>{"begin+dragging"}));

    // Released beyond the edge: it eases back in 0.3 s, which counts as deceleration.
    view->EndDrag(Point());
    EXPECT_FALSE(view->IsTracking());
    EXPECT_TRUE(view->IsDecelerating());
    loop.Advance(0.15);  // 0.75 of the way from -15: -3.75
    EXPECT_EQ(view->ContentOffset(), Point(0, -3.75));
    loop.Advance(0.15);
    EXPECT_EQ(view->ContentOffset(), Point(0, 0));
    EXPECT_EQ(recorder->events, (std::vector<std::string>{"begin+dragging", "end(true)", "stop"}));

    // Without bounces the content stops at the edge and moves back at once when the finger
    // turns.
    recorder->events.clear();
    view->SetBounces(false);
    ASSERT_TRUE(view->BeginDrag());
    view->DragBy(Point(0, 80));
    EXPECT_EQ(view->ContentOffset(), Point(0, 0));
    view->DragBy(Point(0, -30));
    EXPECT_EQ(view->ContentOffset(), Point(0, 30));
    view->EndDrag(Point(0, 10));  // 10 pt/s: too slow to decelerate
    EXPECT_FALSE(view->IsDecelerating());
    EXPECT_EQ(recorder->events, (std::vector<std::string>{"begin+dragging", "end(false)"}));
}

TEST_F(ScrollViewTest, ATouchThatNeverMovesIsNoDrag) {
    ASSERT_TRUE(view->BeginDrag());
    view->DragBy(Point(0, 0));
    view->EndDrag(Point(0, -3000));
    EXPECT_TRUE(recorder->events.empty());
    EXPECT_FALSE(view->IsDecelerating());

    view->SetScrollEnabled(false);
    EXPECT_FALSE(view->BeginDrag());
    view->DragBy(Point(0, -100));
    EXPECT_EQ(view->ContentOffset(), Point(0, 0));
}

TEST_F(ScrollViewTest, AFlickDeceleratesOnTheLoopClockAndReportsItsEndOnlyThen) {
    ASSERT_TRUE(view->BeginDrag());
    view->DragBy(Point(0, -100));
    // Released moving up at 1000 pt/s: slows at 2000 pt/s^2, so it runs 1000 / 2000 = 0.5 s
    // and 1000^2 / (2 x 2000) = 250 points further, to 350.
    view->EndDrag(Point(0, -1000));
    EXPECT_EQ(recorder->events, (std::vector<std::string>{"begin+dragging", "end(true)"}));
    EXPECT_FALSE(view->IsDragging());
    EXPECT_TRUE(view->IsDecelerating());
    EXPECT_EQ(view->ContentOffset(), Point(0, 100));

    loop.Advance(0.25);  // half the time: 0.75 of the distance, 100 + 187.5
    EXPECT_EQ(view->ContentOffset(), Point(0, 287.5));
    EXPECT_TRUE(view->IsDecelerating());
    EXPECT_EQ(recorder->events.size(), 2u);
    loop.Advance(0.2);  // 0.45 s: x = 0.9, 2x - x^2 = 0.99, 100 + 247.5
    EXPECT_EQ(view->ContentOffset(), Point(0, 347.5));
    EXPECT_EQ(recorder->events.size(), 2u);
    loop.Advance(0.05);
    EXPECT_EQ(view->ContentOffset(), Point(0, 350));
    EXPECT_FALSE(view->IsDecelerating());
    // The flag is already off when the delegate hears the end.
    EXPECT_EQ(recorder->events, (std::vector<std::string>{"begin+dragging", "end(true)", "stop"}));
    loop.Advance(1);
    EXPECT_EQ(recorder->events.size(), 3u);
}

TEST_F(ScrollViewTest, AFlickStopsAtTheEdgeItReaches) {
    view->SetContentOffset(Point(0, 3890));
    ASSERT_TRUE(view->BeginDrag());
    view->DragBy(Point(0, -10));  // 3900
    view->EndDrag(Point(0, -1000));
    // Free it would run to 3900 + 250 = 4150; the edge is 3960. At 0.1 s: x = 0.2,
    // 2x - x^2 = 0.36, 3900 + 90 = 3990, past the edge: it ends there, well before 0.5 s.
    loop.Advance(0.1);
    EXPECT_EQ(view->ContentOffset(), Point(0, 3960));
    EXPECT_FALSE(view->IsDecelerating());
    EXPECT_EQ(recorder->events.back(), "stop");

    // Flicking further against that edge moves nothing: no deceleration.
    recorder->events.clear();
    view->SetBounces(false);
    ASSERT_TRUE(view->BeginDrag());
    view->DragBy(Point(0, -10));
    view->EndDrag(Point(0, -1000));
    EXPECT_EQ(recorder->events, (std::vector<std::string>{"begin+dragging", "end(false)"}));
}

TEST_F(ScrollViewTest, ATouchHoldsMovingContentWithoutEndingDeceleration) {
    ASSERT_TRUE(view->BeginDrag());
    view->DragBy(Point(0, -100));
    view->EndDrag(Point(0, -1000));
    loop.Advance(0.25);  // 287.5, as above
    ASSERT_TRUE(view->BeginDrag());
    EXPECT_FALSE(view->IsDecelerating());
    loop.Advance(1);
    EXPECT_EQ(view->ContentOffset(), Point(0, 287.5));
    EXPECT_EQ(recorder->events, (std::vector<std::string>{"begin+dragging", "end(true)"}));
    view->EndDrag(Point());  // never moved: no second drag to end
    EXPECT_EQ(recorder->events.size(), 2u);

    // A view let go while decelerating leaves a harmless timer behind.
    ASSERT_TRUE(view->BeginDrag());
    view->DragBy(Point(0, -10));
    view->EndDrag(Point(0, -1000));
    std::weak_ptr<ScrollView> weak = view;
    view.reset();
    EXPECT_TRUE(weak.expired());
    loop.Advance(0.1);
    loop.Advance(1);
    EXPECT_EQ(recorder->events.back(), "end(true)");
}

}  // namespace
