#include "platform/ui/UiDevice.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

#include "platform/ui/ControllerTestSupport.h"
#include "platform/ui/Keyboard.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/Screen.h"
#include "platform/ui/ScreenMetrics.h"
#include "platform/ui/Window.h"

namespace ui {
namespace {

using Journal = RecordingViewController::Journal;
constexpr auto kPortrait = InterfaceOrientation::Portrait;
constexpr auto kLandscapeRight = InterfaceOrientation::LandscapeRight;  // 3
constexpr auto kLandscapeLeft = InterfaceOrientation::LandscapeLeft;    // 4

class RotateTest : public ControllerTest {
protected:
    // A visible key window on a portrait phone (status bar shown) with `root`.
    void Show(const ViewController::Ptr& root) {
        window_->SetRootViewController(root);
        window_->MakeKeyAndVisible();
        Take();
    }
    std::shared_ptr<Window> window_ = std::make_shared<Window>(Rect(0, 0, 320, 480));
    UiDevice& device_ = UiDevice::Current();
};

TEST_F(RotateTest, CallsShouldWillWillAnimateThenDidAfterTheRotation) {
    auto r = Make("R");
    r->allowed = {kPortrait, kLandscapeRight};
    Show(r);
    EXPECT_TRUE(device_.Rotate(DeviceOrientation::LandscapeLeft));
    EXPECT_EQ(Take(), (Journal{"R.should(3)", "R.willRotate(3,0.3)", "R.willAnimate(3,0.3)"}));
    // Will-animate already sees the landscape window: 480 x 320, less the status bar.
    EXPECT_EQ(r->frameAtWillAnimate, Rect(0, 20, 480, 300));
    EXPECT_EQ(window_->Frame(), Rect(0, 0, 480, 320));
    EXPECT_EQ(Screen::Main().Bounds(), Rect(0, 0, 480, 320));
    // The keyboard and the navigation bar read the turned screen: a landscape phone's keyboard
    // is 162 high along the bottom of 480 x 320, and its bar 32 high.
    EXPECT_TRUE(ScreenMetrics::Current().IsLandscapePhone());
    EXPECT_EQ(Keyboard::Frame(), Rect(0, 320 - 162, 480, 162));
    EXPECT_EQ(app_->StatusBarOrientation(), kLandscapeRight);
    EXPECT_EQ(r->GetInterfaceOrientation(), kLandscapeRight);
    loop_.Advance(0.29);
    EXPECT_TRUE(Take().empty());
    loop_.Advance(0.01);
    EXPECT_EQ(Take(), (Journal{"R.didRotate(1)"}));
}

TEST_F(RotateTest, ARefusalStopsAfterShould) {
    auto r = Make("R");  // portrait only
    Show(r);
    EXPECT_FALSE(device_.Rotate(DeviceOrientation::LandscapeRight));
    EXPECT_EQ(Take(), (Journal{"R.should(4)"}));
    loop_.Advance(1);
    EXPECT_TRUE(Take().empty());
    EXPECT_EQ(app_->StatusBarOrientation(), kPortrait);
    EXPECT_EQ(window_->Frame(), Rect(0, 0, 320, 480));
    // The device is held that way all the same.
    EXPECT_EQ(device_.Orientation(), DeviceOrientation::LandscapeRight);

    // Face up asks the interface nothing.
    EXPECT_TRUE(device_.Rotate(DeviceOrientation::FaceUp));
    EXPECT_TRUE(Take().empty());
    EXPECT_EQ(device_.Orientation(), DeviceOrientation::FaceUp);
    EXPECT_FALSE(device_.Rotate(static_cast<DeviceOrientation>(9)));
    EXPECT_EQ(device_.Orientation(), DeviceOrientation::FaceUp);
    EXPECT_EQ(LogsWith({"orientation 9"}), 1);
}

TEST_F(RotateTest, AHalfTurnTakesTwiceAsLongAndANewRotationEndsTheOldOneFirst) {
    auto r = Make("R");
    r->allowed = {kPortrait, kLandscapeRight, kLandscapeLeft};
    Show(r);
    device_.Rotate(DeviceOrientation::LandscapeLeft);  // interface 3
    loop_.Advance(0.3);
    Take();
    device_.Rotate(DeviceOrientation::LandscapeRight);  // interface 4: half a turn
    EXPECT_EQ(Take(), (Journal{"R.should(4)", "R.willRotate(4,0.6)", "R.willAnimate(4,0.6)"}));
    loop_.Advance(0.1);
    device_.Rotate(DeviceOrientation::Portrait);
    EXPECT_EQ(Take(), (Journal{"R.didRotate(3)", "R.should(1)", "R.willRotate(1,0.3)",
                               "R.willAnimate(1,0.3)"}));
    loop_.Advance(0.3);
    EXPECT_EQ(Take(), (Journal{"R.didRotate(4)"}));
    EXPECT_EQ(window_->Frame(), Rect(0, 0, 320, 480));
}

TEST_F(RotateTest, OnlyTheVisibleControllerTurnsAndTheCoveredOneCatchesUpWhenItReturns) {
    auto r = Make("R");
    r->allowed = {kPortrait, kLandscapeRight};
    Show(r);
    auto q = Make("Q");
    q->allowed = {kPortrait, kLandscapeRight};
    r->PresentViewController(q, false);
    loop_.Step();
    Take();
    device_.Rotate(DeviceOrientation::LandscapeLeft);
    loop_.Advance(0.3);
    EXPECT_EQ(Take(), (Journal{"Q.should(3)", "Q.willRotate(3,0.3)", "Q.willAnimate(3,0.3)",
                               "Q.didRotate(1)"}));
    EXPECT_EQ(q->GetView()->Frame(), Rect(0, 20, 480, 300));
    q->DismissViewController(false);
    EXPECT_EQ(Take(), (Journal{"Q.willDisappear(0)", "R.willRotate(3,0)", "R.willAnimate(3,0)",
                               "R.didRotate(1)", "R.willAppear(0)"}));
    EXPECT_EQ(r->GetView()->Frame(), Rect(0, 20, 480, 300));
}

TEST_F(RotateTest, ANavigationControllerAsksItsTopAndShortensItsBarOnAPhone) {
    auto a = Make("A");
    a->allowed = {kPortrait, kLandscapeRight};
    auto nav = std::make_shared<NavigationController>(a);
    Show(nav);
    EXPECT_FALSE(device_.Rotate(DeviceOrientation::PortraitUpsideDown));
    EXPECT_EQ(Take(), (Journal{"A.should(2)"}));
    EXPECT_TRUE(device_.Rotate(DeviceOrientation::LandscapeLeft));
    EXPECT_EQ(Take(), (Journal{"A.should(3)", "A.willRotate(3,0.3)", "A.willAnimate(3,0.3)"}));
    // The container is 480 x 300 under the status bar; a phone's landscape bar is 32 high.
    EXPECT_EQ(nav->NavigationBar()->Frame(), Rect(0, 0, 480, 32));
    EXPECT_EQ(a->GetView()->Frame(), Rect(0, 32, 480, 268));
    loop_.Advance(0.3);
    EXPECT_EQ(Take(), (Journal{"A.didRotate(1)"}));
}

class EnvironmentTest : public ::testing::Test {
protected:
    // The device is made (from the environment as it was) before a test changes it.
    void SetUp() override { UiDevice::Current(); }
    void TearDown() override {
        for (const char* name :
             {"ZUL_DEVICE_IDIOM", "ZUL_DEVICE_MODEL", "ZUL_DEVICE_NAME", "ZUL_SYSTEM_NAME",
              "ZUL_SYSTEM_VERSION", "ZUL_DEVICE_ORIENTATION"}) {
            unsetenv(name);
        }
        UiDevice::Current().LoadFromEnvironment();
        ns::LogWriter::Shared().SetSink(nullptr);
    }
};

TEST_F(EnvironmentTest, TheDeviceIsReadFromTheEnvironment) {
    setenv("ZUL_DEVICE_IDIOM", "pad", 1);
    setenv("ZUL_DEVICE_MODEL", "Tablet", 1);
    setenv("ZUL_DEVICE_NAME", "Ann's tablet", 1);
    setenv("ZUL_SYSTEM_NAME", "TestOS", 1);
    setenv("ZUL_SYSTEM_VERSION", "5.1", 1);
    setenv("ZUL_DEVICE_ORIENTATION", "4", 1);
    UiDevice& device = UiDevice::Current();
    device.LoadFromEnvironment();
    EXPECT_EQ(device.Idiom(), UserInterfaceIdiom::Pad);
    EXPECT_TRUE(device.IsPad());
    EXPECT_EQ(device.Model(), "Tablet");
    EXPECT_EQ(device.Name(), "Ann's tablet");
    EXPECT_EQ(device.SystemName(), "TestOS");
    EXPECT_EQ(device.SystemVersion(), "5.1");
    EXPECT_EQ(device.Orientation(), DeviceOrientation::LandscapeRight);
    // An application started now stands in landscape: a pad's 768 x 1024 turned.
    Application app;
    EXPECT_EQ(app.StatusBarOrientation(), kLandscapeLeft);
    EXPECT_EQ(Screen::Main().Bounds(), Rect(0, 0, 1024, 768));

    setenv("ZUL_DEVICE_IDIOM", "none", 1);
    device.LoadFromEnvironment();
    EXPECT_EQ(device.Idiom(), UserInterfaceIdiom::Unspecified);
    EXPECT_FALSE(device.IsPad());
    EXPECT_EQ(Screen::SizeFor(device.Idiom(), kPortrait), Size(320, 480));  // as a phone
}

TEST_F(EnvironmentTest, WithoutAModelTheDeviceReportsTheModelOfItsIdiom) {
    UiDevice& device = UiDevice::Current();
    for (const char* idiom : {"phone", "none", "pad"}) {
        setenv("ZUL_DEVICE_IDIOM", idiom, 1);
        device.LoadFromEnvironment();
        EXPECT_EQ(device.Model(), std::string(idiom) == "pad" ? "iPad" : "iPhone") << idiom;
    }
    // The idiom set later decides it too; a model set by a call wins until it is cleared.
    device.SetIdiom(UserInterfaceIdiom::Phone);
    EXPECT_EQ(device.Model(), "iPhone");
    device.SetModel("Tablet");
    EXPECT_EQ(device.Model(), "Tablet");
    device.SetModel("");
    device.SetIdiom(UserInterfaceIdiom::Pad);
    EXPECT_EQ(device.Model(), "iPad");
    // The system still reads as the machine's own.
    EXPECT_FALSE(device.SystemName().empty());
    EXPECT_FALSE(device.SystemVersion().empty());
}

TEST_F(EnvironmentTest, ValuesTheDeviceDoesNotKnowAreReportedAndReplaced) {
    std::vector<std::string> lines;
    ns::LogWriter::Shared().SetSink([&](const std::string& line) { lines.push_back(line); });
    setenv("ZUL_DEVICE_IDIOM", "watch", 1);
    setenv("ZUL_DEVICE_ORIENTATION", "12", 1);
    UiDevice& device = UiDevice::Current();
    device.LoadFromEnvironment();
    EXPECT_EQ(device.Idiom(), UserInterfaceIdiom::Phone);
    EXPECT_EQ(device.Orientation(), DeviceOrientation::Portrait);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NE(lines[0].find("ZUL_DEVICE_IDIOM=watch"), std::string::npos);
    EXPECT_NE(lines[1].find("ZUL_DEVICE_ORIENTATION=12"), std::string::npos);
    // Unset, the model is the machine's and the name is not empty.
    EXPECT_FALSE(device.Model().empty());
    EXPECT_FALSE(device.SystemName().empty());
}

}  // namespace
}  // namespace ui
