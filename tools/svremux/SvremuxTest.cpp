// svremux run on fixture titles: outside tools must accept what it writes, and the pictures
// and audio must come out byte for byte as they went into the title.
#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <fstream>
#include <thread>
#include <iterator>
#include <optional>
#include <random>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "tests/support/ChildProcess.h"
#include "tests/support/DamagedTitle.h"
#include "tests/support/Fixtures.h"
#include "tests/support/TemporaryDirectory.h"
#include "common/TsReader.h"
#include "tests/support/TestLabels.h"
#include "tests/support/MediaFileTestSupport.h"
#include "tools/svremux/SvremuxTerminalRun.h"

namespace {

using SvTestSupport::ChildProcess;
using SvTestSupport::DirectoryEntries;
using SvTestSupport::PathKind;

using SvTestSupport::Fixtures;
using SvTestSupport::RunProgram;
using SvTestSupport::TemporaryDirectory;

std::vector<char> ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<char>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The permission bits of what the path names.
mode_t Mode(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 ? (info.st_mode & 07777) : 0;
}

// Starts svremux in the background with standard output and standard error going to the file
// report.
ChildProcess Start(const std::vector<std::string>& args, const std::string& report) {
    return ChildProcess(SV_SVREMUX_PATH, args, std::nullopt, report, report);
}

// How long a run that should end by itself is given before the test calls it hung.
constexpr std::chrono::seconds kRunEnds(60);

// Waits (a bounded while) until the process has the file open: its file descriptors name it.
bool WaitUntilOpen(pid_t pid, const std::string& path) {
    for (int attempt = 0; attempt < 2000; ++attempt) {
        for (int fd = 3; fd < 64; ++fd) {
            char target[4096];
            const std::string link = "/proc/" + std::to_string(pid) + "/fd/" + std::to_string(fd);
            const ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
            if (n > 0 && std::string(target, size_t(n)) == path) {
                return true;
            }
        }
        usleep(5000);
    }
    return false;
}

// True while the process waits in the opening of a FIFO for the other end.
bool WaitsForFifoPartner(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/wchan");
    std::string where;
    std::getline(in, where);
    return where == "wait_for_partner";
}

// A copy of the title with the bytes [from, to) of its length (fractions) overwritten.
std::vector<char> Damaged(std::vector<char> title, double from, double to, char fill) {
    std::fill(title.begin() + std::ptrdiff_t(title.size() * from),
              title.begin() + std::ptrdiff_t(title.size() * to), fill);
    return title;
}

// A copy of the title whose first pack header at or after the fraction at becomes the program
// end code (00 00 01 B9): the media stop there, whole up to that point.
std::vector<char> EndedAt(std::vector<char> title, double at) {
    for (size_t i = size_t(title.size() * at); i + 4 <= title.size(); ++i) {
        if (title[i] == 0 && title[i + 1] == 0 && title[i + 2] == 1 &&
            char(title[i + 3]) == char(0xBA)) {
            title[i + 3] = char(0xB9);
            return title;
        }
    }
    ADD_FAILURE() << "no pack header after " << at;
    return title;
}

class SvremuxTest : public ::testing::Test {
protected:
    int Remux(const std::string& title, std::string* report) {
        return RunProgram({SV_SVREMUX_PATH, title, "-o", out}, report);
    }
    std::string WriteFile(const std::string& name, const std::vector<char>& bytes) {
        const std::string path = dir.File(name);
        std::ofstream(path, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
        return path;
    }

    TemporaryDirectory dir{"svremux"};
    const std::string out = dir.File("out.ts");
};

SV_TEST_LABEL(SvremuxTest, ATitleBecomesATransportStreamThatToolsAcceptWithItsStreamsIntact,
              e2e);  // checked with outside clients
TEST_F(SvremuxTest, ATitleBecomesATransportStreamThatToolsAcceptWithItsStreamsIntact) {
    const struct {
        std::string title;
        std::string clip;
        std::string audio;  // ffmpeg's name of the audio bitstream format
    } cases[] = {{Fixtures::ShortTitle(), Fixtures::ShortClip(), "adts"},
                 // Of three renditions only the first is written.
                 {Fixtures::MultiRateTitle(), Fixtures::MultiRateClips()[0], "adts"},
                 {Fixtures::Eac3Title(), Fixtures::Eac3Clip(), "eac3"}};  // last: see below
    for (const auto& c : cases) {
        SCOPED_TRACE(c.title);
        std::string report;
        ASSERT_EQ(0, Remux(c.title, &report)) << report;
        EXPECT_EQ("", report);  // not a terminal: no progress line, nothing to say

        EXPECT_EQ(0, RunProgram({"tsinfo", out}, &report)) << report;
        EXPECT_EQ(0, RunProgram({"ffmpeg", "-nostdin", "-v", "warning", "-xerror", "-i", out,
                                 "-map", "0", "-c", "copy", "-f", "null", "-"},
                                &report))
            << report;
        EXPECT_EQ(0, RunProgram({"ffmpeg", "-nostdin", "-v", "error", "-xerror", "-i", out, "-map",
                                 "0", "-f", "null", "-"},
                                &report))
            << report;

        // PCRs present, none further apart than 0.1 s.
        ASSERT_EQ(0, RunProgram({"tsreport", "-b", out}, &report)) << report;
        std::smatch m;
        ASSERT_TRUE(std::regex_search(report, m,
                                      std::regex("PCRs found: ([0-9]+), Bad \\(>\\.1s\\) gaps: "
                                                 "([0-9]+)")))
            << report;
        EXPECT_GT(std::stoul(m[1]), 10u);
        EXPECT_EQ("0", m[2].str()) << report;

        SvTestSupport::ExpectStreamsOf(c.clip, out, c.audio, dir.File("copied"));
    }

    // The E-AC-3 title's audio (the last output) is told apart by its stream type.
    SvTools::TsReader got = SvTools::TsReader::ReadFile(out);
    const SvTools::TsStreamInfo* audio = got.FindStream(0x22);
    ASSERT_NE(nullptr, audio);
    EXPECT_EQ(0x87, audio->streamType);
    std::string probe;
    EXPECT_EQ(0, RunProgram({"ffprobe", "-v", "error", "-select_streams", "a:0", "-show_entries",
                             "stream=codec_name", "-of", "csv=p=0", out},
                            &probe));
    EXPECT_EQ(0u, probe.find("eac3\n")) << probe;  // also listed once more under its program
}

// Each failure is told with the chain's error, exits 1 and leaves no output behind.
TEST_F(SvremuxTest, FailuresAreToldAndLeaveNoOutput) {
    const std::vector<char> title = ReadAll(Fixtures::ShortTitle());
    ASSERT_FALSE(title.empty());
    std::vector<char> noise(200000);
    std::mt19937 random(7);
    for (char& c : noise) c = char(random());
    const std::string missing = dir.File("missing.svm");
    const struct {
        std::string input;
        std::string expected;
    } cases[] = {
        {missing, "svremux: cannot open " + missing + ": No such file or directory\n"},
        {WriteFile("truncated.svm",
                   std::vector<char>(title.begin(), title.begin() + title.size() * 8 / 10)),
         ": Media was truncated (1005)\n"},
        {WriteFile("noise.svm", noise), ": Invalid data format (1001)\n"},
        {WriteFile("empty.svm", {}), ": the file is empty\n"},
        // The parser's stop in words, its result number and the engine's status beside them.
        {Fixtures::MakeTitle("svremux-badmagic.svm",
                             {"--bad-magic", Fixtures::ShortClip(), "{out}"}),
         ": the parser stopped: bad index entry magic (4, status 1003)\n"},
        // The middle of the media zeroed or overwritten: the parser skips what it cannot read,
        // which ends the run (where exactly: ADamagedTitleFailsNamingWhereTheDamageStarts).
        {WriteFile("zeroed.svm", Damaged(title, 0.3, 0.9, 0)), ": Damaged data: "},
        {WriteFile("overwritten.svm", Damaged(title, 0.3, 0.9, char(0xA5))), ": Damaged data: "},
        // Audio alone (small PES packets, a large framing overhead in the output) that ends at
        // half its duration: the bytes written pass, the media times tell.
        {WriteFile("audio-ended.svm",
                   EndedAt(ReadAll(Fixtures::MakeTitle(
                               "audio.svm", {"--lang", "swe", Fixtures::AudioOnlyClip(), "{out}"})),
                           0.5)),
         "of the 4.032 s its index gives (the title is damaged)\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.input);
        std::string report;
        EXPECT_EQ(1, Remux(c.input, &report)) << report;
        EXPECT_NE(std::string::npos, report.find(c.expected)) << report;
        EXPECT_FALSE(SvTestSupport::PathExists(out));
    }

    // The title is never its own output.
    std::string report;
    const std::string copy = WriteFile("copy.svm", title);
    EXPECT_EQ(1, RunProgram({SV_SVREMUX_PATH, copy, "-o", copy}, &report));
    EXPECT_TRUE(ReadAll(copy) == title);
}

// A title in which the parser has to skip damaged data is not remuxed whole: exit 1 with the
// title and the byte where the damage starts, and the output the run made is gone. Where the
// parser must skip is worked out from the title's packet layout (DamagedTitle.h).
TEST_F(SvremuxTest, ADamagedTitleFailsNamingWhereTheDamageStarts) {
    const std::vector<char> title = ReadAll(Fixtures::ShortTitle());
    const std::vector<uint8_t> clean(title.begin(), title.end());
    std::mt19937 random(3);
    const SvTestSupport::DamagedTitle cases[] = {
        SvTestSupport::WithZeroedMiddle(clean),
        SvTestSupport::WithRandomPacketHeader(clean, random),
    };
    for (const SvTestSupport::DamagedTitle& c : cases) {
        ASSERT_NE(0u, c.count);
        const std::string input =
            WriteFile("damaged.svm", std::vector<char>(c.bytes.begin(), c.bytes.end()));
        std::string report;
        EXPECT_EQ(1, Remux(input, &report)) << report;
        EXPECT_EQ("svremux: " + input + ": Damaged data: " + std::to_string(c.count) +
                      " bytes skipped at byte " + std::to_string(c.position) + " (1003)\n",
                  report);
        EXPECT_FALSE(SvTestSupport::PathExists(out));
    }
}

// A group of pictures zeroed mid-file: the parser takes the zeros for stuffing before the next
// pack and says nothing, the run reaches the end and the index's duration, yet the pictures of
// that group never came. The long clip has a key frame every 50 pictures at 25 fps, so its
// title lists 10 key frames, at 0, 2, ..., 18 s; zeroing group 5 loses the one at 10 s. The
// group's bytes are found by walking the title's packets (DamagedTitle.h), not by the parser.
TEST_F(SvremuxTest, AGroupOfPicturesLostMidFileFailsTheRunNamingTheLoss) {
    const std::string title =
        Fixtures::MakeTitle("svremux-gop-loss.svm", {Fixtures::LongClip(), "{out}"});
    const std::vector<char> bytes = ReadAll(title);
    const std::vector<uint8_t> clean(bytes.begin(), bytes.end());
    ASSERT_EQ(10u, SvTestSupport::GroupOfPicturesStarts(clean).size());
    const SvTestSupport::DamagedTitle damaged = SvTestSupport::WithGroupOfPicturesZeroed(clean, 5);
    ASSERT_NE(0u, damaged.count);
    const std::string input =
        WriteFile("gop-lost.svm", std::vector<char>(damaged.bytes.begin(), damaged.bytes.end()));
    for (const bool ps : {false, true}) {
        SCOPED_TRACE(ps ? "--ps" : "transport stream");
        std::vector<std::string> argv = {SV_SVREMUX_PATH, input, "-o", out};
        if (ps) argv.push_back("--ps");
        std::string report;
        EXPECT_EQ(1, RunProgram(argv, &report)) << report;
        EXPECT_EQ("svremux: " + input +
                      ": groups of pictures are lost: 1 of the 10 key frames its index lists "
                      "never came, the first at 10.000 s (the title is damaged)\n",
                  report);
        EXPECT_FALSE(SvTestSupport::PathExists(out));
    }
    // The title as it was made goes through whole.
    std::string report;
    EXPECT_EQ(0, Remux(title, &report)) << report;
    EXPECT_EQ("", report);
}

// What the run did not make is never removed or replaced: devices and FIFOs are written as
// given, symlinks written through, and an existing file is replaced only by a whole stream.
TEST_F(SvremuxTest, OutputsTheRunDidNotMakeAreLeftInPlace) {
    const std::string title = Fixtures::ShortTitle();
    std::vector<char> noiseBytes(200000);
    std::mt19937 random(11);
    for (char& c : noiseBytes) c = char(random());
    const std::string noise = WriteFile("noise.svm", noiseBytes);
    const std::string missing = dir.File("missing.svm");
    std::string report;
    ASSERT_EQ(0, Remux(title, &report)) << report;
    const std::vector<char> whole = ReadAll(out);

    // Through a symlink to /dev/null, whether the run works or fails.
    const std::string null = dir.File("null.ts");
    ASSERT_EQ(0, symlink("/dev/null", null.c_str()));
    EXPECT_EQ(0, RunProgram({SV_SVREMUX_PATH, title, "-o", null}, &report)) << report;
    EXPECT_EQ(1, RunProgram({SV_SVREMUX_PATH, noise, "-o", null}, &report)) << report;
    EXPECT_EQ(S_IFLNK, PathKind(null));
    EXPECT_EQ(S_IFCHR, PathKind("/dev/null"));

    // /dev/full: the write error against the output's name, with the system's reason.
    const std::string full = dir.File("full.ts");
    ASSERT_EQ(0, symlink("/dev/full", full.c_str()));
    EXPECT_EQ(1, RunProgram({SV_SVREMUX_PATH, title, "-o", full}, &report));
    EXPECT_EQ(0u, report.find("svremux: cannot write " + full + ": No space left on device"))
        << report;
    EXPECT_EQ(S_IFLNK, PathKind(full));

    // An existing empty directory is refused before anything is done.
    const std::string empty = dir.File("empty");
    ASSERT_EQ(0, mkdir(empty.c_str(), 0755));
    EXPECT_EQ(1, RunProgram({SV_SVREMUX_PATH, title, "-o", empty}, &report));
    EXPECT_EQ("svremux: cannot write " + empty + ": Is a directory\n", report);
    EXPECT_EQ(S_IFDIR, PathKind(empty));

    // An existing file keeps what it holds when the title cannot be opened, and also when the
    // run fails after the stream began: the stream goes to a file beside it, which is removed.
    const std::vector<char> keep{'k', 'e', 'e', 'p'};
    const std::string existing = WriteFile("existing.ts", keep);
    ASSERT_EQ(0, chmod(existing.c_str(), 0640));
    const std::set<std::string> before = DirectoryEntries(dir.Path());
    EXPECT_EQ(1, RunProgram({SV_SVREMUX_PATH, missing, "-o", existing}, &report));
    EXPECT_TRUE(ReadAll(existing) == keep);
    EXPECT_EQ(1, RunProgram({SV_SVREMUX_PATH, noise, "-o", existing}, &report));
    EXPECT_EQ(S_IFREG, PathKind(existing));
    EXPECT_TRUE(ReadAll(existing) == keep);
    EXPECT_EQ(before, DirectoryEntries(dir.Path())) << "nothing left beside it";
    // Replaced by a run that works, with the permissions it had.
    EXPECT_EQ(0, RunProgram({SV_SVREMUX_PATH, title, "-o", existing}, &report)) << report;
    EXPECT_TRUE(ReadAll(existing) == whole);
    EXPECT_EQ(0640, Mode(existing));
    EXPECT_EQ(before, DirectoryEntries(dir.Path()));
    // Through a symlink to a file: the file is replaced, the link stays a link.
    const std::string linked = dir.File("linked.ts");
    ASSERT_EQ(0, symlink("existing.ts", linked.c_str()));
    WriteFile("existing.ts", keep);
    EXPECT_EQ(1, RunProgram({SV_SVREMUX_PATH, noise, "-o", linked}, &report));
    EXPECT_TRUE(ReadAll(existing) == keep);
    EXPECT_EQ(0, RunProgram({SV_SVREMUX_PATH, title, "-o", linked}, &report)) << report;
    EXPECT_EQ(S_IFLNK, PathKind(linked));
    EXPECT_TRUE(ReadAll(existing) == whole);

    // A read-only file is refused with the system's reason (root may write it anyway).
    if (geteuid() != 0) {
        const std::string readOnly = WriteFile("read-only.ts", keep);
        ASSERT_EQ(0, chmod(readOnly.c_str(), 0444));
        EXPECT_EQ(1, RunProgram({SV_SVREMUX_PATH, title, "-o", readOnly}, &report));
        EXPECT_EQ("svremux: cannot write " + readOnly + ": Permission denied\n", report);
        EXPECT_TRUE(ReadAll(readOnly) == keep);
    }

    // A FIFO: the stream goes through it as into a file, and it stays when the run fails.
    const std::string fifo = dir.File("out.fifo");
    ASSERT_EQ(0, mkfifo(fifo.c_str(), 0644));
    for (const std::string& input : {title, noise}) {
        std::vector<char> got;
        std::thread reader([&] { got = ReadAll(fifo); });
        const int status = RunProgram({SV_SVREMUX_PATH, input, "-o", fifo}, &report);
        // Should the run never have opened it, a writer of our own lets the reader go.
        const int release = open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
        if (release >= 0) {
            close(release);
        }
        reader.join();
        EXPECT_EQ(input == title ? 0 : 1, status) << report;
        if (input == title) {
            EXPECT_TRUE(got == whole);
        }
        EXPECT_EQ(S_IFIFO, PathKind(fifo));
    }

    // "-" is standard output, not a file of that name: the run works in the test's folder, so
    // that a stray "-" would land (and be found) there rather than wherever the tests run.
    const std::string piped = dir.File("piped.ts");
    EXPECT_EQ(0, RunProgram({"sh", "-c", "cd \"$3\" && exec \"$0\" \"$1\" -o - > \"$2\"",
                             SV_SVREMUX_PATH, title, piped, dir.File("")},
                            &report))
        << report;
    EXPECT_TRUE(ReadAll(piped) == whole);
    EXPECT_NE(0, access(dir.File("-").c_str(), F_OK)) << "a file named - was written";
}

// A title cut short on disk while it is read: the run stops at the file's new end and fails.
TEST_F(SvremuxTest, ATitleCutShortWhileReadFails) {
    const std::vector<char> title = ReadAll(Fixtures::ShortTitle());
    const std::string input = WriteFile("cut.svm", title);
    // The run opens the title, then waits on the FIFO for a reader: the file is cut meanwhile,
    // after the title's size was taken and before any media is read.
    const std::string fifo = dir.File("out.fifo");
    ASSERT_EQ(0, mkfifo(fifo.c_str(), 0644));
    const std::string report = dir.File("report.txt");
    ChildProcess run = Start({input, "-o", fifo}, report);
    ASSERT_TRUE(run.Running());
    // Waiting on the FIFO means the title has been opened for reading (a first check of the
    // title opens and closes it before that, and must not be taken for the reading).
    bool waiting = false;
    for (int attempt = 0; attempt < 2000 && !(waiting = WaitsForFifoPartner(run.Pid()));
         ++attempt) {
        usleep(5000);
    }
    ASSERT_TRUE(waiting);
    EXPECT_TRUE(WaitUntilOpen(run.Pid(), input));
    ASSERT_EQ(0, truncate(input.c_str(), off_t(title.size() / 2)));
    const std::vector<char> got = ReadAll(fifo);
    const std::optional<int> status = run.WaitForExit(kRunEnds);
    ASSERT_TRUE(status && WIFEXITED(*status));
    EXPECT_EQ(1, WEXITSTATUS(*status));
    const std::vector<char> text = ReadAll(report);
    const std::string message(text.begin(), text.end());
    EXPECT_NE(std::string::npos, message.find(": the media ended early: ")) << message;
    EXPECT_NE(std::string::npos, message.find("(the file was cut short)\n")) << message;
    EXPECT_LT(got.size(), ReadAll(Fixtures::ShortTitle()).size());
}

// SIGTERM or SIGINT: the run ends as the signal asks, and removes the output it made, but not a
// file that was there before.
TEST_F(SvremuxTest, AnInterruptedRunRemovesItsOutput) {
    // An origin that takes the connection and never answers holds the run at the title's first
    // bytes, with the output already made.
    const int origin = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(origin, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    ASSERT_EQ(0, bind(origin, reinterpret_cast<sockaddr*>(&address), size));
    ASSERT_EQ(0, listen(origin, 16));
    ASSERT_EQ(0, getsockname(origin, reinterpret_cast<sockaddr*>(&address), &size));
    const std::string input =
        "http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/in.svm";
    const std::vector<char> keep{'k', 'e', 'e', 'p'};
    std::vector<int> taken;
    for (const int signal : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(signal);
        const bool existed = signal == SIGINT;
        if (existed) {
            WriteFile("out.ts", keep);
        }
        ChildProcess run = Start({input, "-o", out}, dir.File("report.txt"));
        ASSERT_TRUE(run.Running());
        // Wait until the run has asked the origin for the title.
        pollfd asked = {origin, POLLIN, 0};
        ASSERT_EQ(1, poll(&asked, 1, 20000));
        taken.push_back(accept4(origin, nullptr, nullptr, SOCK_CLOEXEC));
        EXPECT_TRUE(SvTestSupport::PathExists(out));
        if (existed) {
            // The old file, and the new stream's file beside it.
            EXPECT_EQ(3u, DirectoryEntries(dir.Path()).size());
        }
        ASSERT_EQ(0, kill(run.Pid(), signal));
        const std::optional<int> status = run.WaitForExit(kRunEnds);
        ASSERT_TRUE(status) << "the run did not end";
        ASSERT_TRUE(WIFSIGNALED(*status)) << *status;
        EXPECT_EQ(signal, WTERMSIG(*status));
        if (existed) {
            EXPECT_TRUE(ReadAll(out) == keep);
            EXPECT_EQ(std::set<std::string>({"out.ts", "report.txt"}),
                      DirectoryEntries(dir.Path()));
            std::remove(out.c_str());
        } else {
            EXPECT_FALSE(SvTestSupport::PathExists(out));
            EXPECT_EQ(std::set<std::string>({"report.txt"}), DirectoryEntries(dir.Path()));
        }
    }
    for (int fd : taken) close(fd);
    close(origin);
}

// True while one of the process's threads sleeps in a kernel function whose name holds `where`
// ("pipe_write": blocked writing into a full pipe or FIFO; "wait_for_partner": opening a FIFO
// that has no reader yet).
bool AThreadWaitsIn(pid_t pid, const std::string& where) {
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    for (const std::string& task : DirectoryEntries(tasks)) {
        std::ifstream in(tasks + "/" + task + "/wchan");
        std::string function;
        std::getline(in, function);
        if (function.find(where) != std::string::npos) {
            return true;
        }
    }
    return false;
}

// Waits up to 10 s until the process has a thread waiting in `where`.
bool ComesToWaitIn(pid_t pid, const std::string& where) {
    for (int attempt = 0; attempt < 2000; ++attempt) {
        if (AThreadWaitsIn(pid, where)) return true;
        usleep(5000);
    }
    return false;
}

// A supervisor's single SIGTERM (or a SIGINT) stops a run whose output is a FIFO that a reader
// holds open but never reads, with the run's thread blocked in the write.
TEST_F(SvremuxTest, AStopSignalEndsARunBlockedOnAReaderThatDoesNotRead) {
    const std::string title = Fixtures::ShortTitle();
    const std::string fifo = dir.File("out.fifo");
    ASSERT_EQ(0, mkfifo(fifo.c_str(), 0644));
    const int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    ASSERT_GT(ReadAll(title).size(), size_t(fcntl(reader, F_GETPIPE_SZ)) * 2);
    for (const int signal : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(signal);
        {
            ChildProcess run = Start({title, "-o", fifo}, dir.File("report.txt"));
            ASSERT_TRUE(run.Running());
            EXPECT_TRUE(ComesToWaitIn(run.Pid(), "pipe_write"));  // "anon_pipe_write" lately
            ASSERT_EQ(0, kill(run.Pid(), signal));
            const std::optional<int> status = run.WaitForExit(std::chrono::seconds(10));
            EXPECT_TRUE(status) << "the run did not end on one signal";
            EXPECT_TRUE(status && WIFSIGNALED(*status) && WTERMSIG(*status) == signal)
                << status.value_or(-1);
        }  // a run that did not end is killed here, so that the test can go on
        EXPECT_EQ(S_IFIFO, PathKind(fifo));  // not the run's to remove
        // Empty the pipe for the next run.
        char buffer[65536];
        while (read(reader, buffer, sizeof buffer) > 0) {
        }
    }
    close(reader);
}

// A run whose output is a FIFO that no reader has opened yet waits in the open: one stop signal
// ends it there too, and the FIFO is left in place.
TEST_F(SvremuxTest, AStopSignalEndsARunWaitingForItsOutputsReader) {
    const std::string title = Fixtures::ShortTitle();
    const std::string fifo = dir.File("unread.fifo");
    ASSERT_EQ(0, mkfifo(fifo.c_str(), 0644));
    ChildProcess run = Start({title, "-o", fifo}, dir.File("report.txt"));
    ASSERT_TRUE(run.Running());
    EXPECT_TRUE(ComesToWaitIn(run.Pid(), "wait_for_partner"));
    ASSERT_EQ(0, kill(run.Pid(), SIGTERM));
    const std::optional<int> status = run.WaitForExit(std::chrono::seconds(10));
    EXPECT_TRUE(status) << "the run did not end on one signal";
    EXPECT_TRUE(status && WIFSIGNALED(*status) && WTERMSIG(*status) == SIGTERM)
        << status.value_or(-1);
    EXPECT_EQ(S_IFIFO, PathKind(fifo));
}

// On a terminal the progress line counts to the end of the rendition written, not of the file:
// a whole run ends at 100 %.
TEST_F(SvremuxTest, TheProgressLineOfAWholeRunEndsAt100PerCent) {
    using SvremuxTestSupport::TerminalRun;
    for (const std::string& title : {Fixtures::ShortTitle(), Fixtures::MultiRateTitle()}) {
        SCOPED_TRACE(title);
        TerminalRun run({title, "-o", out});
        ASSERT_TRUE(run.Started());
        const std::optional<int> status = run.Finish(kRunEnds);
        ASSERT_TRUE(status && WIFEXITED(*status)) << run.Text();
        EXPECT_EQ(0, WEXITSTATUS(*status)) << run.Text();
        EXPECT_EQ(0u, TerminalRun::LastState(run.Text()).find("svremux: 100%")) << run.Text();
    }
}

TEST_F(SvremuxTest, UsageErrorsExitWith2) {
    const std::vector<std::vector<std::string>> cases = {
        {SV_SVREMUX_PATH},
        {SV_SVREMUX_PATH, "a.svm"},
        {SV_SVREMUX_PATH, "a.svm", "-o"},
        {SV_SVREMUX_PATH, "a.svm", "b.svm", "-o", "x.ts"},
        {SV_SVREMUX_PATH, "--bogus", "a.svm", "-o", "x.ts"},
    };
    for (const auto& argv : cases) {
        std::string report;
        EXPECT_EQ(2, RunProgram(argv, &report)) << argv.size();
        EXPECT_NE(std::string::npos, report.find("usage: svremux")) << report;
    }
}

}  // namespace
