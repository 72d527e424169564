#include "platform/store/ImageSize.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <algorithm>
#include <functional>
#include <vector>

namespace ns {

namespace {

// Reads up to n bytes at offset into out; returns how many it got (short at the end).
using ReadAt = std::function<size_t(uint64_t offset, uint8_t* out, size_t n)>;

uint32_t Big32(const uint8_t* p) {
    return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}
uint16_t Big16(const uint8_t* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }

// CRC-32 of ISO 3309 / ITU-T V.42 as PNG uses it (reflected, polynomial 0xEDB88320).
uint32_t Crc32(const uint8_t* data, size_t n) {
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < n; ++i) {
        crc ^= data[i];
        for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return crc ^ 0xFFFFFFFFu;
}

constexpr size_t kBlockBytes = 64 * 1024;  // n asked of a read is always far below

// Signature, then the first chunk, which must be a whole IHDR: length 13, type, width, height,
// bit depth, colour type, compression, filter, interlace, CRC over type and data.
bool ReadPng(const ReadAt& read, ImageSize& size, std::string& error) {
    uint8_t h[8 + 8 + 13 + 4];
    if (read(0, h, sizeof h) < sizeof h) {
        error = "PNG header is truncated";
        return false;
    }
    if (Big32(h + 8) != 13 || std::memcmp(h + 12, "IHDR", 4) != 0) {
        error = "PNG does not start with a 13-byte IHDR chunk";
        return false;
    }
    if (Crc32(h + 12, 4 + 13) != Big32(h + 29)) {
        error = "PNG IHDR chunk fails its CRC";
        return false;
    }
    const uint32_t width = Big32(h + 16);
    const uint32_t height = Big32(h + 20);
    // PNG limits both to 2^31 - 1 and forbids zero.
    if (width == 0 || height == 0 || width > 0x7FFFFFFFu || height > 0x7FFFFFFFu) {
        error = "PNG size out of range";
        return false;
    }
    size = ImageSize(ImageSize::Format::PNG, width, height);
    return true;
}

bool IsFrameHeader(uint8_t marker) {
    // SOF0-SOF15 except DHT (C4), JPG (C8) and DAC (CC), which share the range.
    return marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
}

// Walks the marker segments from SOI to the first frame header.
bool ReadJpeg(const ReadAt& read, ImageSize& size, std::string& error) {
    uint64_t at = 2;  // after SOI
    uint8_t b[8];
    while (true) {
        if (at >= ImageSize::kMaxJpegScan) {
            error = "JPEG frame header not found in the first bytes";
            return false;
        }
        if (read(at, b, 1) < 1) {
            error = "JPEG ends before its frame header";
            return false;
        }
        if (b[0] != 0xFF) {
            error = "JPEG marker expected at offset " + std::to_string(at);
            return false;
        }
        // Any number of 0xFF fill bytes may stand before a marker code.
        uint8_t marker = 0xFF;
        while (marker == 0xFF) {
            ++at;
            if (at >= ImageSize::kMaxJpegScan || read(at, &marker, 1) < 1) {
                error = "JPEG ends before its frame header";
                return false;
            }
        }
        ++at;
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD8)) continue;  // TEM, RSTn, SOI
        if (marker == 0xD9 || marker == 0xDA) {
            error = "JPEG has no frame header before its image data";
            return false;
        }
        if (marker == 0x00) {
            error = "JPEG marker expected at offset " + std::to_string(at - 2);
            return false;
        }
        if (read(at, b, 2) < 2) {
            error = "JPEG segment length is truncated";
            return false;
        }
        const uint16_t length = Big16(b);  // counts itself, not the marker
        if (length < 2) {
            error = "JPEG segment length " + std::to_string(length) + " is too small";
            return false;
        }
        if (IsFrameHeader(marker)) {
            // Length, precision, height, width, component count.
            if (length < 8) {
                error = "JPEG frame header is too short";
                return false;
            }
            if (read(at + 2, b, 6) < 6) {
                error = "JPEG frame header is truncated";
                return false;
            }
            const uint16_t height = Big16(b + 1);
            const uint16_t width = Big16(b + 3);
            // Height 0 means "given later by a DNL segment", which header reading cannot use.
            if (width == 0 || height == 0 || b[5] == 0) {
                error = "JPEG frame header gives no size";
                return false;
            }
            size = ImageSize(ImageSize::Format::JPEG, width, height);
            return true;
        }
        at += length;
    }
}

bool Read(const ReadAt& read, ImageSize& size, std::string& error) {
    uint8_t head[8];
    const size_t n = read(0, head, sizeof head);
    if (n >= 8 && std::memcmp(head, ImageSize::kPngSignature, 8) == 0)
        return ReadPng(read, size, error);
    if (n >= 3 && head[0] == 0xFF && head[1] == 0xD8 && head[2] == 0xFF) {
        return ReadJpeg(read, size, error);
    }
    error = n == 0 ? "empty file" : "neither PNG nor JPEG";
    return false;
}

}  // namespace

bool ImageSize::ReadBytes(std::string_view bytes, ImageSize& size, std::string* error) {
    const ReadAt read = [bytes](uint64_t offset, uint8_t* out, size_t n) -> size_t {
        if (offset >= bytes.size()) return 0;
        const size_t got = std::min<uint64_t>(n, bytes.size() - offset);
        std::memcpy(out, bytes.data() + offset, got);
        return got;
    };
    std::string why;
    if (Read(read, size, why)) return true;
    if (error) *error = why;
    return false;
}

bool ImageSize::ReadFile(const std::string& path, ImageSize& size, std::string* error) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (error) *error = path + ": " + std::strerror(errno);
        return false;
    }
    // The header walk asks for a few bytes at a time: serve them from one block.
    bool ioError = false;
    std::vector<uint8_t> block;
    uint64_t blockStart = 0;
    auto load = [&](uint64_t offset) {
        block.resize(kBlockBytes);
        size_t got = 0;
        while (got < block.size()) {
            const ssize_t r =
                pread(fd, block.data() + got, block.size() - got, static_cast<off_t>(offset + got));
            if (r < 0 && errno == EINTR) continue;
            if (r < 0) ioError = true;
            if (r <= 0) break;
            got += static_cast<size_t>(r);
        }
        block.resize(got);
        blockStart = offset;
    };
    const ReadAt read = [&](uint64_t offset, uint8_t* out, size_t n) -> size_t {
        if (offset < blockStart || offset + n > blockStart + block.size()) load(offset);
        if (offset - blockStart >= block.size()) return 0;
        const size_t got = std::min<uint64_t>(n, block.size() - (offset - blockStart));
        std::memcpy(out, block.data() + (offset - blockStart), got);
        return got;
    };
    std::string why;
    const bool ok = Read(read, size, why);
    close(fd);
    if (ok) return true;
    if (error) *error = path + ": " + (ioError ? std::string("cannot be read") : why);
    return false;
}

}  // namespace ns
