// The callbacks that views, timers and observers hold on a controller: they reach it while it
// lives, never once it has gone, keep it alive while they run, and pass on the arguments it
// takes.

#include "app/WeakCallback.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "platform/ui/ViewController.h"

namespace {

class CountingController : public ui::ViewController {
public:
    explicit CountingController(bool* destroyed = nullptr) : destroyed_(destroyed) {}
    ~CountingController() override {
        if (destroyed_ != nullptr) *destroyed_ = true;
    }
    void Hit() { ++hits; }
    void Add(int n) { hits += n; }

    int hits = 0;

private:
    bool* destroyed_;
};

TEST(WeakCallbackTest, ReachesTheControllerWhileItLivesAndNothingAfterwards) {
    auto controller = std::make_shared<CountingController>();
    const std::function<void()> hit = WeakCallback(*controller, &CountingController::Hit);
    hit();
    hit();
    EXPECT_EQ(2, controller->hits);

    std::weak_ptr<CountingController> gone = controller;
    controller.reset();
    ASSERT_TRUE(gone.expired());
    hit();  // nothing to reach, nothing done
}

TEST(WeakCallbackTest, PassesTheArgumentsTheFunctionTakesAndLeavesOutTheOthers) {
    auto controller = std::make_shared<CountingController>();
    // A timer's callback with an argument the member takes.
    const std::function<void(int)> add = WeakCallback(*controller, &CountingController::Add);
    add(5);
    EXPECT_EQ(5, controller->hits);
    // An animation's completion: its finished flag is not something Hit takes.
    const std::function<void(bool)> completion =
        WeakCallback(*controller, &CountingController::Hit);
    completion(false);
    EXPECT_EQ(6, controller->hits);
    // A lambda gets the controller first, then the callback's arguments.
    std::string seen;
    const std::function<void(const std::string&)> named =
        WeakCallback(*controller, [&seen](CountingController& c, const std::string& text) {
            seen = text + " " + std::to_string(c.hits);
        });
    named("hits");
    EXPECT_EQ("hits 6", seen);
}

TEST(WeakCallbackTest, KeepsTheControllerAliveWhileItRuns) {
    bool destroyed = false;
    auto controller = std::make_shared<CountingController>(&destroyed);
    bool aliveAfterRelease = false;
    const std::function<void()> release = WeakCallback(*controller, [&](CountingController& c) {
        controller.reset();  // the last owner lets go from inside the callback
        aliveAfterRelease = !destroyed;
        c.Hit();
    });
    release();
    EXPECT_TRUE(aliveAfterRelease);
    EXPECT_TRUE(destroyed);
}

TEST(WeakCallbackTest, AControllerNotYetOwnedIsNeverCalled) {
    CountingController unowned;
    const std::function<void()> hit = WeakCallback(unowned, &CountingController::Hit);
    hit();
    EXPECT_EQ(0, unowned.hits);
}

}  // namespace
