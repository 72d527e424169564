#ifndef APP_LOGINVIEWCONTROLLERBUILDERS_H
#define APP_LOGINVIEWCONTROLLERBUILDERS_H
// The sign-in screen's interface files, phone and tablet, as code: a label, the rounded form
// box with the e-mail and password fields, and the sign-in button, stacked and centred, on the
// sign-in background. Outlets carry the controller's property names.

constexpr const char* kLoginViewControllerPhoneInterface = "LoginViewController~iPhone";
constexpr const char* kLoginViewControllerPadInterface = "LoginViewController~iPad";

// Registers both builders (once; later calls do nothing).
void RegisterLoginViewControllerBuilders();

#endif  // APP_LOGINVIEWCONTROLLERBUILDERS_H
