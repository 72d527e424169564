// The sign-in screen's text fields under a person's keyboard and mouse: keys and clicks go
// through the X server (XTest) to the window, and the test looks at the fields' models and at
// the window's pixels (the caret and the selection drawn where the model has them).
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>

#include "app/LoginViewController.h"
#include "app/desktop/AppWindowTestBase.h"
#include "app/testing/DemoPortal.h"
#include "app/testing/SignInScreen.h"
#include "platform/desktop/testing/PointerClick.h"
#include "platform/store/UserDefaults.h"
#include "platform/ui/TextField.h"
#include "platform/ui/UiDevice.h"
#include "platform/ui/Window.h"
#include "tests/support/TemporaryDirectory.h"

namespace {

using namespace ns::desktop;
using namespace std::chrono_literals;

class TextFieldWindowTest : public AppWindowTestBase {
protected:
    void SetUp() override {
        ns::UserDefaults::Standard().RemoveObjectForKey(LoginViewController::kUserLoginKey);
        ns::UserDefaults::Standard().RemoveObjectForKey(LoginViewController::kUserPasswordKey);
        const std::string accounts = directory_.File("accounts.json");
        ASSERT_TRUE(AppTestSupport::WriteAccountsWithThisDevice(accounts));
        portal_ = AppTestSupport::StartDemoPortal(accounts);
        // A caret that blinks could be caught hidden by a picture.
        g_object_set(gtk_settings_get_default(), "gtk-cursor-blink", FALSE, nullptr);
    }

    void TearDown() override {
        DismissAlerts();
        Close();
        g_object_set(gtk_settings_get_default(), "gtk-cursor-blink", TRUE, nullptr);
        ui::UiDevice::Current().SetIdiom(ui::UserInterfaceIdiom::Phone);
    }

    void Launch(ui::UserInterfaceIdiom idiom) {
        ui::UiDevice::Current().SetIdiom(idiom);
        ASSERT_NO_FATAL_FAILURE(AppWindowTestBase::Launch());
        ASSERT_TRUE(Settle());
        login_ = AppTestSupport::SignInScreen(*delegate_);
        ASSERT_NE(nullptr, login_);
        email_ = login_->emailTextField();
        password_ = login_->passwordlTextField();
    }

    GdkWindow* Win() const { return gtk_widget_get_window(renderer_->Window()); }

    void ClickOn(const ui::View& view, const ui::Point& point) {
        const ui::Point p = Pixel(view, point);
        ClickAt(Win(), static_cast<int>(p.x), static_cast<int>(p.y));
    }
    // Clicks a field and waits until it is editing.
    bool Focus(const ui::TextField& field) {
        ClickOn(field, field.Bounds().Center());
        return IterateUntil([&] { return field.IsFirstResponder(); }, 10s);
    }
    // Keys reach the field in later iterations of GLib's loop: wait for what they lead to.
    static bool WaitForText(const ui::TextField& field, const std::string& text) {
        return IterateUntil([&] { return field.Text() == text; }, 10s);
    }
    // Clicks the field and types the text into it, waiting until the field holds it.
    bool FocusAndType(const ui::TextField& field, const std::string& text) {
        return Focus(field) && TypeKeys(Win(), text) && WaitForText(field, text);
    }
    static bool WaitForSelection(const ui::TextField& field, const ui::TextRange& range) {
        return IterateUntil([&] { return field.SelectedRange() == range; }, 10s);
    }

    // Where GTK draws the caret before character `index` of the field's entry, in window
    // pixels (x), and the middle of the text line (y).
    ui::Point CaretPixel(const ui::TextField& field, int index) const {
        GtkWidget* entry = renderer_->EntryFor(field);
        EXPECT_NE(nullptr, entry);
        if (entry == nullptr) return ui::Point();
        PangoLayout* layout = gtk_entry_get_layout(GTK_ENTRY(entry));
        const char* text = pango_layout_get_text(layout);
        const int byte = static_cast<int>(g_utf8_offset_to_pointer(text, index) - text);
        PangoRectangle pos;
        pango_layout_index_to_pos(layout, byte, &pos);
        int lx = 0, ly = 0;
        gtk_entry_get_layout_offsets(GTK_ENTRY(entry), &lx, &ly);
        int wx = 0, wy = 0;
        gtk_widget_translate_coordinates(entry, renderer_->Window(), lx + PANGO_PIXELS(pos.x),
                                         ly + PANGO_PIXELS(pos.y + pos.height / 2), &wx, &wy);
        return ui::Point(wx, wy);
    }
    // Whether a dark pixel (text or caret) lies in the columns x - 1 .. x + 1 of the line.
    static bool DarkAround(const GdkPixbuf* shot, const ui::Point& p) {
        for (int dx = -1; dx <= 1; ++dx) {
            for (int dy = -6; dy <= 6; ++dy) {
                const Rgb c = PixelAt(shot, static_cast<int>(p.x) + dx, static_cast<int>(p.y) + dy);
                if (c.r < 90 && c.g < 90 && c.b < 90) return true;
            }
        }
        return false;
    }

