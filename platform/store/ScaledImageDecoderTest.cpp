#include "platform/store/ScaledImageDecoder.h"

#include <gtest/gtest.h>
#include <png.h>

#include <csetjmp>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/store/StoreTestSupport.h"
#include "platform/ui/PngTestSupport.h"
#include "tests/support/TemporaryDirectory.h"

namespace {

using Decoder = ns::ScaledImageDecoder;

void AppendToString(png_structp png, png_bytep data, png_size_t size) {
    static_cast<std::string*>(png_get_io_ptr(png))->append(reinterpret_cast<char*>(data), size);
}

// An 8-bit RGBA PNG of the pixels, written by libpng's encoder.
std::string EncodeRgbaPng(uint32_t width, uint32_t height, const std::vector<uint8_t>& rgba,
                          bool interlaced = false) {
    std::string out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
    if (info != nullptr && setjmp(png_jmpbuf(png)) == 0) {
        png_set_write_fn(png, &out, &AppendToString, nullptr);
        png_set_IHDR(png, info, width, height, 8, PNG_COLOR_TYPE_RGB_ALPHA,
                     interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
                     PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
        png_write_info(png, info);
        std::vector<png_bytep> rows(height);
        for (uint32_t y = 0; y < height; ++y) {
            rows[y] = const_cast<png_bytep>(&rgba[static_cast<size_t>(y) * width * 4]);
        }
        png_write_image(png, rows.data());
        png_write_end(png, nullptr);
    } else {
        out.clear();
    }
    png_destroy_write_struct(&png, &info);
    return out;
}

std::string HeaderOnly(uint32_t width, uint32_t height) {
    const std::vector<uint8_t> header = ui::PngHeader(width, height);
    return std::string(header.begin(), header.end());
}

// Scaled to cover the box, never enlarged, rounded to the nearest pixel.
TEST(ScaledImageDecoderSizeTest, PicturesAreScaledJustToCoverTheBox) {
    struct Row {
        uint32_t width, height, boxWidth, boxHeight, outWidth, outHeight;
    };
    for (const Row& row : {
             Row{2000, 1000, 200, 160, 320, 160},  // 160/1000 = 0.16 is the larger factor
             Row{1000, 2000, 200, 160, 200, 400},  // 200/1000 = 0.2
             Row{1600, 1200, 200, 160, 213, 160},  // 160/1200: 213.33 rounds down
             Row{1001, 999, 100, 100, 100, 100},   // 100/999: 100.2 and 100
             Row{100, 50, 200, 160, 100, 50},      // smaller than the box: as it is
             Row{8192, 16, 200, 160, 8192, 16},    // a factor of 10 counts as 1
             Row{400, 340, 400, 340, 400, 340},    // the box itself
             Row{30000, 1, 200, 160, 30000, 1},    // never below one pixel
             Row{0, 100, 200, 160, 0, 0},          // nothing to scale
             Row{100, 100, 0, 160, 0, 0},          // nowhere to show it
         }) {
        uint32_t width = 99, height = 99;
        Decoder::FillSize(row.width, row.height, row.boxWidth, row.boxHeight, width, height);
        EXPECT_EQ(row.outWidth, width) << row.width << "x" << row.height;
        EXPECT_EQ(row.outHeight, height) << row.width << "x" << row.height;
    }
}

// Each pixel of the small picture is the mean of the four it covers, colours weighted by
// alpha: black and white make 128 grey; a clear red beside an opaque blue makes a half
// transparent blue, with none of the clear pixel's red. Both rows alike, interlaced or not.
TEST(ScaledImageDecoderTest, PixelsAreAveragedWeightedByAlpha) {
    const std::vector<uint8_t> row = {0,   0, 0, 255, 255, 255, 255, 255,   // black, white
                                      255, 0, 0, 0,   0,   0,   255, 255};  // clear red, blue
    std::vector<uint8_t> pixels = row;
    pixels.insert(pixels.end(), row.begin(), row.end());
    for (bool interlaced : {false, true}) {
        const std::string png = EncodeRgbaPng(4, 2, pixels, interlaced);
        ASSERT_FALSE(png.empty());
        Decoder::Picture picture;
        std::string why;
        ASSERT_TRUE(Decoder::Decode(png, 2, 1, picture, &why)) << why;
        EXPECT_EQ(2u, picture.width);
        EXPECT_EQ(1u, picture.height);
        // (2 x 255 x 255 + 510) / 1020 = 128; alpha (1020 + 2) / 4 = 255; blue (2 x 255 x 255 +
        // 255) / 510 = 255; alpha (510 + 2) / 4 = 128.
        EXPECT_EQ((std::vector<uint8_t>{128, 128, 128, 255, 0, 0, 255, 128}), picture.rgba)
            << "interlaced " << interlaced;
    }
}

class ScaledImageDecoderFileTest : public ::testing::Test {
protected:
    // A picture of one colour made by ffmpeg, an outside encoder.
    std::string MakeColour(const std::string& name, const std::string& size,
                           const std::string& colour) {
        const std::string path = dir_.File(name);
        EXPECT_EQ(
            0, StoreTestSupport::RunProgram(
                   {"ffmpeg", "-nostdin", "-v", "error", "-y", "-f", "lavfi", "-i",
                    "color=c=" + colour + ":s=" + size + ",format=rgb24", "-frames:v", "1", path}))
            << name;
        return StoreTestSupport::FileText(path);
    }

    SvTestSupport::TemporaryDirectory dir_{"svscaleddecode"};
};

// A JPEG (read at a quarter: 400 x 300 still covers 213 x 160), a PNG and a grey JPEG come out
// at the size that covers a phone's 200 x 160 thumbnail, in their own colour (0x3366CC; the
// JPEG's within its rounding).
TEST_F(ScaledImageDecoderFileTest, PicturesComeOutAtTheirShownSizeInTheirColour) {
    struct Row {
        const char* name;
        const char* size;
        const char* colour;
        uint32_t outWidth, outHeight;
        int red, green, blue, tolerance;
    };
    for (const Row& row : {Row{"c.jpg", "1600x1200", "0x3366CC", 213, 160, 0x33, 0x66, 0xCC, 6},
                           Row{"c.png", "2000x1000", "0x3366CC", 320, 160, 0x33, 0x66, 0xCC, 0},
                           Row{"g.jpg", "640x480", "gray", 213, 160, 128, 128, 128, 6}}) {
        std::string bytes = MakeColour(row.name, row.size, row.colour);
        if (std::string(row.name) == "g.jpg") {
            // Made again with one grey channel.
            const std::string path = dir_.File("grey.jpg");
            ASSERT_EQ(
                0, StoreTestSupport::RunProgram({"ffmpeg", "-nostdin", "-v", "error", "-y", "-i",
                                                 dir_.File(row.name), "-pix_fmt", "gray", path}));
            bytes = StoreTestSupport::FileText(path);
        }
        Decoder::Picture picture;
        std::string why;
        ASSERT_TRUE(Decoder::Decode(bytes, 200, 160, picture, &why)) << row.name << why;
        EXPECT_EQ(row.outWidth, picture.width) << row.name;
        EXPECT_EQ(row.outHeight, picture.height) << row.name;
        ASSERT_EQ(size_t{row.outWidth} * row.outHeight * 4, picture.rgba.size()) << row.name;
        int worst = 0;
        for (size_t i = 0; i < picture.rgba.size(); i += 4) {
            worst = std::max({worst, std::abs(picture.rgba[i] - row.red),
                              std::abs(picture.rgba[i + 1] - row.green),
                              std::abs(picture.rgba[i + 2] - row.blue),
                              std::abs(picture.rgba[i + 3] - 255)});
        }
        EXPECT_LE(worst, row.tolerance) << row.name;
    }
}

// Over the budget: refused from the header alone (these bytes hold nothing else), with the
// size in the reason. At the budget, the header passes and the missing rest fails to decode.
TEST(ScaledImageDecoderTest, PicturesOverThePixelBudgetAreRefusedFromTheirHeader) {
    struct Row {
        uint32_t width, height;
        const char* reason;
    };
    for (const Row& row : {
             Row{8192, 8192, "the picture is too large to show (8192 x 8192 pixels)"},
             Row{4097, 4096, "the picture is too large to show (4097 x 4096 pixels)"},
             Row{8193, 16, "the picture is too large to show (8193 x 16 pixels)"},
             Row{4096, 4096, "the PNG does not decode: "},
             Row{8192, 16, "the PNG does not decode: "},
         }) {
        Decoder::Picture picture;
        std::string why;
        EXPECT_FALSE(Decoder::Decode(HeaderOnly(row.width, row.height), 200, 160, picture, &why));
        EXPECT_EQ(0u, why.find(row.reason)) << why;
        EXPECT_TRUE(picture.rgba.empty());
    }
}

// An interlaced PNG is held whole while it decodes: over 2048 x 2048 it is refused.
TEST(ScaledImageDecoderTest, LargeInterlacedPngIsRefused) {
    const std::vector<uint8_t> pixels(size_t{2049} * 2048 * 4, 0);
    Decoder::Picture picture;
    std::string why;
    EXPECT_FALSE(Decoder::Decode(EncodeRgbaPng(2049, 2048, pixels, true), 200, 160, picture, &why));
    EXPECT_EQ("the interlaced PNG is too large to show", why);
    EXPECT_TRUE(Decoder::Decode(EncodeRgbaPng(2049, 2048, pixels, false), 200, 160, picture, &why))
        << why;
    EXPECT_EQ(200u, picture.width);
}

// Cut short or damaged: refused with the decoder's reason; not a picture at all: refused.
TEST(ScaledImageDecoderTest, PngCutShortOrNoPictureIsRefused) {
    const std::vector<uint8_t> pixels(size_t{64} * 64 * 4, 200);
    const std::string png = EncodeRgbaPng(64, 64, pixels);
    const size_t idat = png.find("IDAT");
    ASSERT_NE(std::string::npos, idat);
    Decoder::Picture picture;
    std::string why;
    EXPECT_FALSE(Decoder::Decode(png.substr(0, idat + 20), 16, 16, picture, &why));
    EXPECT_EQ(0u, why.find("the PNG does not decode: ")) << why;
    for (const std::string& bytes : {std::string(), std::string("GIF89a"), std::string(500, 'x')}) {
        EXPECT_FALSE(Decoder::Decode(bytes, 16, 16, picture, &why));
        EXPECT_FALSE(why.empty());
    }
    EXPECT_TRUE(picture.rgba.empty());
}

}  // namespace
