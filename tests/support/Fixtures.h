#ifndef TESTS_SUPPORT_FIXTURES_H
#define TESTS_SUPPORT_FIXTURES_H

#include <cstddef>
#include <string>
#include <vector>

#include "common/Program.h"

namespace SvTestSupport {

// Runs a program and returns its exit status (common/Program.h).
using SvTools::RunProgram;

// Test media made at test time from a fixed recipe and cached in the build folder. Every
// function returns the path of a finished file, making it first when it is missing; a failed
// recipe raises std::runtime_error with the command and what it printed. Files are built under
// a temporary name and renamed into place, so test processes running at once never see half a
// file. A cached file's name carries a digest of its recipe, so an edited recipe makes a new
// file; titles are also made again when the title maker is newer than the cached file.
class Fixtures {
public:
    // H.264 (libx264, key frame every 50 frames, no scene-cut key frames) at 25 fps plus
    // stereo AAC at 48 kHz, in MPEG-TS as ffmpeg writes it.
    static constexpr size_t kShortClipFrames = 100;  // 4 s, 320x180
    static constexpr size_t kLongClipFrames = 500;   // 20 s, 640x360
    static std::string ShortClip();
    static std::string LongClip();
    // 20 s of the short clip's pictures (320x180, 300 kbit/s, key frame every 50 frames)
    // without sound.
    static std::string LongPicturesClip();
    // As the short clip with E-AC-3 (stereo, 48 kHz) in place of AAC.
    static std::string Eac3Clip();
    // AAC only, 4 s.
    static std::string AudioOnlyClip();
    // The short clip at three video bit rates (150, 300 and 600 kbit/s) with the same GOPs.
    static std::vector<std::string> MultiRateClips();
    // 40 s at 640x360 (400 kbit/s), 1280x720 (1200 kbit/s) and 1920x1080 (2500 kbit/s), each
    // with stereo AAC and the same fixed 2 s GOP: the renditions of the adaptation checks.
    static constexpr size_t kAdaptiveClipSeconds = 40;
    static std::vector<std::string> AdaptiveClips();
    // Two minutes at a fixed 2 s GOP (key frame every 50 frames at 25 fps), 320x180 with
    // stereo AAC, so that every group of pictures lasts exactly 2 s: the source of the HLS
    // checks, kept as it is so that they can compare what is served with it.
    static constexpr size_t kHlsClipSeconds = 120;
    static constexpr size_t kHlsClipFrames = 3000;
    static std::string HlsClip();
    // A 20 s video-only title source (320x180, 25 fps, key frame every 50 frames) and its
    // trick-play renditions for rates 4 and -4: every fourth picture of the same test pattern
    // (forward, then reversed) at 25 fps, every picture a key frame, 125 pictures each.
    static constexpr size_t kTrickClipFrames = 500;
    static std::vector<std::string> TrickClips();  // normal, +4, -4
    // A small JPEG picture; index picks one of several.
    static std::string Thumbnail(int index);

    // Titles made by the title maker from the clips above.
    static std::string ShortTitle();
    static std::string MultiRateTitle();
    // The adaptive clips as one title: track 1 640x360, track 2 1280x720, track 3 1920x1080.
    static std::string AdaptiveTitle();
    static std::string Eac3Title();
    // AAC only (stereo, 48 kHz, 64 kbit/s), 4 s unless said otherwise, a sine of the given
    // frequency in Hz: tell-apart sounds for the languages of a multi-file title.
    static std::string SineAudioClip(int frequency, int seconds = 4);
    // A small TTML subtitle file with two lines.
    static std::string SubtitleFile();
    // The two-minute clip above as a title.
    static std::string HlsTitle();
    // Groups of pictures of uneven length, as a title: 16 s at 320x180 with stereo AAC, key
    // frames forced at 0, 1, 4, 5, 11, 12 and 15 s and nowhere else.
    static constexpr size_t kUnevenGopFrames = 400;
    static std::string UnevenGopClip();
    static std::string UnevenGopTitle();
    // Two clips joined by ffmpeg's concat demuxer into one transport stream, as a title: 8 s
    // with a key frame every second, then 4.8 s with one every 1.2 s (the second clip starts
    // where the first one's sound ends, 8.021 s, so the group across the seam lasts 1.021 s);
    // 320x180, stereo AAC, different tones.
    static constexpr size_t kJoinedFrames = 320;
    static std::string JoinedClip();
    static std::string JoinedTitle();
    // The short clip's pictures without sound (track 1) and the audio-only clip (track 2) as
    // one title: the audio comes from a rendition of its own.
    static std::string SeparateAudioTitle();
    // The short clip's pictures without sound, as a clip and as a title of one video track.
    static std::string VideoOnlyClip();
    static std::string VideoOnlyTitle();
    // Two languages in one title: the short clip (pictures and a 440 Hz sound) in "eng" as
    // track 1 and the 880 Hz audio-only clip in "fra" as track 2, a rendition of its own.
    static std::string TwoLanguageTitle();
    // The audio-only clip as a title of one audio track whose language is the given code.
    static std::string LanguageAudioTitle(const std::string& language);
    // The trick clips as one title: track 1 normal, track 2 rate 4, track 3 rate -4.
    static std::string TrickTitle();
    // As the trick title, with stereo AAC on the normal rendition (track 1): the trick
    // renditions (tracks 2 and 3) have none.
    static std::string TrickAudioTitle();
    // The long clip with three chapters (at 0, 5.5 and 12 s), each with a picture.
    static std::string ChapterTitle();

    // A multi-file title made by `mktitle --smil`: the short clip's pictures (video.svm), a
    // 440 Hz sound in "en" (audio-en.svm), an 880 Hz sound in "de" (audio-de.svm) and the
    // subtitle file above in "en" (text-en.ttml). Returns the manifest, FOLDER/title.smil.
    static constexpr int kSmilFirstFrequency = 440;   // "en", the first audio language
    static constexpr int kSmilSecondFrequency = 880;  // "de"
    static std::string SmilTitle();
    // Builds (once) a multi-file title folder named name by running the title maker with
    // "--smil {out}" and args; returns the folder.
    static std::string MakeSmilFolder(const std::string& name,
                                      const std::vector<std::string>& args);

    // A 12 s movie as ffmpeg's HLS muxer writes it, for the movie player: a master playlist
    // "master.m3u8" naming two variants, "v0/index.m3u8" (320x180, 300 kbit/s) and
    // "v1/index.m3u8" (160x90, 100 kbit/s), each with stereo AAC and three 4 s segments
    // "seg0.ts".."seg2.ts", 25 fps with a key frame every 50 frames. Returns the folder.
    static constexpr size_t kPlayerHlsSeconds = 12;
    static constexpr size_t kPlayerHlsFrames = 300;
    static std::string PlayerHlsFolder();

    // Builds (once) a title named name by running the title maker with args; "{out}" in args
    // stands for the output path.
    static std::string MakeTitle(const std::string& name, const std::vector<std::string>& args);
    // Builds (once) a file named name by running argv; "{out}" stands for the output path.
    static std::string Make(const std::string& name, const std::vector<std::string>& argv);

    static std::string Directory();
    static std::string MktitlePath();
};

}  // namespace SvTestSupport

#endif
