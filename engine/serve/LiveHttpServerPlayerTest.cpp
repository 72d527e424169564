// The live server against outside clients: curl and ffmpeg's HLS reader.

#include <gtest/gtest.h>

#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "engine/serve/FrameCountTestSupport.h"
#include "engine/serve/LiveHttpTestSupport.h"
#include "tests/support/Fixtures.h"
#include "tests/support/TemporaryDirectory.h"
#include "tests/support/TestLabels.h"

namespace SarvelonMediaKit {
namespace {

using namespace test;
using SvTestSupport::DirectoryFileSource;
using SvTestSupport::Fixtures;
using SvTestSupport::RunProgram;
using SvTestSupport::TemporaryDirectory;

// Lines of a framecrc listing that describe frames (not its "#" comments).
size_t FrameLines(const std::string& listing) {
    size_t count = 0;
    size_t position = 0;
    while (position < listing.size()) {
        size_t end = listing.find('\n', position);
        if (end == std::string::npos) end = listing.size();
        if (end > position && listing[position] != '#') ++count;
        position = end + 1;
    }
    return count;
}

class LiveHttpServerPlayerTest : public ::testing::Test {
protected:
    void SetUp() override {
        // An HLS folder cut by ffmpeg from the short clip's transport stream.
        ASSERT_EQ(
            0, RunProgram({"ffmpeg", "-v", "error", "-y", "-i", Fixtures::ShortClip(), "-c", "copy",
                           "-f", "hls", "-hls_time", "2", "-hls_playlist_type", "vod",
                           "-hls_segment_filename", dir.File("seg%d.ts"), dir.File("index.m3u8")}));
        if (DIR* folder = opendir(dir.Path().c_str())) {
            while (dirent* entry = readdir(folder)) {
                const std::string name = entry->d_name;
                if (name.size() > 3 && name.substr(name.size() - 3) == ".ts") {
                    segments.push_back(name);
                }
            }
            closedir(folder);
        }
        std::sort(segments.begin(), segments.end());
        ASSERT_GE(segments.size(), 2u);
        front.reset(new LiveFront(&source));
        base = "http://127.0.0.1:" + std::to_string(front->Port()) + "/";
    }
    void TearDown() override {
        EXPECT_TRUE(front->ReapAll());
        front.reset();
    }

