// The renderer shows the models: a picture of the window has each view's colours inside its
// frame and the table's rows where the rows' heights put them, and follows the models' changes.
#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/desktop/AlertSheet.h"
#include "platform/desktop/NativeView.h"
#include "platform/desktop/RendererTestScene.h"
#include "platform/ui/AlertView.h"

namespace ns::desktop::testing {
namespace {

// Pixels of `color` inside r (window pixels).
int CountColor(const GdkPixbuf* shot, const ui::Rect& r, const Rgb& color) {
    int n = 0;
    for (int y = static_cast<int>(r.MinY()); y < static_cast<int>(r.MaxY()); ++y) {
        for (int x = static_cast<int>(r.MinX()); x < static_cast<int>(r.MaxX()); ++x) {
            if (PixelAt(shot, x, y) == color) ++n;
        }
    }
    return n;
}

using RendererTest = RendererScene;

TEST_F(RendererTest, ShowsTheTreeInAWindowOfTheScreenSize) {
    Pixbuf shot = Shot("RendererScene.png");
    ASSERT_TRUE(shot);
    EXPECT_EQ(gdk_pixbuf_get_width(shot.get()), 480);
    EXPECT_EQ(gdk_pixbuf_get_height(shot.get()), 320);
    const GdkPixbuf* p = shot.get();
    // The label: its background at its far corners, its text in its colour on the left.
    EXPECT_EQ(PixelAt(p, 20, 20), kLabelBackground);
    EXPECT_EQ(PixelAt(p, 219, 59), kLabelBackground);
    EXPECT_EQ(PixelAt(p, 19, 20), kWindowWhite);
    EXPECT_EQ(PixelAt(p, 20, 60), kWindowWhite);
    EXPECT_GT(CountColor(p, ui::Rect(20, 20, 100, 40), kLabelText), 40);
    EXPECT_EQ(CountColor(p, ui::Rect(130, 20, 90, 40), kLabelText), 0);  // "Hello" is short
    // The images: generated pixels and decoded PNG bytes, the PNG stretched to the frame.
    EXPECT_EQ(PixelAt(p, 160, 80), kFilledGreen);
    EXPECT_EQ(PixelAt(p, 199, 119), kFilledGreen);
    EXPECT_EQ(PixelAt(p, 211, 81), kDecodedBlue);
    EXPECT_EQ(PixelAt(p, 248, 118), kDecodedBlue);
    // The table: row i from y = 20 + 44 i, each in its own colour, as many as fit in 280.
    for (int row = 0; row < 7; ++row) {
        EXPECT_EQ(PixelAt(p, 450, 20 + 44 * row + 5), RowColor(row)) << "row " << row;
    }
    EXPECT_EQ(PixelAt(p, 450, 299), RowColor(6));  // row 6 is cut at the table's bottom
    EXPECT_EQ(PixelAt(p, 450, 300), kWindowWhite);
}

TEST_F(RendererTest, ModelChangesShowInTheNextPictureWithoutNewWidgets) {
    GtkWidget* labelWidget = renderer->WidgetFor(*label);
    ASSERT_NE(labelWidget, nullptr);
    const uint64_t syncs = renderer->Syncs();
    label->SetFrame(ui::Rect(20, 200, 200, 40));
    label->SetText("");
    label->SetBackgroundColor(ToColor(kLabelText));
    filled->SetHidden(true);
    Pixbuf shot = Shot("RendererChanged.png");
    ASSERT_TRUE(shot);
    const GdkPixbuf* p = shot.get();
    EXPECT_EQ(PixelAt(p, 30, 30), kWindowWhite);  // where the label was
    EXPECT_EQ(PixelAt(p, 30, 210), kLabelText);   // where it is, in its new colour
    EXPECT_EQ(PixelAt(p, 219, 239), kLabelText);
    EXPECT_EQ(PixelAt(p, 180, 100), kWindowWhite);  // hidden
    // Four changes, one update, the same widget moved.
    EXPECT_EQ(renderer->WidgetFor(*label), labelWidget);
    EXPECT_LE(renderer->Syncs() - syncs, 2u);

    filled->SetHidden(false);
    label->SetText("Hi");
    label->SetBackgroundColor(ToColor(kLabelBackground));
    shot = Shot("RendererChangedBack.png");
    EXPECT_EQ(PixelAt(shot.get(), 180, 100), kFilledGreen);
    EXPECT_GT(CountColor(shot.get(), ui::Rect(20, 200, 100, 40), kLabelText), 20);
}

// White text over white shows only through its shadow: with a dark one set, dark pixels lie
// around the glyphs inside the label; without it, none do.
TEST_F(RendererTest, ALabelsShadowKeepsWhiteTextVisibleOverWhite) {
    auto dark = [](const Rgb& c) { return c.r < 96 && c.g < 96 && c.b < 96; };
    auto countDark = [&](const GdkPixbuf* shot) {
        int n = 0;
        for (int y = static_cast<int>(kLabelFrame.MinY()); y < kLabelFrame.MaxY(); ++y) {
            for (int x = static_cast<int>(kLabelFrame.MinX()); x < kLabelFrame.MaxX(); ++x) {
                n += dark(PixelAt(shot, x, y));
            }
        }
        return n;
    };
    label->SetBackgroundColor(ui::Color::White());
    label->SetTextColor(ui::Color::White());
    label->SetTextAlignment(ui::TextAlignment::Center);
    Pixbuf plain = Shot("RendererWhiteOnWhite.png");
    ASSERT_TRUE(plain);
    EXPECT_EQ(0, countDark(plain.get()));  // the text cannot be seen at all

    label->SetShadowColor(ui::Color::Black());
    label->SetShadowOffset(ui::Size(2, 2));
    Pixbuf shadowed = Shot("RendererWhiteOnWhiteShadowed.png");
    ASSERT_TRUE(shadowed);
    const GdkPixbuf* p = shadowed.get();
    // "Hello" in bold 28 leaves well over a hundred dark pixels beside its strokes.
    EXPECT_GT(countDark(p), 100);
    // The white glyphs stay on top: many a white pixel has a dark one two pixels below and to
    // the right of it, where the shadow peeks out from under the stroke.
    int edges = 0;
    for (int y = static_cast<int>(kLabelFrame.MinY()); y + 2 < kLabelFrame.MaxY(); ++y) {
        for (int x = static_cast<int>(kLabelFrame.MinX()); x + 2 < kLabelFrame.MaxX(); ++x) {
            edges += PixelAt(p, x, y) == kWindowWhite && dark(PixelAt(p, x + 2, y + 2));
        }
    }
    EXPECT_GT(edges, 20);
    // Outside the label the window is untouched.
    EXPECT_EQ(kWindowWhite, PixelAt(p, static_cast<int>(kLabelFrame.MaxX()) + 3,
                                    static_cast<int>(kLabelFrame.MidY())));
}

TEST_F(RendererTest, SubviewsComeGoAndStackAsInTheModel) {
    auto top = std::make_shared<ui::View>(ui::Rect(150, 70, 60, 60));
    top->SetBackgroundColor(ToColor(kDecodedBlue));
    window->AddSubview(top);
    decoded->RemoveFromSuperview();
    Pixbuf shot = Shot("RendererStacked.png");
    EXPECT_EQ(renderer->WidgetFor(*decoded), nullptr);
    EXPECT_EQ(PixelAt(shot.get(), 230, 100), kWindowWhite);  // the removed image
    EXPECT_EQ(PixelAt(shot.get(), 180, 100), kDecodedBlue);  // the new view over the green
    window->SendSubviewToBack(top);
    shot = Shot("RendererRestacked.png");
    EXPECT_EQ(PixelAt(shot.get(), 180, 100), kFilledGreen);
    EXPECT_EQ(PixelAt(shot.get(), 155, 75), kDecodedBlue);  // beyond the image, still shown
}

TEST_F(RendererTest, AnImageIsDecodedOnceWhoeverShowsIt) {
    const size_t before = renderer->Images().Made();
    auto twin = std::make_shared<ui::ImageView>(ui::Rect(160, 180, 40, 40));
    twin->SetImage(decoded->GetImage());
    window->AddSubview(twin);
    Pixbuf shot = Shot("RendererTwin.png");
    EXPECT_EQ(PixelAt(shot.get(), 180, 200), kDecodedBlue);
    EXPECT_EQ(renderer->Images().Made(), before);
}

TEST_F(RendererTest, TheWindowFollowsTheInterfaceWhenItTurns) {
    int w = 0, h = 0;
    gtk_window_get_size(GTK_WINDOW(renderer->Window()), &w, &h);
    EXPECT_EQ(w, 480);
    EXPECT_EQ(h, 320);
    ASSERT_TRUE(ui::UiDevice::Current().Rotate(ui::DeviceOrientation::Portrait));
    EXPECT_TRUE(IterateUntil(
        [&] {
            gtk_window_get_size(GTK_WINDOW(renderer->Window()), &w, &h);
            return w == 320 && h == 480;
        },
        std::chrono::seconds(3)));
}

// A movie's picture as the player shows it: a widget without a window of its own that paints
// itself in one colour, under every view of the scene, and asks to be drawn again for each of
// its frames. It counts its draws and keeps the part of it the last one covered.
constexpr Rgb kPictureColor{0x20, 0x30, 0x40};

class PictureOverTest : public RendererScene {
protected:
    void SetUp() override {
        RendererScene::SetUp();
        GtkWidget* area = gtk_drawing_area_new();
        gtk_widget_set_has_window(area, FALSE);
        g_signal_connect(area, "draw", G_CALLBACK(OnPictureDraw), this);
        picture = std::make_shared<NativeView>(area, ui::Rect(0, 0, 480, 320));
        window->InsertSubviewAt(picture, 0);
        ASSERT_TRUE(Settle());
    }

