#include "app/demo/DemoOutput.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <unistd.h>

namespace {

void CloseFile(FILE* file) {
    if (file) std::fclose(file);
}

void WriteLine(FILE* file, const std::string& line) {
    std::fwrite(line.data(), 1, line.size(), file);
    std::fflush(file);
}

}  // namespace

bool DemoOutput::openLog(const std::string& path, std::string& error) {
    FILE* file = std::fopen(path.c_str(), "we");
    if (file == nullptr) {
        error = "cannot write " + path + ": " + strerror(errno);
        return false;
    }
    log_.reset(file, CloseFile);
    return true;
}

ns::LogWriter::Sink DemoOutput::logSink() const {
    std::shared_ptr<FILE> log = log_;
    return [log](const std::string& line) {
        if (log) WriteLine(log.get(), line);
    };
}

bool DemoOutput::separateReport(const std::string& path, std::string& error) {
    std::fflush(stdout);
    std::fflush(stderr);
    const int kept = fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
    if (kept < 0) {
        error = std::string("cannot keep standard output: ") + strerror(errno);
        return false;
    }
    FILE* report = fdopen(kept, "w");
    if (report == nullptr) {
        error = std::string("cannot keep standard output: ") + strerror(errno);
        close(kept);
        return false;
    }
    const int file = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (file < 0) {
        error = "cannot write " + path + ": " + strerror(errno);
        std::fclose(report);
        return false;
    }
    // Descriptors 1 and 2 become the file, sharing one offset, so that neither overwrites the
    // other's lines; the descriptor made for it is not needed any more.
    const char* failed = nullptr;
    int reason = 0;
    if (dup2(file, STDOUT_FILENO) != STDOUT_FILENO) {
        failed = "standard output";
        reason = errno;
    } else if (dup2(file, STDERR_FILENO) != STDERR_FILENO) {
        failed = "standard error";
        reason = errno;
        // Standard output goes back where it was: the report's copy of it.
        dup2(kept, STDOUT_FILENO);
    }
    close(file);
    if (failed) {
        error = std::string("cannot send ") + failed + " to " + path + ": " + strerror(reason);
        std::fclose(report);
        return false;
    }
    report_.reset(report, CloseFile);
    return true;
}

void DemoOutput::report(const std::string& line) {
    WriteLine(report_ ? report_.get() : stdout, line + "\n");
}
