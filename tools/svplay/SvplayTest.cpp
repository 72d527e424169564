// svplay run as a person runs it: on the two-minute fixture title, on a loopback port of its
// own, with ffmpeg, ffprobe and curl as the players, and stopped with a signal.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <memory>
#include <vector>

#include "tests/support/DamagedTitle.h"
#include "tests/support/Fixtures.h"
#include "tests/support/TemporaryDirectory.h"
#include "tests/support/UnusedPort.h"
#include "tests/support/TestLabels.h"
#include "tools/svplay/SvplayTestSupport.h"
#include "tools/titledump/TitleDump.h"

namespace {

using namespace SvplayTestSupport;

class SvplayTest : public ::testing::Test {
protected:
    // svplay serving the title on a free port, from its playback URL to the playlist a player
    // gets first.
    void StartServing(const std::string& title, std::string& playlist) {
        svplay_ = std::make_unique<Svplay>(
            std::vector<std::string>{title, "--port", std::to_string(FreePort())},
            dir.File("stderr"));
        ASSERT_NO_FATAL_FAILURE(ReadPlaybackUrl(*svplay_, url_));
        ASSERT_EQ("200", HttpCode(url_, &playlist));
    }

    TemporaryDirectory dir{"svplay"};
    std::unique_ptr<Svplay> svplay_;
    std::string url_;
};

SV_SUITE_LABEL(SvplayTest, e2e);  // checked with outside clients
// Damaged data the engine skips are said on standard error, with the title and where they
// start, and the playback goes on: a player still gets what is left.
TEST_F(SvplayTest, DamagedDataAreToldOnStandardErrorAndServingGoesOn) {
    const std::string clean = ReadFile(Fixtures::HlsTitle());
    const SvTestSupport::DamagedTitle damaged =
        SvTestSupport::WithZeroedMiddle(std::vector<uint8_t>(clean.begin(), clean.end()));
    ASSERT_NE(0u, damaged.count);
    const std::string title = dir.File("damaged.svm");
    std::ofstream(title, std::ios::binary)
        .write(reinterpret_cast<const char*>(damaged.bytes.data()),
               std::streamsize(damaged.bytes.size()));
    std::string playlist;
    ASSERT_NO_FATAL_FAILURE(StartServing(title, playlist));
    Svplay& svplay = *svplay_;
    std::vector<std::string> segments;
    std::istringstream lines(playlist);
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty() && line[0] != '#') segments.push_back(line);
    }
    ASSERT_GE(segments.size(), 3u) << playlist;
    // The segments in order until the engine has read past the damage. (The segment that
    // lacks the damaged pictures may never complete: each request gives up after 5 s.)
    const std::string base = url_.substr(0, url_.rfind('/') + 1);
    const std::string line = title + ": Damaged data: " + std::to_string(damaged.count) +
                             " bytes skipped at byte " + std::to_string(damaged.position) +
                             " (1003)\n";
    for (size_t i = 0; i + 1 < segments.size(); ++i) {
        if (svplay.Errors().find(line) != std::string::npos) break;
        RunProgram({"curl", "-sS", "-m", "5", "-o", "/dev/null", base + segments[i]});
    }
    EXPECT_NE(std::string::npos, svplay.Errors().find(line)) << svplay.Errors();
    EXPECT_EQ(std::string::npos, svplay.Output().find("Damaged")) << svplay.Output();
    // Still serving: the last segment, and the playback did not stop on an error.
    std::string last;
    EXPECT_EQ("200", HttpCode(base + segments.back(), &last));
    EXPECT_FALSE(last.empty());
    svplay.Signal(SIGINT);
    EXPECT_EQ(0, svplay.Wait(kStop)) << svplay.Errors();
}