    static gboolean OnPictureDraw(GtkWidget*, cairo_t* cr, gpointer self) {
        auto* test = static_cast<PictureOverTest*>(self);
        cairo_set_source_rgb(cr, kPictureColor.r / 255.0, kPictureColor.g / 255.0,
                             kPictureColor.b / 255.0);
        cairo_paint(cr);
        double x0 = 0, y0 = 0, x1 = 0, y1 = 0;
        cairo_clip_extents(cr, &x0, &y0, &x1, &y1);
        test->lastDrawn = ui::Rect(x0, y0, x1 - x0, y1 - y0);
        return FALSE;
    }

    // The picture's next frame, drawn.
    bool NextFrame() {
        DrawWatch drawn(picture->Widget());
        gtk_widget_queue_draw(picture->Widget());
        return drawn.WaitForDrawAfter(0, std::chrono::seconds(3));
    }

    // The pixels of `r` (window pixels) that differ between two pictures by more than the
    // rounding of an antialiased edge, rasterized in memory or by the X server and blended in
    // one step or two (4 in 255 a channel).
    static int Differing(const GdkPixbuf* a, const GdkPixbuf* b, const ui::Rect& r) {
        int n = 0;
        for (int y = static_cast<int>(r.MinY()); y < static_cast<int>(r.MaxY()); ++y) {
            for (int x = static_cast<int>(r.MinX()); x < static_cast<int>(r.MaxX()); ++x) {
                const Rgb p = PixelAt(a, x, y), q = PixelAt(b, x, y);
                n += std::abs(p.r - q.r) > 4 || std::abs(p.g - q.g) > 4 || std::abs(p.b - q.b) > 4;
            }
        }
        return n;
    }

