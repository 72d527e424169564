// The ffmpeg commands behind the made-up media. The fixtures' cache names are digests of these
// commands, so any change to them re-encodes every clip: each row is the command a real caller
// gets (the short test clip, the benchmark's ten minutes, a demo clip, the uneven key frames),
// typed out in full.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/X264Recipe.h"

namespace {

using SvTools::X264Recipe;

X264Recipe ShortClip() { return X264Recipe("320x180", "4", "300k"); }

X264Recipe BenchClip() {
    X264Recipe recipe("1280x720", "600", "4800k");
    recipe.capRate = true;
    recipe.audio = X264Recipe::Aac("128k");
    return recipe;
}

X264Recipe LifeClip() {
    X264Recipe recipe("320x180", "10", "300k");
    recipe.pictures = "life=mold=10:ratio=0.1:seed=7";
    recipe.toneFrequency = 660;
    return recipe;
}

X264Recipe UnevenKeyFrames() {
    X264Recipe recipe("320x180", "16", "300k");
    recipe.keyInterval = 1000;
    recipe.forcedKeyFrames = "0,1,4,5,11,12,15";
    return recipe;
}

X264Recipe PicturesOnly() {
    X264Recipe recipe("320x180", "20", "300k");
    recipe.audio = {};
    return recipe;
}

TEST(X264Recipe, TransportStreamCommandsAreTheOnesTheCachedMediaWereMadeWith) {
    const struct {
        const char* name;
        X264Recipe recipe;
        std::vector<std::string> argv;
    } rows[] = {
        // One line for each group of options, as ffmpeg reads them.
        // clang-format off
        {"default",
         ShortClip(),
         {"ffmpeg", "-nostdin", "-v", "error", "-y",
          "-f", "lavfi", "-i", "testsrc2=size=320x180:rate=25",
          "-f", "lavfi", "-i", "sine=frequency=440:sample_rate=48000",
          "-t", "4",
          "-c:v", "libx264", "-preset", "veryfast", "-g", "50", "-keyint_min", "50",
          "-sc_threshold", "0",
          "-b:v", "300k",
          "-pix_fmt", "yuv420p",
          "-c:a", "aac", "-b:a", "64k", "-ac", "2",
          "-f", "mpegts", "out.ts"}},
        {"capped rate, 128k audio",
         BenchClip(),
         {"ffmpeg", "-nostdin", "-v", "error", "-y",
          "-f", "lavfi", "-i", "testsrc2=size=1280x720:rate=25",
          "-f", "lavfi", "-i", "sine=frequency=440:sample_rate=48000",
          "-t", "600",
          "-c:v", "libx264", "-preset", "veryfast", "-g", "50", "-keyint_min", "50",
          "-sc_threshold", "0",
          "-b:v", "4800k", "-maxrate", "4800k", "-bufsize", "4800k",
          "-pix_fmt", "yuv420p",
          "-c:a", "aac", "-b:a", "128k", "-ac", "2",
          "-f", "mpegts", "out.ts"}},
        // The source's own options go on with ':' after them, not a second '='.
        {"source with options",
         LifeClip(),
         {"ffmpeg", "-nostdin", "-v", "error", "-y",
          "-f", "lavfi", "-i", "life=mold=10:ratio=0.1:seed=7:size=320x180:rate=25",
          "-f", "lavfi", "-i", "sine=frequency=660:sample_rate=48000",
          "-t", "10",
          "-c:v", "libx264", "-preset", "veryfast", "-g", "50", "-keyint_min", "50",
          "-sc_threshold", "0",
          "-b:v", "300k",
          "-pix_fmt", "yuv420p",
          "-c:a", "aac", "-b:a", "64k", "-ac", "2",
          "-f", "mpegts", "out.ts"}},
        {"key interval and forced key frames",
         UnevenKeyFrames(),
         {"ffmpeg", "-nostdin", "-v", "error", "-y",
          "-f", "lavfi", "-i", "testsrc2=size=320x180:rate=25",
          "-f", "lavfi", "-i", "sine=frequency=440:sample_rate=48000",
          "-t", "16",
          "-c:v", "libx264", "-preset", "veryfast", "-g", "1000", "-keyint_min", "1000",
          "-sc_threshold", "0",
          "-b:v", "300k",
          "-pix_fmt", "yuv420p",
          "-c:a", "aac", "-b:a", "64k", "-ac", "2",
          "-force_key_frames", "0,1,4,5,11,12,15",
          "-f", "mpegts", "out.ts"}},
        // No audio options: no tone is drawn either, so the pictures are the only input.
        {"pictures only",
         PicturesOnly(),
         {"ffmpeg", "-nostdin", "-v", "error", "-y",
          "-f", "lavfi", "-i", "testsrc2=size=320x180:rate=25",
          "-t", "20",
          "-c:v", "libx264", "-preset", "veryfast", "-g", "50", "-keyint_min", "50",
          "-sc_threshold", "0",
          "-b:v", "300k",
          "-pix_fmt", "yuv420p",
          "-f", "mpegts", "out.ts"}},
        // clang-format on
    };
    for (const auto& row : rows) {
        EXPECT_EQ(row.argv, row.recipe.TransportStream("out.ts")) << row.name;
    }
}

}  // namespace
