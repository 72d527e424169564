#ifndef PLATFORM_UI_INSPECTOR_H
#define PLATFORM_UI_INSPECTOR_H
// Reading a view tree the way a test or a person looks at it: the text, image and colours each
// view shows, and a dump of a whole tree as indented text (for goldens a person reads) or as
// JSON (for tools).
//
// Text dump, one line per view, two spaces of indent per level, subviews in order:
//     ClassName#identifier frame=(x,y,width,height) [alpha=A] [hidden] [text="..."]
//         [image="..."] [background=#RRGGBBAA] [textColor=#RRGGBBAA]
// "#identifier" only for a view that has one; alpha only when it is not 1; hidden only when
// set; text for labels, buttons (the current title), text fields (masked when secure, as
// TextOf says) and search bars, also when empty; image for image views and buttons (the current
// image) that have one; background when set; textColor for labels, text fields and buttons that
// have a current title colour. Numbers have at most two decimals, trailing zeros dropped ("10",
// "0.5", "0.33"). Texts are quoted with \" \\ \n \r \t and \xNN for the other control characters;
// other bytes stay. A button's own title label and image view are not listed: their content is on
// its line.
//
// JSON dump: one object per view, the same fields under the same names, always with
// "class", "identifier", "frame" {"x","y","width","height"}, "alpha", "hidden" and
// "subviews"; the others only where the text dump has them. Strings are escaped as JSON wants,
// bytes that are not UTF-8 become U+FFFD, numbers that are not finite become null. No spaces
// or line breaks.

#include <optional>
#include <string>

#include "platform/ui/Color.h"
#include "platform/ui/View.h"

namespace ui {

// What the view shows as text: a label's text, a button's current title, a text field's or
// search bar's text; none for other views. A secure text field shows one kMaskBullet per
// character of its text, never the text.
std::optional<std::string> TextOf(const View& view);
// U+2022 BULLET.
constexpr const char* kMaskBullet = "\xE2\x80\xA2";
// The name of the image an image view or a button shows now; none without one.
std::optional<std::string> ImageNameOf(const View& view);
// The colour of that text: labels and text fields, buttons with a current title colour.
std::optional<Color> TextColorOf(const View& view);

std::string Dump(const View& view);
std::string DumpJson(const View& view);

// A number as the dumps write it: at most two decimals, no trailing zeros, no "-0".
std::string FormatNumber(double value);

}  // namespace ui

#endif  // PLATFORM_UI_INSPECTOR_H
