// First responder per view tree, and the keyboard with its notifications.

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "platform/core/NotificationCenter.h"
#include "platform/ui/Keyboard.h"
#include "platform/ui/TextField.h"

namespace {

using ui::Rect;
using ui::TextField;
using ui::View;

// Records the keyboard notifications. The test thread steps the main loop once, so the
// default centre delivers on this thread at once.
class KeyboardNotes {
public:
    KeyboardNotes() {
        ns::RunLoop::Main().RunOnce(std::chrono::milliseconds(0));
        for (const char* name :
             {ui::kKeyboardWillShowNotification, ui::kKeyboardDidShowNotification,
              ui::kKeyboardWillHideNotification, ui::kKeyboardDidHideNotification}) {
            tokens_.push_back(ns::NotificationCenter::Default().AddObserver(
                name, [this](const ns::Notification& n) {
                    names.push_back(n.name + (ui::Keyboard::IsVisible() ? "+" : "-"));
                    infos.push_back(n.userInfo);
                }));
        }
    }
    ~KeyboardNotes() {
        for (uint64_t t : tokens_) {
            ns::NotificationCenter::Default().RemoveObserver(t);
        }
    }

    std::vector<std::string> names;  // name, then "+" when the keyboard counted as shown
    std::vector<ns::Value> infos;

private:
    std::vector<uint64_t> tokens_;
};

Rect FrameIn(const ns::Value& info, const char* key) {
    const ns::Value& r = info[key];
    return Rect(r["x"].DoubleValue(), r["y"].DoubleValue(), r["width"].DoubleValue(),
                r["height"].DoubleValue());
}

struct Recorder : ui::TextFieldDelegate {
    explicit Recorder(std::string n, std::vector<std::string>& l) : name(std::move(n)), log(l) {}
    void DidBeginEditing(TextField&) override { log.push_back(name + " begin"); }
    void DidEndEditing(TextField&) override { log.push_back(name + " end"); }
    std::string name;
    std::vector<std::string>& log;
};

class ResponderTest : public ::testing::Test {
protected:
    void SetUp() override {
        // A device with an on-screen keyboard.
        ui::Keyboard::SetOnScreen(true);
        root = std::make_shared<View>(Rect(0, 0, 320, 480));
        a = std::make_shared<TextField>(Rect(10, 10, 200, 31));
        b = std::make_shared<TextField>(Rect(10, 50, 200, 31));
        root->AddSubview(a);
        root->AddSubview(b);
    }
    void TearDown() override {
        for (const auto& field : {a, b}) {
            if (field) field->ResignFirstResponder();
        }
        ui::Keyboard::SetOnScreen(false);
        ui::ScreenMetrics::ClearOverride();
    }