// A title cut short while it is served is not damage to skip: the media its index gives will
// never come. The engine says so as its error, svplay exits 1 with it, and the player is not
// handed the rest of the title as empty segments.
TEST_F(SvplayTest, ATitleCutShortWhileServedEndsThePlaybackWithTheTruncation) {
    const std::string title = dir.File("shrinking.svm");
    const std::string whole = ReadFile(Fixtures::HlsTitle());
    ASSERT_GT(whole.size(), 4u << 20);
    std::ofstream(title, std::ios::binary) << whole;
    // Playing: the player has its list. Then the file loses its last three quarters.
    std::string playlist;
    ASSERT_NO_FATAL_FAILURE(StartServing(title, playlist));
    Svplay& svplay = *svplay_;
    ASSERT_NE(std::string::npos, playlist.find("#EXT-X-ENDLIST")) << playlist;
    ASSERT_EQ(0, truncate(title.c_str(), off_t(whole.size() / 4)));

    std::string read;
    RunProgram({"ffmpeg", "-nostdin", "-v", "quiet", "-rw_timeout", "20000000", "-i", url_, "-map",
                "0:v", "-f", "framemd5", "-"},
               &read);
    EXPECT_EQ(1, svplay.Wait(kStop)) << svplay.Errors();
    EXPECT_NE(std::string::npos, svplay.Errors().find(title + ": the playback stopped on an error: "
                                                              "Media was truncated (1005)"))
        << svplay.Errors();
    // The application hears it the same way: the error event, with the engine's status.
    const std::string& lines = svplay.Output();
    const size_t stopping = lines.find("\nevent SViOsApiEvent_StoppingOnError {");
    ASSERT_NE(std::string::npos, stopping) << lines;
    EXPECT_NE(std::string::npos,
              lines.substr(stopping, lines.find('\n', stopping + 1) - stopping).find("1005"))
        << lines;
    // What the player got is a part of the title, not the whole of it padded out.
    EXPECT_LT(VideoHashes(read).size(), Fixtures::kHlsClipFrames) << read;
}

TEST_F(SvplayTest, ServesTheWholeTitleToFfmpegAndSeeksToTheMiddle) {
    const std::string title = Fixtures::HlsTitle();
    const uint16_t port = FreePort();
    ASSERT_NE(0, port);
    Svplay svplay({title, "--port", std::to_string(port)}, dir.File("stderr"));
    std::string url;
    ASSERT_NO_FATAL_FAILURE(ReadPlaybackUrl(svplay, url));
    // The first line is the URL alone: the title's name with the playlist extension, on the
    // port asked for.
    const std::string base = "http://localhost:" + std::to_string(port) + "/";
    ASSERT_EQ(base + BaseName(title) + ".m3u8", url) << svplay.Errors();

    std::string out;
    ASSERT_EQ(0, RunProgram({"ffprobe", "-v", "error", "-show_entries", "format=duration", "-of",
                             "csv=p=0", url},
                            &out))
        << out;
    EXPECT_NEAR(double(Fixtures::kHlsClipSeconds), std::atof(out.c_str()), 0.5) << out;

    // The whole playlist read and decoded, stopping at the first error: every picture, and
    // the audio frames ffmpeg decodes from the clip the title was made from.
    ASSERT_NO_FATAL_FAILURE(ExpectEveryFrameOfTheHlsClip(url));

    // A cold seek to 60 s: the pictures start where the clip's do at 60 s.
    std::string seeked, original;
    ASSERT_EQ(0, RunProgram({"ffmpeg", "-nostdin", "-v", "error", "-ss", "60", "-i", url, "-map",
                             "0:v", "-frames:v", "3", "-f", "framemd5", "-"},
                            &seeked))
        << seeked;
    ASSERT_EQ(0, RunProgram({"ffmpeg", "-nostdin", "-v", "error", "-i", Fixtures::HlsClip(), "-map",
                             "0:v", "-f", "framemd5", "-"},
                            &original));
    const std::vector<std::string> seekHashes = VideoHashes(seeked);
    const std::vector<std::string> allHashes = VideoHashes(original);
    ASSERT_EQ(3u, seekHashes.size()) << seeked;
    ASSERT_EQ(Fixtures::kHlsClipFrames, allHashes.size());
    const size_t at60 = 60 * 25;
    EXPECT_EQ(allHashes[at60], seekHashes[0]);
    EXPECT_EQ(allHashes[at60 + 1], seekHashes[1]);
    EXPECT_EQ(allHashes[at60 + 2], seekHashes[2]);

    // Names the engine does not serve.
    for (const std::string& junk : {std::string("junk.ts"), std::string("nothing.m3u8"),
                                    BaseName(title) + "_99999.ts", std::string("../etc/passwd")}) {
        EXPECT_EQ("404", HttpCode(base + junk)) << junk;
    }

    svplay.Signal(SIGTERM);
    EXPECT_EQ(0, svplay.Wait(kStop)) << svplay.Errors();
    // The events came one a line, from the start to the end, each after the URL.
    const std::string& lines = svplay.Output();
    const size_t initialized = lines.find("\nevent SViOsApiEvent_Initialized {");
    const size_t playing = lines.find("\nevent SViOsApiEvent_Playing {SVAssetPathKey=" + title);
    const size_t terminated = lines.find("\nevent SViOsApiEvent_Terminated {}\n");
    EXPECT_NE(std::string::npos, initialized) << lines;
    EXPECT_NE(std::string::npos, playing) << lines;
    EXPECT_NE(std::string::npos, terminated) << lines;
    EXPECT_LT(initialized, playing);
    EXPECT_LT(playing, terminated);
    EXPECT_EQ(std::string::npos, lines.find("StoppingOnError")) << lines;
    // Nothing listens any more.
    EXPECT_TRUE(BoundSocket(port, true).Bound());
}

