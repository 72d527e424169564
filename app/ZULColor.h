#ifndef APP_ZULCOLOR_H
#define APP_ZULCOLOR_H
// The application's palette: every screen takes its colours from here so that lists, search
// and the sign-in form read as one product.

#include "platform/ui/Color.h"

namespace ZULColor {

ui::Color zulTableViewBackgroundColor();
ui::Color zulTableViewCellTextColor();
ui::Color zulTableViewCellSelectedTextColor();
ui::Color zulTableViewCellBackgroundColor();
ui::Color zulTableViewCellSelectedBackgroundColor();
ui::Color zulTableViewResultCellTextColor();
ui::Color zulTableViewResultCellBackgroundColor();
ui::Color zulTableViewResultLoadingCellBackgroundColor();
ui::Color zulTableViewResultLoadingCellTextColor();
ui::Color zulTableViewSectionTextColor();
ui::Color zulSearchBarTextFieldTextColor();
// The background of a sign-in field left empty.
ui::Color zulEmptyLoginTextFieldColor();
ui::Color zulSigningInBackgroundColor();

}  // namespace ZULColor

#endif  // APP_ZULCOLOR_H
