#ifndef APP_ZULTEXTFIELD_H
#define APP_ZULTEXTFIELD_H
// The application's text field: its text stands 10 points in from the left edge and keeps
// 10 points, plus room for the clear button, free on the right, editing or not.

#include "platform/ui/TextField.h"

class ZULTextField : public ui::TextField {
public:
    static constexpr double kTextInset = 10;

    explicit ZULTextField(const ui::Rect& frame = ui::Rect());
    const char* ClassName() const override { return "ZULTextField"; }

    ui::Rect TextRectForBounds(const ui::Rect& bounds) const override;
    ui::Rect EditingRectForBounds(const ui::Rect& bounds) const override;
};

#endif  // APP_ZULTEXTFIELD_H
