#include "tests/support/Fixtures.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>

#include "common/Program.h"
#include "common/X264Recipe.h"

namespace SvTestSupport {

namespace {

std::string Joined(const std::vector<std::string>& argv) {
    std::string text;
    for (const std::string& arg : argv) {
        text += (text.empty() ? "" : " ") + arg;
    }
    return text;
}

bool Exists(const std::string& path, struct stat* info = nullptr) {
    struct stat local;
    return stat(path.c_str(), info ? info : &local) == 0;
}

bool NewerThan(const struct stat& a, const struct stat& b) {
    if (a.st_mtim.tv_sec != b.st_mtim.tv_sec) {
        return a.st_mtim.tv_sec > b.st_mtim.tv_sec;
    }
    return a.st_mtim.tv_nsec > b.st_mtim.tv_nsec;
}

// Threads of one process that ask for the same file (the media-making step runs its recipes
// side by side, and several titles share a clip) take turns: the second finds the file made
// instead of making it again.
std::unique_lock<std::mutex> LockPath(const std::string& path) {
    static std::mutex guard;
    static std::map<std::string, std::unique_ptr<std::mutex>> locks;
    std::mutex* lock = nullptr;
    {
        std::lock_guard<std::mutex> hold(guard);
        std::unique_ptr<std::mutex>& slot = locks[path];
        if (!slot) slot = std::make_unique<std::mutex>();
        lock = slot.get();
    }
    return std::unique_lock<std::mutex>(*lock);
}

using SvTools::TemporaryName;

// The cached file's name carries a digest of its recipe, so that a changed recipe makes a new
// file instead of reusing one made the old way: "short.ts" becomes "short-1a2b3c4d.ts".
std::string CacheName(const std::string& name, const std::vector<std::string>& argv) {
    uint32_t hash = 2166136261u;  // FNV-1a
    for (const std::string& arg : argv) {
        for (unsigned char c : arg + '\0') {
            hash = (hash ^ c) * 16777619u;
        }
    }
    char digest[9];
    std::snprintf(digest, sizeof digest, "%08x", hash);
    const size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0) {
        return name + "-" + digest;
    }
    return name.substr(0, dot) + "-" + digest + name.substr(dot);
}

std::string BuildFile(const std::string& name, const std::vector<std::string>& argv,
                      bool remakeWhenToolIsNewer) {
    const std::string dir = Fixtures::Directory();
    const std::string path = dir + "/" + CacheName(name, argv);
    const std::unique_lock<std::mutex> turn = LockPath(path);
    struct stat existing;
    if (Exists(path, &existing)) {
        struct stat tool;
        if (!remakeWhenToolIsNewer || !Exists(Fixtures::MktitlePath(), &tool) ||
            !NewerThan(tool, existing)) {
            return path;
        }
    }
    const std::string temporary = TemporaryName(path);
    std::vector<std::string> command = argv;
    for (std::string& arg : command) {
        const size_t at = arg.find("{out}");
        if (at != std::string::npos) {
            arg.replace(at, 5, temporary);
        }
    }
    std::string output;
    const int status = RunProgram(command, &output);
    if (status != 0 || !Exists(temporary)) {
        std::remove(temporary.c_str());
        throw std::runtime_error("fixture " + name + ": `" + Joined(command) + "` exited with " +
                                 std::to_string(status) + ": " + output);
    }
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        std::remove(temporary.c_str());
        throw std::runtime_error("fixture " + name + ": cannot rename into " + path);
    }
    return path;
}

// Removes a folder this process built (a fixture's temporary or replaced folder).
void RemoveTree(const std::string& path) { RunProgram({"rm", "-rf", "--", path}); }

// A clip of the test pattern at 25 fps with a 440 Hz tone when audio is given, key frame every
// 50 pictures.
SvTools::X264Recipe Clip(const std::string& size, const std::string& seconds,
                         const std::string& videoRate, const std::vector<std::string>& audio) {
    SvTools::X264Recipe recipe(size, seconds, videoRate);
    recipe.audio = audio;
    return recipe;
}