    TemporaryDirectory dir{"liveplayer"};
    DirectoryFileSource source{dir.Path()};
    std::unique_ptr<LiveFront> front;
    std::vector<std::string> segments;
    std::string base;
};

SV_SUITE_LABEL(LiveHttpServerPlayerTest, e2e);  // checked with outside clients
TEST_F(LiveHttpServerPlayerTest, CurlSeesHeadsRangesAndErrorsAsHttpDefinesThem) {
    const std::string segment = ReadWholeFile(dir.File(segments[0]));
    const std::string url = base + segments[0];
    std::string out;
    ASSERT_EQ(0, RunProgram({"curl", "-sS", "-D", dir.File("head"), "-o", dir.File("body"), url}));
    const std::string head = ReadWholeFile(dir.File("head"));
    EXPECT_EQ(0u, head.find("HTTP/1.1 200 OK\r\n"));
    EXPECT_NE(std::string::npos,
              head.find("Content-Length: " + std::to_string(segment.size()) + "\r\n"));
    EXPECT_NE(std::string::npos, head.find("Accept-Ranges: bytes\r\n"));
    EXPECT_NE(std::string::npos, head.find("Cache-Control: no-store\r\n"));
    // Every line of the head ends in CRLF.
    for (size_t at = head.find('\n'); at != std::string::npos; at = head.find('\n', at + 1)) {
        ASSERT_GT(at, 0u);
        EXPECT_EQ('\r', head[at - 1]);
    }
    EXPECT_TRUE(ReadWholeFile(dir.File("body")) == segment);

    ASSERT_EQ(0, RunProgram({"curl", "-sS", "-r", "100-199", "-D", dir.File("head"), "-o",
                             dir.File("body"), url}));
    EXPECT_EQ(0u, ReadWholeFile(dir.File("head")).find("HTTP/1.1 206 Partial Content\r\n"));
    EXPECT_NE(std::string::npos,
              ReadWholeFile(dir.File("head"))
                  .find("Content-Range: bytes 100-199/" + std::to_string(segment.size())));
    EXPECT_TRUE(ReadWholeFile(dir.File("body")) == segment.substr(100, 100));
    ASSERT_EQ(0, RunProgram({"curl", "-sS", "-r", "-500", "-o", dir.File("body"), url}));
    EXPECT_TRUE(ReadWholeFile(dir.File("body")) == segment.substr(segment.size() - 500));

    struct Case {
        std::vector<std::string> args;
        std::string code;
    } cases[] = {
        {{"-r", std::to_string(segment.size()) + "-", url}, "416"},
        {{"-X", "POST", "-d", "x=1", url}, "405"},
        {{base + "nothing.ts"}, "404"},
        {{"--path-as-is", base + "../../etc/passwd"}, "404"},
        {{"-H", "X-Big: " + std::string(20000, 'x'), url}, "431"},
        {{"-I", url}, "200"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> argv = {"curl", "-sS", "-o", "/dev/null", "-w", "%{http_code}"};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        ASSERT_EQ(0, RunProgram(argv, &out)) << out;
        EXPECT_EQ(c.code, out) << c.args.back();
    }
    // A missing name is answered at once, with a length, on a connection that stays: a client
    // that had to wait for anything (the close, the idle time) would run out of its 2 s.
    ASSERT_EQ(0, RunProgram({"curl", "-sS", "-m", "2", "-o", "/dev/null", "-o", "/dev/null", "-w",
                             "%{http_code},%{num_connects};", base + "nothing.ts", url},
                            &out))
        << out;
    EXPECT_EQ("404,1;200,0;", out);
    // -I: the GET head without a body.
    ASSERT_EQ(0, RunProgram({"curl", "-sS", "-I", url}, &out));
    EXPECT_EQ(0u, out.find("HTTP/1.1 200 OK\r\n"));
    EXPECT_EQ(out.size(), out.find("\r\n\r\n") + 4);
    // Two names in one run share one connection.
    ASSERT_EQ(0, RunProgram({"curl", "-sS", "-o", "/dev/null", "-o", "/dev/null", "-w",
                             "%{num_connects};", url, base + "index.m3u8"},
                            &out));
    EXPECT_EQ("1;0;", out);
}

TEST_F(LiveHttpServerPlayerTest, FfmpegReadsAndDecodesEveryFrame) {
    std::string served, local, copied;
    ASSERT_EQ(0, RunProgram({"ffmpeg", "-v", "error", "-xerror", "-i", base + "index.m3u8", "-map",
                             "0", "-c", "copy", "-f", "null", "-"},
                            &copied))
        << copied;
    EXPECT_EQ("", copied);
    // The copy passes on every packet of every stream that ffprobe counts in the folder.
    const std::map<int, size_t> packets = ProbeCounts(dir.File("index.m3u8"), false);
    ASSERT_EQ(2u, packets.size());  // video and audio
    EXPECT_EQ(Fixtures::kShortClipFrames, packets.at(0));
    ASSERT_EQ(0, RunProgram({"ffmpeg", "-v", "error", "-xerror", "-i", base + "index.m3u8", "-map",
                             "0", "-c", "copy", "-f", "framecrc", "-"},
                            &copied));
    EXPECT_EQ(packets, FramesPerStream(copied));
    // The full decode gives the very frames ffmpeg decodes from the folder itself, as many in
    // each stream as ffprobe decodes there.
    ASSERT_EQ(0, RunProgram({"ffmpeg", "-v", "error", "-xerror", "-i", base + "index.m3u8", "-map",
                             "0", "-f", "framecrc", "-"},
                            &served));
    ASSERT_EQ(0, RunProgram({"ffmpeg", "-v", "error", "-xerror", "-i", dir.File("index.m3u8"),
                             "-map", "0", "-f", "framecrc", "-"},
                            &local));
    const std::map<int, size_t> frames = ProbeCounts(dir.File("index.m3u8"), true);
    ASSERT_EQ(2u, frames.size());
    EXPECT_EQ(Fixtures::kShortClipFrames, frames.at(0));
    EXPECT_EQ(frames, FramesPerStream(served));
    EXPECT_EQ(Fixtures::kShortClipFrames + frames.at(1), FrameLines(served));
    EXPECT_TRUE(served == local);
}

TEST_F(LiveHttpServerPlayerTest, ThirtyTwoClientsGetWholeSegmentsAndEverythingIsGivenBack) {
    // The first pump that runs in the process makes the process-wide timer thread, which
    // carries its maker's name ("Pump") until it is renamed: count once it has its own name.
    ASSERT_TRUE(WaitUntil([]() { return ThreadsNamed("SvlTimerManager") == 1; }));
    const int pumpsBefore = ThreadsNamed("Pump");
    const int mastersBefore = ThreadsNamed("SocketMaster");
    const int descriptorsBefore = OpenDescriptors();
    const int kClients = 32;
    std::vector<int> results(kClients, -1);
    std::vector<std::thread> clients;
    for (int c = 0; c < kClients; ++c) {
        clients.emplace_back([&, c]() {
            std::vector<std::string> argv = {"curl", "-sS", "--fail"};
            for (int round = 0; round < 3; ++round) {
                for (size_t s = 0; s < segments.size(); ++s) {
                    argv.push_back("-o");
                    argv.push_back(dir.File("c" + std::to_string(c) + "-" + std::to_string(round) +
                                            "-" + segments[s] + ".out"));
                    argv.push_back(base + segments[s]);
                }
            }
            results[c] = RunProgram(argv);
        });
    }
    for (std::thread& client : clients) client.join();
    for (int c = 0; c < kClients; ++c) {
        EXPECT_EQ(0, results[c]) << "client " << c;
        for (int round = 0; round < 3; ++round) {
            for (size_t s = 0; s < segments.size(); ++s) {
                EXPECT_TRUE(ReadWholeFile(dir.File("c" + std::to_string(c) + "-" +
                                                   std::to_string(round) + "-" + segments[s] +
                                                   ".out")) == ReadWholeFile(dir.File(segments[s])))
                    << c << " " << segments[s];
            }
        }
    }
    ASSERT_TRUE(front->ReapAll());
    EXPECT_TRUE(WaitUntil([&]() {
        return ThreadsNamed("Pump") == pumpsBefore && ThreadsNamed("SocketMaster") == mastersBefore;
    })) << "pumps "
        << ThreadsNamed("Pump") << " (before " << pumpsBefore << "), socket threads "
        << ThreadsNamed("SocketMaster") << " (before " << mastersBefore << ")";
    EXPECT_EQ(descriptorsBefore, OpenDescriptors()) << front->Sessions() << " sessions left";
}

TEST_F(LiveHttpServerPlayerTest, AGrowingSegmentReachesCurlWhole) {
    source.StartGrowing("live.ts", 9);
    const std::string whole = ReadWholeFile(dir.File(segments[0]));
    std::string headPlain, headFromZero;
    int plain = -1, fromZero = -1;
    std::thread a([&]() {
        plain = RunProgram(
            {"curl", "-sS", "-D", dir.File("h1"), "-o", dir.File("b1"), base + "live.ts"});
    });
    std::thread b([&]() {
        fromZero = RunProgram({"curl", "-sS", "-r", "0-", "-D", dir.File("h2"), "-o",
                               dir.File("b2"), base + "live.ts"});
    });
    // Appended in pieces while both read: both have their first bytes before the rest comes.
    const size_t piece = 30000;
    source.Grow("live.ts", whole.substr(0, piece));
    EXPECT_TRUE(WaitUntil(
        [&]() {
            return ReadWholeFile(dir.File("b1")).size() >= 16384 &&
                   ReadWholeFile(dir.File("b2")).size() >= 16384;
        },
        10000));
    for (size_t at = piece; at < whole.size(); at += piece) {
        source.Grow("live.ts", whole.substr(at, piece));
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    source.Complete("live.ts");
    a.join();
    b.join();
    EXPECT_EQ(0, plain);
    EXPECT_EQ(0, fromZero);
    for (const char* h : {"h1", "h2"}) {
        const std::string head = ReadWholeFile(dir.File(h));
        EXPECT_EQ(0u, head.find("HTTP/1.1 200 OK\r\n")) << head;
        EXPECT_EQ(std::string::npos, head.find("Content-Length")) << head;
        EXPECT_NE(std::string::npos, head.find("Connection: close\r\n")) << head;
    }
    EXPECT_TRUE(ReadWholeFile(dir.File("b1")) == whole);
    EXPECT_TRUE(ReadWholeFile(dir.File("b2")) == whole);
}

}  // namespace
}  // namespace SarvelonMediaKit