TEST_F(SvplayTest, AFileUrlIsPlayedFromItsPathAndSigtermFreesThePort) {
    // A file:// URL with an escaped letter in it: %41 is "A".
    const std::string link = dir.File("clipA.svm");
    ASSERT_EQ(0, symlink(Fixtures::HlsTitle().c_str(), link.c_str()));
    const uint16_t port = FreePort();
    Svplay svplay({"--port=" + std::to_string(port), "file://" + dir.File("clip%41.svm")},
                  dir.File("stderr"));
    std::string url;
    ASSERT_NO_FATAL_FAILURE(ReadPlaybackUrl(svplay, url));
    ASSERT_EQ("http://localhost:" + std::to_string(port) + "/clipA.m3u8", url);
    std::string body;
    EXPECT_EQ("200", HttpCode(url, &body));
    EXPECT_EQ(0u, body.find("#EXTM3U\n")) << body;
    // Without --pda the engine adapts by itself: the playlist lists the segments directly.
    EXPECT_EQ(std::string::npos, body.find("#EXT-X-STREAM-INF")) << body;
    EXPECT_NE(std::string::npos, body.find("#EXTINF:")) << body;
    svplay.Signal(SIGINT);
    EXPECT_EQ(0, svplay.Wait(kStop)) << svplay.Errors();
    EXPECT_NE(std::string::npos, svplay.Output().find("\nevent SViOsApiEvent_Terminated {}\n"))
        << svplay.Output();
    // The port is free for the next run at once.
    Svplay again({"--port=" + std::to_string(port), link}, dir.File("stderr2"));
    std::string second;
    ASSERT_TRUE(again.ReadLine(second, kStart)) << again.Errors();
    EXPECT_EQ(url, second);
    EXPECT_EQ("200", HttpCode(url));
    again.Signal(SIGTERM);
    EXPECT_EQ(0, again.Wait(kStop)) << again.Errors();
    EXPECT_EQ(std::string::npos, again.Output().find("StoppingOnError")) << again.Output();
}

TEST_F(SvplayTest, PlayerDrivenAdaptationHandsTheRenditionsToThePlayer) {
    const uint16_t port = FreePort();
    Svplay svplay({"--pda", Fixtures::HlsTitle(), "--port", std::to_string(port)},
                  dir.File("stderr"));
    std::string url;
    ASSERT_NO_FATAL_FAILURE(ReadPlaybackUrl(svplay, url));
    std::string body;
    ASSERT_EQ("200", HttpCode(url, &body));
    // A variant playlist: the player picks a rendition and reads that one's playlist.
    EXPECT_EQ(0u, body.find("#EXTM3U\n")) << body;
    const size_t variant = body.find("#EXT-X-STREAM-INF:");
    ASSERT_NE(std::string::npos, variant) << body;
    const size_t line = body.find('\n', variant) + 1;
    const std::string rendition = body.substr(line, body.find('\n', line) - line);
    ASSERT_FALSE(rendition.empty()) << body;
    std::string media;
    EXPECT_EQ("200", HttpCode(url.substr(0, url.rfind('/') + 1) + rendition, &media));
    EXPECT_NE(std::string::npos, media.find("#EXTINF:")) << media;
    svplay.Signal(SIGTERM);
    EXPECT_EQ(0, svplay.Wait(kStop)) << svplay.Errors();
}

