// Text in the window is measured and drawn by one path: a label laid out to fit its text shows
// all of it (no ellipsis), at the window's own size and when a resized window scales it, and
// the glyphs' ink that reaches beyond a label's bounds (accents, descenders, ogoneks) is drawn.
// The oracle is a layout the test makes itself with Pango on an image surface.
#include <gtest/gtest.h>
#include <pango/pangocairo.h>

#include <algorithm>
#include <cmath>

#include "platform/desktop/RendererTestScene.h"

namespace ns::desktop::testing {
namespace {

constexpr Rgb kInk{0x20, 0x20, 0x90};

// Pango's extents of text in the desktop's sans-serif face at `pixels` pixels, on a surface of
// its own (no hinting of metrics, as a window that scales must draw).
struct ReferenceText {
    PangoRectangle ink{}, logical{};
    int baseline = 0;
};
ReferenceText Reference(const char* text, bool bold, double pixels) {
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, 8, 8);
    cairo_t* cr = cairo_create(surface);
    PangoLayout* layout = pango_cairo_create_layout(cr);
    cairo_font_options_t* options = cairo_font_options_create();
    cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_OFF);
    pango_cairo_context_set_font_options(pango_layout_get_context(layout), options);
    cairo_font_options_destroy(options);
    pango_context_set_round_glyph_positions(pango_layout_get_context(layout), FALSE);
    pango_layout_context_changed(layout);
    PangoFontDescription* desc = pango_font_description_from_string(bold ? "Sans Bold" : "Sans");
    pango_font_description_set_absolute_size(desc, pixels * PANGO_SCALE);
    pango_layout_set_font_description(layout, desc);
    pango_font_description_free(desc);
    pango_layout_set_text(layout, text, -1);
    ReferenceText r;
    pango_layout_get_extents(layout, &r.ink, &r.logical);
    r.baseline = pango_layout_get_baseline(layout);
    g_object_unref(layout);
    cairo_destroy(cr);
    cairo_surface_destroy(surface);
    return r;
}
double Units(int pango) { return static_cast<double>(pango) / PANGO_SCALE; }

// The bounding box of the pixels in r that are not the window's white.
struct InkBox {
    int minX = 1 << 20, minY = 1 << 20, maxX = -1, maxY = -1;
    int Width() const { return maxX < 0 ? 0 : maxX - minX + 1; }
    int Height() const { return maxY < 0 ? 0 : maxY - minY + 1; }
};
InkBox InkIn(const GdkPixbuf* shot, int x0, int y0, int x1, int y1) {
    InkBox box;
    for (int y = std::max(0, y0); y < y1; ++y) {
        for (int x = std::max(0, x0); x < x1; ++x) {
            const Rgb c = PixelAt(shot, x, y);
            if (c.r < 0 || c == kWindowWhite) continue;
            box.minX = std::min(box.minX, x);
            box.maxX = std::max(box.maxX, x);
            box.minY = std::min(box.minY, y);
            box.maxY = std::max(box.maxY, y);
        }
    }
    return box;
}

class RendererTextTest : public RendererScene {
protected:
    void SetUp() override {
        RendererScene::SetUp();
        // Only the views of this test on the white window.
        for (const ui::View::Ptr& v : window->Subviews()) v->SetHidden(true);
    }

    // A bar-style button titled `title` in bold 13, as wide as its title measures.
    std::shared_ptr<ui::Button> FittedButton(const std::string& title, const ui::Point& at) {
        auto b = std::make_shared<ui::Button>(ui::Rect(at.x, at.y, 10, 30));
        b->TitleLabel()->SetFont(ui::Font::BoldSystemFont(13));
        b->SetTitle(title, ui::ControlState::Normal);
        b->SetTitleColor(ToColor(kInk), ui::ControlState::Normal);
        const ui::Size fit = b->SizeThatFits(ui::Size());
        b->SetFrame(ui::Rect(at.x, at.y, fit.width, 30));
        window->AddSubview(b);
        return b;
    }
};