    std::shared_ptr<View> root;
    std::shared_ptr<TextField> a, b;
};

TEST_F(ResponderTest, BecomingShowsTheKeyboardWillThenDidAndResigningHidesIt) {
    KeyboardNotes notes;
    EXPECT_FALSE(ui::Keyboard::IsVisible());
    ASSERT_TRUE(a->BecomeFirstResponder());
    EXPECT_TRUE(a->IsFirstResponder());
    EXPECT_TRUE(a->IsEditing());
    EXPECT_EQ(ui::Responder::FirstResponderOf(*b), a);  // any view of the tree finds it
    EXPECT_TRUE(ui::Keyboard::IsVisible());
    // Will-show still sees the keyboard hidden, did-show sees it shown.
    ASSERT_EQ(notes.names, (std::vector<std::string>{"KeyboardWillShowNotification-",
                                                     "KeyboardDidShowNotification+"}));
    // A phone in portrait (320 x 480): 216 high at the bottom, sliding up from below.
    EXPECT_EQ(FrameIn(notes.infos[0], ui::kKeyboardFrameBeginKey), Rect(0, 480, 320, 216));
    EXPECT_EQ(FrameIn(notes.infos[0], ui::kKeyboardFrameEndKey), Rect(0, 264, 320, 216));
    EXPECT_EQ(notes.infos[1], notes.infos[0]);
    EXPECT_DOUBLE_EQ(notes.infos[0][ui::kKeyboardAnimationDurationKey].DoubleValue(), 0.25);

    EXPECT_TRUE(a->BecomeFirstResponder());  // again: nothing new
    EXPECT_EQ(notes.names.size(), 2u);

    notes.names.clear();
    notes.infos.clear();
    EXPECT_TRUE(a->ResignFirstResponder());
    EXPECT_FALSE(a->IsFirstResponder());
    EXPECT_EQ(ui::Responder::FirstResponderOf(*root), nullptr);
    EXPECT_FALSE(ui::Keyboard::IsVisible());
    ASSERT_EQ(notes.names, (std::vector<std::string>{"KeyboardWillHideNotification+",
                                                     "KeyboardDidHideNotification-"}));
    EXPECT_EQ(FrameIn(notes.infos[0], ui::kKeyboardFrameBeginKey), Rect(0, 264, 320, 216));
    EXPECT_EQ(FrameIn(notes.infos[0], ui::kKeyboardFrameEndKey), Rect(0, 480, 320, 216));
    EXPECT_TRUE(a->ResignFirstResponder());  // not first responder: nothing to do
    EXPECT_EQ(notes.names.size(), 2u);
}

TEST_F(ResponderTest, WithoutAnOnScreenKeyboardNothingShowsAndNothingIsPosted) {
    ui::Keyboard::SetOnScreen(false);
    KeyboardNotes notes;
    ASSERT_TRUE(a->BecomeFirstResponder());
    EXPECT_TRUE(a->IsFirstResponder());
    EXPECT_FALSE(ui::Keyboard::IsVisible());
    ASSERT_TRUE(a->ResignFirstResponder());
    EXPECT_TRUE(notes.names.empty());
}

TEST_F(ResponderTest, KeyboardHeightFollowsIdiomAndOrientation) {
    ui::ScreenMetrics m;
    m.size = ui::Size(480, 320);  // phone, landscape
    EXPECT_EQ(ui::Keyboard::FrameFor(m), Rect(0, 158, 480, 162));
    m.pad = true;
    m.size = ui::Size(768, 1024);
    EXPECT_EQ(ui::Keyboard::FrameFor(m), Rect(0, 760, 768, 264));
    m.size = ui::Size(1024, 768);
    EXPECT_EQ(ui::Keyboard::FrameFor(m), Rect(0, 416, 1024, 352));

    ui::ScreenMetrics::SetCurrent(m);
    KeyboardNotes notes;
    ASSERT_TRUE(a->BecomeFirstResponder());
    ASSERT_EQ(notes.infos.size(), 2u);
    EXPECT_EQ(FrameIn(notes.infos[0], ui::kKeyboardFrameBeginKey), Rect(0, 768, 1024, 352));
    EXPECT_EQ(FrameIn(notes.infos[0], ui::kKeyboardFrameEndKey), Rect(0, 416, 1024, 352));
    a->ResignFirstResponder();
}

TEST_F(ResponderTest, ASecondFieldTakingFirstResponderResignsTheFirstAndKeepsTheKeyboard) {
    std::vector<std::string> log;
    auto da = std::make_shared<Recorder>("a", log);
    auto db = std::make_shared<Recorder>("b", log);
    a->SetDelegate(da);
    b->SetDelegate(db);
    std::vector<std::string> events;
    a->AddTarget(
        nullptr, [&](ui::Control&) { events.push_back("a did end"); },
        ui::ControlEvent::EditingDidEnd);
    KeyboardNotes notes;

    ASSERT_TRUE(a->BecomeFirstResponder());
    ASSERT_TRUE(b->BecomeFirstResponder());
    EXPECT_FALSE(a->IsFirstResponder());
    EXPECT_TRUE(b->IsFirstResponder());
    EXPECT_EQ(ui::Responder::FirstResponderOf(*root), b);
    EXPECT_EQ(log, (std::vector<std::string>{"a begin", "a end", "b begin"}));
    EXPECT_EQ(events, std::vector<std::string>{"a did end"});
    // The keyboard stayed up through the hand-over: one show, no hide.
    EXPECT_EQ(notes.names, (std::vector<std::string>{"KeyboardWillShowNotification-",
                                                     "KeyboardDidShowNotification+"}));
    EXPECT_TRUE(b->ResignFirstResponder());
    EXPECT_EQ(notes.names.size(), 4u);
}

TEST_F(ResponderTest, ARefusalToResignKeepsTheFirstResponder) {
    struct Stubborn : TextField {
        bool CanResignFirstResponder() const override { return !stubborn; }
        bool stubborn = true;
    };
    auto s = std::make_shared<Stubborn>();
    root->AddSubview(s);
    ASSERT_TRUE(s->BecomeFirstResponder());
    EXPECT_FALSE(b->BecomeFirstResponder());
    EXPECT_FALSE(s->ResignFirstResponder());
    EXPECT_TRUE(s->IsFirstResponder());
    EXPECT_FALSE(b->IsFirstResponder());
    s->stubborn = false;
    EXPECT_TRUE(b->BecomeFirstResponder());
    EXPECT_FALSE(s->IsFirstResponder());
    b->ResignFirstResponder();
}

TEST_F(ResponderTest, EachTreeKeepsItsOwnFirstResponder) {
    auto otherRoot = std::make_shared<View>(Rect(0, 0, 320, 480));
    auto c = std::make_shared<TextField>(Rect(0, 0, 100, 31));
    otherRoot->AddSubview(c);
    KeyboardNotes notes;
    ASSERT_TRUE(a->BecomeFirstResponder());
    ASSERT_TRUE(c->BecomeFirstResponder());
    EXPECT_TRUE(a->IsFirstResponder());  // another tree: not resigned
    EXPECT_EQ(ui::Responder::FirstResponderOf(*otherRoot), c);
    a->ResignFirstResponder();
    EXPECT_TRUE(ui::Keyboard::IsVisible());  // c still wants it
    c->ResignFirstResponder();
    EXPECT_FALSE(ui::Keyboard::IsVisible());
    EXPECT_EQ(notes.names.size(), 4u);  // one show, one hide
}

TEST_F(ResponderTest, LeavingTheTreeBeingDisabledOrGoingAwayResigns) {
    KeyboardNotes notes;
    ASSERT_TRUE(a->BecomeFirstResponder());
    a->RemoveFromSuperview();
    EXPECT_FALSE(a->IsFirstResponder());
    EXPECT_FALSE(ui::Keyboard::IsVisible());

    ASSERT_TRUE(b->BecomeFirstResponder());
    b->SetEnabled(false);
    EXPECT_FALSE(b->IsFirstResponder());
    EXPECT_FALSE(b->BecomeFirstResponder());  // a disabled field cannot edit
    EXPECT_FALSE(ui::Keyboard::IsVisible());

    auto c = std::make_shared<TextField>();
    root->AddSubview(c);
    ASSERT_TRUE(c->BecomeFirstResponder());
    c->RemoveFromSuperview();
    EXPECT_FALSE(ui::Keyboard::IsVisible());
    root->AddSubview(c);
    ASSERT_TRUE(c->BecomeFirstResponder());
    notes.names.clear();
    c->RemoveFromSuperview();
    root->AddSubview(c);  // back, but no longer editing
    EXPECT_FALSE(c->IsFirstResponder());
    ASSERT_TRUE(c->BecomeFirstResponder());
    notes.names.clear();
    c.reset();  // the tree still holds it
    root.reset();
    a.reset();
    b.reset();  // the whole tree is gone: the keyboard goes with its first responder
    EXPECT_FALSE(ui::Keyboard::IsVisible());
    EXPECT_EQ(notes.names, (std::vector<std::string>{"KeyboardWillHideNotification+",
                                                     "KeyboardDidHideNotification-"}));
}

}  // namespace
