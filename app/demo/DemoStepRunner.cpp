#include "app/demo/DemoStepRunner.h"

#include <cstdio>
#include <utility>

namespace {

// The message of a log line: what follows "Process[pid:tid] ", without the line break.
std::string MessageOf(const std::string& line) {
    const size_t start = line.find("] ");
    std::string message = start == std::string::npos ? line : line.substr(start + 2);
    while (!message.empty() && message.back() == '\n') message.pop_back();
    return message;
}

// Long messages (a whole JSON answer) are cut for the report.
std::string Shortened(const std::string& message) {
    constexpr size_t kMax = 150;
    return message.size() <= kMax ? message : message.substr(0, kMax) + "...";
}

std::string SecondsText(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f s", seconds);
    return text;
}

}  // namespace

// Shared with the log sink, which may outlive the runner for a moment on another thread.
struct DemoStepRunner::LogCapture {
    mutable std::mutex mutex;
    std::vector<std::string> messages;
    ns::LogWriter::Sink forward;
};

DemoStepRunner::DemoStepRunner(WaitFunction wait, CaptureFunction capture, PrintFunction print)
    : wait_(std::move(wait)),
      capture_(std::move(capture)),
      print_(std::move(print)),
      log_(std::make_shared<LogCapture>()) {}

DemoStepRunner::~DemoStepRunner() = default;

void DemoStepRunner::Add(Step step) { steps_.push_back(std::move(step)); }

void DemoStepRunner::SetLogForward(ns::LogWriter::Sink forward) {
    std::lock_guard<std::mutex> lock(log_->mutex);
    log_->forward = std::move(forward);
}

std::vector<std::string> DemoStepRunner::Messages() const {
    std::lock_guard<std::mutex> lock(log_->mutex);
    return log_->messages;
}

size_t DemoStepRunner::MessageCount() const {
    std::lock_guard<std::mutex> lock(log_->mutex);
    return log_->messages.size();
}

std::string DemoStepRunner::FindTag(const std::string& tag, size_t from) const {
    std::lock_guard<std::mutex> lock(log_->mutex);
    for (size_t i = from; i < log_->messages.size(); ++i) {
        if (log_->messages[i].compare(0, tag.size(), tag) == 0) return log_->messages[i];
    }
    return std::string();
}

double DemoStepRunner::Seconds() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
}

void DemoStepRunner::Print(const std::string& line) const {
    if (print_) print_(line);
}

bool DemoStepRunner::Run() {
    start_ = std::chrono::steady_clock::now();
    failedStep_.clear();
    std::shared_ptr<LogCapture> log = log_;
    ns::LogWriter::Shared().SetSink([log](const std::string& line) {
        ns::LogWriter::Sink forward;
        {
            std::lock_guard<std::mutex> lock(log->mutex);
            log->messages.push_back(MessageOf(line));
            forward = log->forward;
        }
        if (forward) forward(line);
    });
    bool ok = true;
    for (size_t i = 0; i < steps_.size() && ok; ++i) {
        ok = RunStep(steps_[i], i + 1);
        if (!ok) failedStep_ = steps_[i].name;
    }
    ns::LogWriter::Shared().SetSink(nullptr);
    if (ok) {
        Print("all " + std::to_string(steps_.size()) + " steps held in " + SecondsText(Seconds()));
    } else {
        Print("the step \"" + failedStep_ + "\" failed");
    }
    return ok;
}

bool DemoStepRunner::RunStep(const Step& step, size_t number) {
    const double began = Seconds();
    const std::string head =
        "[" + SecondsText(began) + "] " + std::to_string(number) + ". " + step.name;
    const size_t from = MessageCount();
    std::string error;
    if (step.action && !step.action(error)) {
        Print(head + ": FAILED: " + (error.empty() ? "the input was not taken" : error));
        return false;
    }
    auto tagsSeen = [&] {
        for (const std::string& tag : step.tags) {
            if (FindTag(tag, from).empty()) return false;
        }
        return true;
    };
    const bool held =
        wait_([&] { return (!step.done || step.done()) && tagsSeen(); }, step.timeout);
    // The condition is asked once more: a wait that timed out may have missed the last change.
    if (!held && !((!step.done || step.done()) && tagsSeen())) {
        std::string missing;
        if (step.done && !step.done()) {
            missing = step.doneText.empty() ? "its condition" : step.doneText;
        }
        for (const std::string& tag : step.tags) {
            if (!FindTag(tag, from).empty()) continue;
            missing += (missing.empty() ? "" : ", ") + std::string("no \"") + tag + "\" in the log";
        }
        Print(head + ": FAILED after " + SecondsText(step.timeout) + ": " + missing);
        return false;
    }
    if (!step.picture.empty()) {
        if (step.settle > 0) wait_([] { return false; }, step.settle);
        error.clear();
        DemoPicture picture;
        if (!capture_ || !capture_(step.picture, picture, error)) {
            Print(head + ": FAILED: no picture \"" + step.picture + "\"" +
                  (error.empty() ? "" : ": " + error));
            return false;
        }
        if (step.checkPicture) {
            const std::string wrong = step.checkPicture(picture);
            if (!wrong.empty()) {
                Print(head + ": FAILED: picture \"" + step.picture + "\": " + wrong);
                return false;
            }
        }
    }
    Print(head + ": ok in " + SecondsText(Seconds() - began) +
          (step.picture.empty() ? "" : ", picture " + step.picture));
    for (const std::string& tag : step.tags) {
        Print("      " + Shortened(FindTag(tag, from)));
    }
    if (step.shown) Print("      " + Shortened(step.shown()));
    return true;
}
