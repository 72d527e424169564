#include "platform/store/ImageSize.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/store/StoreTestSupport.h"
#include "tests/support/TemporaryDirectory.h"

namespace {

using namespace std::string_literals;
using ns::ImageSize;

using StoreTestSupport::FileText;
using StoreTestSupport::RunProgram;

void WriteAll(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

// What ffprobe reads as the picture's width and height.
std::pair<uint32_t, uint32_t> Probe(const std::string& path) {
    std::string out;
    EXPECT_EQ(0, RunProgram({"ffprobe", "-v", "error", "-select_streams", "v:0", "-show_entries",
                             "stream=width,height", "-of", "csv=p=0:s=x", path},
                            &out));
    unsigned w = 0, h = 0;
    EXPECT_EQ(2, sscanf(out.c_str(), "%ux%u", &w, &h)) << path << ": " << out;
    return {w, h};
}

std::string Hex(const std::string& hex) {
    std::string out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) {
        out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    }
    return out;
}

class ImageSizeTest : public ::testing::Test {
protected:
    // A picture made with ffmpeg: test pattern of the given size, one frame.
    std::string Make(const std::string& name, const std::string& size,
                     const std::vector<std::string>& codec) {
        const std::string path = dir_.File(name);
        std::vector<std::string> argv = {"ffmpeg",    "-nostdin", "-v",
                                         "error",     "-y",       "-f",
                                         "lavfi",     "-i",       "testsrc=size=" + size,
                                         "-frames:v", "1"};
        argv.insert(argv.end(), codec.begin(), codec.end());
        argv.push_back(path);
        EXPECT_EQ(0, RunProgram(argv)) << name;
        return path;
    }
    std::string Png(const std::string& name, const std::string& size) {
        return Make(name, size, {"-pix_fmt", "rgb24"});
    }
    std::string Jpeg(const std::string& name, const std::string& size) {
        return Make(name, size, {"-c:v", "mjpeg", "-pix_fmt", "yuvj444p"});
    }