// The bit rate each track's index declares (bits per second), by track number, as titledump
// reads the title: an outside reading of the index, not the segmenter's.
std::map<int, uint64_t> DeclaredBitRates(const std::string& title) {
    std::string dump;
    EXPECT_EQ(0, RunProgram({SV_TITLEDUMP_PATH, title}, &dump)) << dump;
    std::map<int, uint64_t> rates;
    std::istringstream lines(dump);
    std::string line;
    int track = 0;
    while (std::getline(lines, line)) {
        if (line.compare(0, 6, "track ") == 0) track = std::atoi(line.c_str() + 6);
        const std::string key = "  TrackInfoKey_BitRate = ";
        if (track > 0 && line.compare(0, key.size(), key) == 0) {
            rates[track] = std::strtoull(line.c_str() + key.size(), nullptr, 10);
        }
    }
    return rates;
}

// The hash of the first picture decoded from `seconds` into a file on, as ffmpeg's framemd5
// gives it; empty when there is none.
std::string PictureHash(const std::string& path, int seconds, const std::string& listingPath) {
    std::string messages;
    EXPECT_EQ(
        0, RunProgram({"ffmpeg", "-nostdin", "-v", "error", "-y", "-ss", std::to_string(seconds),
                       "-i", path, "-map", "0:v", "-frames:v", "1", "-f", "framemd5", listingPath},
                      &messages))
        << messages;
    const std::vector<std::string> hashes = VideoHashes(ReadFile(listingPath));
    return hashes.empty() ? std::string() : hashes.front();
}

// ffprobe's reading of the first video stream of a file: its width and whether its first
// packet is a key frame. (ffprobe reads a file here: its messages about a served stream share
// the output with the values.)
void ProbeVideo(const std::string& path, int& width, bool& startsWithKeyFrame) {
    std::string out;
    ASSERT_EQ(0, RunProgram({"ffprobe", "-v", "error", "-select_streams", "v:0", "-show_entries",
                             "stream=width", "-of", "csv=p=0", path},
                            &out))
        << out;
    width = std::atoi(out.c_str());
    ASSERT_EQ(0, RunProgram({"ffprobe", "-v", "error", "-select_streams", "v:0", "-show_entries",
                             "packet=flags", "-of", "csv=p=0", path},
                            &out))
        << out;
    startsWithKeyFrame = !out.empty() && out[0] == 'K';
}

SV_TEST_LABEL(SvplayTest, PlayerDrivenAdaptationListsEachRenditionAndServesItsSegmentsByName,
              slow);  // over 10 s
