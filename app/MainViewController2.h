#ifndef APP_MAINVIEWCONTROLLER2_H
#define APP_MAINVIEWCONTROLLER2_H
// The portal screen, made from its interface file "MainViewController2".

#include <string>

#include "platform/ui/ViewController.h"

class MainViewController2 : public ui::ViewController {
public:
    static constexpr const char* kInterfaceName = "MainViewController2";

    explicit MainViewController2(const std::string& interfaceFileName)
        : ui::ViewController(interfaceFileName) {}

    const char* ClassName() const override { return "MainViewController2"; }

    // Registers the interface file's builder (again: the same builder replaces itself).
    static void RegisterInterface();
};

#endif  // APP_MAINVIEWCONTROLLER2_H
