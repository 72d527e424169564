// The test driver: taps through hit testing, typing, swipes, table scrolling and selection,
// sliders, alerts, the application's life cycle, and time on the loop's clock.

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/core/RunLoop.h"
#include "platform/ui/AlertView.h"
#include "platform/ui/Application.h"
#include "platform/ui/Button.h"
#include "platform/ui/Driver.h"
#include "platform/ui/Label.h"
#include "platform/ui/NotificationRecorder.h"
#include "platform/ui/SearchBar.h"
#include "platform/ui/Slider.h"
#include "platform/ui/SwipeGestureRecognizer.h"
#include "platform/ui/TableView.h"
#include "platform/ui/TestLoop.h"
#include "platform/ui/TextField.h"

namespace {

using ui::Button;
using ui::Driver;
using ui::IndexPath;
using ui::Point;
using ui::Rect;
using ui::View;
using Calls = std::vector<std::string>;
namespace Event = ui::ControlEvent;

// A plain view that notes the touches it gets.
class TouchPad : public View {
public:
    using View::View;
    void TouchesBegan(const Point& p) override { Note("began", p); }
    void TouchesEnded(const Point& p) override { Note("ended", p); }
    Calls calls;

private:
    void Note(const char* what, const Point& p) {
        std::ostringstream os;
        os << what << " " << p.x << "," << p.y;
        calls.push_back(os.str());
    }
};

class DriverTest : public ::testing::Test {
protected:
    DriverTest()
        : root(std::make_shared<View>(Rect(0, 0, 320, 480))), driver(root, &loop.Clock()) {}

    // A button at frame that counts its TouchUpInside.
    std::shared_ptr<Button> AddButton(const Rect& frame, const std::string& id, int* ups,
                                      const View::Ptr& parent = nullptr) {
        auto b = std::make_shared<Button>(frame);
        b->SetIdentifier(id);
        b->SetTitle(id, ui::ControlState::Normal);
        b->AddTarget(
            nullptr, [ups](ui::Control&) { ++*ups; }, Event::TouchUpInside);
        (parent ? parent : root)->AddSubview(b);
        return b;
    }

