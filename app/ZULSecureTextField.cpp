#include "app/ZULSecureTextField.h"

ZULSecureTextField::ZULSecureTextField(const ui::Rect& frame) : ZULTextField(frame) {}

bool ZULSecureTextField::CanPerformAction(const std::string& action) const {
    for (const char* refused : {"cut:", "copy:", "select:", "selectAll:", "paste:", "delete:"}) {
        if (action == refused) return false;
    }
    return ZULTextField::CanPerformAction(action);
}
