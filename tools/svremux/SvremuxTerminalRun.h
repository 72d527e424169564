#ifndef TOOLS_SVREMUX_SVREMUXTERMINALRUN_H
#define TOOLS_SVREMUX_SVREMUXTERMINALRUN_H

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/ChildProcess.h"

namespace SvremuxTestSupport {

// svremux run with standard output and standard error on a pseudo-terminal of its own, where it
// shows its progress line, and what the terminal showed.
class TerminalRun {
public:
    explicit TerminalRun(const std::vector<std::string>& args) {
        master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) return;
        const std::string terminal = ptsname(master_);
        run_.reset(new SvTestSupport::ChildProcess(SV_SVREMUX_PATH, args, std::nullopt, terminal,
                                                   terminal));
    }
    ~TerminalRun() {
        run_.reset();  // killed when it still runs
        if (master_ >= 0) close(master_);
    }
    TerminalRun(const TerminalRun&) = delete;
    TerminalRun& operator=(const TerminalRun&) = delete;

    bool Started() const { return run_ && run_->Running(); }
    void Signal(int signal) {
        if (Started()) kill(run_->Pid(), signal);
    }

    // Reads what the terminal shows until shown(Text()) holds, the program has closed the
    // terminal (it ended) or the bound has passed (which only bounds a test that fails).
    bool ReadUntil(const std::function<bool(const std::string&)>& shown,
                   std::chrono::milliseconds bound) {
        const auto end = std::chrono::steady_clock::now() + bound;
        while (!shown(text_)) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                end - std::chrono::steady_clock::now());
            if (closed_ || left.count() <= 0) return false;
            pollfd ready = {master_, POLLIN, 0};
            const int polled = poll(&ready, 1, int(left.count()));
            if (polled < 0 && errno == EINTR) continue;
            if (polled <= 0) return false;
            char buffer[4096];
            const ssize_t n = read(master_, buffer, sizeof buffer);
            if (n > 0) {
                text_.append(buffer, size_t(n));
                // The terminal writes each line end as "\r\n": back to "\n".
                for (size_t at = text_.find("\r\n"); at != std::string::npos;
                     at = text_.find("\r\n", at)) {
                    text_.erase(at, 1);
                }
            } else if (!(n < 0 && errno == EINTR)) {
                closed_ = true;  // EIO once the last holder of the terminal has closed it
            }
        }
        return true;
    }
    // Reads to the end of what the program shows and waits for it: waitpid's status.
    std::optional<int> Finish(std::chrono::milliseconds bound) {
        ReadUntil([this](const std::string&) { return closed_; }, bound);
        return run_ ? run_->WaitForExit(bound) : std::nullopt;
    }

    const std::string& Text() const { return text_; }

    // The percentages of the progress line's states ("svremux:  42%  ..."), in the order shown.
    static std::vector<int> Percentages(const std::string& text) {
        std::vector<int> found;
        const std::string prefix = "\rsvremux: ";
        for (size_t at = text.find(prefix); at != std::string::npos;
             at = text.find(prefix, at + 1)) {
            const char* digits = text.c_str() + at + prefix.size();
            char* after = nullptr;
            const long percent = std::strtol(digits, &after, 10);
            if (after != digits && *after == '%') found.push_back(int(percent));
        }
        return found;
    }
    // The last state of the line: after its last carriage return, before the line end.
    static std::string LastState(const std::string& text) {
        const size_t last = text.rfind('\r');
        return last == std::string::npos ? std::string() : text.substr(last + 1);
    }

private:
    int master_ = -1;
    std::unique_ptr<SvTestSupport::ChildProcess> run_;
    std::string text_;
    bool closed_ = false;
};

}  // namespace SvremuxTestSupport

#endif  // TOOLS_SVREMUX_SVREMUXTERMINALRUN_H
