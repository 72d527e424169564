#ifndef TESTS_SUPPORT_MEDIAFILETESTSUPPORT_H
#define TESTS_SUPPORT_MEDIAFILETESTSUPPORT_H

// Header-only helpers for tests that check media files: whether a file is there and what it
// is, the whole of it read or written, the frames of an ADTS elementary stream cut by their
// own headers (no engine code involved), and the pictures or the sound of a file or URL as ffmpeg
// copies them out.

#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/Fixtures.h"

namespace SvTestSupport {

// Whether anything (a file, a folder, a link that leads somewhere) is at the path.
inline bool PathExists(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0;
}

// The bytes of the file; empty when it cannot be read.
inline std::string ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The same, as bytes.
inline std::vector<uint8_t> ReadFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in),
                                std::istreambuf_iterator<char>());
}

// Makes bytes the whole of the file; false when they could not be written.
inline bool WriteWholeFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return out.good();
}
inline bool WriteWholeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    return WriteWholeFile(path, std::string(bytes.begin(), bytes.end()));
}

// The type bits of what the path itself names (a symbolic link is not followed), 0 when
// nothing is there.
inline mode_t PathKind(const std::string& path) {
    struct stat info;
    return lstat(path.c_str(), &info) == 0 ? (info.st_mode & S_IFMT) : 0;
}

// Splits an ADTS elementary stream into its frames (ISO/IEC 13818-7: 12-bit sync word, then
// the 13-bit frame length, header included, at bits 30..42). Bytes that start no frame are
// skipped one at a time; a frame that runs past the end is dropped.
inline std::vector<std::string> AdtsFrames(const std::vector<uint8_t>& es) {
    std::vector<std::string> frames;
    size_t at = 0;
    while (at + 7 <= es.size()) {
        if (es[at] != 0xFF || (es[at + 1] & 0xF0) != 0xF0) {
            ++at;
            continue;
        }
        const size_t length = (size_t(es[at + 3] & 0x03) << 11) | (size_t(es[at + 4]) << 3) |
                              (size_t(es[at + 5]) >> 5);
        if (length < 7 || at + length > es.size()) break;
        frames.emplace_back(reinterpret_cast<const char*>(&es[at]), length);
        at += length;
    }
    return frames;
}

// The first video stream (format "h264") or audio stream ("adts", "eac3") of input (a file or a
// URL) as ffmpeg copies it out without decoding, through the file scratch (removed again); what
// ffmpeg says on failure goes into the test's failure. A title file (".svm") is named to ffmpeg
// as a program stream rather than left to its probing.
inline std::string CopiedStream(const std::string& input, const std::string& format,
                                const std::string& scratch) {
    std::vector<std::string> argv = {"ffmpeg", "-nostdin", "-v", "error", "-y"};
    if (input.size() > 4 && input.compare(input.size() - 4, 4, ".svm") == 0) {
        argv.insert(argv.end(), {"-f", "mpeg"});
    }
    argv.insert(argv.end(), {"-i", input, "-map", format == "h264" ? "0:v:0" : "0:a:0", "-c",
                             "copy", "-f", format, scratch});
    std::string report;
    EXPECT_EQ(0, RunProgram(argv, &report)) << report;
    std::string bytes = ReadWholeFile(scratch);
    std::remove(scratch.c_str());
    return bytes;
}

// The first video stream and the first audio stream (audioFormat "adts" or "eac3") of written
// are those of source, byte for byte and not empty.
inline void ExpectStreamsOf(const std::string& source, const std::string& written,
                            const std::string& audioFormat, const std::string& scratch) {
    for (const std::string& format : {std::string("h264"), audioFormat}) {
        const std::string copied = CopiedStream(written, format, scratch);
        EXPECT_FALSE(copied.empty()) << format;
        EXPECT_TRUE(copied == CopiedStream(source, format, scratch)) << format;
    }
}

// The first audio stream of input as ADTS frames.
inline std::string AdtsOf(const std::string& input, const std::string& scratch) {
    return CopiedStream(input, "adts", scratch);
}

}  // namespace SvTestSupport

#endif
