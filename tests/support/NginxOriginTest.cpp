// The nginx origin of the end-to-end checks: it serves its folder on a loopback port of its own,
// two run side by side, and a stop leaves nothing listening; a stranger on its port is not taken
// for it, and it dies with the process that started it. The bench script that starts nginx by
// itself waits for it the same way.
#include "tests/support/NginxOrigin.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <string>

#include "tests/support/Fixtures.h"
#include "tests/support/LoopbackHttpGet.h"
#include "tests/support/TemporaryDirectory.h"
#include "tests/support/ThreadTestSupport.h"
#include "tests/support/UnusedPort.h"
#include "tests/support/TestLabels.h"

namespace SvTestSupport {
namespace {

// Whether the process has ended: gone, or a zombie waiting to be reaped.
bool Ended(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    if (!in) return true;
    const std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // "pid (name) state ...": the name may hold anything, so the state follows its last ')'.
    const size_t close = stat.rfind(')');
    return close != std::string::npos && close + 2 < stat.size() && stat[close + 2] == 'Z';
}

// Bytes no two offsets of which repeat in a short run, so a shifted body cannot pass.
std::string Pattern(size_t size) {
    std::string bytes(size, '\0');
    uint32_t state = 2463534242u;
    for (char& c : bytes) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        c = static_cast<char>(state);
    }
    return bytes;
}

SV_SUITE_LABEL(NginxOriginServer, e2e);  // checked with outside clients
TEST(NginxOriginServer, ServesItsFolderAndAStopLeavesNothingListening) {
    ASSERT_TRUE(NginxOrigin::Installed()) << "run scripts/deps to install nginx";
    TemporaryDirectory dir("nginxorigin");
    const std::string root = dir.File("www");
    ASSERT_EQ(0, mkdir(root.c_str(), 0755));
    const std::string bytes = Pattern(300000);
    std::ofstream(root + "/title.svm", std::ios::binary) << bytes;

    NginxOrigin plain(root);
    // Throttled well above what the body needs, so the check takes no noticeable time.
    NginxOrigin throttled(root, 4u << 20);
    std::string reason;
    ASSERT_TRUE(plain.Start(&reason)) << reason;
    ASSERT_TRUE(throttled.Start(&reason)) << reason;
    EXPECT_NE(plain.Port(), throttled.Port());
    EXPECT_EQ("http://127.0.0.1:" + std::to_string(plain.Port()) + "/title.svm",
              plain.Url("/title.svm"));

    for (NginxOrigin* origin : {&plain, &throttled}) {
        const HttpAnswer answer = HttpGet(origin->Port(), "/title.svm");
        EXPECT_EQ(200, answer.status) << answer.head;
        EXPECT_TRUE(answer.complete);
        EXPECT_TRUE(answer.body == bytes) << answer.body.size();
        EXPECT_EQ(404, HttpGet(origin->Port(), "/missing.svm").status);
    }

    const uint16_t port = plain.Port();
    plain.Stop();
    EXPECT_FALSE(plain.Running());
    EXPECT_EQ(0, HttpGet(port, "/title.svm", 1000).status) << "nothing answers after the stop";
    // The other one is still there.
    EXPECT_EQ(200, HttpGet(throttled.Port(), "/title.svm").status);
}

// A stranger's server: a socket listening on a loopback port (connections wait in its backlog,
// which is all a connect needs to succeed).
class Stranger {
public:
    Stranger() : fd_(-1), port_(0) {
        for (int attempt = 0; attempt < 20 && fd_ < 0; ++attempt) {
            const uint16_t port = UnusedLoopbackPort();
            const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            sockaddr_in address = {};
            address.sin_family = AF_INET;
            address.sin_port = htons(port);
            address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            if (fd >= 0 && bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                listen(fd, 16) == 0) {
                fd_ = fd;
                port_ = port;
            } else if (fd >= 0) {
                close(fd);
            }
        }
    }
    ~Stranger() {
        if (fd_ >= 0) close(fd_);
    }
    uint16_t Port() const { return port_; }

private:
    int fd_;
    uint16_t port_;
};

// The folder of a test's title: www/title.svm holding the bytes.
std::string MakeRoot(const TemporaryDirectory& dir, const std::string& bytes) {
    const std::string root = dir.File("www");
    EXPECT_EQ(0, mkdir(root.c_str(), 0755));
    std::ofstream(root + "/title.svm", std::ios::binary) << bytes;
    return root;
}

TEST(NginxOriginServer, AStrangerListeningOnThePortIsNotTakenForNginx) {
    ASSERT_TRUE(NginxOrigin::Installed()) << "run scripts/deps to install nginx";
    TemporaryDirectory dir("nginxstranger");
    const std::string root = MakeRoot(dir, Pattern(1000));
    Stranger stranger;
    ASSERT_NE(0, stranger.Port());
    NginxOrigin origin(root);
    std::string reason;
    // nginx cannot bind, retries for a while and ends: the connects the stranger accepts
    // meanwhile must not count.
    EXPECT_FALSE(origin.StartOnPort(stranger.Port(), &reason));
    EXPECT_FALSE(origin.Running());
    EXPECT_NE(std::string::npos, reason.find("bind()")) << reason;
    // The same origin then starts on a port of its own.
    ASSERT_TRUE(origin.Start(&reason)) << reason;
    EXPECT_NE(stranger.Port(), origin.Port());
    EXPECT_EQ(200, HttpGet(origin.Port(), "/title.svm").status);
}

// The process that started nginx ends as a crashed test would, without any destructor: nginx
// must end with it, and the next origin removes the folder it left.
TEST(NginxOriginServer, NginxEndsWithTheProcessThatStartedIt) {
    ASSERT_TRUE(NginxOrigin::Installed()) << "run scripts/deps to install nginx";
    TemporaryDirectory dir("nginxorphan");
    const std::string root = MakeRoot(dir, Pattern(1000));
    int fds[2];
    ASSERT_EQ(0, pipe2(fds, O_CLOEXEC));  // nginx must not hold the pipe open
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // The child only starts the origin, reports it and dies: no test macro runs here.
        close(fds[0]);
        NginxOrigin* origin = new NginxOrigin(root);  // never deleted: the process just dies
        uint32_t started[2] = {0, 0};
        if (origin->Start()) {
            started[0] = origin->Port();
            started[1] = static_cast<uint32_t>(origin->Pid());
        }
        const std::string folder = origin->Folder();
        if (write(fds[1], started, sizeof started) != sizeof started) _exit(2);
        if (write(fds[1], folder.data(), folder.size()) < 0) _exit(2);
        _exit(0);
    }
    close(fds[1]);
    uint32_t started[2] = {0, 0};
    std::string folder;
    pollfd p = {fds[0], POLLIN, 0};
    if (poll(&p, 1, 20000) == 1 && read(fds[0], started, sizeof started) == sizeof started) {
        char buffer[256];
        ssize_t n = 0;
        while ((n = read(fds[0], buffer, sizeof buffer)) > 0) folder.append(buffer, n);
    }
    close(fds[0]);
    int status = 0;
    if (!WaitUntil([&] { return waitpid(child, &status, WNOHANG) == child; }, 20000)) {
        kill(child, SIGKILL);
        waitpid(child, &status, 0);
    }
    const uint16_t port = static_cast<uint16_t>(started[0]);
    ASSERT_NE(0, port) << "the child could not start nginx";
    ASSERT_EQ(0u, folder.find(TemporaryRoot() + "/svnginx")) << folder;
    EXPECT_TRUE(WaitUntil([&] { return HttpGet(port, "/title.svm", 500).status == 0; }, 5000))
        << "nginx (pid " << started[1] << ") still serves after its starter died";
    // Should it still run after all, it goes now, so it does not outlive the test.
    if (HttpGet(port, "/title.svm", 500).status != 0) kill(static_cast<pid_t>(started[1]), SIGKILL);
    // A killed nginx stops answering while it is still ending; only once it has ended (or waits
    // to be reaped by whoever inherited it) does its folder count as left behind.
    const pid_t nginx = static_cast<pid_t>(started[1]);
    EXPECT_TRUE(WaitUntil([&] { return Ended(nginx); }, 10000)) << "nginx " << nginx;

