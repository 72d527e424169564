// Transformed views as a person sees and uses them: a panel turned a quarter turn shows its
// slider upright where the turn puts it, and a real drag along it moves the value; a moved or
// scaled view (by its own transform or its layer's, an animation's value included) is drawn
// where the transform puts it. Where each pixel should be is worked out by hand below.
#include <gtest/gtest.h>

#include <cmath>

#include "platform/desktop/RendererTestScene.h"
#include "platform/ui/BasicAnimation.h"
#include "platform/ui/Slider.h"

namespace ns::desktop::testing {
namespace {

constexpr Rgb kPanelPurple{0x80, 0x10, 0x40};
constexpr Rgb kThumbOrange{0xF0, 0x80, 0x10};

class RendererTransformTest : public RendererScene {
protected:
    void SetUp() override {
        RendererScene::SetUp();
        table->SetHidden(true);  // the right half is the panel's
    }

    // A 200 x 50 panel centred at (300, 160), turned by -90 degrees: on screen it stands
    // 50 wide and 200 high (x 275..325, y 60..260). Its slider lies 10 in from the ends at
    // y 13, 180 x 23, with a 20 x 20 orange thumb: the thumb's middle is at panel
    // (20 + 160 v, 24.5). The turn takes a panel point (px, py) to the window point
    // (300 + (py - 25), 160 - (px - 100)): the thumb's middle to (299.5, 240 - 160 v).
    void AddPanel(double value) {
        panel = std::make_shared<ui::View>(ui::Rect(200, 135, 200, 50));
        panel->SetBackgroundColor(ToColor(kPanelPurple));
        slider = std::make_shared<ui::Slider>(ui::Rect(10, 13, 180, 23));
        slider->SetThumbImage(ui::Image::Filled(ui::Size(20, 20), ToColor(kThumbOrange), 0),
                              ui::ControlState::Normal);
        slider->SetThumbImage(ui::Image::Filled(ui::Size(20, 20), ToColor(kThumbOrange), 0),
                              ui::ControlState::Highlighted);
        slider->SetValue(value);
        slider->AddTarget(
            this, [this](ui::Control&) { ++valueChanges; }, ui::ControlEvent::ValueChanged);
        panel->AddSubview(slider);
        panel->SetClipsToBounds(true);
        panel->SetTransform(ui::AffineTransform::MakeRotation(-M_PI / 2));
        window->AddSubview(panel);
    }

    static void TakeEvents(void*) { IteratePending(); }

