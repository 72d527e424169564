#include "platform/store/ScaledImageDecoder.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "platform/store/ImageCodecErrors.h"
#include "platform/store/ImageSize.h"

namespace ns {

namespace {

// Averages the rows of a srcWidth x srcHeight RGBA picture, handed in top down, into an
// outWidth x outHeight one (no side larger than the source's): each source pixel falls into
// exactly one output pixel, and each output pixel is the mean of those that fall into it,
// colours weighted by alpha so that a clear pixel's colour does not bleed.
class RowAverager {
public:
    RowAverager(uint32_t srcWidth, uint32_t srcHeight, uint32_t outWidth, uint32_t outHeight)
        : srcHeight_(srcHeight),
          outWidth_(outWidth),
          outHeight_(outHeight),
          column_(srcWidth),
          sums_(static_cast<size_t>(outWidth) * 4),
          counts_(outWidth),
          out_(static_cast<size_t>(outWidth) * outHeight * 4) {
        for (uint32_t x = 0; x < srcWidth; ++x) {
            column_[x] = static_cast<uint32_t>(uint64_t{x} * outWidth / srcWidth);
        }
    }

    void AddRow(uint32_t y, const uint8_t* rgba) {
        const uint32_t outRow = static_cast<uint32_t>(uint64_t{y} * outHeight_ / srcHeight_);
        if (outRow != row_) Flush();
        row_ = outRow;
        for (size_t x = 0; x < column_.size(); ++x, rgba += 4) {
            uint64_t* sum = &sums_[static_cast<size_t>(column_[x]) * 4];
            const uint64_t alpha = rgba[3];
            sum[0] += rgba[0] * alpha;
            sum[1] += rgba[1] * alpha;
            sum[2] += rgba[2] * alpha;
            sum[3] += alpha;
            ++counts_[column_[x]];
        }
    }

    std::vector<uint8_t> Finish() {
        Flush();
        return std::move(out_);
    }

private:
    void Flush() {
        if (row_ >= outHeight_) return;
        uint8_t* out = &out_[static_cast<size_t>(row_) * outWidth_ * 4];
        for (uint32_t x = 0; x < outWidth_; ++x, out += 4) {
            uint64_t* sum = &sums_[static_cast<size_t>(x) * 4];
            const uint64_t count = counts_[x];
            if (count != 0 && sum[3] != 0) {
                for (int c = 0; c < 3; ++c) {
                    out[c] = static_cast<uint8_t>((sum[c] + sum[3] / 2) / sum[3]);
                }
                out[3] = static_cast<uint8_t>((sum[3] + count / 2) / count);
            }
            sum[0] = sum[1] = sum[2] = sum[3] = 0;
            counts_[x] = 0;
        }
    }

