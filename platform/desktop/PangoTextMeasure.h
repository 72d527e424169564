#ifndef PLATFORM_DESKTOP_PANGO_TEXT_MEASURE_H
#define PLATFORM_DESKTOP_PANGO_TEXT_MEASURE_H
// The window's one path for text: the models measure with it (Install makes it the width
// measure of ui::TextMeasure) and the painter draws with it, so a label laid out to fit its
// text draws that text in exactly the width it was given.
//
// Widths must not depend on the scale the window draws at, or a label measured in points
// would come out wider on a larger window: both measuring and drawing use unhinted metrics
// and unrounded glyph positions, which scale linearly. A model font maps to the desktop's
// sans-serif face (bold when its name says so) at its point size, one point one unit.
// GTK thread only.

#include <pango/pango.h>

#include <string>

#include "platform/ui/Font.h"

namespace ns::desktop {

class PangoTextMeasure {
public:
    // Makes this the width measure of the view models (again: no change).
    static void Install();
    // The width of text drawn on one line, in points.
    static double Width(const std::string& text, const ui::Font& font);
    // The Pango face for a model font, at its point size; the caller frees it.
    static PangoFontDescription* FontFor(const ui::Font& font);
    // Sets the options that keep widths independent of the scale on a context (and tells its
    // layouts); both the measure and the painter's layouts use it.
    static void PrepareContext(PangoContext* context);
    // A layout of text in the font on a prepared context, not wrapped; the caller unrefs it.
    static PangoLayout* NewLayout(PangoContext* context, const std::string& text,
                                  const ui::Font& font);
};

}  // namespace ns::desktop

#endif
