#ifndef APP_MAIN_ZULPROGRAM_H
#define APP_MAIN_ZULPROGRAM_H
// zul: the application. In a GTK window on $DISPLAY, or with --headless the same models
// without a display: the program starts the application, prints what the window shows and
// exits, for scripts. zul-demo is the same program that can also run, with --demo DIR, the
// scripted session (DemoSession) in its window once it is up, keeping a picture of each screen
// and the whole log in DIR, printing each step and exiting 0 only when every step held; the
// shipped zul links none of the session or of the window pictures it keeps.
//
// Everything the application stores goes into one folder, $XDG_DATA_HOME/zul (by default
// ~/.local/share/zul): the user defaults in Preferences/, the keychain stand-in in keychain/
// and the documents folder Documents/.

#include <functional>
#include <string>

// Starts the scripted session in DIR before the application starts; false with the reason in
// `error` when it cannot. It sets `held`, which the program asks once the application has
// ended whether every step held: a session cut short (its window closed, SIGINT, SIGTERM) did
// not, and the program then exits 1.
using DemoStarter =
    std::function<bool(const std::string& folder, std::string& error, std::function<bool()>& held)>;

// The program's main: zul without a starter, zul-demo (and its --demo option) with one.
int RunZulProgram(int argc, char** argv, const DemoStarter& startDemo);

#endif  // APP_MAIN_ZULPROGRAM_H
