#ifndef ENGINE_SERVE_FRAMECOUNTTESTSUPPORT_H
#define ENGINE_SERVE_FRAMECOUNTTESTSUPPORT_H

// Header-only: counts per stream taken by outside tools (ffprobe, ffmpeg's framecrc listing), so
// that what is served can be compared with what it was made from.

#include <cctype>
#include <cstdlib>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/Fixtures.h"

namespace SarvelonMediaKit {
namespace test {

// Lines of a framecrc listing per stream index (its first field); "#" comments do not count,
// nor does anything ffmpeg says between the lines (its messages share the output).
inline std::map<int, size_t> FramesPerStream(const std::string& listing) {
    std::map<int, size_t> counts;
    std::istringstream lines(listing);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.empty() || !std::isdigit(static_cast<unsigned char>(line[0]))) continue;
        ++counts[std::atoi(line.c_str())];
    }
    return counts;
}

// What ffmpeg decodes from input (a file or a URL), as frames per stream index. stopAtError:
// the first error ends the read. A read that fails fails the test, with what ffmpeg said.
inline std::map<int, size_t> DecodedFramesPerStream(const std::string& input, bool stopAtError) {
    std::vector<std::string> argv = {"ffmpeg", "-nostdin", "-v", "error"};
    if (stopAtError) argv.push_back("-xerror");
    argv.insert(argv.end(), {"-i", input, "-map", "0", "-f", "framecrc", "-"});
    std::string listing;
    EXPECT_EQ(0, SvTestSupport::RunProgram(argv, &listing))
        << input << ": " << listing.substr(0, 2000);
    return FramesPerStream(listing);
}

// What ffprobe counts in each stream of the input, keyed by stream index: its packets (what a
// copy passes on), or its decoded frames. Empty when ffprobe fails.
inline std::map<int, size_t> ProbeCounts(const std::string& input, bool decoded) {
    std::string out;
    std::map<int, size_t> counts;
    if (SvTestSupport::RunProgram(
            {"ffprobe", "-v", "error", decoded ? "-count_frames" : "-count_packets",
             "-show_entries",
             decoded ? "stream=index,nb_read_frames" : "stream=index,nb_read_packets", "-of",
             "csv=p=0", input},
            &out) != 0) {
        return counts;
    }
    std::istringstream lines(out);
    std::string line;
    while (std::getline(lines, line)) {
        const size_t comma = line.find(',');
        if (comma == std::string::npos) continue;
        counts[std::atoi(line.c_str())] = std::strtoull(line.c_str() + comma + 1, nullptr, 10);
    }
    return counts;
}

}  // namespace test
}  // namespace SarvelonMediaKit

#endif
