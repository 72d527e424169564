#include "platform/desktop/PangoTextMeasure.h"

#include <cairo.h>
#include <pango/pangocairo.h>

#include <algorithm>

#include "platform/ui/TextMeasure.h"

namespace ns::desktop {

namespace {

// The context the models measure in: the default font map's, with no device transform.
PangoContext* MeasureContext() {
    static PangoContext* context = [] {
        PangoContext* c = pango_font_map_create_context(pango_cairo_font_map_get_default());
        PangoTextMeasure::PrepareContext(c);
        return c;
    }();  // never destroyed: measuring may go on until the process ends
    return context;
}

}  // namespace

void PangoTextMeasure::Install() { ui::TextMeasure::SetWidthMeasure(&PangoTextMeasure::Width); }

PangoFontDescription* PangoTextMeasure::FontFor(const ui::Font& font) {
    // Every named face of the application is a sans-serif one.
    PangoFontDescription* desc =
        pango_font_description_from_string(font.IsBold() ? "Sans Bold" : "Sans");
    pango_font_description_set_absolute_size(desc, std::max(1.0, font.PointSize()) * PANGO_SCALE);
    return desc;
}

void PangoTextMeasure::PrepareContext(PangoContext* context) {
    cairo_font_options_t* options = cairo_font_options_create();
    const cairo_font_options_t* current = pango_cairo_context_get_font_options(context);
    if (current != nullptr) cairo_font_options_merge(options, current);
    cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_OFF);
    pango_cairo_context_set_font_options(context, options);
    cairo_font_options_destroy(options);
    pango_context_set_round_glyph_positions(context, FALSE);
}

PangoLayout* PangoTextMeasure::NewLayout(PangoContext* context, const std::string& text,
                                         const ui::Font& font) {
    PangoLayout* layout = pango_layout_new(context);
    PangoFontDescription* desc = FontFor(font);
    pango_layout_set_font_description(layout, desc);
    pango_font_description_free(desc);
    // Pango takes UTF-8 only: a bad byte is drawn (and measured) as a replacement character.
    gchar* valid = g_utf8_make_valid(text.c_str(), static_cast<gssize>(text.size()));
    pango_layout_set_text(layout, valid, -1);
    g_free(valid);
    return layout;
}

double PangoTextMeasure::Width(const std::string& text, const ui::Font& font) {
    if (text.empty()) return 0;
    PangoLayout* layout = NewLayout(MeasureContext(), text, font);
    PangoRectangle logical;
    pango_layout_get_extents(layout, nullptr, &logical);
    g_object_unref(layout);
    return static_cast<double>(logical.width) / PANGO_SCALE;
}

}  // namespace ns::desktop
