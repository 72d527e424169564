#ifndef COMMON_X264RECIPE_H
#define COMMON_X264RECIPE_H

#include <string>
#include <vector>

namespace SvTools {

// How the project's made-up media are encoded: ffmpeg draws a lavfi test picture at 25 frames a
// second (and a sine tone at 48 kHz) and encodes the pictures with libx264 at a fixed key-frame
// interval and no key frames at scene cuts, so that groups of pictures, segments and seek points
// fall where the tests, the benchmarks and the demo portal expect them. What their media differ
// in on purpose (picture, size, length, rates, tone, key-frame spacing) is a field; the rest is
// fixed here.
struct X264Recipe {
    X264Recipe(std::string size, std::string seconds, std::string videoRate);

    // The audio encoder's options for stereo AAC at a bit rate ("64k").
    static std::vector<std::string> Aac(const std::string& rate);

    // A lavfi video source, with options of its own or without ("life=mold=10").
    std::string pictures = "testsrc2";
    std::string size;     // "320x180"
    std::string seconds;  // ffmpeg's duration: "4", "4.8"
    std::string videoRate;
    // The rate held steady as well: it is also the maximum rate and the decoder buffer's size.
    bool capRate = false;
    int keyInterval = 50;  // pictures from one key frame to the next
    // Times (seconds, "0,1,4") of key frames besides the interval's; empty for none.
    std::string forcedKeyFrames;
    int toneFrequency = 440;  // Hz
    // The audio encoder's options; empty: pictures only, no tone is drawn.
    std::vector<std::string> audio = Aac("64k");

    // ffmpeg's inputs and their length: "-f lavfi -i PICTURES [-f lavfi -i TONE] -t SECONDS".
    std::vector<std::string> Inputs() const;
    // The video encoder and its key-frame rules, without rate or pixel format, for a command
    // that sets those per output stream.
    std::vector<std::string> VideoEncoder() const;
    // The whole ffmpeg command that writes one MPEG transport stream to output.
    std::vector<std::string> TransportStream(const std::string& output) const;
};

}  // namespace SvTools

#endif  // COMMON_X264RECIPE_H
