// Controls, buttons, labels and image views.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/ui/Button.h"
#include "platform/ui/ImageView.h"
#include "platform/ui/Label.h"
#include "platform/ui/TestLoop.h"

namespace {

using ui::Button;
using ui::Color;
using ui::Point;
using ui::Rect;
using ui::Size;
namespace Event = ui::ControlEvent;
namespace State = ui::ControlState;

TEST(ControlTest, TargetsFirePerEventAndADisabledButtonIgnoresTouches) {
    auto button = std::make_shared<Button>(Rect(0, 0, 85, 44));
    std::vector<std::string> calls;
    int owner = 0, other = 0;
    button->AddTarget(
        &owner, [&](ui::Control&) { calls.push_back("down"); }, Event::TouchDown);
    button->AddTarget(
        &owner, [&](ui::Control& c) { calls.push_back("up" + std::to_string(c.Tag())); },
        Event::TouchUpInside);
    button->AddTarget(
        &other, [&](ui::Control&) { calls.push_back("outside"); }, Event::TouchUpOutside);
    button->SetTag(3);

    button->TouchesBegan(Point(10, 10));
    EXPECT_TRUE(button->IsHighlighted());
    button->TouchesEnded(Point(10, 10));
    EXPECT_FALSE(button->IsHighlighted());
    EXPECT_EQ(calls, (std::vector<std::string>{"down", "up3"}));

    calls.clear();
    button->TouchesBegan(Point(10, 10));
    button->TouchesMoved(Point(200, 10));
    EXPECT_FALSE(button->IsHighlighted());  // the finger left
    button->TouchesEnded(Point(200, 10));
    EXPECT_EQ(calls, (std::vector<std::string>{"down", "outside"}));

    // Disabled: touches do nothing; a touch that began before disabling sends no up.
    calls.clear();
    button->SetEnabled(false);
    button->TouchesBegan(Point(10, 10));
    button->TouchesEnded(Point(10, 10));
    EXPECT_TRUE(calls.empty());
    button->SetEnabled(true);
    button->TouchesBegan(Point(10, 10));
    button->SetEnabled(false);
    button->TouchesEnded(Point(10, 10));
    EXPECT_EQ(calls, std::vector<std::string>{"down"});
    button->SetEnabled(true);

    // Removing one owner's actions leaves the others'.
    calls.clear();
    button->RemoveTarget(&owner);
    button->SendActionsForEvents(Event::TouchDown | Event::TouchUpInside | Event::TouchUpOutside);
    EXPECT_EQ(calls, std::vector<std::string>{"outside"});
    EXPECT_EQ(button->AllControlEvents(), Event::TouchUpOutside);
    button->RemoveTarget(nullptr);
    EXPECT_EQ(button->AllControlEvents(), 0u);
}

TEST(ControlTest, ButtonValuesFallBackToTheNormalState) {
    auto button = std::make_shared<Button>(Rect(0, 0, 85, 44));
    button->SetTitle("None", State::Normal);
    button->SetTitle("Pressed", State::Highlighted);
    button->SetTitleColor(Color::White(), State::Normal);
    EXPECT_EQ(button->CurrentTitle(), "None");
    button->SetHighlighted(true);
    EXPECT_EQ(button->CurrentTitle(), "Pressed");
    EXPECT_EQ(button->CurrentTitleColor(), Color::White());  // from the normal state
    button->SetHighlighted(false);
    button->SetEnabled(false);
    EXPECT_EQ(button->CurrentTitle(), "None");  // no disabled title: the normal one
    EXPECT_EQ(button->State(), State::Disabled);
    EXPECT_EQ(button->CurrentImage(), nullptr);
    EXPECT_FALSE(button->CurrentTitleShadowColor().has_value());

    // The title label shows the current title, centred by the layout pass: "None" in
    // bold 16 is 4 x 8 = 32 wide and ceil(19.2) = 20 high, in 85 x 44 at (26.5, 12) -> (27, 12).
    ui::TestLoop loop;
    button->TitleLabel()->SetFont(ui::Font::Named("Arial-BoldMT", 16));
    button->SetEnabled(true);
    loop.Step();
    EXPECT_EQ(button->TitleLabel()->Text(), "None");
    EXPECT_EQ(button->TitleLabel()->Frame(), Rect(27, 12, 32, 20));
    EXPECT_EQ(button->TitleLabel()->TextColor(), Color::White());
    // The label takes no touches: a touch inside the title lands on the button.
    EXPECT_EQ(button->HitTest(Point(30, 20)), button);
    button->SetTitle(std::nullopt, State::Normal);
    EXPECT_TRUE(button->TitleLabel()->IsHidden());
}

TEST(ControlTest, LabelSizesToFitItsText) {
    ui::Label label(Rect(0, 0, 100, 10));
    label.SetFont(ui::Font::Named("HelveticaNeue", 18));
    label.SetText("Signing in");
    // One line: 10 code points x 9 = 90 wide, ceil(21.6) = 22 high, whatever the width.
    EXPECT_EQ(label.SizeThatFits(Size(20, 0)), Size(90, 22));
    // Any number of lines within 50: 18-point code points are 9 wide, 5 fit a line. "Signing"
    // (7) breaks into "Signi" + "ng", and "ng in" (5) then fits: two lines of 45, 2 x 22 high.
    label.SetNumberOfLines(0);
    EXPECT_EQ(label.SizeThatFits(Size(50, 0)), Size(45, 44));
    EXPECT_EQ(label.VisibleLines(), std::vector<std::string>{"Signing in"});  // width 100 fits
}

TEST(ControlTest, ImageViewShowsTheFrameOfTheLoopTime) {
    ui::TestLoop loop;
    std::vector<ui::Image::Ptr> frames;
    for (int i = 0; i < 4; ++i) {
        frames.push_back(ui::Image::Filled(Size(1, 1), Color::White(), 0));
    }
    ui::ImageView spinner(Rect(0, 0, 85, 85));
    spinner.SetAnimationImages(frames);
    spinner.SetAnimationDuration(1);  // 0.25 s per frame
    EXPECT_FALSE(spinner.IsAnimating());
    spinner.StartAnimating();
    const auto start = loop.Loop().Now();
    auto at = [&](double s) { return spinner.FrameIndexAt(start + ui::SecondsToDuration(s)); };
    EXPECT_EQ(at(0), 0u);
    EXPECT_EQ(at(0.24), 0u);
    EXPECT_EQ(at(0.25), 1u);
    EXPECT_EQ(at(0.99), 3u);
    EXPECT_EQ(at(1.0), 0u);  // starts over
    EXPECT_EQ(spinner.DisplayedImage(start + ui::SecondsToDuration(0.5)), frames[2]);
    loop.Advance(10);
    EXPECT_TRUE(spinner.IsAnimating());
    spinner.StopAnimating();
    EXPECT_FALSE(spinner.IsAnimating());
    EXPECT_EQ(spinner.DisplayedImage(loop.Loop().Now()), nullptr);  // no still image set

    // With a repeat count it stops by itself after count x duration.
    spinner.SetAnimationRepeatCount(2);
    spinner.StartAnimating();
    loop.Advance(1.99);
    EXPECT_TRUE(spinner.IsAnimating());
    loop.Advance(0.01);
    EXPECT_FALSE(spinner.IsAnimating());
}

}  // namespace
