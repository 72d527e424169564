#include "tools/mktitle/SmilTitle.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "common/OutputFile.h"
#include "tools/mktitle/InputFile.h"
#include "tools/mktitle/SmilManifest.h"
#include "tools/mktitle/TitleFile.h"

namespace SvTools {

namespace {

bool Exists(const std::string& path) {
    struct stat status;
    return lstat(path.c_str(), &status) == 0;
}

// A folder is refused with the system's reason, as every input is.
std::vector<uint8_t> ReadTextFile(const std::string& path) {
    InputFile file(path);
    std::vector<uint8_t> bytes;
    uint8_t buffer[65536];
    for (size_t n = file.Read(buffer, sizeof buffer); n != 0;
         n = file.Read(buffer, sizeof buffer)) {
        bytes.insert(bytes.end(), buffer, buffer + n);
    }
    return bytes;
}

void WriteWholeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    OutputFile out;
    std::string error;
    if (!out.Prepare(path, error) || !out.Write(bytes.data(), bytes.size(), error) ||
        !out.Commit(error)) {
        throw std::runtime_error("cannot write " + error);
    }
}

}  // namespace

const char SmilTitle::kManifestName[] = "title.smil";

TextStreamSpec SmilTitle::ParseTextStream(const std::string& text) {
    const size_t colon = text.find(':');
    if (colon == std::string::npos || colon + 1 == text.size()) {
        throw std::invalid_argument("--textstream needs LANG:FILE, not \"" + text + "\"");
    }
    TextStreamSpec spec{text.substr(0, colon), text.substr(colon + 1)};
    if (!IsUsableLanguage(spec.language)) {
        throw std::invalid_argument("--textstream: \"" + spec.language +
                                    "\" is not a language code (letters, digits, - and _)");
    }
    return spec;
}

bool SmilTitle::IsUsableLanguage(const std::string& language) {
    if (language.empty() || language.size() > 35) {
        return false;
    }
    for (char c : language) {
        const bool usable = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                            (c >= '0' && c <= '9') || c == '-' || c == '_';
        if (!usable) {
            return false;
        }
    }
    return true;
}

SmilTitle::SmilTitle(const std::string& directory, const std::vector<Rendition>& renditions,
                     const std::vector<TextStreamSpec>& textStreams)
    : directory_(directory) {
    File video{"video.svm", "video", "", {}, ""};
    std::vector<File> audio;
    bool haveOrigin = false;
    for (const Rendition& rendition : renditions) {
        if (!rendition.language.empty() && !IsUsableLanguage(rendition.language)) {
            throw std::invalid_argument("--lang: \"" + rendition.language +
                                        "\" is not a language code (letters, digits, - and _)");
        }
        for (const std::vector<Sample>* units :
             {&rendition.video.samples, &rendition.audio.samples}) {
            if (!units->empty()) {
                origin_ = haveOrigin ? std::min(origin_, units->front().dts) : units->front().dts;
                haveOrigin = true;
            }
        }
        if (rendition.video.present && !rendition.video.samples.empty()) {
            Rendition pictures = rendition;
            pictures.audio = AudioStream();
            pictures.language.clear();
            video.renditions.push_back(std::move(pictures));
        }
        if (rendition.audio.codec != AudioCodec::None && !rendition.audio.samples.empty()) {
            Rendition sound = rendition;
            sound.video = VideoStream();
            sound.trickRate = 0;
            File* file = nullptr;
            for (File& existing : audio) {
                if (existing.language == rendition.language) {
                    file = &existing;
                }
            }
            if (!file) {
                const std::string name = rendition.language.empty()
                                             ? std::string("audio.svm")
                                             : "audio-" + rendition.language + ".svm";
                audio.push_back(File{name, "audio", rendition.language, {}, ""});
                file = &audio.back();
            }
            file->renditions.push_back(std::move(sound));
        }
    }
    if (video.renditions.empty() && audio.empty()) {
        throw std::runtime_error("no input holds pictures or sound");
    }
    if (!video.renditions.empty()) {
        files_.push_back(std::move(video));
    }
    for (File& file : audio) {
        files_.push_back(std::move(file));
    }
    for (const TextStreamSpec& text : textStreams) {
        if (!IsUsableLanguage(text.language)) {
            throw std::invalid_argument("--textstream: \"" + text.language +
                                        "\" is not a language code (letters, digits, - and _)");
        }
        const std::string name = "text-" + text.language + ".ttml";
        for (const File& file : files_) {
            if (file.name == name) {
                throw std::invalid_argument("--textstream: two subtitle files for " +
                                            text.language);
            }
        }
        files_.push_back(File{name, "textstream", text.language, {}, text.path});
    }
}

std::vector<std::string> SmilTitle::OutputPaths() const {
    std::vector<std::string> paths;
    for (const File& file : files_) {
        paths.push_back(directory_ + "/" + file.name);
    }
    paths.push_back(directory_ + "/" + kManifestName);
    return paths;
}

void SmilTitle::Write(const TitleOptions& options, ProgressLine& progress) const {
    bool madeDirectory = false;
    struct stat status;
    if (stat(directory_.c_str(), &status) != 0) {
        if (mkdir(directory_.c_str(), 0777) != 0) {
            throw std::runtime_error("cannot make the folder " + directory_ + ": " +
                                     std::strerror(errno));
        }
        madeDirectory = true;
    } else if (!S_ISDIR(status.st_mode)) {
        throw std::runtime_error("cannot write into " + directory_ + ": not a folder");
    }
    std::vector<std::string> made;
    try {
        WriteAll(options, progress, made);
    } catch (...) {
        // What this run made goes again; files that were there before were replaced only by
        // whole ones, or not at all.
        for (const std::string& path : made) {
            std::remove(path.c_str());
        }
        if (madeDirectory) {
            rmdir(directory_.c_str());
        }
        throw;
    }
}

void SmilTitle::WriteAll(const TitleOptions& options, ProgressLine& progress,
                         std::vector<std::string>& made) const {
    SmilManifest manifest;
    bool chaptersPlaced = false;
    auto place = [&](const std::string& path) {
        if (!Exists(path)) {
            made.push_back(path);
        }
    };
    for (const File& file : files_) {
        const std::string path = directory_ + "/" + file.name;
        if (file.kind == "textstream") {
            const std::vector<uint8_t> bytes = ReadTextFile(file.copyFrom);
            place(path);
            WriteWholeFile(path, bytes);
            manifest.AddTextStream(file.name, file.language);
            continue;
        }
        TitleOptions fileOptions = options;
        fileOptions.fixedOrigin = true;
        fileOptions.origin = origin_;
        if (chaptersPlaced) {
            fileOptions.chapters.clear();
        }
        chaptersPlaced = true;
        place(path);
        const std::vector<uint8_t> digest =
            WriteTitleFile(file.renditions, fileOptions, path, progress);
        manifest.AddMedia(file.kind, file.name, file.language, digest);
    }
    const std::string text = manifest.Text();
    const std::string path = directory_ + "/" + kManifestName;
    place(path);
    WriteWholeFile(path, std::vector<uint8_t>(text.begin(), text.end()));
}

}  // namespace SvTools