std::vector<std::string> ClipCommand(const std::string& size, const std::string& seconds,
                                     const std::string& videoRate,
                                     const std::vector<std::string>& audio) {
    return Clip(size, seconds, videoRate, audio).TransportStream("{out}");
}

const std::vector<std::string> kAac = SvTools::X264Recipe::Aac("64k");

}  // namespace

std::string Fixtures::Directory() {
    const std::string dir = SV_FIXTURE_DIR;
    if (mkdir(dir.c_str(), 0755) != 0 && errno != EEXIST) {
        throw std::runtime_error("cannot make the fixture folder " + dir);
    }
    return dir;
}

std::string Fixtures::MktitlePath() { return SV_MKTITLE_PATH; }

std::string Fixtures::Make(const std::string& name, const std::vector<std::string>& argv) {
    return BuildFile(name, argv, false);
}

std::string Fixtures::MakeTitle(const std::string& name, const std::vector<std::string>& args) {
    std::vector<std::string> argv = {MktitlePath()};
    argv.insert(argv.end(), args.begin(), args.end());
    return BuildFile(name, argv, true);
}

std::string Fixtures::MakeSmilFolder(const std::string& name,
                                     const std::vector<std::string>& args) {
    std::vector<std::string> argv = {MktitlePath(), "--smil", "{out}"};
    argv.insert(argv.end(), args.begin(), args.end());
    const std::string path = Directory() + "/" + CacheName(name, argv);
    const std::string manifest = path + "/title.smil";
    const std::unique_lock<std::mutex> turn = LockPath(path);
    struct stat existing;
    struct stat tool;
    if (Exists(manifest, &existing) &&
        !(Exists(MktitlePath(), &tool) && NewerThan(tool, existing))) {
        return path;
    }
    // Built beside its place and renamed into it whole, as the single-file fixtures are.
    const std::string temporary = TemporaryName(path);
    for (std::string& arg : argv) {
        const size_t at = arg.find("{out}");
        if (at != std::string::npos) {
            arg.replace(at, 5, temporary);
        }
    }
    std::string output;
    const int status = RunProgram(argv, &output);
    if (status != 0 || !Exists(temporary + "/title.smil")) {
        RemoveTree(temporary);
        throw std::runtime_error("fixture " + name + ": `" + Joined(argv) + "` exited with " +
                                 std::to_string(status) + ": " + output);
    }
    const std::string old = TemporaryName(path) + ".old";
    if (Exists(path) && std::rename(path.c_str(), old.c_str()) != 0) {
        RemoveTree(temporary);
        throw std::runtime_error("fixture " + name + ": cannot move the old " + path + " away");
    }
    const bool placed = std::rename(temporary.c_str(), path.c_str()) == 0;
    RemoveTree(old);
    if (!placed) {
        RemoveTree(temporary);
        // Another test process put its own in place meanwhile.
        if (!Exists(manifest)) {
            throw std::runtime_error("fixture " + name + ": cannot rename into " + path);
        }
    }
    return path;
}

std::string Fixtures::SineAudioClip(int frequency, int seconds) {
    const std::string hz = std::to_string(frequency);
    const std::string length = std::to_string(seconds);
    // The 4 s clip keeps the name it was first cached under.
    return Make("sine" + hz + (seconds == 4 ? "" : "-" + length + "s") + ".ts",
                {"ffmpeg", "-nostdin", "-v",
                 "error",  "-y",       "-f",
                 "lavfi",  "-i",       "sine=frequency=" + hz + ":sample_rate=48000",
                 "-t",     length,     "-c:a",
                 "aac",    "-b:a",     "64k",
                 "-ac",    "2",        "-f",
                 "mpegts", "{out}"});
}

