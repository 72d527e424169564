#include "tests/support/NginxOrigin.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <thread>

#include "tests/support/UnusedPort.h"

namespace SvTestSupport {

const char NginxOrigin::kProgram[] = "/usr/sbin/nginx";

namespace {

// Ports tried before giving up: each one another process took meanwhile costs a try.
const int kPortAttempts = 5;
// nginx is up within a fraction of a second; a failed bind makes it retry for about 2.5 s.
const auto kReadyWait = std::chrono::seconds(10);
const auto kStopWait = std::chrono::seconds(5);

bool Accepts(uint16_t port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool ok = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    close(fd);
    return ok;
}

// Waits (bounded) for the child to end; true when it has been reaped.
bool Reap(pid_t pid, std::chrono::steady_clock::duration wait) {
    const auto until = std::chrono::steady_clock::now() + wait;
    for (;;) {
        int status = 0;
        const pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid || done < 0) return true;
        if (std::chrono::steady_clock::now() >= until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

}  // namespace

NginxOrigin::NginxOrigin(const std::string& root, uint64_t bytesPerSecond)
    : folder_("svnginx"), root_(root), bytesPerSecond_(bytesPerSecond), pid_(-1), port_(0) {}

NginxOrigin::~NginxOrigin() { Stop(); }

bool NginxOrigin::Installed() { return access(kProgram, X_OK) == 0; }

std::string NginxOrigin::Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

std::string NginxOrigin::ErrorLog() const {
    std::ifstream in(folder_.File("error.log"));
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool NginxOrigin::WriteConfiguration(uint16_t port, std::string* reason) {
    const std::string& prefix = folder_.Path();
    std::ofstream conf(folder_.File("nginx.conf"));
    conf << "daemon off;\nmaster_process off;\nworker_processes 1;\n"
         << "pid " << prefix << "/nginx.pid;\nerror_log " << prefix << "/error.log;\n"
         << "events { worker_connections 64; }\n"
         << "http {\n  access_log off;\n  sendfile on;\n  default_type application/octet-stream;\n"
         << "  client_body_temp_path " << prefix << "/body;\n"
         << "  proxy_temp_path " << prefix << "/proxy;\n"
         << "  fastcgi_temp_path " << prefix << "/fastcgi;\n"
         << "  uwsgi_temp_path " << prefix << "/uwsgi;\n"
         << "  scgi_temp_path " << prefix << "/scgi;\n";
    if (bytesPerSecond_ != 0) conf << "  limit_rate " << bytesPerSecond_ << ";\n";
    conf << "  server {\n    listen 127.0.0.1:" << port << ";\n"
         << "    root " << root_ << ";\n  }\n}\n";
    conf.close();
    if (!conf) {
        if (reason) *reason = "cannot write " + folder_.File("nginx.conf");
        return false;
    }
    return true;
}

int NginxOrigin::TryPort(uint16_t port, std::string* reason) {
    if (!WriteConfiguration(port, reason)) return -1;
    const std::string conf = folder_.File("nginx.conf");
    const std::string log = folder_.File("error.log");
    const pid_t pid = fork();
    if (pid < 0) {
        if (reason) *reason = "cannot start nginx: fork failed";
        return -1;
    }
    if (pid == 0) {
        // -e: the log of the start itself goes here too, not to the system's log folder.
        execl(kProgram, kProgram, "-q", "-p", folder_.Path().c_str(), "-e", log.c_str(), "-c",
              conf.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    const auto until = std::chrono::steady_clock::now() + kReadyWait;
    for (;;) {
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid) {
            // Ended before it accepted anything: most likely the port was taken meanwhile.
            if (reason) *reason = "nginx ended at its start: " + ErrorLog();
            return 0;
        }
        if (Accepts(port)) {
            pid_ = pid;
            port_ = port;
            return 1;
        }
        if (std::chrono::steady_clock::now() >= until) {
            kill(pid, SIGKILL);
            Reap(pid, kStopWait);
            if (reason) *reason = "nginx did not accept connections in time: " + ErrorLog();
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

bool NginxOrigin::Start(std::string* reason) {
    if (Running()) return true;
    if (!Installed()) {
        if (reason) {
            *reason = std::string(kProgram) + " is missing: run scripts/deps to install nginx";
        }
        return false;
    }
    for (int attempt = 0; attempt < kPortAttempts; ++attempt) {
        const uint16_t port = UnusedLoopbackPort();
        if (port == 0) {
            if (reason) *reason = "no free loopback port";
            return false;
        }
        const int result = TryPort(port, reason);
        if (result != 0) return result > 0;
    }
    return false;
}

void NginxOrigin::Stop() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    if (!Reap(pid_, kStopWait)) {
        kill(pid_, SIGKILL);
        Reap(pid_, kStopWait);
    }
    pid_ = -1;
}

}  // namespace SvTestSupport