    std::shared_ptr<ui::View> panel;
    std::shared_ptr<ui::Slider> slider;
    int valueChanges = 0;
};

TEST_F(RendererTransformTest, ATurnedPanelShowsItsSliderUprightWithTheThumbWhereTheTurnPutsIt) {
    AddPanel(0.25);
    Pixbuf shot = Shot("RendererTurnedPanel.png");
    ASSERT_TRUE(shot);
    const GdkPixbuf* p = shot.get();
    // The panel stands upright: its colour near its top and bottom ends, nothing of it where
    // the unturned panel would lie beside it.
    EXPECT_EQ(PixelAt(p, 280, 64), kPanelPurple);
    EXPECT_EQ(PixelAt(p, 320, 256), kPanelPurple);
    EXPECT_EQ(PixelAt(p, 240, 160), kWindowWhite);
    EXPECT_EQ(PixelAt(p, 380, 160), kWindowWhite);
    // The thumb (v = 0.25) is 20 x 20 about (299.5, 200).
    EXPECT_EQ(PixelAt(p, 299, 200), kThumbOrange);
    EXPECT_EQ(PixelAt(p, 292, 193), kThumbOrange);
    EXPECT_EQ(PixelAt(p, 307, 207), kThumbOrange);
    EXPECT_NE(PixelAt(p, 299, 215), kThumbOrange);
    EXPECT_NE(PixelAt(p, 299, 185), kThumbOrange);
    // The track runs up and down through the thumb: neither the panel's colour nor the thumb.
    for (int y : {100, 150, 230}) {
        EXPECT_NE(PixelAt(p, 299, y), kPanelPurple) << "y " << y;
        EXPECT_NE(PixelAt(p, 299, y), kThumbOrange) << "y " << y;
    }
}

TEST_F(RendererTransformTest, ARealDragAlongTheTurnedSliderMovesItsValueAndItsThumb) {
    AddPanel(0.25);
    ASSERT_TRUE(Settle());
    // From the thumb's middle 80 pixels up: half of the 160 points of travel.
    DragAt(Gdk(), 300, 200, 300, 120, 8, &RendererTransformTest::TakeEvents, nullptr);
    ASSERT_TRUE(IterateUntil([&] { return !slider->IsTracking(); }, std::chrono::seconds(2)));
    EXPECT_NEAR(slider->Value(), 0.75, 0.02);
    EXPECT_GT(valueChanges, 0);
    Pixbuf shot = Shot("RendererTurnedSliderDragged.png");
    ASSERT_TRUE(shot);
    EXPECT_EQ(PixelAt(shot.get(), 299, 120), kThumbOrange);  // 240 - 160 x 0.75
    EXPECT_NE(PixelAt(shot.get(), 299, 200), kThumbOrange);
}

TEST_F(RendererTransformTest, AMovedOrScaledViewIsDrawnWhereItsTransformPutsIt) {
    // A 40 x 40 square at (20, 190): moved by (40, 30) it covers (60..100, 220..260).
    auto square = std::make_shared<ui::View>(ui::Rect(20, 190, 40, 40));
    square->SetBackgroundColor(ToColor(kFilledGreen));
    window->AddSubview(square);
    square->SetTransform(ui::AffineTransform::MakeTranslation(40, 30));
    Pixbuf shot = Shot("RendererMovedSquare.png");
    ASSERT_TRUE(shot);
    EXPECT_EQ(PixelAt(shot.get(), 25, 195), kWindowWhite);
    EXPECT_EQ(PixelAt(shot.get(), 62, 222), kFilledGreen);
    EXPECT_EQ(PixelAt(shot.get(), 97, 257), kFilledGreen);
    EXPECT_EQ(PixelAt(shot.get(), 102, 262), kWindowWhite);

    // Its layer scaled by 1.5 about its middle (40, 210): it covers (10..70, 180..240).
    square->SetTransform(ui::AffineTransform());
    square->GetLayer().SetTransform(ui::Transform3D::MakeScale(1.5, 1.5, 1));
    shot = Shot("RendererLayerScaledSquare.png");
    EXPECT_EQ(PixelAt(shot.get(), 12, 182), kFilledGreen);
    EXPECT_EQ(PixelAt(shot.get(), 67, 237), kFilledGreen);
    EXPECT_EQ(PixelAt(shot.get(), 8, 210), kWindowWhite);

    // A layer animation to a scale of 2 over 1 s at an even pace, halfway: a scale of 1.5.
    square->GetLayer().SetTransform(ui::Transform3D());
    ui::BasicAnimation grow("transform");
    grow.SetToValue(ui::Transform3D::MakeScale(2, 2, 1));
    grow.SetDuration(1);
    grow.SetTimingFunction(ui::TimingFunction::Linear);
    square->GetLayer().AddAnimation(grow, "grow");
    shot = Shot("RendererAnimationStart.png");
    EXPECT_EQ(PixelAt(shot.get(), 12, 182), kWindowWhite);  // not grown yet
    ui::Driver(window, &loop.Clock()).Advance(0.5);
    shot = Shot("RendererAnimationHalfway.png");
    EXPECT_EQ(PixelAt(shot.get(), 12, 182), kFilledGreen);
    EXPECT_EQ(PixelAt(shot.get(), 5, 210), kWindowWhite);
}

// What a transformed view covered is drawn again when its transform goes (the pictures here
// follow the renderer's own redraws, not a redraw of the whole window).
TEST_F(RendererTransformTest, WhatAScaledViewCoveredIsDrawnAgainWhenItsTransformGoes) {
    auto square = std::make_shared<ui::View>(ui::Rect(20, 190, 40, 40));
    square->SetBackgroundColor(ToColor(kFilledGreen));
    window->AddSubview(square);
    square->GetLayer().SetTransform(ui::Transform3D::MakeScale(1.5, 1.5, 1));
    Pixbuf shot = Shot("RendererScaledBefore.png");
    ASSERT_EQ(PixelAt(shot.get(), 12, 182), kFilledGreen);  // scaled: 10..70, 180..240

    DrawWatch drawn(renderer->Window());
    square->GetLayer().SetTransform(ui::Transform3D());
    ASSERT_TRUE(drawn.WaitForDrawAfter(0, std::chrono::seconds(3)));
    IteratePending();
    shot = CaptureWindow(renderer->Window());
    ASSERT_TRUE(shot);
    EXPECT_EQ(PixelAt(shot.get(), 12, 182), kWindowWhite);
    EXPECT_EQ(PixelAt(shot.get(), 65, 235), kWindowWhite);
    EXPECT_EQ(PixelAt(shot.get(), 40, 210), kFilledGreen);
}

// A form as the sign-in screen builds it: two fields, a grey line between them, and a clear
// view with a text, added last, over all of them. The text lies over the line.
TEST_F(RendererTransformTest, ViewsAddedLaterAreDrawnOverTheirOlderSiblings) {
    const Rgb line{0x90, 0x90, 0x90};
    auto form = std::make_shared<ui::View>(ui::Rect(20, 190, 220, 88));
    form->SetBackgroundColor(ui::Color::White());
    form->SetClipsToBounds(true);
    form->GetLayer().SetCornerRadius(6);
    auto upper = std::make_shared<ui::TextField>(ui::Rect(0, 0, 220, 44));
    auto lower = std::make_shared<ui::TextField>(ui::Rect(0, 44, 220, 44));
    upper->SetText("someone@example.com");
    auto separator = std::make_shared<ui::View>(ui::Rect(0, 42, 220, 4));
    separator->SetBackgroundColor(ToColor(line));
    auto over = std::make_shared<ui::View>(ui::Rect(0, 0, 220, 88));
    over->SetBackgroundColor(ui::Color::Clear());
    auto text = std::make_shared<ui::Label>(ui::Rect(0, 0, 220, 88));
    text->SetBackgroundColor(ui::Color::Clear());
    text->SetTextColor(ToColor(kLabelText));
    text->SetFont(ui::Font::BoldSystemFont(40));
    text->SetText("IIIIIIII");
    text->SetTextAlignment(ui::TextAlignment::Center);
    over->AddSubview(text);
    for (const auto& v :
         {std::shared_ptr<ui::View>(upper), std::shared_ptr<ui::View>(lower), separator, over}) {
        form->AddSubview(v);
    }
    window->AddSubview(form);
    Pixbuf shot = Shot("RendererStackedForm.png");
    ASSERT_TRUE(shot);
    // Along the line (y 232..235), the text's strokes cut it; beside the text it shows.
    int strokes = 0;
    for (int x = 21; x < 239; ++x) strokes += PixelAt(shot.get(), x, 233) == kLabelText ? 1 : 0;
    EXPECT_GT(strokes, 20);
    EXPECT_EQ(PixelAt(shot.get(), 24, 233), line);
}

}  // namespace
}  // namespace ns::desktop::testing
