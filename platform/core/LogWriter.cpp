#include "platform/core/LogWriter.h"

#include <errno.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>

namespace ns {

LogWriter& LogWriter::Shared() {
    static LogWriter* writer = new LogWriter();
    return *writer;
}

LogWriter::LogWriter() : processName_(program_invocation_short_name) {}

std::string LogWriter::MakeLine(std::chrono::system_clock::time_point when,
                                std::string_view processName, long pid, long tid,
                                std::string_view message) {
    using namespace std::chrono;
    auto sinceEpoch = when.time_since_epoch();
    auto secs = duration_cast<seconds>(sinceEpoch);
    auto millis = duration_cast<milliseconds>(sinceEpoch - secs).count();
    if (millis < 0) {  // before 1970: borrow a second so that the milliseconds stay positive
        secs -= seconds(1);
        millis += 1000;
    }
    time_t t = static_cast<time_t>(secs.count());
    struct tm local {};
    localtime_r(&t, &local);
    char stamp[64];
    std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02d %02d:%02d:%02d.%03d", local.tm_year + 1900,
                  local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
                  static_cast<int>(millis));
    std::string line = stamp;
    line += ' ';
    line += processName;
    line += Format("[%ld:%ld] ", pid, tid);
    line += message;
    return line;
}

std::string LogWriter::BoundedLine(std::string_view prefix, std::string_view message) {
    std::string line(prefix);
    if (prefix.size() + message.size() + 1 <= kMaxLineBytes) {
        line += message;
        line += '\n';
        return line;
    }
    const auto marker = [&message](size_t kept) {
        return "... (" + std::to_string(message.size() - kept) + " bytes cut)";
    };
    // Room for the text once the prefix, the marker (at its longest) and the break are in.
    const size_t fixed = prefix.size() + marker(0).size() + 1;
    size_t kept = fixed < kMaxLineBytes ? kMaxLineBytes - fixed : 0;
    // Back to the start of a character: a UTF-8 continuation byte is 10xxxxxx.
    while (kept > 0 && (static_cast<unsigned char>(message[kept]) & 0xC0) == 0x80) --kept;
    line += message.substr(0, kept);
    line += marker(kept);
    line += '\n';
    return line;
}

void LogWriter::Write(std::string_view message) {
    std::shared_ptr<Sink> sink;
    std::string name;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        sink = sink_;
        name = processName_;
    }
    const std::string prefix =
        MakeLine(std::chrono::system_clock::now(), name, static_cast<long>(getpid()),
                 static_cast<long>(syscall(SYS_gettid)), std::string_view());
    const std::string line = BoundedLine(prefix, message);
    if (sink) {
        (*sink)(line);
        return;
    }
    const char* data = line.data();
    size_t left = line.size();
    while (left > 0) {
        ssize_t n = ::write(STDERR_FILENO, data, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;  // nowhere to log to: the message is dropped, nothing else fails
        data += n;
        left -= static_cast<size_t>(n);
    }
}

void LogWriter::SetSink(Sink sink) {
    std::shared_ptr<Sink> next = sink ? std::make_shared<Sink>(std::move(sink)) : nullptr;
    std::lock_guard<std::mutex> lock(mutex_);
    sink_.swap(next);
}

void LogWriter::SetProcessName(std::string name) {
    std::lock_guard<std::mutex> lock(mutex_);
    processName_ = std::move(name);
}

}  // namespace ns
