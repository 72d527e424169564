#include "platform/desktop/ImageCache.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/ui/Image.h"
#include "tests/support/BlackPng.h"
#include "tests/support/TemporaryDirectory.h"

namespace {

using ns::desktop::ImageCache;

// 100 x 100 RGBA: 40000 bytes of pixels.
constexpr size_t kPictureBytes = 100 * 100 * 4;

ui::Image::Ptr Picture() {
    return ui::Image::FromPixels(100, 100, std::vector<uint8_t>(kPictureBytes, 0x80));
}

// Room for three pictures: a fourth pushes out the one drawn longest ago, which is made again
// when it is drawn again; the pictures kept never pass the bound.
TEST(ImageCacheTest, PicturesBeyondTheBoundGoLeastRecentlyDrawnFirst) {
    ImageCache cache(3 * kPictureBytes);
    const ui::Image::Ptr a = Picture(), b = Picture(), c = Picture(), d = Picture();
    for (const ui::Image::Ptr& image : {a, b, c}) ASSERT_NE(nullptr, cache.Get(image));
    EXPECT_EQ(3 * kPictureBytes, cache.Bytes());
    EXPECT_EQ(3u, cache.Made());

    struct Step {
        ui::Image::Ptr image;
        size_t made;  // pictures made so far, after this one is drawn
    };
    // a is drawn again (kept); d pushes b out; a is still there; b comes back and pushes c out;
    // d, a and b are there; c comes back and pushes d out.
    for (const Step& step : {Step{a, 3}, Step{d, 4}, Step{a, 4}, Step{b, 5}, Step{d, 5}, Step{a, 5},
                             Step{b, 5}, Step{c, 6}}) {
        ASSERT_NE(nullptr, cache.Get(step.image));
        EXPECT_EQ(step.made, cache.Made());
        EXPECT_LE(cache.Bytes(), 3 * kPictureBytes);
        EXPECT_EQ(3u, cache.Size());
    }
}

// One picture larger than the whole bound is still drawn, and is the only one kept.
TEST(ImageCacheTest, APictureLargerThanTheBoundIsKeptAlone) {
    ImageCache cache(kPictureBytes / 2);
    const ui::Image::Ptr a = Picture(), b = Picture();
    ASSERT_NE(nullptr, cache.Get(a));
    EXPECT_EQ(kPictureBytes, cache.Bytes());
    ASSERT_NE(nullptr, cache.Get(b));
    EXPECT_EQ(1u, cache.Size());
    EXPECT_EQ(kPictureBytes, cache.Bytes());
}

// An encoded picture of more pixels than the budget (4097 x 4096, within the side bound) is
// not decoded: drawn as missing. One within it is.
TEST(ImageCacheTest, EncodedPicturesOverThePixelBudgetAreNotDecoded) {
    SvTestSupport::TemporaryDirectory folder("svimagecache");
    const std::string large = folder.File("large.png"), small = folder.File("small.png");
    ASSERT_TRUE(SvTestSupport::WriteBlackPng(large, 4097, 4096));
    ASSERT_TRUE(SvTestSupport::WriteBlackPng(small, 64, 64));
    ImageCache cache;
    const ui::Image::Ptr largeImage = ui::Image::FromFile(large);
    const ui::Image::Ptr smallImage = ui::Image::FromFile(small);
    ASSERT_NE(nullptr, largeImage);
    ASSERT_NE(nullptr, smallImage);
    EXPECT_EQ(nullptr, cache.Get(largeImage));
    EXPECT_EQ(0u, cache.Bytes());
    EXPECT_NE(nullptr, cache.Get(smallImage));
}

}  // namespace
