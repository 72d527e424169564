#ifndef APP_ZULSECURETEXTFIELD_H
#define APP_ZULSECURETEXTFIELD_H
// The password field: besides hiding what is typed, its edit menu offers nothing that would
// take the password out of the field or work on it blindly (cut, copy, select, select all,
// paste, delete). Other actions are the base field's to decide.

#include <string>

#include "app/ZULTextField.h"

class ZULSecureTextField : public ZULTextField {
public:
    explicit ZULSecureTextField(const ui::Rect& frame = ui::Rect());
    const char* ClassName() const override { return "ZULSecureTextField"; }

    bool CanPerformAction(const std::string& action) const override;
};

#endif  // APP_ZULSECURETEXTFIELD_H
