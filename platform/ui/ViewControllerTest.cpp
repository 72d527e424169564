#include "platform/ui/ViewController.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/ui/Button.h"
#include "platform/ui/ControllerTestSupport.h"
#include "platform/ui/Label.h"
#include "platform/ui/Window.h"

namespace ui {
namespace {

using Journal = RecordingViewController::Journal;

// A stand-in for an interface object that is not a view (a navigation item).
struct Item {
    std::string title;
};

class LoginLike : public RecordingViewController {
public:
    LoginLike(std::shared_ptr<Journal> journal, const std::string& interfaceName)
        : RecordingViewController("L", std::move(journal), interfaceName) {
        BindOutlet("label", label);
        BindOutlet("signInButton", signInButton);
        BindOutlet("emailTextField", emailTextField);  // the interface lacks it
        BindOutlet("box", boxAsLabel);                 // a plain view, not a label
        BindOutlet("menuItem", menuItem);
    }
    std::shared_ptr<Label> label;
    std::shared_ptr<Button> signInButton;
    std::shared_ptr<View> emailTextField;
    std::shared_ptr<Label> boxAsLabel;
    std::shared_ptr<Item> menuItem;
};

class ViewControllerTest : public ControllerTest {
protected:
    void TearDown() override {
        InterfaceBuilder::Unregister("Login~test");
        ControllerTest::TearDown();
    }

