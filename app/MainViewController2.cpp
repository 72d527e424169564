#include "app/MainViewController2.h"

#include "platform/ui/Color.h"
#include "platform/ui/InterfaceBuilder.h"
#include "platform/ui/Screen.h"
#include "platform/ui/View.h"

void MainViewController2::RegisterInterface() {
    ui::InterfaceBuilder::Register(kInterfaceName, [](ui::InterfaceBuilder::Context&) {
        auto view = std::make_shared<ui::View>(ui::Screen::Main().Bounds());
        view->SetIdentifier("view");
        view->SetBackgroundColor(ui::Color::Black());
        return view;
    });
}
