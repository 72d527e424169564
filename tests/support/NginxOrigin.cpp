#include "tests/support/NginxOrigin.h"

#include <errno.h>
#include <fcntl.h>
#include <ftw.h>
#include <signal.h>
#include <stdio.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
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
// Every origin's folder is <TemporaryRoot()>/<kFolderPrefix>XXXXXX; the owner file in it holds
// the id of the process that made it.
const char kFolderPrefix[] = "svnginx";
const char kOwnerFile[] = "origin.owner";

// The decimal number a small file holds (surrounding white space allowed); 0 when it holds
// none.
long ReadNumber(const std::string& path) {
    std::ifstream in(path);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    char* end = nullptr;
    const long value = std::strtol(text.c_str(), &end, 10);
    if (end == text.c_str() || value <= 0) return 0;
    while (*end == ' ' || *end == '\n' || *end == '\r' || *end == '\t') ++end;
    return *end == '\0' ? value : 0;
}

// Whether the process exists and has not ended: one that ended and waits to be reaped by
// whoever inherited it counts as gone.
bool Alive(long pid) {
    if (pid <= 0 || (kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH)) return false;
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // "pid (name) state ...": the name may hold anything, so the state follows its last ')'.
    const size_t close = stat.rfind(')');
    return close == std::string::npos || close + 2 >= stat.size() || stat[close + 2] != 'Z';
}

int RemoveOne(const char* path, const struct stat*, int, struct FTW*) {
    remove(path);
    return 0;
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
    : folder_(kFolderPrefix), root_(root), bytesPerSecond_(bytesPerSecond), pid_(-1), port_(0) {}

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

bool NginxOrigin::PidFileNames(pid_t pid) const {
    return ReadNumber(folder_.File("nginx.pid")) == static_cast<long>(pid);
}

bool NginxOrigin::WriteOwner(std::string* reason) {
    std::ofstream owner(folder_.File(kOwnerFile));
    owner << getpid() << "\n";
    owner.close();
    if (!owner) {
        if (reason) *reason = "cannot write " + folder_.File(kOwnerFile);
        return false;
    }
    return true;
}

void NginxOrigin::RemoveLeftovers() const {
    // Only folders whose owner is known and gone: a folder without its owner file may be one
    // another process is just setting up.
    const std::string root = TemporaryRoot();
    for (const std::string& name : DirectoryEntries(root)) {
        if (name.compare(0, sizeof kFolderPrefix - 1, kFolderPrefix) != 0) continue;
        const std::string path = root + "/" + name;
        if (path == folder_.Path()) continue;
        const long owner = ReadNumber(path + "/" + kOwnerFile);
        if (owner == 0 || Alive(owner)) continue;
        // nginx died with its owner; a server that is still there keeps its folder.
        if (Alive(ReadNumber(path + "/nginx.pid"))) continue;
        nftw(path.c_str(), &RemoveOne, 16, FTW_DEPTH | FTW_PHYS);
    }
}

int NginxOrigin::TryPort(uint16_t port, std::string* reason) {
    if (!WriteConfiguration(port, reason)) return -1;
    const std::string conf = folder_.File("nginx.conf");
    const std::string log = folder_.File("error.log");
    const std::string pidFile = folder_.File("nginx.pid");
    unlink(pidFile.c_str());
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid < 0) {
        if (reason) *reason = "cannot start nginx: fork failed";
        return -1;
    }
    if (pid == 0) {
        // nginx goes with the thread that started it, however that ends; should it have ended
        // already, nothing is left to serve.
        if (prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || getppid() != parent) _exit(127);
        // What it says at its start goes to the error log too (-e): the test's output stays
        // clean.
        const int quiet = open("/dev/null", O_WRONLY | O_CLOEXEC);
        if (quiet >= 0) dup2(quiet, STDERR_FILENO);
        // -e: the log of the start itself goes here too, not to the system's log folder.
        execl(kProgram, kProgram, "-q", "-p", folder_.Path().c_str(), "-e", log.c_str(), "-c",
              conf.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    const auto until = std::chrono::steady_clock::now() + kReadyWait;
    for (;;) {
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid) {
            // Ended before it served anything: most likely the port was taken meanwhile.
            if (reason) *reason = "nginx ended at its start: " + ErrorLog();
            return 0;
        }
        // Written once nginx listens on the port (it ends without writing it when it cannot
        // bind): whatever answered a connection before could have been another process.
        if (PidFileNames(pid)) {
            pid_ = pid;
            port_ = port;
            return 1;
        }
        if (std::chrono::steady_clock::now() >= until) {
            kill(pid, SIGKILL);
            Reap(pid, kStopWait);
            if (reason) *reason = "nginx did not start serving in time: " + ErrorLog();
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

bool NginxOrigin::StartOnPort(uint16_t port, std::string* reason) {
    if (Running()) return port == port_;
    if (!Installed()) {
        if (reason) {
            *reason = std::string(kProgram) + " is missing: run scripts/deps to install nginx";
        }
        return false;
    }
    RemoveLeftovers();
    if (!WriteOwner(reason)) return false;
    return TryPort(port, reason) > 0;
}

bool NginxOrigin::Start(std::string* reason) {
    if (Running()) return true;
    if (!Installed()) {
        if (reason) {
            *reason = std::string(kProgram) + " is missing: run scripts/deps to install nginx";
        }
        return false;
    }
    RemoveLeftovers();
    if (!WriteOwner(reason)) return false;
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
