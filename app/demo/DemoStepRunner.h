#ifndef APP_DEMO_DEMOSTEPRUNNER_H
#define APP_DEMO_DEMOSTEPRUNNER_H
// Runs a scripted session as a list of named steps and says, for each, whether it held, when,
// and which log lines prove it.
//
// A step runs its action once (a person's input), then waits, for at most its time-out, until
// its condition holds and every one of its log tags was logged since the step began (a tag
// matches a message that begins with it; lines logged before the step do not count). Then the
// picture named by the step is taken, and checked when the step says what it must show. The first
// step that fails ends the run: its line names the step and what was missing, and no later step
// runs.
//
// While Run() goes on, every ns::Log line goes to the runner (and to the forward sink, when one
// is set), not to standard error; afterwards the log writes to standard error again.
//
// How to wait and how to take a picture are the caller's: in a window the wait iterates GLib,
// in a test it moves a manual clock. Main thread only (log lines may come from any thread).

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "app/demo/DemoPicture.h"
#include "platform/core/LogWriter.h"

class DemoStepRunner {
public:
    // Waits until condition() holds (true) or `seconds` have passed (false).
    using WaitFunction =
        std::function<bool(const std::function<bool()>& condition, double seconds)>;
    // Takes the picture named `name` and gives its pixels in `picture` (may leave it empty
    // when no step checks what a picture shows); false with the reason in `error`.
    using CaptureFunction =
        std::function<bool(const std::string& name, DemoPicture& picture, std::string& error)>;
    // Receives each line of the report (no line break).
    using PrintFunction = std::function<void(const std::string& line)>;

    struct Step {
        std::string name;
        // A person's input; false with the reason in `error` fails the step at once. May be
        // null.
        std::function<bool(std::string& error)> action;
        // What shows that the step held, besides the tags; null: the tags alone.
        std::function<bool()> done;
        // Says what `done` waits for, in the failure line.
        std::string doneText;
        // Beginnings of log messages ("[Q] ALL OK") that must all be logged during the step.
        std::vector<std::string> tags;
        double timeout = 10;
        // The picture taken once the step held; empty: none.
        std::string picture;
        // How long the screen is left to settle (fades, slides) before its picture.
        double settle = 0;
        // What the picture must show: empty when it does, else why not (the step fails with
        // it). Null: any picture will do.
        std::function<std::string(const DemoPicture& picture)> checkPicture;
        // What the screen showed, for the report once the step held ("subtitle: ..."); null:
        // nothing more than the tags.
        std::function<std::string()> shown;
    };

    DemoStepRunner(WaitFunction wait, CaptureFunction capture, PrintFunction print);
    ~DemoStepRunner();
    DemoStepRunner(const DemoStepRunner&) = delete;
    DemoStepRunner& operator=(const DemoStepRunner&) = delete;

    void Add(Step step);
    // Every log line goes there too while the session runs (for a log file).
    void SetLogForward(ns::LogWriter::Sink forward);

    // Runs the steps in order; true when every one held.
    bool Run();

    // The name of the step that failed; empty when none did.
    const std::string& FailedStep() const { return failedStep_; }
    // The messages logged so far in the run (without the line heads), in order.
    std::vector<std::string> Messages() const;

private:
    struct LogCapture;

    bool RunStep(const Step& step, size_t number);
    // The first message logged from index `from` on that begins with tag; empty when none.
    std::string FindTag(const std::string& tag, size_t from) const;
    size_t MessageCount() const;
    double Seconds() const;
    void Print(const std::string& line) const;

    WaitFunction wait_;
    CaptureFunction capture_;
    PrintFunction print_;
    std::vector<Step> steps_;
    std::shared_ptr<LogCapture> log_;
    std::string failedStep_;
    std::chrono::steady_clock::time_point start_;
};

#endif  // APP_DEMO_DEMOSTEPRUNNER_H