    // Whether two pictures differ in the columns x - 1 .. x + 1 of the line.
    static bool ColumnsDiffer(const GdkPixbuf* a, const GdkPixbuf* b, const ui::Point& p) {
        for (int dx = -1; dx <= 1; ++dx) {
            for (int dy = -6; dy <= 6; ++dy) {
                const int x = static_cast<int>(p.x) + dx, y = static_cast<int>(p.y) + dy;
                if (PixelAt(a, x, y) != PixelAt(b, x, y)) return true;
            }
        }
        return false;
    }

    SvTestSupport::TemporaryDirectory directory_{"zul-text-field-window-"};
    std::shared_ptr<LoginViewController> login_;
    std::shared_ptr<ui::TextField> email_;
    std::shared_ptr<ui::TextField> password_;
};

// Select all then typing replaces; the caret keys move where typing inserts; Shift selects and
// Backspace removes the selection; Delete takes the character after the caret. The caret is
// drawn where the model has it (past the text's end, then at its start), the selection too.
TEST_F(TextFieldWindowTest, PhoneKeysEditTheFieldAndTheCaretIsDrawnWhereItIs) {
    Launch(ui::UserInterfaceIdiom::Phone);
    ASSERT_TRUE(FocusAndType(*email_, "demo@zul.test"));

    PressKeys(Win(), {GDK_KEY_Control_L, GDK_KEY_a});
    ASSERT_TRUE(WaitForSelection(*email_, ui::TextRange(0, 13)));
    ASSERT_TRUE(TypeKeys(Win(), "me@x.pl"));
    ASSERT_TRUE(WaitForText(*email_, "me@x.pl"));  // replaced, not appended

    PressKey(Win(), GDK_KEY_Home);
    ASSERT_TRUE(TypeKeys(Win(), "a"));
    ASSERT_TRUE(WaitForText(*email_, "ame@x.pl"));
    PressKey(Win(), GDK_KEY_End);
    for (int i = 0; i < 3; ++i) PressKey(Win(), GDK_KEY_Left);
    ASSERT_TRUE(TypeKeys(Win(), "yz"));
    ASSERT_TRUE(WaitForText(*email_, "ame@xyz.pl"));
    PressKey(Win(), GDK_KEY_Right);
    ASSERT_TRUE(TypeKeys(Win(), "q"));
    ASSERT_TRUE(WaitForText(*email_, "ame@xyz.qpl"));

    // Shift+Left twice selects "q" and the dot before it; Backspace removes both.
    PressKeys(Win(), {GDK_KEY_Shift_L, GDK_KEY_Left});
    PressKeys(Win(), {GDK_KEY_Shift_L, GDK_KEY_Left});
    ASSERT_TRUE(WaitForSelection(*email_, ui::TextRange(7, 2)));
    EXPECT_EQ(7u, email_->CaretPosition());
    PressKey(Win(), GDK_KEY_BackSpace);
    ASSERT_TRUE(WaitForText(*email_, "ame@xyzpl"));
    PressKey(Win(), GDK_KEY_Home);
    PressKey(Win(), GDK_KEY_Delete);
    ASSERT_TRUE(WaitForText(*email_, "me@xyzpl"));
    EXPECT_EQ(ui::TextRange(0, 0), email_->SelectedRange());

    // The caret at the end: drawn just past the last character, nothing at the start's left.
    PressKey(Win(), GDK_KEY_End);
    ASSERT_TRUE(WaitForSelection(*email_, ui::TextRange(8, 0)));
    Pixbuf atEnd = Shot("text-field-caret-end-phone.png");
    ASSERT_NE(nullptr, atEnd);
    const ui::Point end = CaretPixel(*email_, 8);
    const ui::Point start = CaretPixel(*email_, 0);
    EXPECT_TRUE(DarkAround(atEnd.get(), end)) << "no caret at " << end.x << "," << end.y;
    // Home: the caret leaves the end (a little to the left of the first glyph's ink now).
    PressKey(Win(), GDK_KEY_Home);
    ASSERT_TRUE(WaitForSelection(*email_, ui::TextRange(0, 0)));
    Pixbuf atStart = Shot("text-field-caret-start-phone.png");
    ASSERT_NE(nullptr, atStart);
    EXPECT_FALSE(DarkAround(atStart.get(), end)) << "a caret left behind at the end";
    EXPECT_TRUE(ColumnsDiffer(atEnd.get(), atStart.get(), start)) << "no caret at the start";

    // Shift+End selects all of it: the selection is drawn behind the text (not white).
    PressKeys(Win(), {GDK_KEY_Shift_L, GDK_KEY_End});
    ASSERT_TRUE(WaitForSelection(*email_, ui::TextRange(0, 8)));
    Pixbuf selected = Shot("text-field-selection-phone.png");
    ASSERT_NE(nullptr, selected);
    const ui::Point mid((start.x + end.x) / 2, start.y);
    int coloured = 0;
    for (int x = static_cast<int>(start.x) + 1; x < static_cast<int>(end.x) - 1; ++x) {
        const Rgb c = PixelAt(selected.get(), x, static_cast<int>(mid.y) - 6);
        const Rgb before = PixelAt(atStart.get(), x, static_cast<int>(mid.y) - 6);
        if (c != before && c.b > c.r + 30) ++coloured;
    }
    EXPECT_GT(coloured, static_cast<int>((end.x - start.x) / 2));
}

// The same on the pad's larger form: select all and typing, and the caret drawn at the end.
TEST_F(TextFieldWindowTest, PadSelectAllThenTypingReplacesAndTheCaretShows) {
    Launch(ui::UserInterfaceIdiom::Pad);
    ASSERT_TRUE(FocusAndType(*email_, "someone@zul.test"));
    PressKeys(Win(), {GDK_KEY_Control_L, GDK_KEY_a});
    ASSERT_TRUE(TypeKeys(Win(), "demo"));
    ASSERT_TRUE(WaitForText(*email_, "demo"));
    Pixbuf shot = Shot("text-field-caret-pad.png");
    ASSERT_NE(nullptr, shot);
    const ui::Point end = CaretPixel(*email_, 4);
    EXPECT_TRUE(DarkAround(shot.get(), end));
    // Past the caret the field is white: no glyph of the replaced text is left.
    EXPECT_FALSE(DarkAround(shot.get(), ui::Point(end.x + 40, end.y)));
    // With the caret moved to the start, nothing dark stays at the end.
    PressKey(Win(), GDK_KEY_Home);
    ASSERT_TRUE(WaitForSelection(*email_, ui::TextRange(0, 0)));
    Pixbuf home = Shot("text-field-caret-pad-home.png");
    ASSERT_NE(nullptr, home);
    EXPECT_FALSE(DarkAround(home.get(), end));
}

// A click puts the caret at the character clicked; the clear button empties the field.
TEST_F(TextFieldWindowTest, AClickPlacesTheCaretAndTheClearButtonClears) {
    Launch(ui::UserInterfaceIdiom::Phone);
    ASSERT_TRUE(FocusAndType(*email_, "demo@zul.test"));
    ASSERT_TRUE(Settle());
    // Just right of where the caret before "@" is drawn: the caret goes there.
    const ui::Point at = CaretPixel(*email_, 4);
    ClickAt(Win(), static_cast<int>(at.x) + 1, static_cast<int>(at.y));
    ASSERT_TRUE(WaitForSelection(*email_, ui::TextRange(4, 0)));
    ASSERT_TRUE(TypeKeys(Win(), "2"));
    ASSERT_TRUE(WaitForText(*email_, "demo2@zul.test"));
    // Far right of the text, still in the field: the end.
    const ui::Rect text = email_->DisplayedTextRect();
    ClickOn(*email_, ui::Point(text.MaxX() - 4, text.MidY()));
    ASSERT_TRUE(WaitForSelection(*email_, ui::TextRange(14, 0)))
        << email_->SelectedRange().location << "+" << email_->SelectedRange().length << " "
        << text.X() << "," << text.Width();

    ASSERT_TRUE(email_->IsClearButtonShown());
    ClickOn(*email_, email_->ClearButtonRectForBounds(email_->Bounds()).Center());
    ASSERT_TRUE(WaitForText(*email_, ""));
    EXPECT_TRUE(email_->IsFirstResponder());
    ASSERT_TRUE(TypeKeys(Win(), "x"));
    EXPECT_TRUE(WaitForText(*email_, "x"));
}

// Tab and Shift+Tab go between the two fields; Return in the e-mail field goes to the password,
// Return in the password signs in.
TEST_F(TextFieldWindowTest, TabMovesBetweenTheFieldsAndReturnSignsIn) {
    Launch(ui::UserInterfaceIdiom::Phone);
    ASSERT_TRUE(Focus(*email_));
    PressKey(Win(), GDK_KEY_Tab);
    ASSERT_TRUE(IterateUntil([&] { return password_->IsFirstResponder(); }, 10s));
    PressKeys(Win(), {GDK_KEY_Shift_L, GDK_KEY_Tab});
    ASSERT_TRUE(IterateUntil([&] { return email_->IsFirstResponder(); }, 10s));
    PressKeys(Win(), {GDK_KEY_Shift_L, GDK_KEY_Tab});  // around to the last field
    ASSERT_TRUE(IterateUntil([&] { return password_->IsFirstResponder(); }, 10s));
    PressKey(Win(), GDK_KEY_Tab);  // and from the last to the first
    ASSERT_TRUE(IterateUntil([&] { return email_->IsFirstResponder(); }, 10s));

    ASSERT_TRUE(TypeKeys(Win(), "demo@zul.test"));
    ASSERT_TRUE(WaitForText(*email_, "demo@zul.test"));
    PressKey(Win(), GDK_KEY_Return);
    ASSERT_TRUE(IterateUntil([&] { return password_->IsFirstResponder(); }, 10s));
    EXPECT_NE(nullptr, AppTestSupport::SignInScreen(*delegate_));  // not signing in yet
    ASSERT_TRUE(TypeKeys(Win(), "demo"));
    ASSERT_TRUE(WaitForText(*password_, "demo"));
    PressKey(Win(), GDK_KEY_Return);
    login_.reset();
    email_.reset();
    password_.reset();
    ASSERT_TRUE(
        IterateUntil([&] { return AppTestSupport::SignInScreen(*delegate_) == nullptr; }, 10s));
    EXPECT_STREQ("MainViewController2", delegate_->window()->RootViewController()->ClassName());
    EXPECT_EQ("demo@zul.test",
              ns::UserDefaults::Standard().StringForKey(LoginViewController::kUserLoginKey));
}

// Copy, cut and paste through the desktop clipboard in the e-mail field; the password field
// offers none of them, nor select all (its selection made with Shift stays its own).
TEST_F(TextFieldWindowTest, TheClipboardServesTheEmailFieldAndNotThePassword) {
    Launch(ui::UserInterfaceIdiom::Phone);
    GtkClipboard* clipboard = gtk_clipboard_get(GDK_SELECTION_CLIPBOARD);
    auto clipboardText = [&] {
        gchar* text = gtk_clipboard_wait_for_text(clipboard);
        std::string s = text != nullptr ? text : "";
        g_free(text);
        return s;
    };

    ASSERT_TRUE(FocusAndType(*email_, "a@b"));
    PressKeys(Win(), {GDK_KEY_Control_L, GDK_KEY_a});
    PressKeys(Win(), {GDK_KEY_Control_L, GDK_KEY_c});
    PressKey(Win(), GDK_KEY_End);
    PressKeys(Win(), {GDK_KEY_Control_L, GDK_KEY_v});
    ASSERT_TRUE(WaitForText(*email_, "a@ba@b"));
    EXPECT_EQ("a@b", clipboardText());
    PressKeys(Win(), {GDK_KEY_Shift_L, GDK_KEY_Left});
    PressKeys(Win(), {GDK_KEY_Shift_L, GDK_KEY_Left});
    PressKeys(Win(), {GDK_KEY_Control_L, GDK_KEY_x});
    ASSERT_TRUE(WaitForText(*email_, "a@ba"));
    EXPECT_EQ("@b", clipboardText());

    // A line break in the clipboard does not make the one-line field two lines.
    gtk_clipboard_set_text(clipboard, "two\nlines", -1);
    PressKeys(Win(), {GDK_KEY_Control_L, GDK_KEY_v});
    ASSERT_TRUE(WaitForText(*email_, "a@batwo lines"));

    gtk_clipboard_set_text(clipboard, "clip", -1);
    ASSERT_TRUE(FocusAndType(*password_, "demo"));
    PressKeys(Win(), {GDK_KEY_Control_L, GDK_KEY_a});  // refused: typing still appends
    ASSERT_TRUE(TypeKeys(Win(), "1"));
    ASSERT_TRUE(WaitForText(*password_, "demo1"));
    PressKeys(Win(), {GDK_KEY_Shift_L, GDK_KEY_Home});
    ASSERT_TRUE(WaitForSelection(*password_, ui::TextRange(0, 5)));
    PressKeys(Win(), {GDK_KEY_Control_L, GDK_KEY_c});
    PressKeys(Win(), {GDK_KEY_Control_L, GDK_KEY_x});
    PressKey(Win(), GDK_KEY_End);
    PressKeys(Win(), {GDK_KEY_Control_L, GDK_KEY_v});
    ASSERT_TRUE(TypeKeys(Win(), "2"));
    ASSERT_TRUE(WaitForText(*password_, "demo12"));  // nothing cut, nothing pasted
    // Whatever a paste might have brought has had its turn by now.
    IterateUntil([] { return false; }, 300ms);
    EXPECT_EQ("demo12", password_->Text());
    EXPECT_EQ("clip", clipboardText());  // the password was neither copied nor cut
}

}  // namespace
