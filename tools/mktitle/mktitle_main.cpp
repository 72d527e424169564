// mktitle: makes a title of the engine's indexed program-stream container from MPEG-TS files.
#include <cctype>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <limits>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include "platform/store/ImageDecodeCheck.h"
#include "platform/store/ImageSize.h"
#include "common/CommandLine.h"
#include "common/OutputFile.h"
#include "tools/mktitle/ByteSink.h"
#include "tools/mktitle/InputFile.h"
#include "tools/mktitle/ProgressLine.h"
#include "tools/mktitle/RenditionReader.h"
#include "tools/mktitle/TitleInput.h"
#include "tools/mktitle/SmilTitle.h"
#include "tools/mktitle/TitleFile.h"
#include "tools/mktitle/TitleWriter.h"

namespace {

using SvTools::CommandLine;

const char kDescription[] =
    "Makes a title of the engine's indexed program-stream container from MPEG-TS files as\n"
    "ffmpeg writes them, one file per rendition: H.264 with AAC or E-AC-3, or audio only.\n"
    "Each rendition becomes one track; several renditions whose key frames fall at the same\n"
    "times make a multi-bit-rate title. A trick-play rendition (--trick-rate) holds only key\n"
    "frames, made for its speed at the normal frame rate (for 4: every fourth picture; for\n"
    "-4: the same backwards); its times are stretched by the speed to span the title, and its\n"
    "key frames need not fall at the other renditions' times. Without -o the last name is\n"
    "the output. The output may be a device or \"-\" for standard output; a file is replaced\n"
    "only once the title is whole. The inputs are read twice, so memory stays small however\n"
    "long they are; a progress line is shown when standard error is a terminal. An input with\n"
    "a stream the title cannot carry (HEVC video, a second audio stream, ...) is refused\n"
    "unless --drop-unsupported says to go without it; renditions whose key frames do not\n"
    "fall at the same times are refused.\n";

const char kEpilogue[] =
    "With --smil the inputs are split by kind: their pictures make one video title and their\n"
    "sound one audio title per --lang code; each file's entry in the manifest carries the\n"
    "SHA-256 of its index entries, which the engine checks before it plays it.\n"
    "--no-stream-map, --bad-magic and --truncate make damaged titles for the readers' error\n"
    "tests.\n";

// A usage error found after the options were read.
struct UsageError : std::runtime_error {
    explicit UsageError(const std::string& what) : std::runtime_error(what) {}
};

std::vector<uint8_t> ReadWholeFile(const std::string& path) {
    SvTools::InputFile file(path);
    std::vector<uint8_t> bytes;
    uint8_t buffer[65536];
    for (;;) {
        const size_t n = file.Read(buffer, sizeof buffer);
        if (n == 0) {
            return bytes;
        }
        bytes.insert(bytes.end(), buffer, buffer + n);
    }
}

// The text after the last '.' of the path, lower-cased; empty without one.
std::string LowerExtension(const std::string& path) {
    const size_t dot = path.rfind('.');
    if (dot == std::string::npos) {
        return std::string();
    }
    std::string extension = path.substr(dot + 1);
    for (char& c : extension) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return extension;
}

bool HasImageExtension(const std::string& path) {
    const std::string extension = LowerExtension(path);
    return extension == "jpg" || extension == "jpeg" || extension == "png";
}

// The extensions of other kinds of pictures: a last part of --chapter that ends in one was meant
// as a thumbnail, which the title cannot carry, rather than as the end of the chapter's title.
bool HasOtherImageExtension(const std::string& path) {
    static const char* const kOthers[] = {"gif",  "bmp", "webp", "tif", "tiff", "heic", "heif",
                                          "avif", "svg", "ico",  "jxl", "jp2",  "jfif", "apng",
                                          "pnm",  "ppm", "pgm",  "pbm", "tga",  "psd"};
    const std::string extension = LowerExtension(path);
    for (const char* other : kOthers) {
        if (extension == other) {
            return true;
        }
    }
    return false;
}

// A thumbnail goes into the title as it is, and every player shows it as the picture its name
// says: bytes that are not that picture, or that do not decode, are refused here rather than
// reaching a player as a broken picture.
void CheckThumbnail(const std::string& path, const std::vector<uint8_t>& bytes) {
    const bool png = LowerExtension(path) == "png";
    const ns::ImageSize::Format wanted =
        png ? ns::ImageSize::Format::PNG : ns::ImageSize::Format::JPEG;
    const std::string kind = png ? "PNG" : "JPEG";
    const std::string_view view(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    ns::ImageSize size;
    std::string why;
    if (!ns::ImageSize::ReadBytes(view, size, &why)) {
        throw std::runtime_error("chapter image " + path + " is not a " + kind +
                                 " picture: " + why);
    }
    if (size.GetFormat() != wanted) {
        throw std::runtime_error("chapter image " + path + " is a " + (png ? "JPEG" : "PNG") +
                                 " picture, not the " + kind + " its name says");
    }
    if (!ns::ImageDecodeCheck::Decodes(view, &why)) {
        throw std::runtime_error("chapter image " + path + " does not decode as a " + kind +
                                 " picture: " + why);
    }
}

// SECONDS:TITLE[:IMAGE]; the part after the last colon is the image when it names an image
// file, so a title may hold colons when it has no image. A last part that names an existing
// file, or ends in the extension of a kind of picture the title cannot carry, was meant as an
// image all the same: refused, rather than made the end of the title without a word.
SvTools::ChapterSpec ParseChapter(const std::string& text) {
    const size_t colon = text.find(':');
    if (colon == std::string::npos) {
        throw UsageError("--chapter needs SECONDS:TITLE[:IMAGE], not \"" + text + "\"");
    }
    SvTools::ChapterSpec chapter;
    const std::string seconds = text.substr(0, colon);
    char* end = nullptr;
    errno = 0;
    chapter.seconds = std::strtod(seconds.c_str(), &end);
    if (seconds.empty() || end != seconds.c_str() + seconds.size() || errno == ERANGE ||
        !std::isfinite(chapter.seconds) || chapter.seconds < 0) {
        throw UsageError("--chapter: \"" + seconds + "\" is not a time in seconds");
    }
    std::string rest = text.substr(colon + 1);
    const size_t last = rest.rfind(':');
    const std::string image = last != std::string::npos ? rest.substr(last + 1) : std::string();
    struct stat status;
    if (!image.empty() && !HasImageExtension(image)) {
        if (HasOtherImageExtension(image)) {
            throw UsageError("--chapter: the image \"" + image + "\" is a ." +
                             LowerExtension(image) +
                             " picture: a chapter's image is a .jpg, .jpeg or .png file");
        }
        if (stat(image.c_str(), &status) == 0) {
            throw UsageError("--chapter: the image \"" + image + "\" names " +
                             (S_ISDIR(status.st_mode) ? "a directory" : "a file") +
                             ", not a .jpg, .jpeg or .png picture");
        }
    }
    if (HasImageExtension(image)) {
        chapter.image = ReadWholeFile(image);
        if (chapter.image.empty()) {
            throw std::runtime_error("chapter image " + image + " is empty");
        }
        CheckThumbnail(image, chapter.image);
        rest = rest.substr(0, last);
    }
    chapter.title = rest;
    return chapter;
}

// A signed 16-bit decimal number, nothing around it.
bool ParseTrickRate(const std::string& text, int16_t& rate) {
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || std::isspace(static_cast<unsigned char>(text[0])) ||
        end != text.c_str() + text.size() || errno == ERANGE || value < -32768 || value > 32767) {
        return false;
    }
    rate = static_cast<int16_t>(value);
    return true;
}

// A stop signal removes the file the run made (a new title, or the temporary file beside the
// title it replaces), then ends the process as the signal would have.
void RemoveOutputAndDie(int signal) {
    SvTools::OutputFile::RemoveForSignal();
    std::signal(signal, SIG_DFL);
    raise(signal);
}

const int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};

