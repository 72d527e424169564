// A person's input in the window reaches the models through the calls the test driver makes:
// clicks at a view's pixels, keys into the focused field, the wheel and drags on the table,
// horizontal drags as swipes.
#include <gtest/gtest.h>

#include "platform/desktop/RendererTestScene.h"
#include "platform/ui/SwipeGestureRecognizer.h"

namespace ns::desktop::testing {
namespace {

using RendererInputTest = RendererScene;

TEST_F(RendererInputTest, AClickAtTheButtonReachesItsTargetAndAHiddenButtonTakesNone) {
    Click(ui::Point(kButtonFrame.MidX(), kButtonFrame.MidY()));
    EXPECT_TRUE(IterateUntil([&] { return buttonTaps == 1; }, std::chrono::seconds(2)));
    Click(ui::Point(kButtonFrame.MaxX() + 3, kButtonFrame.MidY()));  // just beside it
    button->SetHidden(true);
    Settle();
    Click(ui::Point(kButtonFrame.MidX(), kButtonFrame.MidY()));
    // The server delivers clicks in order: once a click on the field has reached it, the two
    // clicks before have been handled too.
    Click(ui::Point(kFieldFrame.MidX(), kFieldFrame.MidY()));
    ASSERT_TRUE(IterateUntil([&] { return field->IsEditing(); }, std::chrono::seconds(10)));
    EXPECT_EQ(buttonTaps, 1);
}

class ReturnCounter {
public:
    int returns = 0;
};

TEST_F(RendererInputTest, TypedKeysReachTheFieldThatTheClickFocused) {
    ReturnCounter counter;
    field->AddTarget(
        &counter, [&](ui::Control&) { ++counter.returns; }, ui::ControlEvent::EditingDidEndOnExit);
    // Before a field is focused, keys go nowhere.
    Key(GDK_KEY_x);
    EXPECT_EQ(field->Text(), "");
    // The click lands on the field's entry; the entry passes it on to the model.
    Click(ui::Point(kFieldFrame.MidX(), kFieldFrame.MidY()));
    ASSERT_TRUE(IterateUntil([&] { return field->IsEditing(); }, std::chrono::seconds(2)));
    Settle();
    GtkWidget* entry = renderer->EntryFor(*field);
    ASSERT_NE(entry, nullptr);
    EXPECT_TRUE(gtk_widget_has_focus(entry));
    for (guint key : {GDK_KEY_a, GDK_KEY_b, GDK_KEY_BackSpace, GDK_KEY_c, GDK_KEY_space}) Key(key);
    EXPECT_EQ(field->Text(), "ac ");
    Settle();
    EXPECT_STREQ(gtk_entry_get_text(GTK_ENTRY(entry)), "ac ");  // shown, never edited itself
    EXPECT_EQ(gtk_editable_get_position(GTK_EDITABLE(entry)), 3);
    field->SetSecureTextEntry(true);
    Settle();
    EXPECT_FALSE(gtk_entry_get_visibility(GTK_ENTRY(entry)));
    Key(GDK_KEY_Return);
    EXPECT_EQ(counter.returns, 1);
    EXPECT_FALSE(field->IsEditing());  // a target listens for the end on exit: it resigns
    Settle();
    Key(GDK_KEY_z);
    EXPECT_EQ(field->Text(), "ac ");
}

TEST_F(RendererInputTest, TheWheelDragsTheTableAndTheRowsFollow) {
    const ui::Point over(kTableFrame.MidX(), kTableFrame.MidY());
    for (int notch = 0; notch < 3; ++notch) Put(GDK_SCROLL, over, 1000 + notch);
    // Three notches of 40 points, the finger still on the content.
    EXPECT_DOUBLE_EQ(table->ContentOffset().y, 120);
    EXPECT_TRUE(table->IsDragging());
    ASSERT_TRUE(IterateUntil([&] { return !table->IsDragging(); }, std::chrono::seconds(2)));
    EXPECT_FALSE(table->IsDecelerating());
    EXPECT_DOUBLE_EQ(table->ContentOffset().y, 120);
    // Rows 2 (from y = 88) to 9 (to y = 440) share the viewport 120..400.
    const std::vector<ui::IndexPath> visible = table->IndexPathsForVisibleRows();
    ASSERT_FALSE(visible.empty());
    EXPECT_EQ(visible.front().row, 2);
    EXPECT_EQ(visible.back().row, 9);
    Pixbuf shot = Shot("RendererScrolled.png");
    // Row k's top is now at 20 + 44 k - 120 in the window: row 3 at 32, row 4 at 76.
    EXPECT_EQ(PixelAt(shot.get(), 450, 25), RowColor(2));
    EXPECT_EQ(PixelAt(shot.get(), 450, 40), RowColor(3));
    EXPECT_EQ(PixelAt(shot.get(), 450, 80), RowColor(4));
}

TEST_F(RendererInputTest, ADragMovesTheContentWithThePointerAndAFlickDecelerates) {
    const ui::Point start(kTableFrame.MidX(), 250);
    Put(GDK_BUTTON_PRESS, start, 100);
    Put(GDK_MOTION_NOTIFY, ui::Point(start.x, 240), 110);  // within the slop: nothing yet
    EXPECT_DOUBLE_EQ(table->ContentOffset().y, 0);
    Put(GDK_MOTION_NOTIFY, ui::Point(start.x, 200), 120);
    EXPECT_TRUE(table->IsDragging());
    EXPECT_DOUBLE_EQ(table->ContentOffset().y, 50);  // the content follows from the press
    Put(GDK_MOTION_NOTIFY, ui::Point(start.x, 150), 130);
    // Held still for 300 ms, then let go: no speed, no deceleration.
    Put(GDK_BUTTON_RELEASE, ui::Point(start.x, 150), 430);
    EXPECT_DOUBLE_EQ(table->ContentOffset().y, 100);
    EXPECT_FALSE(table->IsDragging());
    EXPECT_FALSE(table->IsDecelerating());
    EXPECT_FALSE(table->IndexPathForSelectedRow());  // a drag is no tap

    // A flick: 100 points up in 100 ms, released while moving (1000 pt/s).
    Put(GDK_BUTTON_PRESS, start, 1000);
    for (int i = 1; i <= 5; ++i)
        Put(GDK_MOTION_NOTIFY, ui::Point(start.x, 250 - 20 * i), 1000 + 20 * i);
    Put(GDK_BUTTON_RELEASE, ui::Point(start.x, 150), 1100);
    EXPECT_DOUBLE_EQ(table->ContentOffset().y, 200);
    EXPECT_TRUE(table->IsDecelerating());
    // 1000 pt/s at 2000 pt/s^2 goes on 250 points in 0.5 s.
    ui::Driver(window, &loop.Clock()).Advance(0.6);
    EXPECT_FALSE(table->IsDecelerating());
    EXPECT_NEAR(table->ContentOffset().y, 450, 1e-6);
    Pixbuf shot = Shot("RendererFlicked.png");
    // Row 10 spans 440..484 of the content: window rows from 20 + 440 - 450 = 10.
    EXPECT_EQ(PixelAt(shot.get(), 450, 25), RowColor(10));
}

TEST_F(RendererInputTest, AClickOnARowSelectsItAndAHorizontalDragSwipes) {
    Click(ui::Point(kTableFrame.MidX(), 20 + 44 * 2 + 22));
    ASSERT_TRUE(IterateUntil([&] { return table->IndexPathForSelectedRow().has_value(); },
                             std::chrono::seconds(2)));
    EXPECT_EQ(table->IndexPathForSelectedRow()->row, 2);

    int swipes = 0;
    auto recognizer = std::make_shared<ui::SwipeGestureRecognizer>(
        nullptr, [&](ui::SwipeGestureRecognizer&) { ++swipes; });
    recognizer->SetDirection(ui::SwipeDirection::Left);
    ui::SwipeGestureRecognizer::AddTo(window, recognizer);
    // On the table a horizontal drag is no scroll (it scrolls only up and down): a swipe that
    // goes up the chain to the window's recogniser.
    Put(GDK_BUTTON_PRESS, ui::Point(440, 250), 100);
    Put(GDK_MOTION_NOTIFY, ui::Point(420, 252), 110);
    Put(GDK_MOTION_NOTIFY, ui::Point(380, 251), 120);
    Put(GDK_BUTTON_RELEASE, ui::Point(380, 251), 130);
    EXPECT_EQ(swipes, 1);
    EXPECT_DOUBLE_EQ(table->ContentOffset().y, 0);
    // Too short to be a swipe, and the wrong way.
    Put(GDK_BUTTON_PRESS, ui::Point(100, 250), 200);
    Put(GDK_MOTION_NOTIFY, ui::Point(80, 250), 210);
    Put(GDK_BUTTON_RELEASE, ui::Point(80, 250), 220);
    Put(GDK_BUTTON_PRESS, ui::Point(100, 250), 300);
    Put(GDK_MOTION_NOTIFY, ui::Point(160, 250), 310);
    Put(GDK_BUTTON_RELEASE, ui::Point(160, 250), 320);
    EXPECT_EQ(swipes, 1);
}

}  // namespace
}  // namespace ns::desktop::testing
