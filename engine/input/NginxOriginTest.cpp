// End-to-end: the transport against a real web server, nginx, serving a folder on loopback.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <random>
#include <string>

#include "engine/input/TransportTestSupport.h"
#include "tests/support/TemporaryDirectory.h"
#include "tests/support/ThreadTestSupport.h"

namespace SarvelonMediaKit {
namespace test {
namespace {

const char* kNginx = "/usr/sbin/nginx";

// A port nobody listens on right now (the kernel's pick, released again).
uint16_t FreeLoopbackPort() {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    close(fd);
    return ntohs(address.sin_port);
}

bool Accepts(uint16_t port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool ok = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    close(fd);
    return ok;
}

// nginx in the foreground, one process, with its configuration, pid, logs and temporary files
// in a folder of its own, serving root on a loopback port.
class NginxServer {
public:
    NginxServer(const SvTestSupport::TemporaryDirectory& folder, const std::string& root)
        : pid_(-1), port_(FreeLoopbackPort()) {
        const std::string prefix = folder.Path();
        std::ofstream conf(folder.File("nginx.conf"));
        conf << "daemon off;\nmaster_process off;\nworker_processes 1;\n"
             << "pid " << prefix << "/nginx.pid;\nerror_log " << prefix << "/error.log;\n"
             << "events { worker_connections 64; }\n"
             << "http {\n  access_log off;\n  sendfile on;\n"
             << "  client_body_temp_path " << prefix << "/body;\n"
             << "  proxy_temp_path " << prefix << "/proxy;\n"
             << "  fastcgi_temp_path " << prefix << "/fastcgi;\n"
             << "  uwsgi_temp_path " << prefix << "/uwsgi;\n"
             << "  scgi_temp_path " << prefix << "/scgi;\n"
             << "  server {\n    listen 127.0.0.1:" << port_ << ";\n"
             << "    root " << root << ";\n  }\n}\n";
        conf.close();
        pid_ = fork();
        if (pid_ == 0) {
            execl(kNginx, kNginx, "-q", "-p", prefix.c_str(), "-c",
                  folder.File("nginx.conf").c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
    }
    ~NginxServer() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            int status = 0;
            waitpid(pid_, &status, 0);
        }
    }
    bool WaitReady() {
        return pid_ > 0 && SvTestSupport::WaitUntil([this] { return Accepts(port_); }, 10000);
    }
    std::string Url(const std::string& path) const {
        return "http://127.0.0.1:" + std::to_string(port_) + path;
    }

private:
    pid_t pid_;
    uint16_t port_;
};

TEST(NginxOrigin, RandomRangedReadsOfAHundredMegabyteFileMatchTheFile) {
    // scripts/deps installs nginx: without it this check has not run, which is a failure.
    ASSERT_EQ(access(kNginx, X_OK), 0)
        << kNginx << " is missing or not executable: run scripts/deps to install nginx";
    SvTestSupport::TemporaryDirectory folder("svnginx");
    const std::string root = folder.File("www");
    ASSERT_EQ(mkdir(root.c_str(), 0755), 0);
    const size_t size = 100u * 1024 * 1024;
    const std::string file = PatternBytes(size, 21);
    {
        std::ofstream out(root + "/title.bin", std::ios::binary);
        out.write(file.data(), static_cast<std::streamsize>(file.size()));
    }
    NginxServer nginx(folder, root);
    ASSERT_TRUE(nginx.WaitReady());

    std::mt19937_64 random(17);
    for (int i = 0; i < 1000; ++i) {
        uint64_t start = random() % size;
        uint64_t end = start + 1 + random() % (256 * 1024);
        if (end > size) end = size;
        if (i % 100 == 99) end = 0;  // now and then to the end of the file
        if (end == 0) start = size - 1 - random() % (512 * 1024);
        TransportRecorder recorder(MakeTransport(nginx.Url("/title.bin")));
        recorder.Transport().StartDownload(start, end);
        ASSERT_TRUE(recorder.WaitDone()) << start << "-" << end;
        ASSERT_FALSE(recorder.Failed()) << start << "-" << end;
        const size_t length = (end == 0 ? size : end) - start;
        const std::string bytes = recorder.Bytes();
        ASSERT_EQ(bytes.size(), length) << start << "-" << end;
        ASSERT_TRUE(bytes == file.substr(start, length)) << start << "-" << end;
        ASSERT_EQ(recorder.Ends(), std::vector<unsigned long long>{size});
    }
}

}  // namespace
}  // namespace test
}  // namespace SarvelonMediaKit
