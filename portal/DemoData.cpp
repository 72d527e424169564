#include "portal/DemoData.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "common/Program.h"
#include "common/X264Recipe.h"

namespace ZulPortal {

namespace {

// Written into the folder once everything is made; a changed recipe changes it, and the folder
// is made again.
const char kRecipeStamp[] = "zul-portal demo data, recipe 1\n";

bool Exists(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0;
}

bool MakeFolder(const std::string& path, std::string& error) {
    if (mkdir(path.c_str(), 0755) == 0 || errno == EEXIST) return true;
    error = "cannot make the folder " + path + ": " + strerror(errno);
    return false;
}

std::string ReadSmallFile(const std::string& path) {
    std::string text;
    FILE* file = std::fopen(path.c_str(), "rbe");
    if (file == nullptr) return text;
    char buffer[256];
    size_t n;
    while (text.size() < 4096 && (n = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
        text.append(buffer, n);
    }
    std::fclose(file);
    return text;
}

bool WriteFileAtomically(const std::string& path, const std::string& bytes, std::string& error) {
    if (SvTools::WriteFileAtomically(path, bytes)) return true;
    error = "cannot write " + path;
    return false;
}

// Runs argv with "{out}" standing for a temporary name, then renames the result to path.
bool Make(const std::string& path, std::vector<std::string> argv, std::string& error) {
    if (Exists(path)) return true;
    const std::string temporary = SvTools::TemporaryName(path);
    std::string command;
    for (std::string& arg : argv) {
        const size_t at = arg.find("{out}");
        if (at != std::string::npos) arg.replace(at, 5, temporary);
        command += (command.empty() ? "" : " ") + arg;
    }
    std::string output;
    // Only the start of a chatty program's output is kept for the message.
    const int status = SvTools::RunProgram(argv, &output, 16384);
    if (status != 0 || !Exists(temporary) || std::rename(temporary.c_str(), path.c_str()) != 0) {
        std::remove(temporary.c_str());
        error = "`" + command + "` exited with " + std::to_string(status) + ": " + output;
        return false;
    }
    return true;
}

std::string Clock(int seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d.000", seconds / 3600, seconds / 60 % 60,
                  seconds % 60);
    return text;
}

}  // namespace

const std::vector<DemoData::Clip>& DemoData::Clips() {
    static const std::vector<Clip> clips = {
        // Long enough for the cue at one minute and two seconds to show.
        {"pattern", "testsrc2", 65, 440},
        {"bars", "smptebars", 12, 1000},
        {"mandelbrot", "mandelbrot", 20, 330},
        {"rgb", "rgbtestsrc", 15, 550},
        {"life", "life=mold=10:ratio=0.1:seed=7", 10, 660},
        {"cells", "cellauto=rule=110:seed=3", 10, 770},
    };
    return clips;
}

const DemoData::Clip* DemoData::FindClip(const std::string& name) {
    for (const Clip& clip : Clips()) {
        if (clip.name == name) return &clip;
    }
    return nullptr;
}

const std::vector<std::string>& DemoData::Languages() {
    static const std::vector<std::string> languages = {"en", "pl"};
    return languages;
}

std::string DemoData::LanguageLabel(const std::string& language) {
    if (language == "en") return "English";
    if (language == "pl") return "Polski";
    return language;
}

// Each document tries one thing of a subtitle reader per cue: a line break, an italic span
// (written exactly as the player strips it), a hyphenated word, an XML comment, a time of the
// form "0:1:2.5" (62 s), a cue without text, and a cue after the clip's end.
std::string DemoData::Subtitles(const Clip& clip, const std::string& language) {
    const bool polish = language == "pl";
    const char* lines[] = {
        polish ? "Pierwsza linia<br/>druga linia" : "First line<br/>second line",
        polish ? "<span xml:space=\"preserve\" tts:fontStyle=\"italic\">Kursyw\xC4\x85</span> "
                 "i prosto"
               : "<span xml:space=\"preserve\" tts:fontStyle=\"italic\">In italics</span> and "
                 "upright",
        polish ? "Bia\xC5\x82o-czerwony sygna\xC5\x82" : "A well-known test signal",
        polish ? "Minuta i dwie sekundy" : "A minute and two seconds in",
        polish ? "Po ko\xC5\x84\x63u" : "After the end",
    };
    std::string ttml =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<tt xmlns=\"http://www.w3.org/ns/ttml\" xmlns:tts=\"http://www.w3.org/ns/ttml#styling\" "
        "xml:lang=\"" +
        language +
        "\">\n"
        "  <body>\n"
        "    <div>\n"
        "      <!-- " +
        clip.name + " subtitles (" + LanguageLabel(language) +
        ") -->\n"
        "      <p begin=\"00:00:01.000\" end=\"00:00:03.000\">" +
        lines[0] +
        "</p>\n"
        "      <p begin=\"00:00:04.000\" end=\"00:00:06.000\">" +
        lines[1] +
        "</p>\n"
        "      <p begin=\"00:00:07.000\" end=\"00:00:09.000\">" +
        lines[2] +
        "</p>\n"
        "      <p begin=\"00:00:10.000\" end=\"00:00:11.000\"></p>\n"
        "      <p begin=\"0:1:2.5\" end=\"0:1:4\">" +
        lines[3] +
        "</p>\n"
        "      <p begin=\"" +
        Clock(clip.seconds + 10) + "\" end=\"" + Clock(clip.seconds + 12) + "\">" + lines[4] +
        "</p>\n"
        "    </div>\n"
        "  </body>\n"
        "</tt>\n";
    return ttml;
}

std::string DemoData::TitlePath(const std::string& folder, const std::string& clip) {
    return folder + "/media/" + clip + ".svm";
}

std::string DemoData::ThumbnailPath(const std::string& folder, const std::string& clip) {
    return folder + "/thumbs/" + clip + ".jpg";
}

std::string DemoData::PosterPath(const std::string& folder, const std::string& clip) {
    return folder + "/posters/" + clip + ".jpg";
}

std::string DemoData::SubtitlePath(const std::string& folder, const std::string& clip,
                                   const std::string& language) {
    return folder + "/subtitles/" + clip + "." + language + ".ttml";
}

bool DemoData::Ensure(const std::string& folder, const std::string& mktitle, std::string& error) {
    const std::string stamp = folder + "/recipe";
    // A title maker built after the data were made may write titles differently.
    auto current = [&] {
        struct stat made;
        struct stat tool;
        if (ReadSmallFile(stamp) != kRecipeStamp || stat(stamp.c_str(), &made) != 0) return false;
        return stat(mktitle.c_str(), &tool) != 0 || tool.st_mtime <= made.st_mtime;
    };
    if (current()) return true;
    if (!MakeFolder(folder, error)) return false;
    for (const char* sub : {"/clips", "/media", "/thumbs", "/posters", "/subtitles"}) {
        if (!MakeFolder(folder + sub, error)) return false;
    }
    // One maker at a time; the others wait and then find the files made.
    const std::string lockPath = folder + "/.lock";
    const int lock = open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (lock < 0 || flock(lock, LOCK_EX) != 0) {
        error = "cannot lock " + lockPath + ": " + strerror(errno);
        if (lock >= 0) close(lock);
        return false;
    }
    bool ok = true;
    if (!current()) {
        // Made by another recipe or title maker (or half made): start again.
        std::remove(stamp.c_str());
        for (const Clip& clip : Clips()) {
            std::remove((folder + "/clips/" + clip.name + ".ts").c_str());
            std::remove(TitlePath(folder, clip.name).c_str());
            std::remove(ThumbnailPath(folder, clip.name).c_str());
            std::remove(PosterPath(folder, clip.name).c_str());
        }
        for (const Clip& clip : Clips()) {
            const std::string ts = folder + "/clips/" + clip.name + ".ts";
            SvTools::X264Recipe recipe("320x180", std::to_string(clip.seconds), "300k");
            recipe.pictures = clip.source;
            recipe.toneFrequency = clip.frequency;
            ok = ok && Make(ts, recipe.TransportStream("{out}"), error) &&
                 Make(TitlePath(folder, clip.name), {mktitle, ts, "{out}"}, error) &&
                 Make(ThumbnailPath(folder, clip.name),
                      {"ffmpeg", "-nostdin", "-v", "error", "-y", "-ss", "1", "-i", ts, "-frames:v",
                       "1", "-vf", "scale=200:112", "-c:v", "mjpeg", "-f", "mjpeg", "{out}"},
                      error) &&
                 Make(PosterPath(folder, clip.name),
                      {"ffmpeg", "-nostdin", "-v", "error", "-y", "-ss", "2", "-i", ts, "-frames:v",
                       "1", "-c:v", "mjpeg", "-f", "mjpeg", "{out}"},
                      error);
            for (const std::string& language : Languages()) {
                ok = ok && WriteFileAtomically(SubtitlePath(folder, clip.name, language),
                                               Subtitles(clip, language), error);
            }
        }
        ok = ok && WriteFileAtomically(stamp, kRecipeStamp, error);
    }
    flock(lock, LOCK_UN);
    close(lock);
    return ok;
}

}  // namespace ZulPortal
