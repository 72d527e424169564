#pragma once
// ffprobe's packet list of a media file as the tests' outside oracle: each packet's fields by
// name, read by a program that shares no code with the engine.

#include <cstdlib>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/Fixtures.h"

namespace SvTestSupport {

using PacketFields = std::map<std::string, std::string>;

// One ffprobe entry of input read as a number of seconds ("format=duration",
// "stream=duration"); -1 when ffprobe fails.
inline double ProbeDuration(const std::string& input, const std::string& entry) {
    std::string out;
    if (RunProgram({"ffprobe", "-v", "error", "-show_entries", entry, "-of", "csv=p=0", input},
                   &out) != 0) {
        return -1;
    }
    return std::atof(out.c_str());
}

// The packets of `source` in file order with the given entries ("codec_type,dts,size,flags");
// `select` is an ffprobe stream selection ("v:0") or empty for every stream. Packets without a
// decode time ("N/A" or none) are left out.
inline std::vector<PacketFields> ProbePackets(const std::string& source, const std::string& entries,
                                              const std::string& select = std::string()) {
    std::vector<std::string> argv = {"ffprobe", "-v", "error"};
    if (!select.empty()) {
        argv.push_back("-select_streams");
        argv.push_back(select);
    }
    for (const char* arg : {"-show_entries", "", "-of", "compact=p=0"}) argv.push_back(arg);
    argv[argv.size() - 3] = "packet=" + entries;
    argv.push_back(source);
    std::string output;
    EXPECT_EQ(0, RunProgram(argv, &output)) << output;
    std::vector<PacketFields> packets;
    std::istringstream lines(output);
    std::string line;
    while (std::getline(lines, line)) {
        PacketFields fields;
        std::istringstream parts(line);
        std::string part;
        while (std::getline(parts, part, '|')) {
            const size_t equals = part.find('=');
            if (equals != std::string::npos)
                fields[part.substr(0, equals)] = part.substr(equals + 1);
        }
        if (fields.count("dts") == 0 || fields["dts"] == "N/A") continue;
        packets.push_back(std::move(fields));
    }
    return packets;
}

// ffprobe writes a key frame's flags as "K" followed by other letters or underscores.
inline bool IsKeyPacket(const PacketFields& packet) {
    const auto flags = packet.find("flags");
    return flags != packet.end() && !flags->second.empty() && flags->second[0] == 'K';
}

}  // namespace SvTestSupport
