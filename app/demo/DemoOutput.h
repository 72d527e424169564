#ifndef APP_DEMO_DEMOOUTPUT_H
#define APP_DEMO_DEMOOUTPUT_H
// Where the scripted session of `zul-demo --demo DIR` writes:
//
//   - the step report goes to the standard output the program was started with, and nothing
//     else does: whatever else the process prints on standard output or standard error (the
//     engine's own lines such as "SessionSetupCompleted" or "~Transformer", a sound library
//     without a card) goes to a file instead (separateReport), so that it cannot land in the
//     middle of the report, whether the report is read on a terminal or in a file;
//   - every log line goes to the log file (openLog, logSink). A sink and each of its copies
//     keep that file open, so a line that another thread logs late, after the session let go
//     of the log, is still written, never into a file that was closed already.
//
// Both streams are written whole lines at a time and flushed. openLog and separateReport run
// once, before the application starts; logSink's sinks may be
// called from any thread; report from the main thread.

#include <cstdio>
#include <memory>
#include <string>

#include "platform/core/LogWriter.h"

class DemoOutput {
public:
    // Makes (or empties) the log file at `path`; false with the reason in `error`.
    bool openLog(const std::string& path, std::string& error);
    // A sink that writes each line to the log file; it writes nothing when no log is open.
    ns::LogWriter::Sink logSink() const;

    // Keeps the current standard output for the report and sends the process's standard
    // output and standard error from now on to the file at `path` (made or emptied), the two
    // in the order they are written. False with the reason in `error`; both are then left
    // where they were.
    bool separateReport(const std::string& path, std::string& error);
    // One line of the report (a line break is added): to the kept standard output once
    // separateReport succeeded, else to standard output.
    void report(const std::string& line);

private:
    std::shared_ptr<FILE> log_;
    std::shared_ptr<FILE> report_;
};

#endif  // APP_DEMO_DEMOOUTPUT_H
