#include "app/demo/DemoPicture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>

namespace {

struct Colour {
    uint8_t r, g, b;
};

DemoPicture Filled(int width, int height, Colour colour) {
    DemoPicture picture;
    picture.width = width;
    picture.height = height;
    picture.rgb.resize(static_cast<size_t>(width) * height * 3);
    for (size_t i = 0; i < picture.rgb.size(); i += 3) {
        picture.rgb[i] = colour.r;
        picture.rgb[i + 1] = colour.g;
        picture.rgb[i + 2] = colour.b;
    }
    return picture;
}

void FillRect(DemoPicture& picture, int x0, int y0, int x1, int y1, Colour colour) {
    for (int y = y0; y < y1; ++y) {
        for (int x = x0; x < x1; ++x) {
            uint8_t* p = &picture.rgb[(static_cast<size_t>(y) * picture.width + x) * 3];
            p[0] = colour.r;
            p[1] = colour.g;
            p[2] = colour.b;
        }
    }
}

// What video compression leaves: every byte moved by up to `amount` either way.
void AddNoise(DemoPicture& picture, int amount) {
    std::mt19937 random(7);
    std::uniform_int_distribution<int> noise(-amount, amount);
    for (uint8_t& byte : picture.rgb) {
        byte = static_cast<uint8_t>(std::clamp(byte + noise(random), 0, 255));
    }
}

// The phone's player screen: 480 x 320, the 16:9 video at y 25 to 295, the controls' bars
// over its top and bottom and a subtitle line, over the given video.
constexpr DemoPictureArea kVideo{0, 25, 480, 270};
void DrawControls(DemoPicture& picture) {
    FillRect(picture, 0, 0, 480, 45, {40, 40, 40});
    FillRect(picture, 10, 10, 60, 30, {230, 230, 230});  // Done
    FillRect(picture, 0, 270, 480, 320, {40, 40, 40});
    FillRect(picture, 100, 285, 290, 290, {200, 200, 200});  // the progress line
    FillRect(picture, 180, 240, 300, 270, {180, 180, 180});  // the subtitle line
}

// Seven vertical bars over two thirds of the height, a strip of other colours under them.
DemoPicture ColourBars() {
    DemoPicture picture = Filled(480, 320, {0, 0, 0});
    const Colour bars[] = {{192, 192, 192}, {192, 192, 0}, {0, 192, 192}, {0, 192, 0},
                           {192, 0, 192},   {192, 0, 0},   {0, 0, 192}};
    for (int i = 0; i < 7; ++i) {
        FillRect(picture, i * 480 / 7, 25, (i + 1) * 480 / 7, 205, bars[i]);
    }
    const Colour strip[] = {{0, 33, 76}, {255, 255, 255}, {50, 0, 106}, {19, 19, 19}};
    for (int i = 0; i < 4; ++i) {
        FillRect(picture, i * 480 / 4, 205, (i + 1) * 480 / 4, 295, strip[i]);
    }
    DrawControls(picture);
    return picture;
}

TEST(DemoPictureTest, ColourBarsUnderTheControlsAreAPicture) {
    DemoPicture bars = ColourBars();
    EXPECT_EQ(UniformPictureReason(bars, kVideo), "");
    AddNoise(bars, 6);
    EXPECT_EQ(UniformPictureReason(bars, kVideo), "");
}

TEST(DemoPictureTest, ABlackVideoUnderTheControlsIsUniform) {
    DemoPicture black = Filled(480, 320, {0, 0, 0});
    DrawControls(black);
    const std::string reason = UniformPictureReason(black, kVideo);
    EXPECT_NE(reason.find("uniform"), std::string::npos) << reason;
    EXPECT_NE(reason.find("#000000"), std::string::npos) << reason;
    // Compression noise does not make it a picture.
    AddNoise(black, 6);
    EXPECT_NE(UniformPictureReason(black, kVideo), "");
    // Nor does another single colour.
    EXPECT_NE(UniformPictureReason(Filled(480, 320, {90, 120, 200}), kVideo), "");
}

TEST(DemoPictureTest, APatternWithoutFlatPartsIsAPicture) {
    DemoPicture pattern = Filled(480, 320, {0, 0, 0});
    for (int y = 0; y < 320; ++y) {
        for (int x = 0; x < 480; ++x) {
            FillRect(pattern, x, y, x + 1, y + 1,
                     {static_cast<uint8_t>(x / 2), static_cast<uint8_t>(y * 3 / 4),
                      static_cast<uint8_t>((x + y) % 256)});
        }
    }
    DrawControls(pattern);
    EXPECT_EQ(UniformPictureReason(pattern, kVideo), "");
}

TEST(DemoPictureTest, AnAreaOutsideThePictureOrNoPixelsIsNoPicture) {
    const DemoPicture bars = ColourBars();
    EXPECT_NE(UniformPictureReason(bars, {500, 0, 100, 100}), "");
    EXPECT_NE(UniformPictureReason(bars, {0, 0, 4, 4}), "");
    // Cut to the picture: an area hanging over its edge still looks at what is inside.
    EXPECT_EQ(UniformPictureReason(bars, {-40, 25, 600, 270}), "");
    DemoPicture empty;
    EXPECT_NE(UniformPictureReason(empty, kVideo), "");
    DemoPicture truncated = bars;
    truncated.rgb.resize(100);
    EXPECT_NE(UniformPictureReason(truncated, kVideo), "");
}

}  // namespace