std::string Fixtures::SubtitleFile() {
    const std::string text =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<tt xmlns=\"http://www.w3.org/ns/ttml\" xml:lang=\"en\">\n"
        "  <body><div>\n"
        "    <p begin=\"00:00:00.500\" end=\"00:00:01.500\">First line</p>\n"
        "    <p begin=\"00:00:02.000\" end=\"00:00:03.000\">Second line</p>\n"
        "  </div></body>\n"
        "</tt>\n";
    const std::string path = Directory() + "/" + CacheName("subtitles.ttml", {text});
    const std::unique_lock<std::mutex> turn = LockPath(path);
    if (Exists(path)) {
        return path;
    }
    if (!SvTools::WriteFileAtomically(path, text)) {
        throw std::runtime_error("fixture subtitles.ttml: cannot write " + path);
    }
    return path;
}

std::string Fixtures::SmilTitle() {
    const std::string video = Make("short-video.ts", ClipCommand("320x180", "4", "300k", {}));
    return MakeSmilFolder("smil",
                          // The pictures' input has no sound: its language is not used.
                          {"--lang", "en", "--lang", "en", "--lang", "de", "--textstream",
                           "en:" + SubtitleFile(), video, SineAudioClip(kSmilFirstFrequency),
                           SineAudioClip(kSmilSecondFrequency)}) +
           "/title.smil";
}

std::string Fixtures::ShortClip() {
    return Make("short.ts", ClipCommand("320x180", "4", "300k", kAac));
}

std::string Fixtures::LongPicturesClip() {
    return Make("pictures-20s.ts", ClipCommand("320x180", "20", "300k", {}));
}

std::string Fixtures::LongClip() {
    return Make("long.ts", ClipCommand("640x360", "20", "400k", kAac));
}

std::string Fixtures::Eac3Clip() {
    return Make("eac3.ts",
                ClipCommand("320x180", "4", "300k", {"-c:a", "eac3", "-b:a", "192k", "-ac", "2"}));
}

std::string Fixtures::AudioOnlyClip() {
    return Make("audio.ts", {"ffmpeg", "-nostdin", "-v",
                             "error",  "-y",       "-f",
                             "lavfi",  "-i",       "sine=frequency=660:sample_rate=48000",
                             "-t",     "4",        "-c:a",
                             "aac",    "-b:a",     "64k",
                             "-ac",    "2",        "-f",
                             "mpegts", "{out}"});
}

std::vector<std::string> Fixtures::MultiRateClips() {
    std::vector<std::string> clips;
    for (const char* rate : {"150k", "300k", "600k"}) {
        clips.push_back(
            Make(std::string("rate") + rate + ".ts", ClipCommand("320x180", "4", rate, kAac)));
    }
    return clips;
}

std::vector<std::string> Fixtures::AdaptiveClips() {
    const std::string seconds = std::to_string(kAdaptiveClipSeconds);
    return {Make("adaptive360.ts", ClipCommand("640x360", seconds, "400k", kAac)),
            Make("adaptive720.ts", ClipCommand("1280x720", seconds, "1200k", kAac)),
            Make("adaptive1080.ts", ClipCommand("1920x1080", seconds, "2500k", kAac))};
}

std::string Fixtures::HlsClip() {
    return Make("hls120.ts", ClipCommand("320x180", std::to_string(kHlsClipSeconds), "300k", kAac));
}

std::vector<std::string> Fixtures::TrickClips() {
    const std::string pattern = "testsrc2=size=320x180:rate=25:duration=20";
    std::vector<std::string> clips = {
        Make("trick-normal.ts", ClipCommand("320x180", "20", "300k", {}))};
    // The source's duration is bounded at the input: reversing needs the whole of it.
    for (const bool reverse : {false, true}) {
        const std::string filter = std::string("select=not(mod(n\\,4)),") +
                                   (reverse ? "reverse," : "") + "setpts=N/FRAME_RATE/TB";
        clips.push_back(
            Make(reverse ? "trick-minus4.ts" : "trick-plus4.ts",
                 {"ffmpeg",   "-nostdin", "-v",     "error", "-y",   "-f",       "lavfi",
                  "-i",       pattern,    "-vf",    filter,  "-c:v", "libx264",  "-preset",
                  "veryfast", "-g",       "1",      "-b:v",  "300k", "-pix_fmt", "yuv420p",
                  "-an",      "-f",       "mpegts", "{out}"}));
    }
    return clips;
}

