#include "portal/DemoData.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
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
// The same text under another name while the folder is being made: a run stopped half way
// leaves it, and the next run goes on from the whole files the stopped one made.
const char kMakingName[] = "/making";
const char kStoppedText[] = "stopped before they were all made";

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

// Whether stopFd (when there is one) has become readable: the making must end.
bool Stopping(int stopFd) {
    if (stopFd < 0) return false;
    pollfd watched = {stopFd, POLLIN, 0};
    return poll(&watched, 1, 0) > 0;
}

// Runs argv with "{out}" standing for a temporary name, then renames the result to path. A stop
// kills the program and removes what it had written.
bool Make(const std::string& path, std::vector<std::string> argv, int stopFd, std::string& error) {
    if (Exists(path)) return true;
    if (Stopping(stopFd)) {
        error = kStoppedText;
        return false;
    }
    const std::string temporary = SvTools::TemporaryName(path);
    std::string command;
    for (std::string& arg : argv) {
        const size_t at = arg.find("{out}");
        if (at != std::string::npos) arg.replace(at, 5, temporary);
        command += (command.empty() ? "" : " ") + arg;
    }
    std::string output;
    // Only the start of a chatty program's output is kept for the message.
    const int status = SvTools::RunProgram(argv, &output, 16384, stopFd);
    if (Stopping(stopFd)) {
        std::remove(temporary.c_str());
        error = kStoppedText;
        return false;
    }
    if (status != 0 || !Exists(temporary) || std::rename(temporary.c_str(), path.c_str()) != 0) {
        std::remove(temporary.c_str());
        error = "`" + command + "` exited with " + std::to_string(status) + ": " + output;
        return false;
    }
    return true;
}

// Removes what a run killed outright left half-written: "NAME.tmp.PID.N" beside the files.
// Called with the folder's lock held, when no other maker can be writing one.
void RemoveTemporaries(const std::string& folder) {
    for (const char* sub : {"/clips", "/media", "/thumbs", "/posters", "/subtitles", ""}) {
        const std::string path = folder + sub;
        DIR* dir = opendir(path.c_str());
        if (dir == nullptr) continue;
        std::vector<std::string> names;
        while (const dirent* entry = readdir(dir)) {
            const std::string name = entry->d_name;
            const size_t at = name.find(".tmp.");
            if (at != std::string::npos && at > 0 &&
                name.find_first_not_of("0123456789.", at + 5) == std::string::npos) {
                names.push_back(name);
            }
        }
        closedir(dir);
        for (const std::string& name : names) std::remove((path + "/" + name).c_str());
    }
}

