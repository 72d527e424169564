// Sliders: the touch-to-value mapping, continuous and non-continuous events, clamping.

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "platform/ui/Slider.h"

namespace {

using ui::Point;
using ui::Rect;
using ui::Slider;
namespace Event = ui::ControlEvent;

class SliderTest : public ::testing::Test {
protected:
    void SetUp() override {
        // 223 wide with the default 23-point thumb: the thumb's centre runs from 11.5 to 211.5,
        // 200 points for the range 0..1000, so 5 units per point.
        slider = std::make_shared<Slider>(Rect(0, 0, 223, 23));
        slider->SetMaximumValue(1000);
        auto note = [this](const char* what) {
            return [this, what](ui::Control&) {
                events.push_back(std::string(what) + " " + std::to_string(int(slider->Value())));
            };
        };
        slider->AddTarget(nullptr, note("down"), Event::TouchDown);
        slider->AddTarget(nullptr, note("changed"), Event::ValueChanged);
        slider->AddTarget(nullptr, note("up-inside"), Event::TouchUpInside);
        slider->AddTarget(nullptr, note("up-outside"), Event::TouchUpOutside);
    }

    std::shared_ptr<Slider> slider;
    std::vector<std::string> events;
};

TEST_F(SliderTest, TouchXMapsLinearlyOntoTheThumbsTravel) {
    EXPECT_DOUBLE_EQ(slider->ValueForX(11.5), 0);
    EXPECT_DOUBLE_EQ(slider->ValueForX(61.5), 250);   // 50 points in
    EXPECT_DOUBLE_EQ(slider->ValueForX(136.5), 625);  // 125 points in
    EXPECT_DOUBLE_EQ(slider->ValueForX(211.5), 1000);
    EXPECT_DOUBLE_EQ(slider->ValueForX(0), 0);  // left of the travel: clamped
    EXPECT_DOUBLE_EQ(slider->ValueForX(300), 1000);

    // A 20 x 20 thumb image on a 220-wide slider over 0..100: travel 200 from x 10.
    auto small = std::make_shared<Slider>(Rect(0, 0, 220, 23));
    small->SetMaximumValue(100);
    small->SetThumbImage(ui::Image::Filled(ui::Size(20, 20), ui::Color::White(), 10),
                         ui::ControlState::Normal);
    EXPECT_DOUBLE_EQ(small->ValueForX(110), 50);  // (110 - 10) / 200 x 100
    small->SetValue(50);
    EXPECT_EQ(small->ThumbRect(), Rect(100, 1.5, 20, 20));  // 0.5 x 200; (23 - 20) / 2
    small->SetValue(100);
    EXPECT_EQ(small->ThumbRect(), Rect(200, 1.5, 20, 20));

    auto narrow = std::make_shared<Slider>(Rect(0, 0, 20, 23));  // narrower than its thumb
    narrow->SetValue(0.5);
    EXPECT_DOUBLE_EQ(narrow->ValueForX(15), 0);
}

TEST_F(SliderTest, AContinuousSliderReportsEachMoveThatChangesTheValue) {
    slider->TouchesBegan(Point(61.5, 10));
    slider->TouchesMoved(Point(111.5, 10));
    slider->TouchesMoved(Point(111.5, 12));  // same x: no change, no event
    slider->TouchesEnded(Point(161.5, 10));
    EXPECT_EQ(events, (std::vector<std::string>{"down 0", "changed 250", "changed 500",
                                                "changed 750", "up-inside 750"}));
    EXPECT_DOUBLE_EQ(slider->Value(), 750);
}

TEST_F(SliderTest, ANonContinuousSliderReportsOnceAtTheEndAndOnlyForAChange) {
    slider->SetContinuous(false);
    slider->TouchesBegan(Point(61.5, 10));
    slider->TouchesMoved(Point(111.5, 10));
    EXPECT_DOUBLE_EQ(slider->Value(), 500);   // the thumb follows, quietly
    slider->TouchesEnded(Point(161.5, 100));  // below the slider
    EXPECT_EQ(events, (std::vector<std::string>{"down 0", "changed 750", "up-outside 750"}));

    events.clear();
    slider->TouchesBegan(Point(111.5, 10));
    slider->TouchesMoved(Point(211.5, 10));
    slider->TouchesEnded(Point(161.5, 10));  // back where the touch began
    EXPECT_EQ(events, (std::vector<std::string>{"down 750", "up-inside 750"}));
}

TEST_F(SliderTest, ValuesStayInTheRangeAndSettersSendNothing) {
    slider->SetValue(5000);
    EXPECT_DOUBLE_EQ(slider->Value(), 1000);
    slider->SetMaximumValue(500);
    EXPECT_DOUBLE_EQ(slider->Value(), 500);
    slider->SetMinimumValue(800);  // past the maximum: the maximum moves along
    EXPECT_DOUBLE_EQ(slider->MaximumValue(), 800);
    EXPECT_DOUBLE_EQ(slider->Value(), 800);
    slider->SetValue(NAN);
    slider->SetMaximumValue(NAN);
    EXPECT_DOUBLE_EQ(slider->Value(), 800);
    EXPECT_DOUBLE_EQ(slider->MaximumValue(), 800);
    slider->SetMinimumValue(0);
    slider->SetMaximumValue(1000);
    slider->SetValue(-3);
    EXPECT_DOUBLE_EQ(slider->Value(), 0);
    EXPECT_TRUE(events.empty());

    slider->SetEnabled(false);
    slider->TouchesBegan(Point(111.5, 10));
    slider->TouchesEnded(Point(111.5, 10));
    EXPECT_DOUBLE_EQ(slider->Value(), 0);
    EXPECT_TRUE(events.empty());
}

TEST_F(SliderTest, ImagesPerStateFallBackToNormal) {
    auto normal = ui::Image::Filled(ui::Size(20, 20), ui::Color::White(), 10);
    auto pressed = ui::Image::Filled(ui::Size(24, 24), ui::Color::Gray(), 12);
    auto left = ui::Image::Filled(ui::Size(21, 9), ui::Color::Blue(), 0);
    slider->SetThumbImage(normal, ui::ControlState::Normal);
    slider->SetThumbImage(pressed, ui::ControlState::Highlighted);
    slider->SetMinimumTrackImage(left, ui::ControlState::Normal);
    EXPECT_EQ(slider->CurrentThumbImage(), normal);
    slider->TouchesBegan(Point(61.5, 10));
    EXPECT_EQ(slider->CurrentThumbImage(), pressed);  // highlighted while dragged
    EXPECT_EQ(slider->CurrentMinimumTrackImage(), left);
    slider->TouchesEnded(Point(61.5, 10));
    EXPECT_EQ(slider->CurrentThumbImage(), normal);
    EXPECT_EQ(slider->MaximumTrackImageForState(ui::ControlState::Normal), nullptr);
}

}  // namespace