    ui::TestLoop loop;
    std::shared_ptr<View> root;
    Driver driver;
};

TEST_F(DriverTest, TapReachesOnlyAButtonAPersonCouldTouch) {
    int visible = 0, hidden = 0, disabled = 0, clear = 0, faint = 0, locked = 0;
    AddButton(Rect(0, 0, 100, 40), "visible", &visible);
    AddButton(Rect(0, 50, 100, 40), "hidden", &hidden)->SetHidden(true);
    AddButton(Rect(0, 100, 100, 40), "disabled", &disabled)->SetEnabled(false);
    AddButton(Rect(0, 150, 100, 40), "clear", &clear)->SetAlpha(0.009);
    AddButton(Rect(0, 200, 100, 40), "faint", &faint)->SetAlpha(0.01);  // still touchable
    auto box = std::make_shared<View>(Rect(0, 250, 200, 100));
    box->SetUserInteractionEnabled(false);
    root->AddSubview(box);
    AddButton(Rect(0, 0, 100, 40), "locked", &locked, box);

    EXPECT_TRUE(driver.Tap("visible"));
    EXPECT_EQ(visible, 1);  // one touch, one TouchUpInside
    EXPECT_FALSE(driver.Tap("hidden"));
    EXPECT_FALSE(driver.Tap("disabled"));
    EXPECT_FALSE(driver.Tap("clear"));
    EXPECT_FALSE(driver.Tap("locked"));  // interaction is off up the chain
    EXPECT_EQ(hidden + disabled + clear + locked, 0);
    EXPECT_TRUE(driver.Tap("faint"));
    EXPECT_EQ(faint, 1);

    // A hidden ancestor hides it too; a view outside the tree and an unknown name are not
    // reached.
    box->SetUserInteractionEnabled(true);
    box->SetHidden(true);
    EXPECT_FALSE(driver.Tap("locked"));
    auto stray = std::make_shared<Button>(Rect(0, 0, 10, 10));
    EXPECT_FALSE(driver.Tap(stray));
    EXPECT_FALSE(driver.Tap("nothing"));
    box->SetHidden(false);
    EXPECT_TRUE(driver.Tap("locked"));
    EXPECT_EQ(locked, 1);
}

TEST_F(DriverTest, TapOnACoveredButtonHitsTheViewOnTop) {
    int ups = 0;
    auto button = AddButton(Rect(20, 100, 100, 40), "ok", &ups);
    // The pad covers the button's right half, centre (70, 120) included.
    auto pad = std::make_shared<TouchPad>(Rect(60, 90, 200, 100));
    root->AddSubview(pad);

    EXPECT_FALSE(driver.Tap(button));
    EXPECT_EQ(ups, 0);
    // (70, 120) in the root is (10, 30) in the pad.
    EXPECT_EQ(pad->calls, (Calls{"began 10,30", "ended 10,30"}));

    // Moved off the centre, the pad no longer covers it: the tap reaches the button.
    pad->SetFrame(Rect(80, 90, 200, 100));
    EXPECT_TRUE(driver.Tap(button));
    EXPECT_EQ(ups, 1);
    EXPECT_EQ(pad->calls.size(), 2u);
}

TEST_F(DriverTest, FindsViewsByIdentifierClassAndText) {
    int ups = 0;
    auto ok = AddButton(Rect(0, 0, 50, 30), "okButton", &ups);
    auto label = std::make_shared<ui::Label>(Rect(0, 40, 50, 30));
    label->SetText("OK");
    root->AddSubview(label);

    EXPECT_EQ(driver.Find("okButton"), ok);
    EXPECT_EQ(driver.Find<Button>("okButton"), ok);
    EXPECT_EQ(driver.Find<ui::Label>("okButton"), nullptr);  // not a label
    EXPECT_EQ(driver.FindWithText<Button>("okButton"), ok);  // its title
    EXPECT_EQ(driver.FindAll("Label", std::string("OK")), std::vector<View::Ptr>{label});
    EXPECT_EQ(driver.FindWithText("Nope"), nullptr);
    // Any class: the button's own title label shows its title as well.
    EXPECT_EQ(driver.FindAll("", std::string("okButton")).size(), 2u);
}

// Records what a text field's delegate is asked.
struct FieldDelegate : ui::TextFieldDelegate {
    bool ShouldChangeCharacters(ui::TextField&, const ui::TextRange& r,
                                const std::string& s) override {
        calls.push_back(std::to_string(r.location) + "+" + std::to_string(r.length) + " " + s);
        return s != "x";
    }
    bool ShouldReturn(ui::TextField&) override {
        calls.push_back("return");
        return true;
    }
    Calls calls;
};

TEST_F(DriverTest, TypingReachesTheFirstResponderFieldThroughItsDelegate) {
    auto field = std::make_shared<ui::TextField>(Rect(10, 10, 200, 31));
    auto delegate = std::make_shared<FieldDelegate>();
    field->SetDelegate(delegate);
    root->AddSubview(field);

    EXPECT_FALSE(driver.Type("a"));  // nothing is first responder yet
    ASSERT_TRUE(driver.Tap(field));
    ASSERT_TRUE(field->IsEditing());
    // One character at a time; the delegate refuses the "x"; e-acute is one character.
    EXPECT_FALSE(driver.Type("a\xC3\xA9x!"));
    EXPECT_EQ(field->Text(), "a\xC3\xA9!");
    EXPECT_EQ(delegate->calls, (Calls{"0+0 a", "1+0 \xC3\xA9", "2+0 x", "2+0 !"}));
    EXPECT_TRUE(driver.PressReturn());
    EXPECT_EQ(delegate->calls.back(), "return");
}

struct BarDelegate : ui::SearchBarDelegate {
    void TextDidChange(ui::SearchBar&, const std::string& text) override { calls.push_back(text); }
    void SearchButtonClicked(ui::SearchBar&) override { calls.push_back("search"); }
    Calls calls;
};

TEST_F(DriverTest, TypingIntoASearchBarTellsItsDelegate) {
    auto bar = std::make_shared<ui::SearchBar>(Rect(0, 0, 320, 44));
    auto delegate = std::make_shared<BarDelegate>();
    bar->SetDelegate(delegate);
    root->AddSubview(bar);

    ASSERT_TRUE(driver.Tap(bar));  // lands on its field
    EXPECT_TRUE(driver.Type("ab"));
    EXPECT_TRUE(driver.PressReturn());
    EXPECT_EQ(delegate->calls, (Calls{"a", "ab", "search"}));
    EXPECT_EQ(bar->Text(), "ab");
}

TEST_F(DriverTest, ASwipeReachesTheRecogniserUpTheChain) {
    auto pane = std::make_shared<View>(Rect(0, 0, 320, 400));
    auto inner = std::make_shared<View>(Rect(10, 10, 100, 100));
    pane->AddSubview(inner);
    root->AddSubview(pane);
    Calls fired;
    auto swipe = std::make_shared<ui::SwipeGestureRecognizer>(
        nullptr, [&](ui::SwipeGestureRecognizer&) { fired.push_back("left"); });
    swipe->SetDirection(ui::SwipeDirection::Left);
    ui::SwipeGestureRecognizer::AddTo(pane, swipe);

    EXPECT_FALSE(driver.Swipe(inner, ui::SwipeDirection::Right));  // not its direction
    EXPECT_TRUE(driver.Swipe(inner, ui::SwipeDirection::Left));
    EXPECT_EQ(fired, Calls{"left"});
    pane->SetHidden(true);
    EXPECT_FALSE(driver.Swipe(inner, ui::SwipeDirection::Left));
    EXPECT_EQ(fired.size(), 1u);
}

class Rows : public ui::TableViewDataSource, public ui::TableViewDelegate {
public:
    int NumberOfRowsInSection(ui::TableView&, int) override { return 100; }
    std::shared_ptr<ui::TableViewCell> CellForRow(ui::TableView& table, const IndexPath&) override {
        auto cell = table.DequeueReusableCell("row");
        return cell ? cell
                    : std::make_shared<ui::TableViewCell>(ui::TableViewCellStyle::Default, "row");
    }
    void WillBeginDragging(ui::ScrollView&) override { calls.push_back("begin"); }
    void DidEndDragging(ui::ScrollView&, bool decelerate) override {
        calls.push_back(decelerate ? "end decelerating" : "end");
    }
    void DidEndDecelerating(ui::ScrollView&) override { calls.push_back("stopped"); }
    void DidSelectRow(ui::TableView&, const IndexPath& p) override {
        calls.push_back("select " + std::to_string(p.row));
    }
    Calls calls;
};

TEST_F(DriverTest, ScrollsATableAndSelectsARowOnScreen) {
    auto table = std::make_shared<ui::TableView>(Rect(0, 20, 320, 440));
    auto rows = std::make_shared<Rows>();
    table->SetDataSource(rows);
    table->SetDelegate(rows);
    root->AddSubview(table);

    // 100 rows of 44 in 440 points: rows 0-9, then 10-19 after 440 points.
    EXPECT_TRUE(driver.ScrollTable(table, 440));
    EXPECT_EQ(table->ContentOffset(), Point(0, 440));
    auto visible = table->IndexPathsForVisibleRows();
    ASSERT_EQ(visible.size(), 10u);
    EXPECT_EQ(visible.front(), IndexPath(0, 10));
    EXPECT_EQ(rows->calls, (Calls{"begin", "end"}));

    EXPECT_FALSE(driver.SelectRow(table, IndexPath(0, 2)));  // scrolled away
    EXPECT_TRUE(driver.SelectRow(table, IndexPath(0, 12)));
    EXPECT_EQ(rows->calls.back(), "select 12");
    // A tap on a cell reaches it through the table, which takes its cells' touches.
    EXPECT_TRUE(driver.Tap(table->CellForRow(IndexPath(0, 13))));
    EXPECT_EQ(rows->calls.back(), "select 13");
    // A pane over the rows' right part (as a page beside a side menu): the row is tapped where
    // it shows; covered all along, the pane takes the touch and no row is selected.
    auto pane = std::make_shared<View>(Rect(100, 20, 220, 440));
    root->AddSubview(pane);
    EXPECT_TRUE(driver.SelectRow(table, IndexPath(0, 14)));
    EXPECT_EQ(rows->calls.back(), "select 14");
    pane->SetFrame(Rect(0, 20, 320, 440));
    EXPECT_FALSE(driver.SelectRow(table, IndexPath(0, 15)));
    EXPECT_EQ(rows->calls.back(), "select 14");
    pane->RemoveFromSuperview();

    // A release at 1000 points per second glides 250 points in 0.5 s on the loop's clock.
    rows->calls.clear();
    EXPECT_TRUE(driver.ScrollTable(table, 100, 1000));
    EXPECT_TRUE(table->IsDecelerating());
    driver.Advance(0.49);
    EXPECT_TRUE(table->IsDecelerating());
    EXPECT_LT(table->ContentOffset().y, 790);
    driver.Advance(0.02);  // frames come every 1/60 s
    EXPECT_FALSE(table->IsDecelerating());
    EXPECT_EQ(table->ContentOffset(), Point(0, 790));
    EXPECT_EQ(rows->calls, (Calls{"begin", "end decelerating", "stopped"}));

    table->SetHidden(true);
    EXPECT_FALSE(driver.ScrollTable(table, 44));
    EXPECT_FALSE(driver.SelectRow(table, IndexPath(0, 18)));
}

TEST_F(DriverTest, SetSliderSlidesTheThumbWithTheEventsOfATouch) {
    // 223 wide with the 23-point default thumb: 200 points of travel for 0..100.
    auto slider = std::make_shared<ui::Slider>(Rect(10, 10, 223, 23));
    slider->SetMaximumValue(100);
    root->AddSubview(slider);
    Calls events;
    const auto note = [&](const char* name) {
        return [&events, name](ui::Control& c) {
            events.push_back(std::string(name) + " " +
                             std::to_string(static_cast<ui::Slider&>(c).Value()));
        };
    };
    slider->AddTarget(nullptr, note("down"), Event::TouchDown);
    slider->AddTarget(nullptr, note("changed"), Event::ValueChanged);
    slider->AddTarget(nullptr, note("up"), Event::TouchUpInside);

    EXPECT_TRUE(driver.SetSlider(slider, 25));
    EXPECT_EQ(slider->Value(), 25);
    EXPECT_EQ(events, (Calls{"down 0.000000", "changed 25.000000", "up 25.000000"}));

    events.clear();
    EXPECT_TRUE(driver.SetSlider(slider, 150));  // clamped to the maximum
    EXPECT_EQ(events, (Calls{"down 25.000000", "changed 100.000000", "up 100.000000"}));

    events.clear();
    slider->SetEnabled(false);
    EXPECT_FALSE(driver.SetSlider(slider, 10));
    EXPECT_TRUE(events.empty());
    EXPECT_EQ(slider->Value(), 100);
}

struct AlertDelegate : ui::AlertViewDelegate {
    void ClickedButtonAtIndex(ui::AlertView&, int i) override {
        calls.push_back("clicked " + std::to_string(i));
    }
    void DidDismissWithButtonIndex(ui::AlertView&, int i) override {
        calls.push_back("dismissed " + std::to_string(i));
    }
    Calls calls;
};

TEST_F(DriverTest, DismissAlertChoosesAButtonOfTheTopAlert) {
    for (const auto& a : ui::AlertView::VisibleAlerts()) a->DismissWithClickedButtonIndex(0, false);
    EXPECT_FALSE(driver.DismissAlert(0));  // none shown

    auto delegate = std::make_shared<AlertDelegate>();
    auto alert = std::make_shared<ui::AlertView>("Title", "Message", delegate,
                                                 std::string("Cancel"), Calls{"Retry"});
    alert->Show();
    EXPECT_FALSE(driver.DismissAlert(2));  // no such button: it stays
    EXPECT_TRUE(alert->IsVisible());
    EXPECT_TRUE(driver.DismissAlert(1));
    EXPECT_EQ(delegate->calls, (Calls{"clicked 1", "dismissed 1"}));
    EXPECT_FALSE(alert->IsVisible());
}

TEST_F(DriverTest, LifeCycleAndRotationGoThroughTheApplication) {
    ns::RunLoop::Main().RunOnce(std::chrono::milliseconds(0));  // deliver on this thread
    ui::Application app;
    ui::NotificationRecorder recorder;
    driver.BecomeActive();
    driver.ResignActive();
    driver.EnterBackground();
    driver.EnterForeground();
    EXPECT_EQ(recorder.Names(), (Calls{ui::kApplicationDidBecomeActiveNotification,
                                       ui::kApplicationWillResignActiveNotification,
                                       ui::kApplicationDidEnterBackgroundNotification,
                                       ui::kApplicationWillEnterForegroundNotification,
                                       ui::kApplicationDidBecomeActiveNotification}));

    // A device turned left shows the interface turned right.
    EXPECT_TRUE(driver.Rotate(ui::DeviceOrientation::LandscapeLeft));
    EXPECT_EQ(app.StatusBarOrientation(), ui::InterfaceOrientation::LandscapeRight);
    EXPECT_TRUE(driver.Rotate(ui::DeviceOrientation::Portrait));
    driver.Advance(1);
}

TEST_F(DriverTest, AdvanceFiresTimersSetByTimersAtTheirOwnTimes) {
    const auto start = loop.Loop().Now();
    std::vector<double> fired;
    const auto at = [&] { return ui::DurationToSeconds(loop.Loop().Now() - start); };
    loop.Loop().AfterDelay(ui::SecondsToDuration(0.3), [&] {
        fired.push_back(at());
        loop.Loop().AfterDelay(ui::SecondsToDuration(0.3), [&] { fired.push_back(at()); });
    });
    EXPECT_TRUE(driver.Advance(0.7));
    EXPECT_EQ(fired, (std::vector<double>{0.3, 0.6}));
    EXPECT_DOUBLE_EQ(at(), 0.7);

    EXPECT_FALSE(driver.Advance(-1));
    Driver realTime(root);
    EXPECT_FALSE(realTime.Advance(1));  // no manual clock to move
}

TEST_F(DriverTest, WaitForStopsWhenTheConditionHoldsOrTimesOutWithFalse) {
    const auto start = loop.Loop().Now();
    bool done = false;
    loop.Loop().AfterDelay(ui::SecondsToDuration(1.5), [&] { done = true; });
    EXPECT_TRUE(driver.WaitFor([&] { return done; }, 5));
    EXPECT_EQ(ui::DurationToSeconds(loop.Loop().Now() - start), 1.5);  // not the whole 5 s

    EXPECT_FALSE(driver.WaitFor([] { return false; }, 2));
    EXPECT_EQ(ui::DurationToSeconds(loop.Loop().Now() - start), 3.5);
}

TEST(DriverRealTimeTest, WaitForOnARealClockSeesPostsFromOtherThreadsAndTimesOut) {
    ns::RunLoop real;
    ui::ScopedLoop scope(real);
    Driver driver(std::make_shared<View>(Rect(0, 0, 10, 10)));
    bool posted = false;
    std::thread poster([&] { real.Post([&] { posted = true; }); });
    EXPECT_TRUE(driver.WaitFor([&] { return posted; }, 2));
    poster.join();

    const auto before = std::chrono::steady_clock::now();
    EXPECT_FALSE(driver.WaitFor([] { return false; }, 0.05));
    EXPECT_GE(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(50));
}

}  // namespace