// Why the folder must be made, or "" when it is whole and made by this recipe and title maker.
// resume tells that an earlier run of the same recipe and title maker stopped half way.
std::string WhyMake(const std::string& folder, const std::string& mktitle, bool& resume) {
    resume = false;
    struct stat tool;
    const bool haveTool = stat(mktitle.c_str(), &tool) == 0;
    // A title maker built after the data were made may write titles differently.
    auto newer = [&](const std::string& path) {
        struct stat made;
        return haveTool && stat(path.c_str(), &made) == 0 && tool.st_mtime > made.st_mtime;
    };
    const std::string stamp = folder + "/recipe";
    const std::string making = folder + kMakingName;
    const std::string stampText = ReadSmallFile(stamp);
    const std::string makingText = ReadSmallFile(making);
    std::string why;
    if (stampText == kRecipeStamp && !newer(stamp)) return "";
    if (!stampText.empty()) {
        why = stampText != kRecipeStamp ? "they were made by another recipe"
                                        : mktitle + " is newer than they are";
    } else if (!makingText.empty()) {
        why = "an earlier run stopped before they were all made";
        if (makingText != kRecipeStamp) {
            why += ", by another recipe";
        } else if (newer(making)) {
            why += ", and " + mktitle + " is newer than they are";
        } else {
            resume = true;
            return "finishing the demo data in " + folder + " (" + why + ")";
        }
    } else {
        return "making the demo data in " + folder + " (there are none yet)";
    }
    return "remaking the demo data in " + folder + " (" + why + ")";
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

bool DemoData::Ensure(const std::string& folder, const std::string& mktitle, std::string& error,
                      int stopFd, const std::function<void(const std::string&)>& announce) {
    bool resume = false;
    if (WhyMake(folder, mktitle, resume).empty()) return true;
    if (!MakeFolder(folder, error)) return false;
    for (const char* sub : {"/clips", "/media", "/thumbs", "/posters", "/subtitles"}) {
        if (!MakeFolder(folder + sub, error)) return false;
    }
    // One maker at a time; the others wait (and stay stoppable) and then find the files made.
    const std::string lockPath = folder + "/.lock";
    const int lock = open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (lock < 0) {
        error = "cannot open " + lockPath + ": " + strerror(errno);
        return false;
    }
    bool waiting = false;
    while (flock(lock, LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK && errno != EINTR) {
            error = "cannot lock " + lockPath + ": " + strerror(errno);
            close(lock);
            return false;
        }
        if (!waiting && announce) {
            announce("waiting for another program that is making the demo data in " + folder);
        }
        waiting = true;
        // flock tells no one when it is free: look again a few times a second.
        pollfd watched = {stopFd, POLLIN, 0};
        if (poll(&watched, stopFd >= 0 ? 1 : 0, 200) > 0) {
            error = kStoppedText;
            close(lock);
            return false;
        }
    }
    bool ok = true;
    const std::string stamp = folder + "/recipe";
    const std::string making = folder + kMakingName;
    const std::string why = WhyMake(folder, mktitle, resume);
    if (!why.empty()) {
        if (announce) announce(why);
        if (!resume) {
            // Made by another recipe or title maker: start again.
            std::remove(stamp.c_str());
            std::remove(making.c_str());
            for (const Clip& clip : Clips()) {
                std::remove((folder + "/clips/" + clip.name + ".ts").c_str());
                std::remove(TitlePath(folder, clip.name).c_str());
                std::remove(ThumbnailPath(folder, clip.name).c_str());
                std::remove(PosterPath(folder, clip.name).c_str());
            }
        }
        RemoveTemporaries(folder);
        ok = resume || WriteFileAtomically(making, kRecipeStamp, error);
        for (const Clip& clip : Clips()) {
            const std::string ts = folder + "/clips/" + clip.name + ".ts";
            SvTools::X264Recipe recipe("320x180", std::to_string(clip.seconds), "300k");
            recipe.pictures = clip.source;
            recipe.toneFrequency = clip.frequency;
            ok = ok && Make(ts, recipe.TransportStream("{out}"), stopFd, error) &&
                 Make(TitlePath(folder, clip.name), {mktitle, ts, "{out}"}, stopFd, error) &&
                 Make(ThumbnailPath(folder, clip.name),
                      {"ffmpeg", "-nostdin", "-v", "error", "-y", "-ss", "1", "-i", ts, "-frames:v",
                       "1", "-vf", "scale=200:112", "-c:v", "mjpeg", "-f", "mjpeg", "{out}"},
                      stopFd, error) &&
                 Make(PosterPath(folder, clip.name),
                      {"ffmpeg", "-nostdin", "-v", "error", "-y", "-ss", "2", "-i", ts, "-frames:v",
                       "1", "-c:v", "mjpeg", "-f", "mjpeg", "{out}"},
                      stopFd, error);
            for (const std::string& language : Languages()) {
                ok = ok && WriteFileAtomically(SubtitlePath(folder, clip.name, language),
                                               Subtitles(clip, language), error);
            }
        }
        ok = ok && WriteFileAtomically(stamp, kRecipeStamp, error);
        if (ok) std::remove(making.c_str());
    }
    flock(lock, LOCK_UN);
    close(lock);
    return ok;
}

}  // namespace ZulPortal
