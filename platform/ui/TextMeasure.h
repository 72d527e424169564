#ifndef PLATFORM_UI_TEXT_MEASURE_H
#define PLATFORM_UI_TEXT_MEASURE_H
// The text metrics of the view models. Headless they are deterministic, the same on every
// machine, so that SizeToFit and the layouts built on it can be checked by hand:
//
//   - every code point is 0.5 x the font's point size wide (the face does not matter); a byte
//     that does not continue a UTF-8 sequence counts as one code point, so bad UTF-8 still
//     measures;
//   - one line is ceil(1.2 x point size) high;
//   - "\n" ends a line; a line wider than the width allowed wraps at spaces, greedily (as
//     many words as fit; the space at the break belongs to no line); a single word wider than
//     the width breaks after the last code point that fits (at least one per line);
//   - with a line limit the lines past it are dropped;
//   - a measured width is rounded up to a whole point, as the platform's size-to-fit does.
//
// A renderer that draws real glyphs installs its own width measure (SetWidthMeasure), so that
// the width a label is laid out to is the width its text is drawn in; wrapping and sizes then
// follow that measure, and line heights stay as above. Main thread only.

#include <functional>
#include <string>
#include <vector>

#include "platform/ui/Font.h"
#include "platform/ui/Geometry.h"

namespace ui {

class TextMeasure {
public:
    // The width of text drawn on one line in the font, in points (not rounded).
    using WidthMeasure = std::function<double(const std::string& text, const Font& font)>;
    // Replaces the width measure; an empty one brings back the deterministic one.
    static void SetWidthMeasure(WidthMeasure measure);

    static size_t CodePoints(const std::string& text);
    // Width of one code point in the deterministic measure.
    static double CharWidth(const Font& font);
    static double LineHeight(const Font& font);
    // Width of text laid out on one line, not rounded (deterministic: line feeds counted as
    // code points).
    static double LineWidth(const std::string& text, const Font& font);

    // The lines text breaks into within maxWidth (<= 0: no limit, only line feeds break),
    // at most maxLines of them (0: any number). Empty text gives no lines.
    static std::vector<std::string> Lines(const std::string& text, const Font& font,
                                          double maxWidth, int maxLines);
    // ceil(widest line), number of lines x line height.
    static Size SizeOf(const std::string& text, const Font& font, double maxWidth, int maxLines);
};

}  // namespace ui

#endif  // PLATFORM_UI_TEXT_MEASURE_H
