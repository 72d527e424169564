#ifndef PLATFORM_CORE_LOG_WRITER_H
#define PLATFORM_CORE_LOG_WRITER_H
// The application's log lines, one per message, in the platform's form:
//
//   2013-05-06 14:03:27.512 Zul[4242:4250] [Q] PLAYSTATE: 1
//
// local date and time to the millisecond, the process name, the process and thread ids, then
// the message. Lines go to standard error, each in one write so that threads do not interleave;
// tests install a sink that receives the finished lines instead. Any thread may log.
//
// A line is at most kMaxLineBytes long, its line break included: a longer message keeps its
// start (cut between UTF-8 characters) and ends in "... (N bytes cut)", N the bytes of the
// message left out. A message may carry a whole answer from outside (a search result, a
// subtitle document's text): without the bound one such line could be megabytes. 4096 bytes is
// PIPE_BUF on Linux, the most one write to a pipe puts there at once, so a line stays whole
// even when standard error is a pipe shared with other writers; every line the application
// writes about its own state (header fields, URLs, error texts) fits well within it.

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "platform/core/Format.h"

namespace ns {

class LogWriter {
public:
    static constexpr size_t kMaxLineBytes = 4096;

    using Sink = std::function<void(const std::string& line)>;

    // The process-wide writer, made on first use, never destroyed.
    static LogWriter& Shared();

    // Writes one line: the message's line breaks are kept, one trailing break is added.
    void Write(std::string_view message);
    template <typename... Args>
    void Writef(std::string_view format, const Args&... args) {
        Write(Format(format, args...));
    }

    // A sink receives each line (with its final line break); null restores standard error.
    // The sink is called with no lock held and may be called from several threads at once.
    void SetSink(Sink sink);
    // The name in each line; the program's own name until set.
    void SetProcessName(std::string name);

    // The line for a message at a given moment, without the final line break.
    static std::string MakeLine(std::chrono::system_clock::time_point when,
                                std::string_view processName, long pid, long tid,
                                std::string_view message);
    // The line of `prefix` and `message`, with its final line break, cut as above.
    static std::string BoundedLine(std::string_view prefix, std::string_view message);

private:
    LogWriter();

    std::mutex mutex_;  // guards sink_ and processName_
    std::shared_ptr<Sink> sink_;
    std::string processName_;
};

// Shorthand: ns::Log("[Q] PLAYSTATE: %i", state).
template <typename... Args>
void Log(std::string_view format, const Args&... args) {
    LogWriter::Shared().Writef(format, args...);
}

}  // namespace ns

#endif