TEST_F(SvplayTest, PlayerDrivenAdaptationListsEachRenditionAndServesItsSegmentsByName) {
    const std::string title = Fixtures::AdaptiveTitle();
    const std::map<int, uint64_t> rates = DeclaredBitRates(title);
    ASSERT_EQ(3u, rates.size());
    // Each rendition declares about what its clip was made at: 400, 1200 and 2500 kbit/s of
    // pictures and 64 kbit/s of sound (the parse found the right numbers).
    EXPECT_NEAR(464000.0, double(rates.at(1)), 464000.0 * 0.2);
    EXPECT_NEAR(1264000.0, double(rates.at(2)), 1264000.0 * 0.2);
    EXPECT_NEAR(2564000.0, double(rates.at(3)), 2564000.0 * 0.2);

    const uint16_t port = FreePort();
    Svplay svplay({"--pda", title, "--port", std::to_string(port)}, dir.File("stderr"));
    std::string url;
    ASSERT_NO_FATAL_FAILURE(ReadPlaybackUrl(svplay, url));
    const std::string base = url.substr(0, url.rfind('/') + 1);
    std::string master;
    ASSERT_EQ("200", HttpCode(url, &master));
    // One variant per rendition, lowest track first; the bandwidth is the track's rate in
    // whole bytes per second, times 8.
    std::string expected = "#EXTM3U\n";
    for (const auto& rate : rates) {
        expected +=
            "#EXT-X-STREAM-INF:PROGRAM-ID=1, BANDWIDTH=" + std::to_string(rate.second / 8 * 8) +
            "\n" + std::to_string(rate.first) + ".m3u8\n";
    }
    EXPECT_EQ(expected, master);

    // A segment of the top rendition asked for first, then one of the lowest: each is the
    // rendition its name says, from a key frame on, and starts with the picture of its clip
    // where its group begins (groups of 2 s: segment 5 at 10 s).
    const std::vector<std::string> clips = Fixtures::AdaptiveClips();
    const struct {
        std::string name;
        int width;
        std::string clip;
        int seconds;
    } segments[] = {{"3-5.ts", 1920, clips[2], 10}, {"1-6.ts", 640, clips[0], 12}};
    for (const auto& segment : segments) {
        SCOPED_TRACE(segment.name);
        std::string bytes;
        ASSERT_EQ("200", HttpCode(base + segment.name, &bytes));
        const std::string file = dir.File(segment.name);
        std::ofstream(file, std::ios::binary) << bytes;
        int width = 0;
        bool key = false;
        ASSERT_NO_FATAL_FAILURE(ProbeVideo(file, width, key));
        EXPECT_EQ(segment.width, width);
        EXPECT_TRUE(key);
        const std::string first = PictureHash(file, 0, file + ".md5");
        ASSERT_FALSE(first.empty());
        EXPECT_EQ(PictureHash(segment.clip, segment.seconds, file + ".clip.md5"), first);
    }

    // Every variant read through to its end, stopping at the first error: every picture of the
    // 40 s at 25 fps.
    for (const auto& rate : rates) {
        const std::string variant = base + std::to_string(rate.first) + ".m3u8";
        SCOPED_TRACE(variant);
        // The listing goes to a file: ffmpeg's notes on the stream go with its messages.
        const std::string crc = dir.File("variant" + std::to_string(rate.first) + ".crc");
        std::string messages;
        ASSERT_EQ(0, RunProgram({"ffmpeg", "-nostdin", "-v", "error", "-xerror", "-i", variant,
                                 "-map", "0:v", "-f", "framecrc", crc},
                                &messages))
            << messages.substr(0, 2000);
        const std::string listing = ReadFile(crc);
        const std::map<int, size_t> frames = FramesPerStream(listing);
        ASSERT_EQ(1u, frames.size()) << listing.substr(0, 2000);
        EXPECT_EQ(Fixtures::kAdaptiveClipSeconds * 25, frames.at(0));
        // The rendition's own pictures all the way (track 1 640x360, 2 1280x720, 3 1920x1080).
        const char* const sizes[] = {"", "640x360", "1280x720", "1920x1080"};
        EXPECT_NE(std::string::npos,
                  listing.find(std::string("#dimensions 0: ") + sizes[rate.first] + "\n"))
            << listing.substr(0, 300);
    }
    svplay.Signal(SIGTERM);
    EXPECT_EQ(0, svplay.Wait(kStop)) << svplay.Errors();
    EXPECT_EQ(std::string::npos, svplay.Output().find("StoppingOnError")) << svplay.Output();
}

// Opens connections to a listening port until its owner's queue is full (the last ones wait
// for a room that never comes); they stay open while the object lives.
class FullQueue {
public:
    explicit FullQueue(uint16_t port) {
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        for (int i = 0; i < 16; ++i) {
            const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
            if (fd < 0) break;
            fds_.push_back(fd);
            connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
        }
    }
    ~FullQueue() {
        for (int fd : fds_) close(fd);
    }

private:
    std::vector<int> fds_;
};

// The port is held by another program: one that queues connections (and never serves them),
// and one whose queue is full. Either answers a connection, but the URL would lead the player
// to that program: svplay hands out none, says why and fails.
TEST_F(SvplayTest, APortHeldByAnotherProgramLeavesStandardOutputEmptyAndFails) {
    for (const bool full : {false, true}) {
        SCOPED_TRACE(full ? "queue full" : "queue open");
        BoundSocket taken(0, true);
        ASSERT_TRUE(taken.Bound());
        std::unique_ptr<FullQueue> queue(full ? new FullQueue(taken.Port()) : nullptr);
        Svplay svplay({Fixtures::HlsTitle(), "--port", std::to_string(taken.Port())},
                      dir.File("stderr"));
        // svplay ends by itself: nobody can be served.
        EXPECT_EQ(1, svplay.Wait(kStart + kStop)) << svplay.Output() << svplay.Errors();
        EXPECT_EQ("", svplay.Output());
        // Standard error says why, with the status and the port, and carries the events.
        const std::string errors = svplay.Errors();
        EXPECT_NE(std::string::npos, errors.find("svplay: cannot play " + Fixtures::HlsTitle()))
            << errors;
        EXPECT_NE(std::string::npos, errors.find("127.0.0.1:" + std::to_string(taken.Port())))
            << errors;
        EXPECT_NE(std::string::npos, errors.find("(1031)")) << errors;
        const size_t error = errors.find("event SViOsApiEvent_StoppingOnError {");
        ASSERT_NE(std::string::npos, error) << errors;
        const std::string event = errors.substr(error, errors.find('\n', error) - error);
        EXPECT_NE(std::string::npos, event.find("SVErrorKey=1031")) << event;
    }
}

