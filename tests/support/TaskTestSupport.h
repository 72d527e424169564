#ifndef TESTS_SUPPORT_TASKTESTSUPPORT_H
#define TESTS_SUPPORT_TASKTESTSUPPORT_H

// Header-only: a task that runs a function, for tests that post work to a task queue.

#include <boost/shared_ptr.hpp>

#include <functional>
#include <string>

#include "engine/core/Task.h"

namespace SvTestSupport {

// Runs its function once (category 8, stack 0) and is not queued again.
class FunctionTask : public SarvelonMediaKit::Task {
public:
    FunctionTask(const std::string& name, std::function<void()> body)
        : Task(8, 0, name), body_(std::move(body)) {}
    bool Execute() override {
        body_();
        return false;
    }

private:
    std::function<void()> body_;
};

inline boost::shared_ptr<SarvelonMediaKit::Task> MakeTask(const std::string& name,
                                                          std::function<void()> body) {
    return boost::shared_ptr<SarvelonMediaKit::Task>(new FunctionTask(name, std::move(body)));
}

}  // namespace SvTestSupport

#endif
