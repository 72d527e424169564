#include "common/X264Recipe.h"

#include <utility>

namespace SvTools {

X264Recipe::X264Recipe(std::string size, std::string seconds, std::string videoRate)
    : size(std::move(size)), seconds(std::move(seconds)), videoRate(std::move(videoRate)) {}

std::vector<std::string> X264Recipe::Aac(const std::string& rate) {
    return {"-c:a", "aac", "-b:a", rate, "-ac", "2"};
}

std::vector<std::string> X264Recipe::Inputs() const {
    const char* joint = pictures.find('=') == std::string::npos ? "=" : ":";
    std::vector<std::string> argv = {"-f", "lavfi", "-i",
                                     pictures + joint + "size=" + size + ":rate=25"};
    if (!audio.empty()) {
        argv.insert(argv.end(),
                    {"-f", "lavfi", "-i",
                     "sine=frequency=" + std::to_string(toneFrequency) + ":sample_rate=48000"});
    }
    argv.insert(argv.end(), {"-t", seconds});
    return argv;
}

std::vector<std::string> X264Recipe::VideoEncoder() const {
    const std::string interval = std::to_string(keyInterval);
    return {"-c:v",   "libx264",     "-preset", "veryfast",      "-g",
            interval, "-keyint_min", interval,  "-sc_threshold", "0"};
}

std::vector<std::string> X264Recipe::TransportStream(const std::string& output) const {
    std::vector<std::string> argv = {"ffmpeg", "-nostdin", "-v", "error", "-y"};
    const std::vector<std::string> inputs = Inputs();
    argv.insert(argv.end(), inputs.begin(), inputs.end());
    const std::vector<std::string> encoder = VideoEncoder();
    argv.insert(argv.end(), encoder.begin(), encoder.end());
    argv.insert(argv.end(), {"-b:v", videoRate});
    if (capRate) argv.insert(argv.end(), {"-maxrate", videoRate, "-bufsize", videoRate});
    argv.insert(argv.end(), {"-pix_fmt", "yuv420p"});
    argv.insert(argv.end(), audio.begin(), audio.end());
    if (!forcedKeyFrames.empty()) argv.insert(argv.end(), {"-force_key_frames", forcedKeyFrames});
    argv.insert(argv.end(), {"-f", "mpegts", output});
    return argv;
}

}  // namespace SvTools
