#include "platform/ui/Image.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/ui/PngTestSupport.h"

namespace {

using ui::Color;
using ui::EdgeInsets;
using ui::Image;
using ui::Size;

using ui::PngHeader;

TEST(UiImageTest, EncodedImagesKeepTheirBytesAndTakeTheirSizeFromTheHeader) {
    std::string error;
    auto image = Image::FromBytes(PngHeader(15, 8), "arrow", &error);
    ASSERT_NE(image, nullptr) << error;
    EXPECT_EQ(image->GetSize(), Size(15, 8));
    EXPECT_EQ(image->Name(), "arrow");
    EXPECT_EQ(image->GetSource(), Image::Source::Encoded);
    EXPECT_EQ(image->EncodedBytes(), PngHeader(15, 8));
    EXPECT_EQ(image->EncodedFormat(), ns::ImageSize::Format::PNG);
    EXPECT_TRUE(image->Pixels().empty());

    EXPECT_EQ(Image::FromBytes({'G', 'I', 'F', '8'}, "x", &error), nullptr);
    EXPECT_FALSE(error.empty());

    // From a file: named after the file without its extension.
    std::string path = ::testing::TempDir() + "ui_track_left_" + std::to_string(getpid()) + ".png";
    std::vector<uint8_t> bytes = PngHeader(21, 9);
    FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
    auto file = Image::FromFile(path, &error);
    std::remove(path.c_str());
    ASSERT_NE(file, nullptr) << error;
    EXPECT_EQ(file->GetSize(), Size(21, 9));
    EXPECT_EQ(file->Path(), path);
    EXPECT_EQ(file->Name(), "ui_track_left_" + std::to_string(getpid()));
    EXPECT_EQ(Image::FromFile(path, &error), nullptr);  // gone now
    EXPECT_NE(error.find(path), std::string::npos);
}

TEST(UiImageTest, StretchableCopiesLeaveOneStretchingPixel) {
    auto track = Image::FromBytes(PngHeader(21, 9));
    ASSERT_NE(track, nullptr);
    // Left cap 10 of 21: right cap 21 - 10 - 1 = 10; no top cap, so no bottom cap either.
    auto stretchable = track->StretchableImage(10, 0);
    EXPECT_EQ(stretchable->CapInsets(), EdgeInsets(0, 10, 0, 10));
    EXPECT_EQ(stretchable->LeftCapWidth(), 10);
    EXPECT_TRUE(stretchable->IsStretchable());
    EXPECT_FALSE(track->IsStretchable());  // the original is unchanged
    EXPECT_EQ(stretchable->EncodedBytes(), track->EncodedBytes());
    // Caps beyond the picture are cut to leave the middle pixel.
    EXPECT_EQ(track->StretchableImage(50, 4)->CapInsets(), EdgeInsets(4, 20, 4, 0));
}

TEST(UiImageTest, FilledImageIsARoundedRectangleOfPixels) {
    // The scrubber thumb: white, 20 x 20, corner radius 10 (a disc).
    auto dot = Image::Filled(Size(20, 20), Color::White(), 10);
    ASSERT_NE(dot, nullptr);
    EXPECT_EQ(dot->GetSource(), Image::Source::Pixels);
    EXPECT_EQ(dot->PixelWidth(), 20);
    EXPECT_EQ(dot->Pixels().size(), 20u * 20 * 4);
    // Pixel (0, 0) has its centre (0.5, 0.5) 13.4 from the disc's centre (10, 10): outside.
    EXPECT_EQ(dot->PixelAt(0, 0), Color::Clear());
    EXPECT_EQ(dot->PixelAt(19, 19), Color::Clear());
    // (10, 0): centre (10.5, 0.5) is 9.51 away: inside. The middle is inside too.
    EXPECT_EQ(dot->PixelAt(10, 0), Color::White());
    EXPECT_EQ(dot->PixelAt(10, 10), Color::White());
    // (3, 3): centre (3.5, 3.5) is 9.19 away: inside; (2, 2): 10.61: outside.
    EXPECT_EQ(dot->PixelAt(3, 3), Color::White());
    EXPECT_EQ(dot->PixelAt(2, 2), Color::Clear());
    EXPECT_EQ(dot->PixelAt(20, 0), Color::Clear());  // outside the picture

    // Without a radius every pixel is filled; colours keep their alpha.
    auto square = Image::Filled(Size(2.5, 1), Color::Black().WithAlpha(0.4), 0);
    ASSERT_NE(square, nullptr);
    EXPECT_EQ(square->PixelWidth(), 3);
    EXPECT_EQ(square->PixelAt(0, 0), Color::Black().WithAlpha(0.4));
    EXPECT_EQ(square->PixelAt(2, 0), Color::Clear());  // centre 2.5 lies on the far edge

    EXPECT_EQ(Image::Filled(Size(0, 10), Color::White(), 0), nullptr);
    EXPECT_EQ(Image::Filled(Size(1e6, 10), Color::White(), 0), nullptr);
}

}  // namespace
