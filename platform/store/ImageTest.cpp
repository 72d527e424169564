#include "platform/store/Image.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/store/StoreTestSupport.h"
#include "tests/support/TemporaryDirectory.h"

namespace {

std::vector<uint8_t> Bytes(const std::string& text) {
    return std::vector<uint8_t>(text.begin(), text.end());
}

std::vector<uint8_t> FromHex(const std::string& hex) {
    std::vector<uint8_t> out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) {
        out.push_back(static_cast<uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    }
    return out;
}

// A complete 1x1 RGBA PNG.
const char* const kOnePixelPng =
    "89504e470d0a1a0a"                              // signature
    "0000000d49484452"                              // IHDR, 13 bytes
    "0000000100000001"                              // width 1, height 1
    "0806000000"                                    // depth 8, colour type 6 (RGBA), methods 0
    "1f15c489"                                      // CRC of the IHDR type and data
    "0000000a49444154789c63000100000500010d0a2db4"  // IDAT
    "0000000049454e44ae426082";                     // IEND

// A picture of the given size made by ffmpeg (an outside encoder, so the size is known
// independently of the header reader).
std::vector<uint8_t> MakeWithFfmpeg(const SvTestSupport::TemporaryDirectory& dir,
                                    const std::string& name, const std::string& size) {
    const std::string path = dir.File(name);
    EXPECT_EQ(
        0, StoreTestSupport::RunProgram({"ffmpeg", "-nostdin", "-v", "error", "-y", "-f", "lavfi",
                                         "-i", "testsrc=size=" + size, "-frames:v", "1", path}))
        << name;
    return Bytes(StoreTestSupport::FileText(path));
}

TEST(ImageTest, PngAndJpegBytesMakeImagesOfTheirSize) {
    ns::Image png;
    ASSERT_TRUE(ns::Image::FromBytes(FromHex(kOnePixelPng), png));
    EXPECT_EQ(png.GetFormat(), ns::ImageSize::Format::PNG);
    EXPECT_EQ(png.Width(), 1u);
    EXPECT_EQ(png.Height(), 1u);
    EXPECT_EQ(png.Bytes(), FromHex(kOnePixelPng));
    EXPECT_EQ(png.ToData(), ns::Data(FromHex(kOnePixelPng)));

    SvTestSupport::TemporaryDirectory dir("svimage");
    const std::vector<uint8_t> jpegBytes = MakeWithFfmpeg(dir, "t.jpg", "48x27");
    ns::Image jpeg;
    std::string error;
    ASSERT_TRUE(ns::Image::FromBytes(jpegBytes, jpeg, &error)) << error;
    EXPECT_EQ(jpeg.GetFormat(), ns::ImageSize::Format::JPEG);
    EXPECT_EQ(jpeg.Width(), 48u);
    EXPECT_EQ(jpeg.Height(), 27u);
    EXPECT_EQ(jpeg.Bytes().size(), jpegBytes.size());
}

TEST(ImageTest, AnythingElseFailsAndLeavesTheImageAsItWas) {
    ns::Image image;
    ASSERT_TRUE(ns::Image::FromBytes(FromHex(kOnePixelPng), image));
    const std::vector<uint8_t> before = image.Bytes();

    std::vector<uint8_t> truncatedPng = FromHex(kOnePixelPng);
    truncatedPng.resize(20);  // signature and half the IHDR
    std::vector<uint8_t> badCrc = FromHex(kOnePixelPng);
    badCrc[19] ^= 0x01;  // width changed, CRC no longer matches
    const std::vector<std::vector<uint8_t>> bad = {
        {},
        Bytes("GIF89a\x01\x00\x01\x00"),
        Bytes("\x89PNG"),           // signature cut short
        FromHex("ffd8"),            // JPEG start of image without a marker after it
        FromHex("ffd8ffe0000210"),  // JPEG with a segment but no frame header
        truncatedPng,
        badCrc,
        Bytes("plain text, not a picture"),
    };
    for (size_t i = 0; i < bad.size(); ++i) {
        std::string error;
        EXPECT_FALSE(ns::Image::FromBytes(bad[i], image, &error)) << "case " << i;
        EXPECT_FALSE(error.empty()) << "case " << i;
        EXPECT_EQ(image.Bytes(), before) << "case " << i;
        EXPECT_EQ(image.Width(), 1u) << "case " << i;
    }
    EXPECT_TRUE(ns::Image().IsEmpty());
}

}  // namespace
