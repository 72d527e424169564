#ifndef TOOLS_MKTITLE_SMILTITLE_H
#define TOOLS_MKTITLE_SMILTITLE_H

#include <cstdint>
#include <string>
#include <vector>

#include "tools/mktitle/ProgressLine.h"
#include "tools/mktitle/TitleInput.h"
#include "tools/mktitle/TitleWriter.h"

namespace SvTools {

// A subtitle file for the manifest: its language and the TTML file to copy.
struct TextStreamSpec {
    std::string language;
    std::string path;
};

// A title made of several files in one folder, tied together by the manifest title.smil:
//   video.svm          the pictures of every input that has any, one track per input, no sound;
//   audio-LANG.svm     per audio language (in order of first use), the sound of the inputs of
//                      that language, one track per input ("audio.svm" for inputs without one);
//   text-LANG.ttml     a copy of each subtitle file;
//   title.smil         the manifest naming them relatively, written last.
// All title files count their times from the same origin (the earliest decode time of all
// inputs), so that pictures and sound stay together when they are played side by side.
class SmilTitle {
public:
    static const char kManifestName[];

    // "LANG:FILE"; raises std::invalid_argument with the reason.
    static TextStreamSpec ParseTextStream(const std::string& text);
    // A language code that can stand in a file name: 1 to 35 letters, digits, '-' or '_'.
    static bool IsUsableLanguage(const std::string& language);

    // Plans the files. renditions carry their languages; the renditions and the text files are
    // read when Write runs. Raises std::invalid_argument for an unusable language or two
    // subtitle files of one language, std::runtime_error when there is no media.
    SmilTitle(const std::string& directory, const std::vector<Rendition>& renditions,
              const std::vector<TextStreamSpec>& textStreams);

    struct File {
        std::string name;                   // in the folder
        std::string kind;                   // "video", "audio" or "textstream"
        std::string language;               // empty: none
        std::vector<Rendition> renditions;  // empty for a text stream
        std::string copyFrom;               // a text stream's source
    };
    const std::vector<File>& Files() const { return files_; }
    // Every path Write writes, the manifest last.
    std::vector<std::string> OutputPaths() const;

    // Writes the files and then the manifest; options (chapters, index layout) apply to every
    // title file, chapters to the video file only (to the first file when there is no video).
    // The folder is made when missing. On failure every file this run made (and the folder,
    // when made here and empty) is removed again and std::runtime_error raised.
    void Write(const TitleOptions& options, ProgressLine& progress) const;

private:
    void WriteAll(const TitleOptions& options, ProgressLine& progress,
                  std::vector<std::string>& made) const;

    std::string directory_;
    std::vector<File> files_;
    uint64_t origin_ = 0;
};

}  // namespace SvTools

#endif