    const uint32_t srcHeight_;
    const uint32_t outWidth_;
    const uint32_t outHeight_;
    std::vector<uint32_t> column_;
    std::vector<uint64_t> sums_;
    std::vector<uint64_t> counts_;
    std::vector<uint8_t> out_;
    uint32_t row_ = 0;
};

// The eighth, quarter or half (or the whole) of a JPEG that libjpeg decodes at: the smallest
// whose sides still cover the output. libjpeg rounds a scaled side up.
uint32_t JpegDenominator(uint32_t width, uint32_t height, uint32_t outWidth, uint32_t outHeight) {
    for (uint32_t denominator : {8u, 4u, 2u}) {
        if ((width + denominator - 1) / denominator >= outWidth &&
            (height + denominator - 1) / denominator >= outHeight) {
            return denominator;
        }
    }
    return 1;
}

// One row of libjpeg's RGB or CMYK output as RGBA.
void JpegRowToRgba(const jpeg_decompress_struct& info, const uint8_t* in, uint8_t* out) {
    for (JDIMENSION x = 0; x < info.output_width; ++x, out += 4) {
        if (info.out_color_space == JCS_CMYK) {
            // Written inverted by the programs that write CMYK JPEGs (the Adobe convention).
            const unsigned k = in[3];
            out[0] = static_cast<uint8_t>(in[0] * k / 255);
            out[1] = static_cast<uint8_t>(in[1] * k / 255);
            out[2] = static_cast<uint8_t>(in[2] * k / 255);
            in += 4;
        } else {
            out[0] = in[0];
            out[1] = in[1];
            out[2] = in[2];
            in += 3;
        }
        out[3] = 255;
    }
}

// How a scaled decode of a picture of `format` ends: the library's failure (`ran` false, its
// `message`), the decoder's own `refusal`, or the averaged pixels.
bool FinishScaled(bool ran, const char* format, const char* message, const char* refusal,
                  RowAverager& averager, std::vector<uint8_t>& pixels, std::string* error) {
    if (!ran) {
        if (error) *error = image_codec::DoesNotDecode(format, message);
        return false;
    }
    if (refusal != nullptr) {
        if (error) *error = refusal;
        return false;
    }
    pixels = averager.Finish();
    return true;
}

bool JpegDecodeScaled(std::string_view bytes, const ImageSize& size, uint32_t outWidth,
                      uint32_t outHeight, std::vector<uint8_t>& pixels, std::string* error) {
    const uint32_t denominator = JpegDenominator(size.Width(), size.Height(), outWidth, outHeight);
    const uint32_t scaledWidth = (size.Width() + denominator - 1) / denominator;
    const uint32_t scaledHeight = (size.Height() + denominator - 1) / denominator;
    jpeg_decompress_struct info;
    image_codec::JpegFailure failure;
    image_codec::JpegUseFailure(info, failure);
    jpeg_create_decompress(&info);
    // Made before the jump point and freed after it, so the jump leaks nothing.
    std::vector<JSAMPLE> row(static_cast<size_t>(scaledWidth) * 4);
    std::vector<uint8_t> rgba(static_cast<size_t>(scaledWidth) * 4);
    RowAverager averager(scaledWidth, scaledHeight, outWidth, outHeight);
    const char* refusal = nullptr;
    const bool ran = image_codec::RunUntilJump(failure.jump, [&] {
        jpeg_mem_src(&info, reinterpret_cast<const unsigned char*>(bytes.data()),
                     static_cast<unsigned long>(bytes.size()));
        jpeg_read_header(&info, TRUE);
        info.scale_num = 1;
        info.scale_denom = denominator;
        info.out_color_space =
            info.jpeg_color_space == JCS_CMYK || info.jpeg_color_space == JCS_YCCK ? JCS_CMYK
                                                                                   : JCS_RGB;
        jpeg_start_decompress(&info);
        // The frame header read by libjpeg is the one whose size was checked.
        if (info.output_width != scaledWidth || info.output_height != scaledHeight) {
            refusal = "the JPEG's frames disagree on its size";
            return;
        }
        while (info.output_scanline < info.output_height) {
            const JDIMENSION y = info.output_scanline;
            JSAMPROW rows[1] = {row.data()};
            if (jpeg_read_scanlines(&info, rows, 1) != 1) break;
            JpegRowToRgba(info, row.data(), rgba.data());
            averager.AddRow(y, rgba.data());
        }
        jpeg_finish_decompress(&info);
    });
    jpeg_destroy_decompress(&info);
    return FinishScaled(ran, "JPEG", failure.message, refusal, averager, pixels, error);
}

bool PngDecodeScaled(std::string_view bytes, const ImageSize& size, uint32_t outWidth,
                     uint32_t outHeight, std::vector<uint8_t>& pixels, std::string* error) {
    image_codec::PngInput input{bytes};
    png_structp png = nullptr;
    png_infop info = nullptr;
    if (!image_codec::PngCreate(input, png, info, error)) return false;
    const size_t rowBytes = static_cast<size_t>(size.Width()) * 4;
    // Made before the jump point and freed after it. An interlaced picture gets the whole
    // picture's rows once its header says so.
    std::vector<png_byte> rows(rowBytes);
    RowAverager averager(size.Width(), size.Height(), outWidth, outHeight);
    const char* refusal = nullptr;
    const bool ran = image_codec::RunUntilJump(png_jmpbuf(png), [&] {
        png_set_user_limits(png, ScaledImageDecoder::kMaxSide, ScaledImageDecoder::kMaxSide);
        png_read_info(png, info);
        // Every kind of PNG as 8-bit RGBA: palettes and low bit depths expanded, transparency
        // chunks made alpha, 16 bits cut to 8, grey made RGB, an opaque alpha added.
        png_set_expand(png);
        png_set_strip_16(png);
        png_set_gray_to_rgb(png);
        png_set_add_alpha(png, 0xFF, PNG_FILLER_AFTER);
        const int passes = png_set_interlace_handling(png);
        png_read_update_info(png, info);
        const png_uint_32 width = png_get_image_width(png, info);
        const png_uint_32 height = png_get_image_height(png, info);
        if (width != size.Width() || height != size.Height() ||
            png_get_rowbytes(png, info) != rowBytes) {
            refusal = "the PNG's header disagrees with itself";
        } else if (passes > 1 &&
                   uint64_t{width} * height > ScaledImageDecoder::kMaxInterlacedPixels) {
            refusal = "the interlaced PNG is too large to show";
        } else if (passes > 1) {
            rows.resize(rowBytes * height);
            for (int pass = 0; pass < passes; ++pass) {
                for (png_uint_32 y = 0; y < height; ++y) {
                    png_read_row(png, &rows[rowBytes * y], nullptr);
                }
            }
            for (png_uint_32 y = 0; y < height; ++y) averager.AddRow(y, &rows[rowBytes * y]);
        } else {
            for (png_uint_32 y = 0; y < height; ++y) {
                png_read_row(png, rows.data(), nullptr);
                averager.AddRow(y, rows.data());
            }
        }
    });
    png_destroy_read_struct(&png, &info, nullptr);
    return FinishScaled(ran, "PNG", input.message, refusal, averager, pixels, error);
}

}  // namespace

void ScaledImageDecoder::FillSize(uint32_t width, uint32_t height, uint32_t boxWidth,
                                  uint32_t boxHeight, uint32_t& outWidth, uint32_t& outHeight) {
    if (width == 0 || height == 0 || boxWidth == 0 || boxHeight == 0) {
        outWidth = outHeight = 0;
        return;
    }
    const double scale = std::min(1.0, std::max(static_cast<double>(boxWidth) / width,
                                                static_cast<double>(boxHeight) / height));
    outWidth = std::clamp<uint32_t>(static_cast<uint32_t>(std::lround(width * scale)), 1, width);
    outHeight = std::clamp<uint32_t>(static_cast<uint32_t>(std::lround(height * scale)), 1, height);
}

bool ScaledImageDecoder::Decode(std::string_view bytes, uint32_t boxWidth, uint32_t boxHeight,
                                Picture& picture, std::string* error) {
    ImageSize size;
    if (!ImageSize::ReadBytes(bytes, size, error)) return false;
    if (size.Width() > kMaxSide || size.Height() > kMaxSide ||
        uint64_t{size.Width()} * size.Height() > kMaxPixels) {
        if (error) {
            *error = "the picture is too large to show (" + std::to_string(size.Width()) + " x " +
                     std::to_string(size.Height()) + " pixels)";
        }
        return false;
    }
    uint32_t outWidth = 0, outHeight = 0;
    FillSize(size.Width(), size.Height(), boxWidth, boxHeight, outWidth, outHeight);
    if (outWidth == 0) {
        if (error) *error = "there is nothing to show the picture in";
        return false;
    }
    std::vector<uint8_t> pixels;
    const bool decoded = size.GetFormat() == ImageSize::Format::PNG
                             ? PngDecodeScaled(bytes, size, outWidth, outHeight, pixels, error)
                             : JpegDecodeScaled(bytes, size, outWidth, outHeight, pixels, error);
    if (!decoded) return false;
    picture.width = outWidth;
    picture.height = outHeight;
    picture.rgba = std::move(pixels);
    return true;
}

}  // namespace ns
