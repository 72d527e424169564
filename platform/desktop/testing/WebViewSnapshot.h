#ifndef PLATFORM_DESKTOP_TESTING_WEB_VIEW_SNAPSHOT_H
#define PLATFORM_DESKTOP_TESTING_WEB_VIEW_SNAPSHOT_H
// A picture of what a WebKit web view shows, from WebKit's own snapshot of its visible part
// (an X screenshot of a web view can stay blank for a while after the page is there). The web
// view must be in a shown window.

#include <webkit2/webkit2.h>

#include <chrono>
#include <string>

#include "platform/desktop/testing/WindowCapture.h"
#include "platform/ui/WebView.h"

namespace ns::desktop {

// Iterates the main context until WebKit delivers the picture; null on failure or time-out.
Pixbuf SnapshotWebView(WebKitWebView* view, std::chrono::milliseconds timeout);
// Iterates the main context until every WebKit web view drawn in the shown `window` shows on
// the screen what WebKit's snapshot of it holds, in nearly all of its part inside the window
// (true), or `timeout` has passed (false). A composited page reaches the screen a while after
// it has loaded: wait for this before a picture of the window that should show the page.
bool WaitUntilWebViewsShow(GtkWidget* window, std::chrono::milliseconds timeout);
// The page's answer to a script, iterating the main context until it comes ("" when none came
// in time; an answer that comes later is dropped).
std::string EvaluateInPage(ui::WebView& web, const std::string& script,
                           std::chrono::milliseconds timeout);

}  // namespace ns::desktop

#endif
