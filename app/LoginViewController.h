#ifndef APP_LOGINVIEWCONTROLLER_H
#define APP_LOGINVIEWCONTROLLER_H
// The sign-in screen, made from its interface file ("LoginViewController~iPhone" or
// "LoginViewController~iPad").

#include <string>

#include "platform/ui/ViewController.h"

class LoginViewController : public ui::ViewController {
public:
    explicit LoginViewController(const std::string& interfaceFileName)
        : ui::ViewController(interfaceFileName) {}

    const char* ClassName() const override { return "LoginViewController"; }
};

#endif  // APP_LOGINVIEWCONTROLLER_H
