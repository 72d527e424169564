// mktitle: makes a title of the engine's indexed program-stream container from MPEG-TS files.
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include <unistd.h>

#include "tools/mktitle/TitleInput.h"
#include "tools/mktitle/TitleWriter.h"

namespace {

const char kUsage[] =
    "usage: mktitle [options] INPUT.ts [INPUT.ts ...] OUTPUT\n"
    "\n"
    "Makes a title of the engine's indexed program-stream container from MPEG-TS files as\n"
    "ffmpeg writes them, one file per rendition: H.264 with AAC or E-AC-3, or audio only.\n"
    "Each rendition becomes one track; several renditions whose key frames fall at the same\n"
    "times make a multi-bit-rate title.\n"
    "\n"
    "options:\n"
    "  --chapter SECONDS:TITLE[:IMAGE]\n"
    "                        add a chapter starting at SECONDS; IMAGE (a .jpg, .jpeg or .png\n"
    "                        file) becomes its thumbnail. May be given many times.\n"
    "  --lang CODE           language of the audio of the inputs that follow it\n"
    "  --index-version N     write index entries of version N, 0 to 4 (default 4)\n"
    "  --split-index BYTES   cut each index entry into private-stream-2 packets of at most\n"
    "                        BYTES bytes (raised to hold the entry's first 12 bytes)\n"
    "  --no-stream-map       leave the program stream map out\n"
    "  --bad-magic           write a wrong magic into the first index entry\n"
    "  --truncate BYTES      keep only the first BYTES bytes of the title\n"
    "  -h, --help            show this text\n"
    "\n"
    "The last four options make damaged titles for the readers' error tests.\n"
    "Exit status: 0 on success, 1 when an input cannot be used, 2 on a usage error.\n";

struct UsageError : std::runtime_error {
    explicit UsageError(const std::string& what) : std::runtime_error(what) {}
};

uint64_t ParseCount(const std::string& option, const std::string& text) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) {
        throw UsageError(option + " needs a whole number, not \"" + text + "\"");
    }
    errno = 0;
    const unsigned long long value = std::strtoull(text.c_str(), nullptr, 10);
    if (errno == ERANGE) {
        throw UsageError(option + ": " + text + " is too large");
    }
    return value;
}

std::vector<uint8_t> ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw std::runtime_error("cannot open " + path);
    }
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                               std::istreambuf_iterator<char>());
    if (in.bad()) {
        throw std::runtime_error("cannot read " + path);
    }
    return bytes;
}

bool HasImageExtension(const std::string& path) {
    const size_t dot = path.rfind('.');
    if (dot == std::string::npos) {
        return false;
    }
    std::string extension = path.substr(dot + 1);
    for (char& c : extension) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return extension == "jpg" || extension == "jpeg" || extension == "png";
}

// SECONDS:TITLE[:IMAGE]; the part after the last colon is the image when it names an image
// file, so a title may hold colons when it has no image.
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
    if (last != std::string::npos && HasImageExtension(rest.substr(last + 1))) {
        const std::string image = rest.substr(last + 1);
        rest = rest.substr(0, last);
        chapter.image = ReadWholeFile(image);
        if (chapter.image.empty()) {
            throw std::runtime_error("chapter image " + image + " is empty");
        }
    }
    chapter.title = rest;
    return chapter;
}

int Run(int argc, char** argv) {
    SvTools::TitleOptions options;
    std::vector<std::pair<std::string, std::string>> inputs;  // path, language
    std::string language;
    std::vector<std::string> chapterTexts;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        std::string value;
        bool hasValue = false;
        if (arg.size() > 2 && arg.compare(0, 2, "--") == 0) {
            const size_t equals = arg.find('=');
            if (equals != std::string::npos) {
                value = arg.substr(equals + 1);
                arg = arg.substr(0, equals);
                hasValue = true;
            }
        }
        auto takeValue = [&]() {
            if (hasValue) {
                return value;
            }
            if (i + 1 >= argc) {
                throw UsageError(arg + " needs a value");
            }
            return std::string(argv[++i]);
        };
        auto noValue = [&]() {
            if (hasValue) {
                throw UsageError(arg + " takes no value");
            }
        };
        if (arg == "-h" || arg == "--help") {
            std::cout << kUsage;
            return 0;
        } else if (arg == "--chapter") {
            chapterTexts.push_back(takeValue());
        } else if (arg == "--lang") {
            language = takeValue();
        } else if (arg == "--index-version") {
            const uint64_t version = ParseCount(arg, takeValue());
            if (version > 4) {
                throw UsageError("--index-version must be 0 to 4");
            }
            options.indexVersion = static_cast<uint32_t>(version);
        } else if (arg == "--split-index") {
            const uint64_t bytes = ParseCount(arg, takeValue());
            if (bytes == 0 || bytes > 65541) {
                throw UsageError("--split-index must be 1 to 65541 bytes");
            }
            options.indexPacketSize = static_cast<uint32_t>(bytes);
        } else if (arg == "--no-stream-map") {
            noValue();
            options.noStreamMap = true;
        } else if (arg == "--bad-magic") {
            noValue();
            options.badMagic = true;
        } else if (arg == "--truncate") {
            options.truncate = true;
            options.truncateSize = ParseCount(arg, takeValue());
        } else if (arg.size() > 1 && arg[0] == '-') {
            throw UsageError("unknown option " + arg);
        } else {
            inputs.push_back({arg, language});
        }
    }
    if (inputs.size() < 2) {
        throw UsageError(inputs.empty() ? "no input and no output given"
                                        : "no output given (the last name is the output)");
    }
    const std::string output = inputs.back().first;
    inputs.pop_back();

    for (const std::string& text : chapterTexts) {
        options.chapters.push_back(ParseChapter(text));
    }
    std::vector<SvTools::Rendition> renditions;
    for (const auto& input : inputs) {
        SvTools::Rendition rendition = SvTools::ReadRendition(input.first);
        rendition.language = input.second;
        for (const std::string& warning : rendition.warnings) {
            std::cerr << "mktitle: warning: " << input.first << ": " << warning << "\n";
        }
        renditions.push_back(std::move(rendition));
    }
    const std::vector<uint8_t> title = SvTools::BuildTitle(renditions, options);

    // Written beside the output and renamed, so that a failure leaves no half title.
    const std::string temporary = output + ".mktitle-" + std::to_string(getpid());
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(title.data()),
                  static_cast<std::streamsize>(title.size()));
        out.close();
        if (!out) {
            std::remove(temporary.c_str());
            throw std::runtime_error("cannot write " + output);
        }
    }
    if (std::rename(temporary.c_str(), output.c_str()) != 0) {
        std::remove(temporary.c_str());
        throw std::runtime_error("cannot write " + output);
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        return Run(argc, argv);
    } catch (const UsageError& error) {
        std::cerr << "mktitle: " << error.what() << "\n" << kUsage;
        return 2;
    } catch (const std::exception& error) {
        std::cerr << "mktitle: " << error.what() << "\n";
        return 1;
    }
}