    std::shared_ptr<NativeView> picture;
    ui::Rect lastDrawn;
};

TEST_F(PictureOverTest, ViewsOverAPictureAreNotPaintedAgainForItsFrames) {
    // Changed, so that the next picture of the window shows them as painted from the models.
    label->SetText("Hello!");
    button->SetTitle(std::string("Stop"), ui::ControlState::Normal);
    filled->SetImage(ui::Image::Filled(kFilledFrame.size, ToColor(kFilledGreen), 0));
    decoded->SetImage(PngImage(kDecodedBlue, 20, 20));
    Pixbuf painted = Shot("RendererOverPicture.png");
    ASSERT_TRUE(painted);
    EXPECT_EQ(PixelAt(painted.get(), 240, 300), kPictureColor);  // between the views
    ASSERT_TRUE(NextFrame());  // the views drawn unchanged for the first time: their pixels kept
    const uint64_t paints = renderer->Paints();
    for (int frame = 0; frame < 50; ++frame) ASSERT_TRUE(NextFrame()) << "frame " << frame;
    // Fifty frames of the picture, and not one view of the scene painted from its model.
    EXPECT_EQ(renderer->Paints(), paints);
    // Yet the views still show over the picture as they were painted: the label's text, the
    // button's title and rounded corners, both images, the field and the table's rows.
    Pixbuf after = Shot("RendererOverPictureFrames.png");
    ASSERT_TRUE(after);
    for (const ui::Rect& r :
         {kLabelFrame, kButtonFrame, kFilledFrame, kDecodedFrame, kFieldFrame, kTableFrame}) {
        EXPECT_EQ(Differing(painted.get(), after.get(), r), 0)
            << "at " << r.X() << "," << r.Y() << " " << r.Width() << "x" << r.Height();
    }
    EXPECT_EQ(PixelAt(after.get(), 240, 300), kPictureColor);
}

TEST_F(PictureOverTest, AViewThatChangesOverAPictureShowsItsChange) {
    for (int frame = 0; frame < 3; ++frame) ASSERT_TRUE(NextFrame());
    const uint64_t paints = renderer->Paints();
    label->SetText("");
    label->SetBackgroundColor(ToColor(kFilledGreen));
    ASSERT_TRUE(Settle());
    for (int frame = 0; frame < 3; ++frame) ASSERT_TRUE(NextFrame());
    EXPECT_GT(renderer->Paints(), paints);
    Pixbuf shot = Shot("RendererOverPictureChanged.png");
    ASSERT_TRUE(shot);
    // The label's new colour all over it (its old text gone), frames after the change.
    EXPECT_EQ(CountColor(shot.get(), kLabelFrame, kFilledGreen),
              static_cast<int>(kLabelFrame.Width() * kLabelFrame.Height()));
}

TEST_F(PictureOverTest, AChangeOverAPictureRedrawsOnlyThatPartOfIt) {
    ASSERT_TRUE(NextFrame());
    EXPECT_EQ(lastDrawn, ui::Rect(0, 0, 480, 320));  // a frame: the whole picture
    DrawWatch drawn(picture->Widget());
    label->SetText("Bye");
    ASSERT_TRUE(drawn.WaitForDrawAfter(0, std::chrono::seconds(3)));
    // Only the part the label's glyphs may cover (its frame and half a line around it) is
    // drawn again, not the whole picture under it.
    EXPECT_LE(lastDrawn.Width(), kLabelFrame.Width() + 40);
    EXPECT_LE(lastDrawn.Height(), kLabelFrame.Height() + 40);
    EXPECT_TRUE(lastDrawn.Intersects(kLabelFrame));
}

TEST_F(PictureOverTest, OnceThePictureIsGoneTheViewsKeepNoPixels) {
    ASSERT_TRUE(NextFrame());
    ASSERT_TRUE(NextFrame());  // the views' pixels kept
    picture->RemoveFromSuperview();
    ASSERT_TRUE(Settle());
    // With no movie in the window, a redraw of unchanged views paints them from their models:
    // the kept pixels (a copy of every view drawn) are not held where nothing needs them.
    for (int redraw = 0; redraw < 3; ++redraw) {
        const uint64_t paints = renderer->Paints();
        DrawWatch drawn(renderer->WidgetFor(*label));
        gtk_widget_queue_draw(renderer->WidgetFor(*window));
        ASSERT_TRUE(drawn.WaitForDrawAfter(0, std::chrono::seconds(3)));
        EXPECT_GT(renderer->Paints(), paints) << "redraw " << redraw;
    }
}

class AlertAnswer : public ui::AlertViewDelegate {
public:
    void ClickedButtonAtIndex(ui::AlertView&, int index) override { clicked = index; }
    int clicked = -1;
};

TEST_F(RendererTest, AnAlertShowsOverTheWindowAndTakesTheClicks) {
    auto answer = std::make_shared<AlertAnswer>();
    auto alert =
        std::make_shared<ui::AlertView>("Sign in failed", "The password is wrong.", answer,
                                        std::string("Cancel"), std::vector<std::string>{"Retry"});
    alert->Show();
    Pixbuf shot = Shot("RendererAlert.png");
    // The interface is dimmed: white reads darker.
    const Rgb corner = PixelAt(shot.get(), 5, 315);
    EXPECT_LT(corner.r, 200);
    const AlertSheet sheet(*alert, ui::Size(480, 320));
    ASSERT_EQ(sheet.ButtonFrames().size(), 2u);
    // A click beside the sheet neither closes it nor reaches the button under the dimming.
    Click(ui::Point(kButtonFrame.MidX(), kButtonFrame.MidY()));
    EXPECT_EQ(buttonTaps, 0);
    EXPECT_TRUE(alert->IsVisible());
    Click(renderer->ToWindow(sheet.ButtonFrames()[1].Center()));
    EXPECT_TRUE(IterateUntil([&] { return answer->clicked == 1; }, std::chrono::seconds(2)));
    EXPECT_FALSE(alert->IsVisible());
}

}  // namespace
}  // namespace ns::desktop::testing