    // The dead process left its folder (its origin started in it); whether it is still there
    // now is not asked: an origin another test starts meanwhile may already have swept it.
    // A folder whose owner is alive (this process) is kept.
    TemporaryDirectory owned("svnginx");
    std::ofstream(owned.File("origin.owner")) << getpid() << "\n";
    NginxOrigin next(root);
    std::string reason;
    ASSERT_TRUE(next.Start(&reason)) << reason;
    EXPECT_TRUE(DirectoryEntries(folder).empty()) << folder << " is still there";
    EXPECT_FALSE(DirectoryEntries(owned.Path()).empty());
}

// The bench script's own start of nginx: a stranger on the port it names must make it fail
// before it runs anything against the stranger. A stand-in for svremux notes whether it ran.
TEST(NginxOriginServer, TheBenchScriptDoesNotTakeAStrangerForNginx) {
    ASSERT_TRUE(NginxOrigin::Installed()) << "run scripts/deps to install nginx";
    // The source folder named by the build: __FILE__ is relative to the build folder when the
    // compiler runs through ccache with a base folder.
    const std::string script = std::string(SV_SOURCE_DIR) + "/bench/remux_http_vs_ffmpeg.sh";
    ASSERT_EQ(0, access(script.c_str(), X_OK)) << script;
    TemporaryDirectory dir("nginxbench");
    const std::string title = dir.File("title.svm");
    std::ofstream(title, std::ios::binary) << Pattern(1000);
    // <build>/tools/svremux/svremux as the script expects it.
    const std::string build = dir.File("build");
    ASSERT_EQ(0, mkdir(build.c_str(), 0755));
    ASSERT_EQ(0, mkdir((build + "/tools").c_str(), 0755));
    ASSERT_EQ(0, mkdir((build + "/tools/svremux").c_str(), 0755));
    const std::string ran = dir.File("svremux-ran");
    const std::string fake = build + "/tools/svremux/svremux";
    std::ofstream(fake) << "#!/bin/sh\necho \"$@\" >> " << ran << "\nexit 1\n";
    ASSERT_EQ(0, chmod(fake.c_str(), 0755));
    // The script builds what it runs first: the folder reads as configured, and a stand-in
    // cmake on the path builds nothing.
    std::ofstream(build + "/CMakeCache.txt") << "# stand-in\n";
    const std::string tools = dir.File("bin");
    ASSERT_EQ(0, mkdir(tools.c_str(), 0755));
    std::ofstream(tools + "/cmake") << "#!/bin/sh\nexit 0\n";
    ASSERT_EQ(0, chmod((tools + "/cmake").c_str(), 0755));
    const char* path = getenv("PATH");

    Stranger stranger;
    ASSERT_NE(0, stranger.Port());
    std::string output;
    const int status = RunProgram(
        {"env", "PATH=" + tools + ":" + (path != nullptr ? path : "/usr/bin:/bin"), "bash", script,
         "-n", "1", "-b", build, "-p", std::to_string(stranger.Port()), title},
        &output);
    EXPECT_NE(0, status) << output;
    EXPECT_NE(std::string::npos, output.find("nginx did not start")) << output;
    EXPECT_NE(0, access(ran.c_str(), F_OK)) << "svremux ran against the stranger";
}

}  // namespace
}  // namespace SvTestSupport