TEST_F(RendererTextTest, AButtonTitleLaidOutToFitIsDrawnWholeAtEveryScale) {
    auto cc = FittedButton("CC", ui::Point(40, 40));
    const ReferenceText ref = Reference("CC", true, 13);
    // The model measures what Pango lays out: the whole logical width, rounded up.
    EXPECT_EQ(cc->Frame().Width(), std::ceil(Units(ref.logical.width) - 1e-9));
    ui::RunLayoutPass();
    EXPECT_EQ(cc->TitleLabel()->Frame().Width(), cc->Frame().Width());

    Pixbuf shot = Shot("RendererTextCC.png");
    ASSERT_TRUE(shot);
    // "CC" itself, not "C…" or "…": the drawn ink is as wide as the reference's.
    InkBox ink = InkIn(shot.get(), 30, 30, 120, 80);
    EXPECT_NEAR(ink.Width(), Units(ref.ink.width), 1.5);
    EXPECT_GE(ink.minX, 40 - 1);
    EXPECT_LE(ink.maxX, static_cast<int>(cc->Frame().MaxX()) + 1);

    // At twice the size (the window resized by the person) the same title fills twice the
    // width: the measure does not depend on the scale it is drawn at.
    ResizeWindowTo(Gdk(), 960, 640);
    ASSERT_TRUE(IterateUntil([&] { return renderer->Scale() == 2; }, std::chrono::seconds(3)));
    shot = Shot("RendererTextCC2x.png");
    ASSERT_TRUE(shot);
    ink = InkIn(shot.get(), 60, 60, 240, 160);
    const ReferenceText big = Reference("CC", true, 26);
    EXPECT_NEAR(ink.Width(), Units(big.ink.width), 2.5);
    EXPECT_LE(ink.maxX, static_cast<int>(2 * cc->Frame().MaxX()) + 1);
}

TEST_F(RendererTextTest, TextLaidOutNarrowerThanItMeasuresIsCutShort) {
    auto cc = FittedButton("CC", ui::Point(40, 40));
    const ReferenceText ref = Reference("CC", true, 13);
    // Room for less than one "C": what shows is an ellipsis, three dots on the baseline, no
    // letter.
    cc->SetFrame(ui::Rect(40, 40, std::floor(Units(ref.logical.width) / 2) - 1, 30));
    Pixbuf shot = Shot("RendererTextCut.png");
    ASSERT_TRUE(shot);
    const InkBox ink = InkIn(shot.get(), 30, 30, 120, 80);
    EXPECT_GT(ink.Width(), 0);
    EXPECT_LT(ink.Height(), Units(ref.ink.height) / 3);
}

TEST_F(RendererTextTest, GlyphsBeyondALabelsBoundsAreDrawnWhole) {
    // A label as short as its font's size (a search result's title): the ogonek, the "j"'s
    // descender and the dot over the "Z" reach out of it.
    const char* title = "\xC5\xBB\xC3\xB3\xC5\x82w i zaj\xC4\x85\x63";  // "Żółw i zając"
    auto holder = std::make_shared<ui::View>(ui::Rect(20, 20, 300, 80));
    holder->SetClipsToBounds(true);
    auto label = std::make_shared<ui::Label>(ui::Rect(10, 30, 280, 12));
    label->SetFont(ui::Font::SystemFont(12));
    label->SetTextColor(ToColor(kInk));
    label->SetTextAlignment(ui::TextAlignment::Center);
    label->SetText(title);
    holder->AddSubview(label);
    window->AddSubview(holder);

    Pixbuf shot = Shot("RendererTextDescenders.png");
    ASSERT_TRUE(shot);
    const InkBox ink = InkIn(shot.get(), 20, 20, 320, 100);
    const ReferenceText ref = Reference(title, false, 12);
    // Every row of the glyphs' ink is there, top (the dot) to bottom (ogonek, descender)...
    EXPECT_NEAR(ink.Height(), Units(ref.ink.height), 1.5);
    EXPECT_NEAR(ink.Width(), Units(ref.ink.width), 1.5);
    // ...and the bottom rows lie below the label's bounds (y 50..61 in the window).
    EXPECT_GT(ink.maxY, 61);
    int below = 0;
    for (int x = 20; x < 320; ++x) below += PixelAt(shot.get(), x, ink.maxY) != kWindowWhite;
    EXPECT_GT(below, 0);
}

}  // namespace
}  // namespace ns::desktop::testing