TEST_F(SvplayTest, TitlesThatCannotBePlayedFailWithTheReason) {
    const std::string notes = dir.File("notes.txt");
    std::ofstream(notes) << "not a title\n";
    // Files the engine does not play: ffmpeg's MPEG-TS of a clip, and the same as MP4.
    const std::string ts = Fixtures::ShortClip();
    const std::string mp4 = dir.File("clip.mp4");
    std::string made;
    ASSERT_EQ(0,
              RunProgram({"ffmpeg", "-nostdin", "-v", "error", "-i", ts, "-c", "copy", mp4}, &made))
        << made;
    const std::string hint = "mktitle";
    const struct {
        std::vector<std::string> args;
        std::string reason;  // on standard error
        bool hinted;         // with the hint to make a title
    } cases[] = {
        {{dir.File("missing.svm")}, dir.File("missing.svm") + ": No such file or directory", false},
        {{"ftp://127.0.0.1/a.svm"}, "(1012)", false},  // a scheme the engine does not read
        {{notes}, "(4201)", true},                     // not a kind of title the player takes
        {{"file://example.com/a.svm"}, "file://", false},
        {{ts}, "cannot play " + ts + ": unsupported format", true},
        {{mp4}, "cannot play " + mp4 + ": ", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args[0]);
        std::vector<std::string> args = c.args;
        args.insert(args.end(), {"--port", std::to_string(FreePort())});
        Svplay svplay(args, dir.File("stderr"));
        EXPECT_EQ(1, svplay.Wait(kStart));
        const std::string errors = svplay.Errors();
        EXPECT_NE(std::string::npos, errors.find(c.reason)) << errors;
        EXPECT_EQ(c.hinted, errors.find(hint) != std::string::npos) << errors;
        // No URL, no event and no engine line: standard output is for a playback that runs.
        EXPECT_EQ("", svplay.Output());
    }
}

// A file without media is refused at once by every program that reads titles, in the same
// words: nothing at all, a title cut where its media begin (its header and index whole), and a
// program stream without an index. svplay gets ten minutes for the index to arrive: a start
// that waited for it would not end within the test's bound.
TEST_F(SvplayTest, EveryProgramRefusesATitleWithoutMediaAtOnceInTheSameWords) {
    const std::string empty = dir.File("empty.svm");
    std::ofstream(empty, std::ios::binary).flush();
    SvTools::TitleSummary summary;
    std::string error;
    ASSERT_TRUE(SvTools::ReadTitle(Fixtures::ShortTitle(), summary, error)) << error;
    ASSERT_FALSE(summary.tracks.empty());
    const std::string whole = ReadFile(Fixtures::ShortTitle());
    const size_t media = summary.tracks[0]->GetIndex().GetOffset();
    ASSERT_LT(media, whole.size());
    const std::string headerOnly = dir.File("header-only.svm");
    std::ofstream(headerOnly, std::ios::binary) << whole.substr(0, media);
    const std::string indexless = dir.File("indexless.svm");
    std::string made;
    ASSERT_EQ(0, RunProgram({"ffmpeg", "-nostdin", "-v", "error", "-i", Fixtures::ShortClip(),
                             "-an", "-c:v", "copy", "-f", "vob", indexless},
                            &made))
        << made;

    const struct {
        std::string title;
        std::string words;
        bool svplay;     // a name svplay takes for a title (it goes by the extension)
        bool titledump;  // a name titledump takes (a path)
        bool svremux;    // a title svremux opens (the engine opens only a regular file)
    } files[] = {
        {empty, "the file is empty", true, true, true},
        {"/dev/null", "the file is empty", false, true, false},
        {"file://" + empty, "the file is empty", true, false, true},
        {headerOnly, "media was truncated", true, true, true},
        {indexless, "the title has no index", true, true, true},
    };
    const std::string output = dir.File("out.ts");
    const struct {
        const char* program;
        std::vector<std::string> options;
    } programs[] = {
        {SV_SVPLAY_PATH, {"--preload-timeout", "600000"}},
        {SV_SVREMUX_PATH, {"-o", output}},
        {SV_TITLEDUMP_PATH, {}},
    };
    for (const auto& program : programs) {
        for (const auto& file : files) {
            if ((!file.svplay && program.program == std::string(SV_SVPLAY_PATH)) ||
                (!file.titledump && program.program == std::string(SV_TITLEDUMP_PATH)) ||
                (!file.svremux && program.program == std::string(SV_SVREMUX_PATH))) {
                continue;
            }
            SCOPED_TRACE(std::string(program.program) + " " + file.title);
            std::vector<std::string> args = program.options;
            args.push_back(file.title);
            if (program.program == std::string(SV_SVPLAY_PATH)) {
                args.insert(args.end(), {"--port", std::to_string(FreePort())});
            }
            Svplay run(args, dir.File("stderr"), program.program);
            EXPECT_EQ(1, run.Wait(3 * kStop));
            std::string said = run.Errors();
            for (char& c : said) c = char(std::tolower(static_cast<unsigned char>(c)));
            EXPECT_NE(std::string::npos, said.find(file.words)) << said;
            EXPECT_NE(0, access(output.c_str(), F_OK)) << "no output is left";
        }
    }
}

