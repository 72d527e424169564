#ifndef PLATFORM_UI_CONTROLLER_TEST_SUPPORT_H
#define PLATFORM_UI_CONTROLLER_TEST_SUPPORT_H
// For the controller tests: a view controller that writes each life-cycle and rotation call it
// gets into a shared journal as "name.call(args)", e.g. "A.willAppear(1)", "A.should(3)",
// "A.willRotate(3,0.3)", "A.didRotate(1)"; and a fixture with a manual-clock toolkit loop, an
// application of the test's own, a portrait phone and the log lines written during the test.

#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/core/Format.h"
#include "platform/core/LogWriter.h"
#include "platform/ui/Application.h"
#include "platform/ui/TestLoop.h"
#include "platform/ui/ViewController.h"

namespace ui {

class RecordingViewController : public ViewController {
public:
    using Journal = std::vector<std::string>;

    RecordingViewController(std::string name, std::shared_ptr<Journal> journal,
                            std::string interfaceName = std::string())
        : ViewController(std::move(interfaceName)),
          name_(std::move(name)),
          journal_(std::move(journal)) {}

    // Orientations answered yes (portrait only by default, like the platform).
    std::set<InterfaceOrientation> allowed{InterfaceOrientation::Portrait};
    int didLoadCount = 0;
    int didUnloadCount = 0;
    // The view's frame when will-animate-rotation came.
    Rect frameAtWillAnimate;

    void ViewDidLoad() override {
        ++didLoadCount;
        Note("didLoad()");
    }
    void ViewDidUnload() override {
        ++didUnloadCount;
        Note("didUnload()");
    }
    void ViewWillAppear(bool a) override { Note(ns::Format("willAppear(%d)", a)); }
    void ViewDidAppear(bool a) override { Note(ns::Format("didAppear(%d)", a)); }
    void ViewWillDisappear(bool a) override { Note(ns::Format("willDisappear(%d)", a)); }
    void ViewDidDisappear(bool a) override { Note(ns::Format("didDisappear(%d)", a)); }
    bool ShouldAutorotateToInterfaceOrientation(InterfaceOrientation o) override {
        Note(ns::Format("should(%d)", static_cast<int>(o)));
        return allowed.count(o) != 0;
    }
    void WillRotateToInterfaceOrientation(InterfaceOrientation o, double d) override {
        Note(ns::Format("willRotate(%d,%g)", static_cast<int>(o), d));
    }
    void WillAnimateRotationToInterfaceOrientation(InterfaceOrientation o, double d) override {
        if (IsViewLoaded()) {
            frameAtWillAnimate = GetView()->Frame();
        }
        Note(ns::Format("willAnimate(%d,%g)", static_cast<int>(o), d));
    }
    void DidRotateFromInterfaceOrientation(InterfaceOrientation from) override {
        Note(ns::Format("didRotate(%d)", static_cast<int>(from)));
    }

private:
    void Note(const std::string& call) { journal_->push_back(name_ + "." + call); }

    std::string name_;
    std::shared_ptr<Journal> journal_;
};

class ControllerTest : public ::testing::Test {
protected:
    void SetUp() override {
        UiDevice::Current().SetIdiom(UserInterfaceIdiom::Phone);
        UiDevice::Current().SetOrientation(DeviceOrientation::Portrait);
        app_ = std::make_unique<Application>();
        ns::LogWriter::Shared().SetSink([this](const std::string& line) { logs_.push_back(line); });
    }
    void TearDown() override { ns::LogWriter::Shared().SetSink(nullptr); }

    std::shared_ptr<RecordingViewController> Make(const std::string& name,
                                                  const std::string& interfaceName = "") {
        return std::make_shared<RecordingViewController>(name, journal_, interfaceName);
    }
    // The journal so far, emptied.
    RecordingViewController::Journal Take() {
        RecordingViewController::Journal out;
        out.swap(*journal_);
        return out;
    }
    // How many log lines contain every one of the texts.
    int LogsWith(std::initializer_list<std::string> texts) const {
        int n = 0;
        for (const std::string& line : logs_) {
            bool all = true;
            for (const std::string& t : texts) {
                all = all && line.find(t) != std::string::npos;
            }
            n += all ? 1 : 0;
        }
        return n;
    }

    TestLoop loop_;
    std::unique_ptr<Application> app_;
    std::shared_ptr<RecordingViewController::Journal> journal_ =
        std::make_shared<RecordingViewController::Journal>();
    std::vector<std::string> logs_;
};

}  // namespace ui

#endif  // PLATFORM_UI_CONTROLLER_TEST_SUPPORT_H
