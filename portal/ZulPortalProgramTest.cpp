#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/store/PropertyList.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TemporaryDirectory.h"
#include "tests/support/TestLabels.h"

extern char** environ;

namespace ZulPortal {
namespace test {
namespace {

// Runs a command through popen and returns what it printed.
std::string Output(const std::string& command) {
    FILE* pipe = popen(command.c_str(), "r");
    std::string output;
    if (pipe == nullptr) return output;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, n);
    pclose(pipe);
    return output;
}

SV_SUITE_LABEL(ZulPortalProgram, e2e);  // checked with outside clients
// The program as a person runs it: the URL first, curl against it, SIGTERM ends it with 0.
TEST(ZulPortalProgram, PrintsItsUrlServesCurlAndExitsZeroOnSigterm) {
    const std::string plist = ::testing::TempDir() + "/portal-program";
    mkdir(plist.c_str(), 0755);
    int out[2];
    ASSERT_EQ(0, pipe(out));
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    const std::vector<std::string> args = {SV_ZUL_PORTAL_PATH, "--port", "0", "--plist", plist};
    std::vector<char*> argv;
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    pid_t child = 0;
    ASSERT_EQ(0, posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), environ));
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    std::string line;
    char c;
    while (read(out[0], &c, 1) == 1 && c != '\n') line += c;
    close(out[0]);
    ASSERT_EQ(0u, line.find("http://127.0.0.1:")) << line;
    const std::string port = line.substr(17);
    EXPECT_NE(std::string::npos, port.find_first_of("0123456789"));
    EXPECT_EQ(std::string::npos, port.find_first_not_of("0123456789"));

    EXPECT_NE(std::string::npos, Output("curl -s " + line + "/home").find("Welcome to ZUL"));
    EXPECT_NE(std::string::npos,
              Output("curl -s '" + line + "/api/search?q=colour'").find("\"id\":\"102\""));
    EXPECT_NE(std::string::npos,
              Output("curl -s " + line + "/-/-/102").find("function __zulPlayerProxy"));
    EXPECT_EQ("302", Output("curl -s -o /dev/null -w '%{http_code}' " + line + "/movies"));

    // The bundle configuration it wrote points at itself.
    ns::Value configuration;
    std::string error;
    ASSERT_TRUE(
        ns::PropertyList::ReadFile(plist + "/ZULPropertyListRelease.plist", configuration, error))
        << error;
    EXPECT_EQ("127.0.0.1:" + port, configuration["ZUL Address"].StringValue());
    EXPECT_EQ("http://%@/c/portal/login", configuration["ZUL Login URL"].StringValue());
    EXPECT_EQ("http://%@/api/search?q=%%@", configuration["ZUL Search URL"].StringValue());
    EXPECT_EQ("http://%@/home", configuration["ZUL Home URL"].StringValue());
    EXPECT_EQ("http://%@/movies", configuration["ZUL Movies URL"].StringValue());
    EXPECT_EQ("http://%@/series", configuration["ZUL Series URL"].StringValue());
    EXPECT_EQ("http://%@/my", configuration["ZUL MyZUL URL"].StringValue());
    EXPECT_EQ("http://%@", configuration["ZUL Base URL"].StringValue());
    EXPECT_EQ("zulmovie", configuration["ZUL Movie Scheme"].StringValue());
    EXPECT_EQ("zul", configuration["ZUL User"].StringValue());
    EXPECT_EQ("zul", configuration["ZUL Password"].StringValue());

    ASSERT_EQ(0, kill(child, SIGTERM));
    int status = -1;
    ASSERT_EQ(child, waitpid(child, &status, 0));
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(0, WEXITSTATUS(status));
}

