#include "app/ZULColor.h"

namespace ZULColor {

namespace {
constexpr int kDarkGrey = 21;
constexpr int kCellGrey = 17;
constexpr int kSelectedGrey = 27;
constexpr int kTextGrey = 183;
}  // namespace

ui::Color zulTableViewBackgroundColor() {
    return ui::Color::FromRGB255(kDarkGrey, kDarkGrey, kDarkGrey);
}
ui::Color zulTableViewCellTextColor() {
    return ui::Color::FromRGB255(kTextGrey, kTextGrey, kTextGrey);
}
ui::Color zulTableViewCellSelectedTextColor() { return ui::Color::White(); }
ui::Color zulTableViewCellBackgroundColor() {
    return ui::Color::FromRGB255(kCellGrey, kCellGrey, kCellGrey);
}
ui::Color zulTableViewCellSelectedBackgroundColor() {
    return ui::Color::FromRGB255(kSelectedGrey, kSelectedGrey, kSelectedGrey);
}
ui::Color zulTableViewResultCellTextColor() { return ui::Color::White(); }
ui::Color zulTableViewResultCellBackgroundColor() {
    return ui::Color::FromRGB255(kCellGrey, kCellGrey, kCellGrey);
}
ui::Color zulTableViewResultLoadingCellBackgroundColor() {
    return ui::Color::FromRGB255(kDarkGrey, kDarkGrey, kDarkGrey);
}
ui::Color zulTableViewResultLoadingCellTextColor() {
    return ui::Color::FromRGB255(kTextGrey, kTextGrey, kTextGrey);
}
ui::Color zulTableViewSectionTextColor() {
    return ui::Color::FromRGB255(kTextGrey, kTextGrey, kTextGrey);
}
ui::Color zulSearchBarTextFieldTextColor() {
    return ui::Color::FromRGB255(kTextGrey, kTextGrey, kTextGrey);
}
ui::Color zulEmptyLoginTextFieldColor() { return ui::Color::FromRGB255(248, 215, 214); }
ui::Color zulSigningInBackgroundColor() { return ui::Color::FromRGB255(35, 35, 35); }

}  // namespace ZULColor