std::string Fixtures::Thumbnail(int index) {
    const std::string pattern = index % 2 ? "smptebars" : "testsrc2";
    return Make(
        "thumb" + std::to_string(index) + ".jpg",
        {"ffmpeg", "-nostdin", "-v", "error", "-y", "-f", "lavfi", "-i", pattern + "=size=160x90",
         "-frames:v", "1", "-c:v", "mjpeg", "-f", "mjpeg", "{out}"});
}

std::string Fixtures::TwoLanguageTitle() {
    return MakeTitle("two-languages.svm", {"--lang", "eng", ShortClip(), "--lang", "fra",
                                           SineAudioClip(kSmilSecondFrequency), "{out}"});
}

std::string Fixtures::ShortTitle() { return MakeTitle("short.svm", {ShortClip(), "{out}"}); }

std::string Fixtures::ChapterTitle() {
    return MakeTitle(
        "demux-chapters.svm",
        {LongClip(), "{out}", "--chapter", "0:Opening:" + Thumbnail(0), "--chapter",
         "5.5:The middle part:" + Thumbnail(1), "--chapter", "12:Late:" + Thumbnail(2)});
}

std::string Fixtures::MultiRateTitle() {
    std::vector<std::string> args = MultiRateClips();
    args.push_back("{out}");
    return MakeTitle("multirate.svm", args);
}

std::string Fixtures::AdaptiveTitle() {
    std::vector<std::string> args = AdaptiveClips();
    args.push_back("{out}");
    return MakeTitle("adaptive.svm", args);
}

std::string Fixtures::TrickTitle() {
    const std::vector<std::string> clips = TrickClips();
    return MakeTitle("trick.svm", {"--trick-rate=0", "--trick-rate=4", "--trick-rate=-4", clips[0],
                                   clips[1], clips[2], "{out}"});
}

std::string Fixtures::TrickAudioTitle() {
    const std::vector<std::string> clips = TrickClips();
    const std::string normal =
        Make("trick-normal-aac.ts", ClipCommand("320x180", "20", "300k", kAac));
    return MakeTitle("trick-aac.svm", {"--trick-rate=0", "--trick-rate=4", "--trick-rate=-4",
                                       normal, clips[1], clips[2], "{out}"});
}

std::string Fixtures::Eac3Title() { return MakeTitle("eac3.svm", {Eac3Clip(), "{out}"}); }

std::string Fixtures::SeparateAudioTitle() {
    const std::string video = Make("short-video.ts", ClipCommand("320x180", "4", "300k", {}));
    return MakeTitle("separate-audio.svm", {video, AudioOnlyClip(), "{out}"});
}

std::string Fixtures::VideoOnlyClip() {
    return Make("short-video.ts", ClipCommand("320x180", "4", "300k", {}));
}

std::string Fixtures::VideoOnlyTitle() {
    return MakeTitle("video-only.svm", {VideoOnlyClip(), "{out}"});
}

std::string Fixtures::LanguageAudioTitle(const std::string& language) {
    return MakeTitle("audio-" + language + ".svm", {"--lang", language, AudioOnlyClip(), "{out}"});
}

std::string Fixtures::HlsTitle() { return MakeTitle("hls120.svm", {HlsClip(), "{out}"}); }

std::string Fixtures::UnevenGopClip() {
    // Key frames only where forced: the fixed interval lies past the end, no scene cuts.
    SvTools::X264Recipe uneven = Clip("320x180", "16", "300k", kAac);
    uneven.keyInterval = 1000;
    uneven.forcedKeyFrames = "0,1,4,5,11,12,15";
    return Make("uneven-gop.ts", uneven.TransportStream("{out}"));
}

