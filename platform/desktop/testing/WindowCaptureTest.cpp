// The whole window path under the private Xvfb: a GTK window with absolutely placed content is
// shown, draws, and the picture read back from the X server has that content where it was put.
#include <gtest/gtest.h>

#include <string>

#include "platform/desktop/testing/DrawWatch.h"
#include "platform/desktop/testing/MainContextWait.h"
#include "platform/desktop/testing/WindowCapture.h"

namespace {

using ns::desktop::Rgb;

// A colour no theme paints: 0x20 0x80 0xE0.
constexpr Rgb kPaint{0x20, 0x80, 0xE0};
// The painted box inside the window's fixed container.
constexpr int kBoxX = 40, kBoxY = 30, kBoxWidth = 100, kBoxHeight = 60;

gboolean PaintBox(GtkWidget*, cairo_t* cr, gpointer) {
    cairo_set_source_rgb(cr, kPaint.r / 255.0, kPaint.g / 255.0, kPaint.b / 255.0);
    cairo_paint(cr);
    return FALSE;
}

TEST(WindowCapture, ShownWindowDrawsItsBoxWhereItWasPlaced) {
    GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_default_size(GTK_WINDOW(window), 320, 240);
    GtkWidget* fixed = gtk_fixed_new();
    GtkWidget* box = gtk_drawing_area_new();
    gtk_widget_set_size_request(box, kBoxWidth, kBoxHeight);
    g_signal_connect(box, "draw", G_CALLBACK(PaintBox), nullptr);
    gtk_fixed_put(GTK_FIXED(fixed), box, kBoxX, kBoxY);
    gtk_container_add(GTK_CONTAINER(window), fixed);

    ns::desktop::DrawWatch drawn(box);
    gtk_widget_show_all(window);
    ASSERT_TRUE(drawn.WaitForDrawAfter(0, std::chrono::seconds(5)));
    ns::desktop::IteratePending();

    ns::desktop::Pixbuf shot = ns::desktop::CaptureWindow(window);
    ASSERT_TRUE(shot);
    std::string error;
    EXPECT_TRUE(
        ns::desktop::SavePng(shot.get(), ns::desktop::PicturePath("WindowCapture.png"), &error))
        << error;
    EXPECT_EQ(gdk_pixbuf_get_width(shot.get()), 320);
    EXPECT_EQ(gdk_pixbuf_get_height(shot.get()), 240);

    // Corners of the box and its middle carry the paint; one pixel outside each edge does not.
    EXPECT_EQ(ns::desktop::PixelAt(shot.get(), kBoxX, kBoxY), kPaint);
    EXPECT_EQ(ns::desktop::PixelAt(shot.get(), kBoxX + kBoxWidth - 1, kBoxY + kBoxHeight - 1),
              kPaint);
    EXPECT_EQ(ns::desktop::PixelAt(shot.get(), kBoxX + kBoxWidth / 2, kBoxY + kBoxHeight / 2),
              kPaint);
    EXPECT_NE(ns::desktop::PixelAt(shot.get(), kBoxX - 1, kBoxY), kPaint);
    EXPECT_NE(ns::desktop::PixelAt(shot.get(), kBoxX, kBoxY - 1), kPaint);
    EXPECT_NE(ns::desktop::PixelAt(shot.get(), kBoxX + kBoxWidth, kBoxY), kPaint);
    EXPECT_NE(ns::desktop::PixelAt(shot.get(), kBoxX, kBoxY + kBoxHeight), kPaint);

    gtk_widget_destroy(window);
}

}  // namespace
