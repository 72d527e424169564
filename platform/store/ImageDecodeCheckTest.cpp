#include "platform/store/ImageDecodeCheck.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>

#include "platform/store/StoreTestSupport.h"
#include "tests/support/TemporaryDirectory.h"

namespace {

// Pictures made by ffmpeg, an outside encoder: what it writes decodes.
class ImageDecodeCheckTest : public ::testing::Test {
protected:
    std::string Make(const std::string& name, const std::string& size) {
        const std::string path = dir_.File(name);
        EXPECT_EQ(0, StoreTestSupport::RunProgram({"ffmpeg", "-nostdin", "-v", "error", "-y", "-f",
                                                   "lavfi", "-i", "testsrc=size=" + size,
                                                   "-frames:v", "1", path}))
            << name;
        return StoreTestSupport::FileText(path);
    }

    SvTestSupport::TemporaryDirectory dir_{"svdecodecheck"};
};

// Bytes no decoder can make sense of (a fixed pseudo-random sequence).
std::string Garbage(size_t size) {
    std::mt19937 random(7);
    std::string bytes(size, '\0');
    for (char& c : bytes) c = static_cast<char>(random());
    return bytes;
}

// The offset just past the JPEG segment with the given marker (0xC0 the frame header, 0xDA the
// scan header), walking the segments from the start of image: FF, marker, 16-bit length that
// counts itself.
size_t JpegSegmentEnd(const std::string& jpeg, uint8_t marker) {
    size_t at = 2;
    while (at + 4 <= jpeg.size() && static_cast<uint8_t>(jpeg[at]) == 0xFF) {
        const uint8_t m = static_cast<uint8_t>(jpeg[at + 1]);
        const size_t length =
            static_cast<uint8_t>(jpeg[at + 2]) * 256u + static_cast<uint8_t>(jpeg[at + 3]);
        at += 2 + length;
        if (m == marker) return at;
    }
    ADD_FAILURE() << "no segment " << static_cast<int>(marker);
    return jpeg.size();
}

TEST_F(ImageDecodeCheckTest, WholePicturesDecode) {
    for (const char* name : {"t.jpg", "t.png"}) {
        std::string why;
        EXPECT_TRUE(ns::ImageDecodeCheck::Decodes(Make(name, "200x160"), &why)) << name << why;
    }
}

// A header the size reader accepts, then bytes that are not a picture: refused, with the
// decoder's reason.
TEST_F(ImageDecodeCheckTest, ValidJpegHeaderFollowedByGarbageDoesNotDecode) {
    const std::string jpeg = Make("t.jpg", "200x160");
    const std::string garbage = Garbage(5000);
    const size_t frame = JpegSegmentEnd(jpeg, 0xC0);
    const size_t scan = JpegSegmentEnd(jpeg, 0xDA);
    for (const std::string& bytes :
         {jpeg.substr(0, frame) + garbage, jpeg.substr(0, scan) + garbage,
          // with a proper end of image after the garbage
          jpeg.substr(0, scan) + garbage + "\xFF\xD9", jpeg.substr(0, frame) + "\xFF\xD9"}) {
        std::string why;
        EXPECT_FALSE(ns::ImageDecodeCheck::Decodes(bytes, &why)) << bytes.size();
        EXPECT_EQ(0u, why.find("the JPEG does not decode: ")) << why;
    }
}

// As the window's decoder does, a JPEG cut short decodes (its missing rows are grey); a PNG
// cut short or with a damaged image chunk does not.
TEST_F(ImageDecodeCheckTest, TruncatedJpegDecodesButTruncatedOrDamagedPngDoesNot) {
    const std::string jpeg = Make("t.jpg", "200x160");
    EXPECT_TRUE(ns::ImageDecodeCheck::Decodes(jpeg.substr(0, jpeg.size() / 2)));

    const std::string png = Make("t.png", "200x160");
    const size_t idat = png.find("IDAT");
    ASSERT_NE(std::string::npos, idat);
    std::string damaged = png;
    damaged.replace(idat + 4 + 10, 100, Garbage(100));
    for (const std::string& bytes : {png.substr(0, idat + 200), damaged}) {
        std::string why;
        EXPECT_FALSE(ns::ImageDecodeCheck::Decodes(bytes, &why));
        EXPECT_EQ(0u, why.find("the PNG does not decode: ")) << why;
    }
}

TEST_F(ImageDecodeCheckTest, PicturesTooLargeToShowOrNotPicturesAtAllAreRefused) {
    std::string why;
    EXPECT_TRUE(ns::ImageDecodeCheck::Decodes(Make("edge.jpg", "8192x16")));
    EXPECT_FALSE(ns::ImageDecodeCheck::Decodes(Make("wide.jpg", "8208x16"), &why));
    EXPECT_EQ("the JPEG is too large to show", why);
    EXPECT_FALSE(ns::ImageDecodeCheck::Decodes(Make("wide.png", "16x8208"), &why));
    EXPECT_EQ(0u, why.find("the PNG does not decode: ")) << why;
    for (const std::string& bytes : {std::string(), std::string("GIF89a"), Garbage(1000)}) {
        EXPECT_FALSE(ns::ImageDecodeCheck::Decodes(bytes, &why));
        EXPECT_FALSE(why.empty());
    }
}

}  // namespace