    // A visible window (status bar hidden: views fill it) with `root`.
    std::shared_ptr<Window> Show(const ViewController::Ptr& root) {
        app_->SetStatusBarHidden(true);
        auto window = std::make_shared<Window>(Rect(0, 0, 320, 480));
        window->SetRootViewController(root);
        window->MakeKeyAndVisible();
        Take();
        return window;
    }
};

TEST_F(ViewControllerTest, ViewLoadsOnFirstUseOnceAndPlainViewsTakeTheScreenSize) {
    auto vc = Make("A");
    EXPECT_FALSE(vc->IsViewLoaded());
    EXPECT_EQ(vc->didLoadCount, 0);
    std::shared_ptr<View> v = vc->GetView();
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(vc->GetView(), v);
    EXPECT_EQ(vc->didLoadCount, 1);
    EXPECT_EQ(v->Frame(), Rect(0, 0, 320, 480));  // a phone in portrait

    UiDevice::Current().SetIdiom(UserInterfaceIdiom::Pad);
    auto pad = Make("P", "NoSuchInterface");
    EXPECT_EQ(pad->GetView()->Frame(), Rect(0, 0, 768, 1024));
    EXPECT_EQ(LogsWith({"no interface is registered", "NoSuchInterface"}), 1);
    EXPECT_EQ(LogsWith({"no interface is registered"}), 1);  // not for "A", which names none
}

TEST_F(ViewControllerTest, OutletsAreBoundByIdentifierAndMissingOnesReported) {
    ViewController* owner = nullptr;
    int builds = 0;
    InterfaceBuilder::Register("Login~test", [&](InterfaceBuilder::Context& ctx) {
        ++builds;
        owner = &ctx.Owner();
        auto root = std::make_shared<View>(Rect(0, 0, 320, 480));
        auto box = std::make_shared<View>(Rect(20, 100, 280, 88));
        box->SetIdentifier("box");
        auto label = std::make_shared<Label>(Rect(20, 30, 280, 40));
        label->SetIdentifier("label");
        auto button = std::make_shared<Button>(Rect(20, 200, 280, 44));
        button->SetIdentifier("signInButton");
        root->AddSubview(label);
        root->AddSubview(box);
        box->AddSubview(button);  // found below the top level too
        ctx.AddObject("menuItem", std::make_shared<Item>(Item{"Menu"}));
        return root;
    });
    auto vc = std::make_shared<LoginLike>(journal_, "Login~test");
    EXPECT_EQ(builds, 0);  // nothing is built before the view is asked for
    std::shared_ptr<View> root = vc->GetView();
    EXPECT_EQ(builds, 1);
    EXPECT_EQ(owner, vc.get());
    EXPECT_EQ(root->Frame(), Rect(0, 0, 320, 480));

    ASSERT_NE(vc->label, nullptr);
    EXPECT_EQ(vc->label->Identifier(), "label");
    EXPECT_EQ(vc->label->Superview(), root);
    ASSERT_NE(vc->signInButton, nullptr);
    EXPECT_EQ(vc->signInButton->Frame(), Rect(20, 200, 280, 44));
    ASSERT_NE(vc->menuItem, nullptr);
    EXPECT_EQ(vc->menuItem->title, "Menu");

    EXPECT_EQ(vc->emailTextField, nullptr);
    EXPECT_EQ(LogsWith({"\"emailTextField\"", "not in the interface", "Login~test"}), 1);
    EXPECT_EQ(vc->boxAsLabel, nullptr);
    EXPECT_EQ(LogsWith({"\"box\"", "another type"}), 1);
    EXPECT_EQ(LogsWith({"outlet"}), 2);  // nothing about the outlets that were bound
    // The outlets are filled before ViewDidLoad runs, and it runs once.
    EXPECT_EQ(vc->didLoadCount, 1);
    vc->GetView();
    EXPECT_EQ(builds, 1);
}

TEST_F(ViewControllerTest, ABuilderThatMakesNoViewGetsAPlainOneAndAReport) {
    InterfaceBuilder::Register("Login~test", [](InterfaceBuilder::Context&) { return nullptr; });
    auto vc = Make("A", "Login~test");
    ASSERT_NE(vc->GetView(), nullptr);
    EXPECT_EQ(vc->GetView()->Frame(), Rect(0, 0, 320, 480));
    EXPECT_EQ(LogsWith({"Login~test", "made no view"}), 1);
    EXPECT_EQ(vc->didLoadCount, 1);
}

TEST_F(ViewControllerTest, MemoryWarningUnloadsOnlyAViewOutsideAnyWindow) {
    auto shown = Make("S");
    auto window = Show(shown);
    shown->DidReceiveMemoryWarning();
    EXPECT_TRUE(shown->IsViewLoaded());
    EXPECT_EQ(shown->didUnloadCount, 0);

    auto hidden = Make("H");
    std::weak_ptr<View> oldView = hidden->GetView();
    hidden->DidReceiveMemoryWarning();
    EXPECT_FALSE(hidden->IsViewLoaded());
    EXPECT_TRUE(oldView.expired());
    EXPECT_EQ(hidden->didUnloadCount, 1);
    hidden->GetView();  // loads again
    EXPECT_EQ(hidden->didLoadCount, 2);
}

TEST_F(ViewControllerTest, AnimatedModalCompletesAfterItsTransition) {
    auto root = Make("R");
    auto window = Show(root);
    auto modal = Make("M");
    modal->SetModalTransitionStyle(ModalTransitionStyle::CrossDissolve);
    int presented = 0;
    ASSERT_TRUE(root->PresentViewController(modal, true, [&] { ++presented; }));
    EXPECT_EQ(root->PresentedViewController(), modal);
    EXPECT_EQ(modal->PresentingViewController(), root);
    // The presented view covers the window at once, on top of the presenting one.
    ASSERT_EQ(window->Subviews().size(), 2u);
    EXPECT_EQ(window->Subviews().back(), modal->GetView());
    EXPECT_EQ(modal->GetView()->Frame(), Rect(0, 0, 320, 480));
    EXPECT_EQ(Take(), (Journal{"M.didLoad()", "M.willAppear(1)", "R.willDisappear(1)"}));

    loop_.Advance(0.29);
    EXPECT_EQ(presented, 0);
    EXPECT_TRUE(Take().empty());
    loop_.Advance(0.01);
    EXPECT_EQ(presented, 1);
    EXPECT_EQ(Take(), (Journal{"M.didAppear(1)", "R.didDisappear(1)"}));
    // The covered view has left the window.
    EXPECT_EQ(window->Subviews(), (std::vector<View::Ptr>{modal->GetView()}));

    int dismissed = 0;
    root->DismissViewController(true, [&] { ++dismissed; });
    EXPECT_EQ(Take(), (Journal{"M.willDisappear(1)", "R.willAppear(1)"}));
    // The presenting view is back beneath the presented one while the transition runs.
    EXPECT_EQ(window->Subviews(), (std::vector<View::Ptr>{root->GetView(), modal->GetView()}));
    loop_.Advance(0.29);
    EXPECT_EQ(dismissed, 0);
    EXPECT_EQ(root->PresentedViewController(), modal);
    loop_.Advance(0.01);
    EXPECT_EQ(dismissed, 1);
    EXPECT_EQ(Take(), (Journal{"M.didDisappear(1)", "R.didAppear(1)"}));
    EXPECT_EQ(root->PresentedViewController(), nullptr);
    EXPECT_EQ(window->Subviews(), (std::vector<View::Ptr>{root->GetView()}));

    // Nothing but the test holds the dismissed controller any more.
    std::weak_ptr<ViewController> gone = modal;
    modal.reset();
    EXPECT_TRUE(gone.expired());
}

TEST_F(ViewControllerTest, ADismissAskedForDuringThePresentWaitsForIt) {
    auto root = Make("R");
    auto window = Show(root);
    auto modal = Make("M");
    std::vector<std::string> done;
    root->PresentViewController(modal, true, [&] { done.push_back("presented"); });
    loop_.Advance(0.1);
    // The presented controller dismisses itself (a failure reported at once, say).
    modal->DismissViewController(true, [&] { done.push_back("dismissed"); });
    Take();
    loop_.Advance(0.2);  // 0.3: the present ends, the dismiss starts
    EXPECT_EQ(done, (std::vector<std::string>{"presented"}));
    EXPECT_EQ(Take(), (Journal{"M.didAppear(1)", "R.didDisappear(1)", "M.willDisappear(1)",
                               "R.willAppear(1)"}));
    loop_.Advance(0.29);
    EXPECT_EQ(done.size(), 1u);
    loop_.Advance(0.01);
    EXPECT_EQ(done, (std::vector<std::string>{"presented", "dismissed"}));
    EXPECT_EQ(root->PresentedViewController(), nullptr);
}

TEST_F(ViewControllerTest, AModalWithoutAnimationEndsAtTheNextStep) {
    auto root = Make("R");
    auto window = Show(root);
    auto modal = Make("M");
    bool presented = false;
    root->PresentViewController(modal, false, [&] { presented = true; });
    EXPECT_FALSE(presented);  // the completion never runs inside the call
    loop_.Step();
    EXPECT_TRUE(presented);
    EXPECT_EQ(Take(), (Journal{"M.didLoad()", "M.willAppear(0)", "R.willDisappear(0)",
                               "M.didAppear(0)", "R.didDisappear(0)"}));
}

TEST_F(ViewControllerTest, PresentationsThatCannotBeMadeAreRefusedAndReported) {
    auto loose = Make("L");  // its view is in no window
    bool called = false;
    EXPECT_FALSE(loose->PresentViewController(Make("M"), true, [&] { called = true; }));
    EXPECT_EQ(LogsWith({"in no window"}), 1);

    auto root = Make("R");
    auto window = Show(root);
    auto first = Make("M1");
    ASSERT_TRUE(root->PresentViewController(first, false));
    loop_.Step();
    EXPECT_FALSE(root->PresentViewController(Make("M2"), false, [&] { called = true; }));
    EXPECT_EQ(LogsWith({"already presents"}), 1);
    EXPECT_FALSE(first->PresentViewController(first, false));  // itself
    EXPECT_FALSE(root->PresentViewController(nullptr, false));
    loop_.Advance(1);
    EXPECT_FALSE(called);
    EXPECT_EQ(root->PresentedViewController(), first);
}

}  // namespace
}  // namespace ui
