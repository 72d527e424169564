#include "platform/ui/Color.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

using ui::Color;

TEST(ColorTest, TextFormRoundsEachComponentToAByte) {
    // 248, 215, 214 are F8, D7, D6; alpha 1 is FF.
    EXPECT_EQ(Color::FromRGB255(248, 215, 214).ToString(), "#F8D7D6FF");
    // Black at 0.7 opacity: 0.7 x 255 = 178.5 -> 179 = B3.
    EXPECT_EQ(Color::Black().WithAlpha(0.7).ToString(), "#000000B3");
    EXPECT_EQ(Color::Clear().ToString(), "#00000000");
    EXPECT_EQ(Color::White().ToString(), "#FFFFFFFF");
    // Out-of-range components are clamped (2 -> 1, -1 -> 0, NaN -> 0); 0.5 x 255 = 127.5 -> 128.
    EXPECT_EQ(Color(2, -1, 0.5, std::nan("")).ToString(), "#FF008000");
}

TEST(ColorTest, EqualityAllowsHalfAByteStep) {
    EXPECT_EQ(Color::FromRGB255(28, 39, 43), Color(28.0 / 255, 39.0 / 255, 43.0 / 255));
    EXPECT_EQ(Color::FromRGB255(17, 17, 17), Color::FromWhite(17.0 / 255));
    EXPECT_NE(Color::FromRGB255(17, 17, 17), Color::FromRGB255(17, 17, 18));
    EXPECT_NE(Color::White(), Color::White().WithAlpha(0.99));
}

}  // namespace
