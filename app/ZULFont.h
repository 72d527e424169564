#ifndef APP_ZULFONT_H
#define APP_ZULFONT_H
// The application's typeface at the sizes its screens use. Some sizes depend on the device: a
// tablet (a device reporting the pad idiom) gets the larger one; a phone, and a device that
// reports no idiom, the smaller.

#include "platform/ui/Font.h"

namespace ZULFont {

// The face every screen uses.
constexpr const char* kFaceName = "HelveticaNeue";

ui::Font zulFontWithSize(double size);
ui::Font zulTableViewCellFont();
ui::Font zulTableViewResultCellFont();
ui::Font zulTableViewSectionFont();
ui::Font zulTableViewResultLoadingCellFont();
ui::Font zulSearchBarTextFieldFont();
ui::Font zulSignInTextFont();
ui::Font zulSignInButtonFont();

}  // namespace ZULFont

#endif  // APP_ZULFONT_H
