#include "app/MainViewController2Interface.h"

#include <memory>

#include "app/MainViewController2.h"
#include "app/ZULColor.h"
#include "platform/ui/BarButtonItem.h"
#include "platform/ui/InterfaceBuilder.h"
#include "platform/ui/NavigationBar.h"
#include "platform/ui/NavigationItem.h"
#include "platform/ui/Screen.h"
#include "platform/ui/SearchBar.h"
#include "platform/ui/TableView.h"
#include "platform/ui/UiDevice.h"
#include "platform/ui/WebView.h"

namespace {

constexpr double kBarHeight = 44;
// The menu button's face: three bars (U+2261) over the button background, with room around
// them so that the drawn glyph, wider than the models' measure of one character, is not cut.
constexpr const char* kMenuButtonTitle = " \xE2\x89\xA1 ";

constexpr unsigned kFill = ui::Autoresizing::FlexibleWidth | ui::Autoresizing::FlexibleHeight;

std::shared_ptr<ui::View> BuildMainScreen(ui::InterfaceBuilder::Context& context) {
    const ui::Rect screen = ui::Screen::Main().Bounds();
    const double w = screen.Width();
    const double h = screen.Height();
    // The part of the screen the open menu uncovers.
    const double menuWidth = ui::UiDevice::Current().IsPad()
                                 ? MainViewController2::kPadMenuWidth
                                 : w - MainViewController2::kPhoneContentWidthWhenMenuVisible;

    auto root = std::make_shared<ui::View>(ui::Rect(0, 0, w, h));
    root->SetIdentifier("view");
    root->SetBackgroundColor(ZULColor::zulTableViewBackgroundColor());
    root->SetAutoresizingMask(kFill);

    auto searchParent = std::make_shared<ui::View>(ui::Rect(0, 0, w, kBarHeight));
    searchParent->SetIdentifier("menuSearchBarParentView");
    searchParent->SetBackgroundColor(ZULColor::zulTableViewBackgroundColor());
    searchParent->SetAutoresizingMask(ui::Autoresizing::FlexibleWidth);
    auto searchBar = std::make_shared<ui::SearchBar>(ui::Rect(0, 0, menuWidth, kBarHeight));
    searchBar->SetIdentifier("menuSearchBar");
    searchBar->SetTintColor(ZULColor::zulTableViewBackgroundColor());
    searchParent->AddSubview(searchBar);
    root->AddSubview(searchParent);

    auto table = std::make_shared<ui::TableView>(ui::Rect(0, kBarHeight, w, h - kBarHeight));
    table->SetIdentifier("menuTableView");
    table->SetBackgroundColor(ZULColor::zulTableViewBackgroundColor());
    // The cells draw their own separator lines.
    table->SetSeparatorStyle(ui::TableViewCellSeparatorStyle::None);
    table->SetAutoresizingMask(kFill);
    root->AddSubview(table);

    auto content = std::make_shared<ui::View>(ui::Rect(0, 0, w, h));
    content->SetIdentifier("contentView");
    content->SetBackgroundColor(ui::Color::Black());
    content->SetAutoresizingMask(kFill);

    auto bar = std::make_shared<ui::NavigationBar>(ui::Rect(0, 0, w, kBarHeight));
    bar->SetIdentifier("contentViewNavigationBar");
    content->AddSubview(bar);

    auto webView = std::make_shared<ui::WebView>(ui::Rect(0, kBarHeight, w, h - kBarHeight));
    webView->SetIdentifier("contentViewWebView");
    webView->SetBackgroundColor(ui::Color::Black());
    webView->SetAutoresizingMask(kFill);
    // Faded in when the first page is there.
    webView->SetAlpha(0);
    content->AddSubview(webView);
    root->AddSubview(content);

    auto menuButton =
        std::make_shared<ui::BarButtonItem>(kMenuButtonTitle, ui::BarButtonItemStyle::Plain);
    auto menuItem = std::make_shared<ui::NavigationItem>();
    menuItem->SetLeftBarButtonItem(menuButton);
    auto backItem = std::make_shared<ui::NavigationItem>();
    bar->PushNavigationItem(menuItem, false);

    context.AddObject("contentViewMenuNavigationItem", menuItem);
    context.AddObject("contentViewBackNavigationItem", backItem);
    context.AddObject("showHideMenuButtonItem", menuButton);
    return root;
}

}  // namespace

void RegisterMainViewController2Interface() {
    ui::InterfaceBuilder::Register(MainViewController2::kInterfaceName, BuildMainScreen);
}
