#ifndef TESTS_SUPPORT_KEYFRAMEDAMAGE_H
#define TESTS_SUPPORT_KEYFRAMEDAMAGE_H

// Header-only: a title with one group of pictures destroyed, the way a damaged download or disk
// leaves it: the bytes from one key frame on are zeroes. The key frames are found by ffprobe
// reading the title as a program stream, so no engine code decides where they are.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/Fixtures.h"

namespace SvTestSupport {

// The byte positions of the title's key frames, in order.
inline std::vector<uint64_t> KeyFramePositions(const std::string& title) {
    std::string out;
    EXPECT_EQ(0, RunProgram({"ffprobe", "-v", "error", "-select_streams", "v", "-show_entries",
                             "packet=pos,flags", "-of", "csv=p=0", title},
                            &out))
        << out;
    std::vector<uint64_t> positions;
    std::istringstream lines(out);
    std::string line;
    while (std::getline(lines, line)) {
        // "pos,flags", flags "K_" on a key frame
        const size_t comma = line.find(',');
        if (comma != std::string::npos && line.compare(comma + 1, 1, "K") == 0) {
            positions.push_back(std::strtoull(line.c_str(), nullptr, 10));
        }
    }
    return positions;
}

// Copies source to title with `zeroed` bytes from key frame `index` on made zero; returns the
// number of key frames the source has (0 when the copy or the write failed).
inline size_t CopyWithKeyFrameZeroed(const std::string& source, const std::string& title,
                                     size_t index, size_t zeroed) {
    {
        std::ifstream in(source, std::ios::binary);
        std::ofstream out(title, std::ios::binary);
        out << in.rdbuf();
        if (!in || !out) return 0;
    }
    const std::vector<uint64_t> keys = KeyFramePositions(title);
    if (index >= keys.size()) return keys.size();
    std::fstream file(title, std::ios::in | std::ios::out | std::ios::binary);
    file.seekp(static_cast<std::streamoff>(keys[index]));
    const std::string zeroes(zeroed, '\0');
    file.write(zeroes.data(), static_cast<std::streamsize>(zeroes.size()));
    return file.good() ? keys.size() : 0;
}

}  // namespace SvTestSupport

#endif
