#include "app/ZULFont.h"

#include "platform/ui/UiDevice.h"

namespace ZULFont {

namespace {
// Asked at each call: the idiom is the device's, which tests and the window may set.
double ByIdiom(double pad, double phone) { return ui::UiDevice::Current().IsPad() ? pad : phone; }
}  // namespace

ui::Font zulFontWithSize(double size) { return ui::Font(kFaceName, size); }
ui::Font zulTableViewCellFont() { return zulFontWithSize(18); }
ui::Font zulTableViewResultCellFont() { return zulFontWithSize(ByIdiom(16, 12)); }
ui::Font zulTableViewSectionFont() { return zulFontWithSize(16); }
ui::Font zulTableViewResultLoadingCellFont() { return zulFontWithSize(18); }
ui::Font zulSearchBarTextFieldFont() { return zulFontWithSize(14); }
ui::Font zulSignInTextFont() { return zulFontWithSize(ByIdiom(26, 17)); }
ui::Font zulSignInButtonFont() { return zulFontWithSize(16); }

}  // namespace ZULFont
