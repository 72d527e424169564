#ifndef PORTAL_DEMODATA_H
#define PORTAL_DEMODATA_H

#include <functional>
#include <string>
#include <vector>

namespace ZulPortal {

// The portal's media, made from a fixed recipe on first use and kept in a data folder: per
// clip a title in the engine's container (ffmpeg with libx264 and AAC at a fixed GOP, then the
// title maker), a thumbnail and a poster JPEG taken from its pictures, and TTML subtitles in
// two languages. Nothing made here is committed. Several processes may make the same folder at
// once: they take turns on a lock file, and every file is written under a temporary name and
// renamed into place, so that a file under its own name is always whole.
//
// Layout of the folder:
//   media/CLIP.svm      the title
//   thumbs/CLIP.jpg     200x112 thumbnail (one second in)
//   posters/CLIP.jpg    320x180 poster (two seconds in)
//   subtitles/CLIP.LANG.ttml
//   clips/CLIP.ts       the intermediate transport stream
//   recipe              the recipe's text, once everything is made
//   making              the same text while it is being made
class DemoData {
public:
    struct Clip {
        std::string name;
        std::string source;  // an ffmpeg lavfi video source without size and rate
        int seconds;
        int frequency;  // of the sine sound, Hz
    };

    static const std::vector<Clip>& Clips();
    static const Clip* FindClip(const std::string& name);
    static const std::vector<std::string>& Languages();  // "en", "pl"
    static std::string LanguageLabel(const std::string& language);

    // The subtitle document of a clip in a language; its cues are fixed relative to the clip's
    // length, see the .cpp.
    static std::string Subtitles(const Clip& clip, const std::string& language);

    // Makes whatever is missing in folder (made when missing). mktitle is the title maker's
    // path. False with the command and its output in error when a step fails. Before it makes
    // anything it tells announce (when given) in one line what it makes and why. When stopFd
    // (a signalfd, a pipe; -1 for none) becomes readable, the program it runs is killed, what
    // that was making removed, and it returns false at once: a later call goes on from the
    // whole files made so far.
    static bool Ensure(const std::string& folder, const std::string& mktitle, std::string& error,
                       int stopFd = -1,
                       const std::function<void(const std::string&)>& announce = nullptr);

    static std::string TitlePath(const std::string& folder, const std::string& clip);
    static std::string ThumbnailPath(const std::string& folder, const std::string& clip);
    static std::string PosterPath(const std::string& folder, const std::string& clip);
    static std::string SubtitlePath(const std::string& folder, const std::string& clip,
                                    const std::string& language);
};

}  // namespace ZulPortal

#endif
