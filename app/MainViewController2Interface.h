#ifndef APP_MAINVIEWCONTROLLER2INTERFACE_H
#define APP_MAINVIEWCONTROLLER2INTERFACE_H
// The interface file "MainViewController2": the portal screen's views for a phone and a tablet
// (the device's idiom decides when the file is loaded).
//
//   view (the screen)
//     menuSearchBarParentView   top strip, the search bar in it as wide as the menu
//     menuTableView             below it, the whole width (menu rows and search results)
//     contentView               the sliding pane over both, the screen's size
//       contentViewNavigationBar   with contentViewMenuNavigationItem as its root item, whose
//                                  left button is showHideMenuButtonItem
//       contentViewWebView         below the bar, transparent until the first page is in
//   contentViewBackNavigationItem  pushed on title pages (not on the bar yet)
//
// Registering again replaces the builder with itself.

void RegisterMainViewController2Interface();

#endif  // APP_MAINVIEWCONTROLLER2INTERFACE_H
