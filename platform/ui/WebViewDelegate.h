#ifndef PLATFORM_UI_WEB_VIEW_DELEGATE_H
#define PLATFORM_UI_WEB_VIEW_DELEGATE_H
// What a web view tells the object that steers it.
//
// Every navigation of the main frame is first offered to ShouldStartLoad with its request and
// how it came about (WebViewNavigationAction): the application's own loads (LoadRequest,
// LoadHtmlString with the base URL as the request) as Other, a link a person clicks as
// LinkClicked, GoBack and GoForward as BackForward, Reload as Reload, and each redirect hop (the
// next request as it would be sent) as Other. A navigation a person's click (or key) started
// carries the user gesture, a redirect hop its navigation's; the application's own loads and a
// page's scripts acting on their own do not. A refusal ends that navigation without another word: a
// new navigation that is refused leaves the page and any load under way alone; a refused redirect
// hop ends its load, and neither DidFinishLoad nor DidFailLoad follows (the delegate that refused
// knows).
//
// An allowed navigation tells DidStartLoad, then exactly one of DidFinishLoad (the page is
// there; cookies its responses set are in the cookie store already) or DidFailLoad. A load that
// a newer allowed navigation replaces, or that StopLoading stops, fails with the cancelled code
// (ns::Error::kCancelled, -999). An HTTP error status is a page like any other and finishes.
// A page lost after it finished (an engine whose page process dies) fails too: DidFailLoad
// without a DidStartLoad before it, so the delegate shows what it shows for any failure.
//
// Calls come from the toolkit loop, never from inside the web view's own methods. The delegate
// may drop the web view (and so destroy it) from inside any call; nothing more arrives then.

#include "platform/net/Error.h"
#include "platform/net/URLRequest.h"

namespace ui {

class WebView;

// The platform's numbers.
enum class WebViewNavigationType {
    LinkClicked = 0,
    FormSubmitted = 1,
    BackForward = 2,
    Reload = 3,
    FormResubmitted = 4,
    Other = 5,
};

// How a navigation came about.
struct WebViewNavigationAction {
    WebViewNavigationType type = WebViewNavigationType::Other;
    // A person's click or key started it (not the page on its own, nor the application).
    bool userGesture = false;
};

class WebViewDelegate {
public:
    virtual ~WebViewDelegate() = default;
    // The default allows every navigation.
    virtual bool ShouldStartLoad(WebView& /*webView*/, const ns::URLRequest& /*request*/,
                                 const WebViewNavigationAction& /*action*/) {
        return true;
    }
    virtual void DidStartLoad(WebView& /*webView*/) {}
    virtual void DidFinishLoad(WebView& /*webView*/) {}
    virtual void DidFailLoad(WebView& /*webView*/, const ns::Error& /*error*/) {}
};

}  // namespace ui

#endif  // PLATFORM_UI_WEB_VIEW_DELEGATE_H
