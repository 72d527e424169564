#ifndef PLATFORM_DESKTOP_RENDERER_TEST_SCENE_H
#define PLATFORM_DESKTOP_RENDERER_TEST_SCENE_H
// For the renderer's tests: a phone held in landscape (a 480 x 320 screen) with a window of a
// label, a rounded button, two image views (generated pixels and PNG bytes), a text field and
// a table of 100 rows, shown by a Renderer, on a manual-clock toolkit loop that runs inside
// GLib; and a person's mouse and keys as X or GDK events at window pixels.
//
// Every colour is one no theme paints, so a pixel tells which part of the scene it is. Row i
// of the table is (i, 0xC8, 0x64): the red of a pixel names the row shown there.

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "platform/desktop/Renderer.h"
#include "platform/desktop/RunLoopSource.h"
#include "platform/desktop/testing/DrawWatch.h"
#include "platform/desktop/testing/MainContextWait.h"
#include "platform/desktop/testing/PointerClick.h"
#include "platform/desktop/testing/WindowCapture.h"
#include "platform/ui/Application.h"
#include "platform/ui/Button.h"
#include "platform/ui/Driver.h"
#include "platform/ui/ImageView.h"
#include "platform/ui/Label.h"
#include "platform/ui/TableView.h"
#include "platform/ui/TestLoop.h"
#include "platform/ui/TextField.h"
#include "platform/ui/Window.h"

namespace ns::desktop::testing {

constexpr Rgb kWindowWhite{255, 255, 255};
constexpr Rgb kLabelBackground{0xF0, 0xD0, 0x20};
constexpr Rgb kLabelText{0x80, 0x10, 0x40};
constexpr Rgb kFilledGreen{0x10, 0xB0, 0x30};
constexpr Rgb kDecodedBlue{0x30, 0x40, 0xC0};
inline Rgb RowColor(int row) { return {row, 0xC8, 0x64}; }
inline ui::Color ToColor(const Rgb& c) { return ui::Color::FromRGB255(c.r, c.g, c.b); }

// Frames, in the window's points (one point is one pixel at the window's own size).
const ui::Rect kLabelFrame(20, 20, 200, 40);
const ui::Rect kButtonFrame(20, 80, 120, 44);
const ui::Rect kFilledFrame(160, 80, 40, 40);
const ui::Rect kDecodedFrame(210, 80, 40, 40);
const ui::Rect kFieldFrame(20, 140, 200, 31);
const ui::Rect kTableFrame(260, 20, 200, 280);
constexpr double kRowHeight = 44;

class RowSource : public ui::TableViewDataSource {
public:
    int NumberOfRowsInSection(ui::TableView&, int) override { return 100; }
    std::shared_ptr<ui::TableViewCell> CellForRow(ui::TableView& table,
                                                  const ui::IndexPath& path) override {
        auto cell = table.DequeueReusableCell("row");
        if (!cell)
            cell = std::make_shared<ui::TableViewCell>(ui::TableViewCellStyle::Default, "row");
        cell->SetBackgroundColor(ToColor(RowColor(path.row)));
        cell->TextLabel()->SetText("Row " + std::to_string(path.row));
        return cell;
    }
};

class RendererScene : public ::testing::Test {
protected:
    void SetUp() override {
        ui::UiDevice::Current().SetIdiom(ui::UserInterfaceIdiom::Phone);
        ui::UiDevice::Current().SetOrientation(ui::DeviceOrientation::LandscapeLeft);
        app = std::make_unique<ui::Application>();
        source = std::make_unique<RunLoopSource>(loop.Loop());

        window = std::make_shared<ui::Window>(ui::Rect(0, 0, 480, 320));
        window->SetBackgroundColor(ui::Color::White());
        label = std::make_shared<ui::Label>(kLabelFrame);
        label->SetBackgroundColor(ToColor(kLabelBackground));
        label->SetTextColor(ToColor(kLabelText));
        label->SetFont(ui::Font::BoldSystemFont(28));
        label->SetText("Hello");
        window->AddSubview(label);

        button = std::make_shared<ui::Button>(kButtonFrame, ui::ButtonType::RoundedRect);
        button->SetTitle(std::string("Play"), ui::ControlState::Normal);
        button->AddTarget(
            this, [this](ui::Control&) { ++buttonTaps; }, ui::ControlEvent::TouchUpInside);
        window->AddSubview(button);

        filled = std::make_shared<ui::ImageView>(kFilledFrame);
        filled->SetImage(ui::Image::Filled(kFilledFrame.size, ToColor(kFilledGreen), 0));
        window->AddSubview(filled);
        decoded = std::make_shared<ui::ImageView>(kDecodedFrame);
        decoded->SetImage(PngImage(kDecodedBlue, 20, 20));
        window->AddSubview(decoded);

        field = std::make_shared<ui::TextField>(kFieldFrame);
        field->SetBorderStyle(ui::TextBorderStyle::RoundedRect);
        field->SetPlaceholder("Name");
        field->SetFont(ui::Font::SystemFont(17));
        window->AddSubview(field);

        table = std::make_shared<ui::TableView>(kTableFrame);
        rows = std::make_shared<RowSource>();
        table->SetDataSource(rows);
        window->AddSubview(table);

        window->MakeKeyAndVisible();
        renderer = std::make_unique<Renderer>(window);
        ASSERT_TRUE(Settle());
    }

