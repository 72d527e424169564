#ifndef TESTS_SUPPORT_CHILDDESCRIPTORS_H
#define TESTS_SUPPORT_CHILDDESCRIPTORS_H

// Header-only: which of this process's descriptors a program it starts would hold. A child
// keeps every descriptor not marked close-on-exec (WebKit starts its processes so); the child
// here is `ls`, listing its own /proc/self/fd, and a descriptor it holds under the number and
// with the open file of one of this process's is one this process passed on. The loopback TCP
// sockets of this process are read from /proc/net/tcp, so that a test can show the ones it
// means to be open really are.

#include <dirent.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "SVLibrary/File/InputFileStream.h"

extern char** environ;

namespace SvTestSupport {

// This process's descriptors: number -> what it is ("socket:[1234]", "pipe:[99]", a path).
inline std::map<int, std::string> OpenDescriptors() {
    std::map<int, std::string> open;
    DIR* dir = opendir("/proc/self/fd");
    if (dir == nullptr) return open;
    while (dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        char target[512];
        const ssize_t length =
            readlink(("/proc/self/fd/" + name).c_str(), target, sizeof target - 1);
        if (length > 0) open[std::stoi(name)] = std::string(target, static_cast<size_t>(length));
    }
    closedir(dir);
    return open;
}

// A TCP socket of this machine as /proc/net/tcp shows it (ports in host order).
struct TcpSocket {
    uint16_t localPort = 0;
    uint16_t remotePort = 0;
    bool listening = false;  // else a connection
    std::string inode;       // as in "socket:[inode]"
};

inline std::vector<TcpSocket> TcpSockets() {
    std::vector<TcpSocket> sockets;
    SV::InputFileStream table("/proc/net/tcp");
    std::string line;
    std::getline(table, line);  // the column names
    while (std::getline(table, line)) {
        // "sl local_address rem_address st tx:rx tr:when retrnsmt uid timeout inode ...",
        // addresses as hex "0100007F:4E21", st 0A for a listening socket.
        std::istringstream fields(line);
        std::string slot, local, remote, state, queues, timer, retransmits, uid, timeout, inode;
        if (!(fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid >>
              timeout >> inode)) {
            continue;
        }
        TcpSocket socket;
        socket.localPort =
            static_cast<uint16_t>(std::stoul(local.substr(local.find(':') + 1), nullptr, 16));
        socket.remotePort =
            static_cast<uint16_t>(std::stoul(remote.substr(remote.find(':') + 1), nullptr, 16));
        socket.listening = state == "0A";
        socket.inode = inode;
        sockets.push_back(socket);
    }
    return sockets;
}

// What a socket's entry says of it: " (listening on port N)", " (port N to port M)"; "" for
// anything but a TCP socket.
inline std::string Described(const std::string& what) {
    for (const TcpSocket& socket : TcpSockets()) {
        if (what != "socket:[" + socket.inode + "]") continue;
        if (socket.listening)
            return " (listening on port " + std::to_string(socket.localPort) + ")";
        return " (port " + std::to_string(socket.localPort) + " to port " +
               std::to_string(socket.remotePort) + ")";
    }
    return "";
}

// The descriptors above standard error that a child started now holds as this process holds
// them, each as "N -> what", leaving out `given`: those this process was itself started with
// (what its own starter passed on is not this process's doing). Empty when none; a line saying
// so when the child could not be started or read.
inline std::vector<std::string> DescriptorsPassedToAChild(const std::map<int, std::string>& given) {
    const std::map<int, std::string> parent = OpenDescriptors();
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) return {"no pipe for the child's listing"};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    char* const argv[] = {const_cast<char*>("ls"), const_cast<char*>("-l"),
                          const_cast<char*>("/proc/self/fd/"), nullptr};
    pid_t child = -1;
    const int started = posix_spawnp(&child, argv[0], &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    std::string listing;
    char buffer[4096];
    ssize_t got;
    while (started == 0 && (got = read(out[0], buffer, sizeof buffer)) != 0) {
        if (got > 0) listing.append(buffer, static_cast<size_t>(got));
    }
    close(out[0]);
    int status = -1;
    if (started == 0) waitpid(child, &status, 0);
    if (started != 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        return {"the child's listing failed"};
    }
    // `ls -l` lines: "lrwx------ 1 root root 64 Dec  9 12:00 3 -> socket:[1234]".
    std::vector<std::string> passed;
    std::istringstream lines(listing);
    std::string line;
    while (std::getline(lines, line)) {
        const size_t arrow = line.find(" -> ");
        if (arrow == std::string::npos) continue;
        const size_t space = line.rfind(' ', arrow - 1);
        const int fd = std::atoi(line.c_str() + space + 1);
        const std::string what = line.substr(arrow + 4);
        if (fd <= 2) continue;
        const auto mine = parent.find(fd);
        if (mine == parent.end() || mine->second != what) continue;
        const auto before = given.find(fd);
        if (before != given.end() && before->second == what) continue;
        passed.push_back(std::to_string(fd) + " -> " + what + Described(what));
    }
    return passed;
}

// Whether this process holds a TCP socket that `matches`.
template <typename Match>
bool HoldsTcpSocket(Match matches) {
    std::map<std::string, bool> mine;
    for (const auto& open : OpenDescriptors()) mine[open.second] = true;
    for (const TcpSocket& socket : TcpSockets()) {
        if (matches(socket) && mine.count("socket:[" + socket.inode + "]") != 0) return true;
    }
    return false;
}

}  // namespace SvTestSupport

#endif