// Engine diagnostics are not the URL or an event: they go to standard error. The multiplexer
// stops once the segmenter is ahead of a player that reads nothing, and the watchdog says so.
// (Real time: the stall counts after 2 s.) That it says so once, not at each of its checks
// every 500 ms, PumpTest checks on a clock it drives.
TEST_F(SvplayTest, EngineDiagnosticsGoToStandardErrorAndAStallIsSaidOnce) {
    const uint16_t port = FreePort();
    Svplay svplay({Fixtures::HlsTitle(), "--port", std::to_string(port)}, dir.File("stderr"));
    std::string url;
    ASSERT_NO_FATAL_FAILURE(ReadPlaybackUrl(svplay, url));
    const std::string stall = "Mux has stopped sending ";
    const Clock::time_point until = Clock::now() + std::chrono::seconds(15);
    while (svplay.Errors().find(stall) == std::string::npos && Clock::now() < until) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    svplay.Signal(SIGTERM);
    EXPECT_EQ(0, svplay.Wait(kStop)) << svplay.Errors();
    const std::string errors = svplay.Errors();
    size_t count = 0;
    for (size_t at = errors.find(stall); at != std::string::npos; at = errors.find(stall, at + 1)) {
        ++count;
    }
    EXPECT_EQ(1u, count) << errors;
    // Standard output: the URL, then events only.
    std::istringstream lines(svplay.Output());
    std::string line;
    ASSERT_TRUE(std::getline(lines, line));
    EXPECT_EQ(url, line);
    while (std::getline(lines, line)) {
        EXPECT_EQ(0u, line.find("event SViOsApiEvent_")) << line;
    }
}

TEST_F(SvplayTest, UsageErrorsExitTwoAndHelpExitsZero) {
    const struct {
        std::vector<std::string> args;
        int status;
    } cases[] = {
        {{}, 2},
        {{"a.svm", "b.svm"}, 2},
        {{"a.svm", "--port", "0"}, 2},
        {{"a.svm", "--port", "65536"}, 2},
        {{"a.svm", "--port", "http"}, 2},
        {{"a.svm", "--preload-timeout", "0"}, 2},
        {{"a.svm", "--preload-timeout", "2147484"}, 2},  // over 2^31 microseconds
        {{"a.svm", "--bogus"}, 2},
        {{"--help"}, 0},
        {{"--version"}, 0},
    };
    for (const auto& c : cases) {
        Svplay svplay(c.args, dir.File("stderr"));
        EXPECT_EQ(c.status, svplay.Wait(kStart)) << (c.args.empty() ? "" : c.args.back());
        if (c.status == 2) {
            EXPECT_NE(std::string::npos, svplay.Errors().find("usage: svplay")) << svplay.Errors();
        }
    }
    Svplay help({"--help"}, dir.File("stderr"));
    ASSERT_EQ(0, help.Wait(kStart));
    for (const char* option : {"--port", "--pda", "--preload-timeout"}) {
        EXPECT_NE(std::string::npos, help.Output().find(option)) << help.Output();
    }
}

}  // namespace
