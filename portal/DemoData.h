#ifndef PORTAL_DEMODATA_H
#define PORTAL_DEMODATA_H

#include <string>
#include <vector>

namespace ZulPortal {

// The portal's media, made from a fixed recipe on first use and kept in a data folder: per
// clip a title in the engine's container (ffmpeg with libx264 and AAC at a fixed GOP, then the
// title maker), a thumbnail and a poster JPEG taken from its pictures, and TTML subtitles in
// two languages. Nothing made here is committed. Several processes may make the same folder at
// once: they take turns on a lock file, and every file is written under a temporary name and
// renamed into place.
//
// Layout of the folder:
//   media/CLIP.svm      the title
//   thumbs/CLIP.jpg     200x112 thumbnail (one second in)
//   posters/CLIP.jpg    320x180 poster (two seconds in)
//   subtitles/CLIP.LANG.ttml
//   clips/CLIP.ts       the intermediate transport stream
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
    // path. False with the command and its output in error when a step fails.
    static bool Ensure(const std::string& folder, const std::string& mktitle, std::string& error);

    static std::string TitlePath(const std::string& folder, const std::string& clip);
    static std::string ThumbnailPath(const std::string& folder, const std::string& clip);
    static std::string PosterPath(const std::string& folder, const std::string& clip);
    static std::string SubtitlePath(const std::string& folder, const std::string& clip,
                                    const std::string& language);
};

}  // namespace ZulPortal

#endif
