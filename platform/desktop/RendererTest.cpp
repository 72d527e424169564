// The renderer shows the models: a picture of the window has each view's colours inside its
// frame and the table's rows where the rows' heights put them, and follows the models' changes.
#include <gtest/gtest.h>

#include "platform/desktop/AlertSheet.h"
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