std::string Fixtures::UnevenGopTitle() {
    return MakeTitle("uneven-gop.svm", {UnevenGopClip(), "{out}"});
}

std::string Fixtures::JoinedClip() {
    SvTools::X264Recipe first = Clip("320x180", "8", "300k", kAac);
    first.keyInterval = 25;
    const std::string a = Make("joined-a.ts", first.TransportStream("{out}"));
    SvTools::X264Recipe second = Clip("320x180", "4.8", "300k", kAac);
    second.keyInterval = 30;
    // Pictures and a tone of its own: no picture of one clip is one of the other's.
    second.pictures = "testsrc";
    second.toneFrequency = 660;
    const std::string b = Make("joined-b.ts", second.TransportStream("{out}"));
    // The concat demuxer's list names both clips.
    const std::string list = Make(
        "joined.txt", {"sh", "-c", "printf \"file '%s'\\nfile '%s'\\n\" \"$1\" \"$2\" > \"$3\"",
                       "sh", a, b, "{out}"});
    return Make("joined.ts", {"ffmpeg", "-nostdin", "-v", "error", "-y", "-f", "concat", "-safe",
                              "0", "-i", list, "-map", "0", "-c", "copy", "-f", "mpegts", "{out}"});
}

std::string Fixtures::JoinedTitle() { return MakeTitle("joined.svm", {JoinedClip(), "{out}"}); }

std::string Fixtures::PlayerHlsFolder() {
    // Two renditions of one encoding, the second at half the size and a third of the rate.
    const SvTools::X264Recipe recipe("320x180", std::to_string(kPlayerHlsSeconds), "300k");
    std::vector<std::string> argv = {"ffmpeg", "-nostdin", "-v", "error", "-y"};
    const std::vector<std::string> inputs = recipe.Inputs();
    argv.insert(argv.end(), inputs.begin(), inputs.end());
    argv.insert(argv.end(), {"-filter_complex", "[0:v]split=2[v0][v1];[v1]scale=160:90[small]",
                             "-map", "[v0]", "-map", "1:a", "-map", "[small]", "-map", "1:a"});
    const std::vector<std::string> encoder = recipe.VideoEncoder();
    argv.insert(argv.end(), encoder.begin(), encoder.end());
    argv.insert(argv.end(), {"-pix_fmt", "yuv420p", "-b:v:0", recipe.videoRate, "-b:v:1", "100k"});
    argv.insert(argv.end(), recipe.audio.begin(), recipe.audio.end());
    argv.insert(argv.end(),
                {"-f", "hls", "-hls_time", "4", "-hls_playlist_type", "vod",
                 "-hls_segment_filename", "{out}/v%v/seg%d.ts", "-master_pl_name", "master.m3u8",
                 "-var_stream_map", "v:0,a:0 v:1,a:1", "{out}/v%v/index.m3u8"});
    const std::string path = Directory() + "/" + CacheName("player-hls", argv);
    const std::string master = path + "/master.m3u8";
    const std::unique_lock<std::mutex> turn = LockPath(path);
    if (Exists(master)) {
        return path;
    }
    // Built beside its place and renamed into it whole, so parallel tests never see half of it.
    const std::string temporary = TemporaryName(path);
    for (std::string& arg : argv) {
        for (size_t at = arg.find("{out}"); at != std::string::npos; at = arg.find("{out}")) {
            arg.replace(at, 5, temporary);
        }
    }
    std::string output;
    const int status = mkdir(temporary.c_str(), 0755) == 0 ? RunProgram(argv, &output) : -1;
    if (status != 0 || !Exists(temporary + "/master.m3u8")) {
        RemoveTree(temporary);
        throw std::runtime_error("fixture player-hls: `" + Joined(argv) + "` exited with " +
                                 std::to_string(status) + ": " + output);
    }
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        RemoveTree(temporary);
        if (!Exists(master)) {  // else another test process put its own in place meanwhile
            throw std::runtime_error("fixture player-hls: cannot rename into " + path);
        }
    }
    return path;
}

}  // namespace SvTestSupport
