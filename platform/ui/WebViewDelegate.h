#ifndef PLATFORM_UI_WEB_VIEW_DELEGATE_H
#define PLATFORM_UI_WEB_VIEW_DELEGATE_H
// What a web view tells the object that steers it.
//
// Every navigation of the main frame is first offered to ShouldStartLoad with its request and
// how it came about: the application's own loads (LoadRequest, LoadHtmlString with the base URL
// as the request) as Other, a link a person clicks as LinkClicked, GoBack and GoForward as
// BackForward, Reload as Reload, and each redirect hop (the next request as it would be sent) as
// Other. A refusal ends that navigation without another word: a new navigation that is refused
// leaves the page and any load under way alone; a refused redirect hop ends its load, and
// neither DidFinishLoad nor DidFailLoad follows (the delegate that refused knows).
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

class WebViewDelegate {
public:
    virtual ~WebViewDelegate() = default;
    // The default allows every navigation.
    virtual bool ShouldStartLoad(WebView& /*webView*/, const ns::URLRequest& /*request*/,
                                 WebViewNavigationType /*navigationType*/) {
        return true;
    }
    virtual void DidStartLoad(WebView& /*webView*/) {}
    virtual void DidFinishLoad(WebView& /*webView*/) {}
    virtual void DidFailLoad(WebView& /*webView*/, const ns::Error& /*error*/) {}
};

}  // namespace ui

#endif  // PLATFORM_UI_WEB_VIEW_DELEGATE_H