uint64_t FileSize(const std::string& path) {
    struct stat status;
    return stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode)
               ? static_cast<uint64_t>(status.st_size)
               : 0;
}

int Run(int argc, char** argv) {
    CommandLine line("mktitle",
                     "[OPTIONS] INPUT.ts [INPUT.ts ...] -o OUTPUT\n"
                     "       mktitle [OPTIONS] INPUT.ts [INPUT.ts ...] OUTPUT\n"
                     "       mktitle --smil FOLDER [OPTIONS] INPUT.ts [INPUT.ts ...]",
                     kDescription, kEpilogue);
    line.AddOption("output", 'o', "FILE", "the title to write (\"-\": standard output)");
    line.AddOption("smil", 0, "FOLDER",
                   "make a multi-file title in FOLDER (made when missing): video.svm with the "
                   "pictures, audio-LANG.svm per --lang with the sound, the subtitle files, and "
                   "the manifest title.smil naming them");
    line.AddOption("textstream", 0, "LANG:FILE",
                   "with --smil: a TTML subtitle file of language LANG, copied into the folder "
                   "as text-LANG.ttml; may be repeated");
    line.AddOption("chapter", 0, "SECONDS:TITLE[:IMAGE]",
                   "a chapter starting at SECONDS; IMAGE (.jpg, .jpeg or .png) is its "
                   "thumbnail; TITLE may hold colons, but a last part after one that names a "
                   "file or another kind of picture (.gif, .webp, ...) is refused; may be "
                   "repeated");
    line.AddOption("lang", 0, "CODE",
                   "language of the audio: given once, of every input; else once per input, "
                   "in order");
    line.AddOption("trick-rate", 0, "RATE",
                   "once per input, in order: 0 for a normal rendition, else the speed of a "
                   "trick-play rendition (-32768 to 32767; negative plays backwards)");
    line.AddOption("index-version", 0, "N", "write index entries of version N, 0 to 4 (4)");
    line.AddOption("split-index", 0, "BYTES",
                   "cut each index entry into private-stream-2 packets of at most BYTES "
                   "(1 to 65541) bytes");
    line.AddOption("drop-unsupported", 0, nullptr,
                   "make the title without the input streams it cannot carry (another video "
                   "codec than H.264, a second audio stream, ...), with a warning for each, "
                   "instead of refusing the input");
    line.AddOption("no-stream-map", 0, nullptr, "leave the program stream map out");
    line.AddOption("bad-magic", 0, nullptr, "write a wrong magic into the first index entry");
    line.AddOption("truncate", 0, "BYTES", "keep only the first BYTES bytes of the title");
    const CommandLine::Outcome outcome = line.Parse(argc, argv);
    if (outcome != CommandLine::Proceed) {
        return CommandLine::ExitStatus(outcome);
    }

    std::vector<std::string> inputs = line.Arguments();
    std::string output = line.Value("output");
    const bool smil = line.Has("smil");
    std::vector<SvTools::TextStreamSpec> textStreams;
    if (smil) {
        if (line.Has("output")) {
            return line.UsageError("--smil names the output folder: -o does not go with it");
        }
        if (line.Value("smil").empty()) {
            return line.UsageError("the --smil folder name is empty");
        }
        if (inputs.empty()) {
            return line.UsageError("no input given");
        }
        if (line.Has("no-stream-map") || line.Has("bad-magic") || line.Has("truncate")) {
            return line.UsageError(
                "--no-stream-map, --bad-magic and --truncate do not go with --smil");
        }
        for (const std::string& language : line.Values("lang")) {
            if (!SvTools::SmilTitle::IsUsableLanguage(language)) {
                return line.UsageError("--lang: \"" + language +
                                       "\" is not a language code (letters, digits, - and _)");
            }
        }
        try {
            for (const std::string& text : line.Values("textstream")) {
                textStreams.push_back(SvTools::SmilTitle::ParseTextStream(text));
            }
        } catch (const std::invalid_argument& error) {
            return line.UsageError(error.what());
        }
    } else if (line.Has("textstream")) {
        return line.UsageError("--textstream goes with --smil only");
    } else if (!line.Has("output")) {
        if (inputs.size() < 2) {
            return line.UsageError(inputs.empty() ? "no input and no output given"
                                                  : "no output given (-o, or the last name)");
        }
        output = inputs.back();
        inputs.pop_back();
    } else if (inputs.empty()) {
        return line.UsageError("no input given");
    }
    if (!smil && output.empty()) {
        return line.UsageError("the output name is empty");
    }
    const std::vector<std::string>& languages = line.Values("lang");
    if (languages.size() > 1 && languages.size() != inputs.size()) {
        return line.UsageError("--lang given " + std::to_string(languages.size()) + " times for " +
                               std::to_string(inputs.size()) +
                               " inputs: give it once, or once per input");
    }
    std::vector<int16_t> trickRates(inputs.size(), 0);
    const std::vector<std::string>& rateTexts = line.Values("trick-rate");
    if (!rateTexts.empty()) {
        if (rateTexts.size() != inputs.size()) {
            return line.UsageError("--trick-rate given " + std::to_string(rateTexts.size()) +
                                   " times for " + std::to_string(inputs.size()) +
                                   " inputs: give it once per input");
        }
        for (size_t i = 0; i < rateTexts.size(); ++i) {
            if (!ParseTrickRate(rateTexts[i], trickRates[i])) {
                return line.UsageError("--trick-rate: \"" + rateTexts[i] +
                                       "\" is not a whole number from -32768 to 32767");
            }
        }
    }
    SvTools::TitleOptions options;
    uint64_t number = options.indexVersion;
    if (!line.UnsignedValue("index-version", 0, 4, number)) {
        return CommandLine::kExitUsage;
    }
    options.indexVersion = static_cast<uint32_t>(number);
    number = 0;
    if (!line.UnsignedValue("split-index", 1, 65541, number)) {
        return CommandLine::kExitUsage;
    }
    options.indexPacketSize = static_cast<uint32_t>(number);
    options.noStreamMap = line.Has("no-stream-map");
    options.badMagic = line.Has("bad-magic");
    if (line.Has("truncate")) {
        if (!line.UnsignedValue("truncate", 0, std::numeric_limits<uint64_t>::max(),
                                options.truncateSize)) {
            return CommandLine::kExitUsage;
        }
        options.truncate = true;
    }
    try {
        for (const std::string& text : line.Values("chapter")) {
            options.chapters.push_back(ParseChapter(text));
        }
    } catch (const UsageError& error) {
        return line.UsageError(error.what());
    }

    // The title would take the place of an input it is made from (the --smil folder's files
    // are known once the inputs are read).
    for (const std::string& input : inputs) {
        if (!smil && !CommandLine::IsStandardStream(output) && SvTools::IsSameFile(input, output)) {
            return line.Failure(output + " is the input " + input + " itself");
        }
    }
    // Each input is read twice (its layout first, then its samples): a pipe or a FIFO would
    // give its bytes only once and the second pass would find nothing. What cannot be opened
    // is left to the reading, which gives the system's reason.
    for (const std::string& input : inputs) {
        struct stat status;
        if (stat(input.c_str(), &status) == 0 && !S_ISREG(status.st_mode) &&
            !S_ISDIR(status.st_mode)) {
            return line.Failure(input + " is not a regular file: it is read twice");
        }
    }

    SvTools::ProgressLine progress(stderr, SvTools::ProgressLine::StderrIsTerminal());
    std::vector<SvTools::Rendition> renditions;
    for (size_t i = 0; i < inputs.size(); ++i) {
        const std::string what = "reading " + inputs[i];
        const uint64_t size = FileSize(inputs[i]);
        SvTools::Rendition rendition = SvTools::ReadRendition(
            inputs[i], [&](uint64_t done) { progress.Update(what, done, size); });
        rendition.language = languages.empty() ? "" : languages[languages.size() == 1 ? 0 : i];
        progress.End();
        if (trickRates[i] != 0) {
            SvTools::MakeTrickPlay(rendition, trickRates[i]);
        }
        for (const std::string& warning : rendition.warnings) {
            std::cerr << "mktitle: warning: " << inputs[i] << ": " << warning << "\n";
        }
        // A title that silently lacks a stream of its input is not the whole job.
        if (!rendition.unsupported.empty() && !line.Has("drop-unsupported")) {
            std::string reasons;
            for (const std::string& reason : rendition.unsupported) {
                reasons += "\n  " + reason;
            }
            return line.Failure(inputs[i] + ": holds what the title cannot carry:" + reasons +
                                "\n(--drop-unsupported makes the title without it)");
        }
        for (const std::string& reason : rendition.unsupported) {
            std::cerr << "mktitle: warning: " << inputs[i] << ": left out: " << reason << "\n";
        }
        renditions.push_back(std::move(rendition));
    }
    SvTools::CheckKeyFramesLineUp(renditions);
    if (smil) {
        std::unique_ptr<SvTools::SmilTitle> title;
        try {
            title.reset(new SvTools::SmilTitle(line.Value("smil"), renditions, textStreams));
        } catch (const std::invalid_argument& error) {
            return line.UsageError(error.what());
        }
        // A file of the folder would take the place of a rendition or a subtitle file it is
        // made from (the subtitles are read only when their turn comes).
        std::vector<std::string> sources = inputs;
        for (const SvTools::TextStreamSpec& text : textStreams) {
            sources.push_back(text.path);
        }
        for (const std::string& path : title->OutputPaths()) {
            for (const std::string& source : sources) {
                if (SvTools::IsSameFile(source, path)) {
                    return line.Failure(path + " is the input " + source + " itself");
                }
            }
        }
        title->Write(options, progress);
        return CommandLine::kExitSuccess;
    }
    SvTools::WriteTitleFile(renditions, options, output, progress);
    return CommandLine::kExitSuccess;
}

}  // namespace

int main(int argc, char** argv) {
    for (int signal : kStopSignals) {
        std::signal(signal, RemoveOutputAndDie);
    }
    try {
        return Run(argc, argv);
    } catch (const std::exception& error) {
        std::cerr << "mktitle: " + std::string(error.what()) + "\n" << std::flush;
        return CommandLine::kExitFailure;
    }
}