    SvTestSupport::TemporaryDirectory dir_{"imagesize-"};
};

void ExpectSize(const std::string& path, ImageSize::Format format) {
    const auto probed = Probe(path);
    ImageSize size;
    std::string error;
    ASSERT_TRUE(ImageSize::ReadFile(path, size, &error)) << path << ": " << error;
    EXPECT_EQ(ImageSize(format, probed.first, probed.second), size)
        << path << " " << size.Width() << "x" << size.Height();
    ImageSize fromBytes;
    ASSERT_TRUE(ImageSize::ReadBytes(FileText(path), fromBytes, &error)) << error;
    EXPECT_EQ(size, fromBytes);
}

TEST_F(ImageSizeTest, SizesOfPicturesMadeByFfmpegMatchFfprobe) {
    for (const char* s : {"1x1", "37x23", "640x360", "1025x3"}) {
        ExpectSize(Png(std::string("p") + s + ".png", s), ImageSize::Format::PNG);
        ExpectSize(Jpeg(std::string("j") + s + ".jpg", s), ImageSize::Format::JPEG);
    }
}

TEST_F(ImageSizeTest, JpegWithLargeSegmentsAndOtherFrameKinds) {
    const std::string base = FileText(Jpeg("base.jpg", "123x45"));
    ASSERT_GT(base.size(), 4u);
    // Two full-size APP1 segments (65535 bytes each) and fill bytes after SOI, before the
    // rest of the file.
    std::string app;
    for (int i = 0; i < 2; ++i) app += "\xFF\xE1\xFF\xFF" + std::string(65533, 'e');
    const std::string padded = base.substr(0, 2) + app + "\xFF\xFF\xFF" + base.substr(2);
    WriteAll(dir_.File("padded.jpg"), padded);
    ExpectSize(dir_.File("padded.jpg"), ImageSize::Format::JPEG);

    // The same header marked as progressive (SOF2): the size is read the same way.
    std::string progressive = base;
    const size_t sof = progressive.find("\xFF\xC0");
    ASSERT_NE(std::string::npos, sof);
    progressive[sof + 1] = '\xC2';
    WriteAll(dir_.File("progressive.jpg"), progressive);
    ExpectSize(dir_.File("progressive.jpg"), ImageSize::Format::JPEG);
}

TEST_F(ImageSizeTest, TruncatedPicturesFailUntilTheHeaderIsWhole) {
    const std::string png = FileText(Png("t.png", "37x23"));
    const std::string jpeg = FileText(Jpeg("t.jpg", "37x23"));
    // PNG: signature (8), chunk length and type (8), IHDR data (13), CRC (4).
    for (size_t n = 0; n < 33; ++n) {
        ImageSize size;
        std::string error;
        EXPECT_FALSE(ImageSize::ReadBytes(png.substr(0, n), size, &error)) << n;
        EXPECT_FALSE(error.empty());
        EXPECT_EQ(ImageSize(), size);  // left as it was
    }
    ImageSize size;
    EXPECT_TRUE(ImageSize::ReadBytes(png.substr(0, 33), size));
    EXPECT_EQ(ImageSize(ImageSize::Format::PNG, 37, 23), size);
    // JPEG: every cut either fails or gives the whole size; the short ones fail, through a
    // file as well.
    for (size_t n = 0; n <= jpeg.size(); ++n) {
        ImageSize cut;
        if (ImageSize::ReadBytes(jpeg.substr(0, n), cut)) {
            EXPECT_EQ(ImageSize(ImageSize::Format::JPEG, 37, 23), cut) << n;
        } else {
            EXPECT_LT(n, jpeg.size()) << n;
        }
    }
    for (size_t n : {0, 2, 3, 10, 20}) {
        WriteAll(dir_.File("cut.jpg"), jpeg.substr(0, n));
        ImageSize cut;
        std::string error;
        EXPECT_FALSE(ImageSize::ReadFile(dir_.File("cut.jpg"), cut, &error)) << n;
        EXPECT_NE(std::string::npos, error.find("cut.jpg")) << error;
    }
}

TEST_F(ImageSizeTest, GarbageHeadersFailCleanly) {
    const std::string soi = "\xFF\xD8";
    const std::vector<std::pair<const char*, std::string>> cases = {
        {"empty", ""},
        {"GIF", "GIF89a\x01\x00\x01\x00\x00\x00\x00"s},
        {"text", "hello, this is not a picture"},
        // PNG headers with a correct CRC (computed with zlib) but a size PNG forbids.
        {"PNG width 0", Hex("89504e470d0a1a0a0000000d49484452000000000000000a08020000001572c823")},
        {"PNG height 0", Hex("89504e470d0a1a0a0000000d494844520000000a000000000802000000a3cb7b8c")},
        {"PNG width 2^31",
         Hex("89504e470d0a1a0a0000000d4948445280000000000000010802000000dfdf1df7")},
        // A valid 10x10 IHDR with one width byte changed: the CRC no longer matches.
        {"PNG bad CRC", Hex("89504e470d0a1a0a0000000d494844520000010a0000000a0802000000a3cb7b8c")},
        {"PNG huge chunk length", Hex("89504e470d0a1a0affffffff49484452") + std::string(17, '\0')},
        {"PNG other first chunk", Hex("89504e470d0a1a0a0000000d74455874") + std::string(17, '\0')},
        {"JPEG length 0", soi + "\xFF\xE0\x00\x00"s + std::string(20, '\0')},
        {"JPEG length 1", soi + "\xFF\xE0\x00\x01"s + std::string(20, '\0')},
        {"JPEG length past the end", soi + "\xFF\xE0\x40\x00"s + std::string(20, 'x')},
        {"JPEG scan first", soi + "\xFF\xDA\x00\x08"s + std::string(20, '\0')},
        {"JPEG end first", soi + "\xFF\xD9"},
        {"JPEG no marker", soi + "\xFF\xE0\x00\x04xx\x12\x34"s},
        {"JPEG zero marker", soi + "\xFF\x00\x00\x04"s},
        {"JPEG short frame header", soi + "\xFF\xC0\x00\x07\x08\x00\x10\x00\x10\x03"s},
        {"JPEG frame header cut", soi + "\xFF\xC0\x00\x11\x08\x00\x10"s},
        {"JPEG height 0", soi + "\xFF\xC0\x00\x11\x08\x00\x00\x00\x10\x03"s + std::string(9, '\0')},
        {"JPEG width 0", soi + "\xFF\xC0\x00\x11\x08\x00\x10\x00\x00\x03"s + std::string(9, '\0')},
        {"JPEG endless fill", soi + std::string(ImageSize::kMaxJpegScan + 10, '\xFF')},
    };
    for (const auto& c : cases) {
        ImageSize size;
        std::string error;
        EXPECT_FALSE(ImageSize::ReadBytes(c.second, size, &error)) << c.first;
        EXPECT_FALSE(error.empty()) << c.first;
        EXPECT_EQ(ImageSize(), size) << c.first;
    }
    // Segments chained beyond the scan limit: given up, not followed for ever.
    std::string chain = soi;
    while (chain.size() <= ImageSize::kMaxJpegScan)
        chain += "\xFF\xE1\xFF\xFF" + std::string(65533, 0);
    chain += "\xFF\xC0\x00\x11\x08\x00\x10\x00\x10\x03"s + std::string(9, '\0');
    WriteAll(dir_.File("chain.jpg"), chain);
    ImageSize size;
    EXPECT_FALSE(ImageSize::ReadFile(dir_.File("chain.jpg"), size));
    // The same frame header straight after SOI is read: the failures above are the faults'.
    ASSERT_TRUE(ImageSize::ReadBytes(soi + chain.substr(chain.size() - 19), size));
    EXPECT_EQ(ImageSize(ImageSize::Format::JPEG, 16, 16), size);

    std::string error;
    EXPECT_FALSE(ImageSize::ReadFile(dir_.File("missing.png"), size, &error));
    EXPECT_NE(std::string::npos, error.find("missing.png"));
    EXPECT_FALSE(ImageSize::ReadFile(dir_.Path(), size, &error));  // a directory
}

}  // namespace