TEST(ZulPortalProgram, RefusesABadPortAndAPortInUse) {
    EXPECT_NE(std::string::npos,
              Output(std::string(SV_ZUL_PORTAL_PATH) + " --port 70000 2>&1; echo exit=$?")
                  .find("exit=2"));
    // A port held by a listener of this test.
    const int holder = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(0, bind(holder, reinterpret_cast<sockaddr*>(&address), sizeof address));
    ASSERT_EQ(0, listen(holder, 1));
    ASSERT_EQ(0, getsockname(holder, reinterpret_cast<sockaddr*>(&address), &length));
    const std::string output =
        Output(std::string(SV_ZUL_PORTAL_PATH) + " --port " +
               std::to_string(ntohs(address.sin_port)) + " 2>&1; echo exit=$?");
    close(holder);
    EXPECT_NE(std::string::npos, output.find("cannot listen on 127.0.0.1:")) << output;
    EXPECT_NE(std::string::npos, output.find("exit=1")) << output;
}

std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Waits for condition, looking every 20 ms; false when it is still not met after bound (which
// only ends a test that fails).
template <typename Condition>
bool WaitFor(Condition condition, std::chrono::seconds bound) {
    const auto end = std::chrono::steady_clock::now() + bound;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= end) return false;
        usleep(20 * 1000);
    }
    return true;
}

// The names in a folder of the data that a maker writes before renaming them into place.
std::vector<std::string> Temporaries(const std::string& folder) {
    std::vector<std::string> found;
    for (const std::string& name : SvTestSupport::DirectoryEntries(folder)) {
        if (name.find(".tmp.") != std::string::npos) found.push_back(name);
    }
    return found;
}

// A data folder that must be made: the portal says so and why, and a signal while it makes the
// first clip ends it promptly, before it serves, with nothing half-written under any name; the
// next start says it goes on making rather than taking the folder as made, and ends as quickly.
TEST(ZulPortalProgram, ASignalWhileItMakesTheDataEndsItAndLeavesNothingHalfMade) {
    SvTestSupport::TemporaryDirectory work("zul-portal-making-");
    const std::string data = work.File("data");
    struct Round {
        int signal;
        const char* says;  // what the line on standard error tells
    };
    const Round rounds[] = {
        {SIGTERM, "making the demo data in "},
        {SIGINT, "finishing the demo data in "},
    };
    for (const Round& round : rounds) {
        SCOPED_TRACE(round.says);
        SvTestSupport::ChildProcess portal(SV_ZUL_PORTAL_PATH, {"--port", "0", "--data", data},
                                           std::nullopt, work.File("out"), work.File("err"));
        ASSERT_TRUE(portal.Running());
        // The first clip's stream is being written by the portal's ffmpeg.
        ASSERT_TRUE(WaitFor([&] { return !Temporaries(data + "/clips").empty(); },
                            std::chrono::seconds(30)))
            << ReadText(work.File("err"));
        ASSERT_EQ(0, kill(portal.Pid(), round.signal));
        // It ends within a second on an idle machine; the bound is for a loaded one.
        const std::optional<int> status = portal.WaitForExit(std::chrono::seconds(10));
        ASSERT_TRUE(status.has_value()) << "still running 10 s after the signal";
        EXPECT_TRUE(WIFEXITED(*status));
        EXPECT_EQ("", ReadText(work.File("out")));  // it never served
        const std::string said = ReadText(work.File("err"));
        EXPECT_EQ(0u, said.find(std::string("zul-portal: ") + round.says + data + " (")) << said;

        for (const char* sub : {"", "/clips", "/media", "/thumbs", "/posters", "/subtitles"}) {
            EXPECT_EQ(std::vector<std::string>(), Temporaries(data + sub)) << sub;
        }
        EXPECT_FALSE(SvTestSupport::DirectoryEntries(data).count("recipe"));
        // The clip was cut off while it was written: it is not there under its own name.
        EXPECT_FALSE(SvTestSupport::DirectoryEntries(data + "/clips").count("pattern.ts"));
    }
}

}  // namespace
}  // namespace test
}  // namespace ZulPortal
