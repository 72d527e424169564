// Alerts: buttons, the log, the visible list and the dismissal calls.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/ui/AlertLog.h"
#include "platform/ui/AlertView.h"

namespace {

using ui::AlertView;

struct AlertRecorder : ui::AlertViewDelegate {
    void ClickedButtonAtIndex(AlertView&, int index) override { Note("clicked", index); }
    void WillDismissWithButtonIndex(AlertView& a, int index) override {
        Note(a.IsVisible() ? "will (visible)" : "will", index);
    }
    void DidDismissWithButtonIndex(AlertView& a, int index) override {
        Note(a.IsVisible() ? "did (visible)" : "did", index);
    }
    void Note(const std::string& what, int index) {
        calls.push_back(what + " " + std::to_string(index));
    }
    std::vector<std::string> calls;
};

class AlertViewTest : public ::testing::Test {
protected:
    void SetUp() override { ui::AlertLog::Clear(); }
    void TearDown() override {
        for (const AlertView::Ptr& a : AlertView::VisibleAlerts()) {
            a->DismissWithClickedButtonIndex(0, false);
        }
    }
};

TEST_F(AlertViewTest, ShowingLogsTheAlertAndKeepsItAliveUntilAButtonDismissesIt) {
    auto delegate = std::make_shared<AlertRecorder>();
    auto alert = std::make_shared<AlertView>("Signed in", "This device was added.", delegate,
                                             std::string("OK"), std::vector<std::string>{"Later"});
    alert->SetTag(100);
    EXPECT_EQ(alert->NumberOfButtons(), 2);
    EXPECT_EQ(alert->CancelButtonIndex(), 0);
    EXPECT_EQ(alert->FirstOtherButtonIndex(), 1);
    EXPECT_EQ(alert->ButtonTitleAtIndex(1), "Later");
    EXPECT_EQ(alert->ButtonTitleAtIndex(2), "");
    EXPECT_FALSE(alert->IsVisible());
    const uint64_t revision = AlertView::VisibleRevision();
    alert->Show();
    alert->Show();  // already visible: once in the list and in the log
    EXPECT_NE(AlertView::VisibleRevision(), revision);
    ASSERT_EQ(ui::AlertLog::Entries().size(), 1u);
    const ui::AlertLogEntry& logged = ui::AlertLog::Entries()[0];
    EXPECT_EQ(logged.title, "Signed in");
    EXPECT_EQ(logged.message, "This device was added.");
    EXPECT_EQ(logged.buttons, (std::vector<std::string>{"OK", "Later"}));
    EXPECT_EQ(logged.cancelButtonIndex, 0);
    EXPECT_EQ(logged.tag, 100);

    std::weak_ptr<AlertView> watch = alert;
    alert.reset();  // the creator lets go; the visible list keeps it
    AlertView::Ptr top = AlertView::TopVisibleAlert();
    ASSERT_NE(top, nullptr);
    EXPECT_EQ(top->Tag(), 100);
    EXPECT_FALSE(top->ClickButtonAtIndex(2));  // no such button
    EXPECT_FALSE(top->ClickButtonAtIndex(-1));
    EXPECT_TRUE(top->IsVisible());
    EXPECT_TRUE(top->ClickButtonAtIndex(1));
    EXPECT_EQ(delegate->calls,
              (std::vector<std::string>{"clicked 1", "will (visible) 1", "did 1"}));
    EXPECT_TRUE(AlertView::VisibleAlerts().empty());
    top.reset();
    EXPECT_TRUE(watch.expired());
}

TEST_F(AlertViewTest, AProgrammaticDismissalSkipsTheClickAndTheTopAlertIsTheLastShown) {
    auto delegate = std::make_shared<AlertRecorder>();
    auto first = std::make_shared<AlertView>("Network", "", delegate, std::string("OK"));
    auto second = std::make_shared<AlertView>("Player", "", nullptr, std::nullopt,
                                              std::vector<std::string>{"A", "B"});
    EXPECT_EQ(second->CancelButtonIndex(), -1);
    EXPECT_EQ(second->FirstOtherButtonIndex(), 0);
    EXPECT_EQ(second->AddButtonWithTitle("C"), 2);
    first->Show();
    second->Show();
    EXPECT_EQ(AlertView::TopVisibleAlert(), second);
    EXPECT_TRUE(second->ClickButtonAtIndex(2));  // no delegate: simply goes
    EXPECT_EQ(AlertView::TopVisibleAlert(), first);

    EXPECT_TRUE(first->DismissWithClickedButtonIndex(0, true));
    EXPECT_FALSE(first->DismissWithClickedButtonIndex(0, true));  // no longer visible
    EXPECT_EQ(delegate->calls, (std::vector<std::string>{"will (visible) 0", "did 0"}));
    EXPECT_EQ(AlertView::TopVisibleAlert(), nullptr);

    // A delegate that is gone is not told; the alert still goes.
    auto gone = std::make_shared<AlertRecorder>();
    first->SetDelegate(gone);
    first->Show();
    gone.reset();
    EXPECT_TRUE(first->ClickButtonAtIndex(0));
    EXPECT_FALSE(first->IsVisible());
    EXPECT_EQ(ui::AlertLog::Entries().size(), 3u);
}

}  // namespace