    void TearDown() override {
        renderer.reset();
        source.reset();
        window.reset();
        app.reset();
        ui::UiDevice::Current().SetOrientation(ui::DeviceOrientation::Portrait);
    }

    // A PNG of one colour, made by gdk-pixbuf, as the bundle would hold it.
    static ui::Image::Ptr PngImage(const Rgb& c, int w, int h) {
        GdkPixbuf* p = gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, w, h);
        gdk_pixbuf_fill(p, (static_cast<guint32>(c.r) << 24) | (c.g << 16) | (c.b << 8) | 0xFF);
        gchar* buffer = nullptr;
        gsize size = 0;
        gdk_pixbuf_save_to_buffer(p, &buffer, &size, "png", nullptr, nullptr);
        std::vector<uint8_t> bytes(buffer, buffer + size);
        g_free(buffer);
        g_object_unref(p);
        return ui::Image::FromBytes(bytes, "blue");
    }

    // Lets the renderer take the models' changes and the window draw them.
    bool Settle() {
        IteratePending();
        DrawWatch drawn(renderer->Window());
        gtk_widget_queue_draw(renderer->Window());
        const bool ok = drawn.WaitForDrawAfter(0, std::chrono::seconds(3));
        IteratePending();
        return ok;
    }

    Pixbuf Shot(const std::string& name) {
        EXPECT_TRUE(Settle());
        Pixbuf shot = CaptureWindow(renderer->Window());
        std::string error;
        if (shot) {
            EXPECT_TRUE(SavePng(shot.get(), PicturePath(name), &error)) << error;
        }
        return shot;
    }

    GdkWindow* Gdk() const { return gtk_widget_get_window(renderer->Window()); }

    // A click as a person makes one, at a window pixel.
    void Click(const ui::Point& at) {
        ClickAt(Gdk(), static_cast<int>(at.x), static_cast<int>(at.y));
        Settle();
    }
    // A key pressed and released while the window has the keyboard.
    void Key(guint keyval) {
        for (GdkEventType type : {GDK_KEY_PRESS, GDK_KEY_RELEASE}) {
            GdkEvent* e = gdk_event_new(type);
            e->key.window = GDK_WINDOW(g_object_ref(Gdk()));
            e->key.keyval = keyval;
            e->key.time = GDK_CURRENT_TIME;
            gdk_event_set_device(
                e, gdk_seat_get_keyboard(gdk_display_get_default_seat(gdk_display_get_default())));
            gdk_event_put(e);
            gdk_event_free(e);
        }
        IteratePending();
    }

    // GDK events with the times a test chooses (for speeds).
    GdkEvent* PointerEvent(GdkEventType type, const ui::Point& at, uint32_t time) {
        GdkEvent* e = gdk_event_new(type);
        int ox = 0, oy = 0;
        gdk_window_get_origin(Gdk(), &ox, &oy);
        GdkDevice* pointer =
            gdk_seat_get_pointer(gdk_display_get_default_seat(gdk_display_get_default()));
        gdk_event_set_device(e, pointer);
        switch (type) {
            case GDK_BUTTON_PRESS:
            case GDK_BUTTON_RELEASE:
                e->button.window = GDK_WINDOW(g_object_ref(Gdk()));
                e->button.x = at.x;
                e->button.y = at.y;
                e->button.x_root = ox + at.x;
                e->button.y_root = oy + at.y;
                e->button.button = 1;
                e->button.time = time;
                break;
            case GDK_MOTION_NOTIFY:
                e->motion.window = GDK_WINDOW(g_object_ref(Gdk()));
                e->motion.x = at.x;
                e->motion.y = at.y;
                e->motion.x_root = ox + at.x;
                e->motion.y_root = oy + at.y;
                e->motion.state = GDK_BUTTON1_MASK;
                e->motion.time = time;
                break;
            case GDK_SCROLL:
                e->scroll.window = GDK_WINDOW(g_object_ref(Gdk()));
                e->scroll.x = at.x;
                e->scroll.y = at.y;
                e->scroll.x_root = ox + at.x;
                e->scroll.y_root = oy + at.y;
                e->scroll.direction = GDK_SCROLL_DOWN;
                e->scroll.time = time;
                break;
            default: break;
        }
        return e;
    }
    // Handed to GTK as GDK hands over what the server sends (GDK would hold motion back for
    // the frame clock; here it is taken at once).
    void Put(GdkEventType type, const ui::Point& at, uint32_t time) {
        GdkEvent* e = PointerEvent(type, at, time);
        gtk_main_do_event(e);
        gdk_event_free(e);
        IteratePending();
    }

    ui::TestLoop loop;
    std::unique_ptr<ui::Application> app;
    std::unique_ptr<RunLoopSource> source;
    std::shared_ptr<ui::Window> window;
    std::shared_ptr<ui::Label> label;
    std::shared_ptr<ui::Button> button;
    std::shared_ptr<ui::ImageView> filled;
    std::shared_ptr<ui::ImageView> decoded;
    std::shared_ptr<ui::TextField> field;
    std::shared_ptr<ui::TableView> table;
    std::shared_ptr<RowSource> rows;
    std::unique_ptr<Renderer> renderer;
    int buttonTaps = 0;
};

}  // namespace ns::desktop::testing

#endif
