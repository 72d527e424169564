#ifndef PLATFORM_UI_WEB_VIEW_H
#define PLATFORM_UI_WEB_VIEW_H
// A view that shows web pages: the model the application talks to. Loads, history and scripts
// go to the engine behind it (WebViewBackend.h): the headless one unless the desktop has
// installed a factory for its own. The delegate (held weakly, as every delegate of the toolkit)
// hears the contract of WebViewDelegate.h.
//
// Every script asked for is also written to WebViewScriptLog before it runs. The page's
// scrolling is the ScrollView() subview, which fills the web view; the renderer mirrors its
// flags (bounces) onto the engine's page. Main thread only.

#include <memory>
#include <string>

#include "platform/ui/ScrollView.h"
#include "platform/ui/View.h"
#include "platform/ui/WebViewBackend.h"
#include "platform/ui/WebViewDelegate.h"

namespace ui {

class WebView : public View, private WebViewBackendClient {
public:
    using ScriptCompletion = WebViewBackend::ScriptCompletion;

    // The backend of web views made from now on; null brings back the headless one.
    static void SetBackendFactory(WebViewBackendFactory factory);
    // The headless backend's factory.
    static WebViewBackendFactory HeadlessBackendFactory();

    // The backend is made here, from the factory installed now.
    explicit WebView(const Rect& frame = Rect(),
                     const WebViewEnvironment& environment = WebViewEnvironment());
    ~WebView() override;
    const char* ClassName() const override { return "WebView"; }

    std::shared_ptr<WebViewDelegate> Delegate() const { return delegate_.lock(); }
    void SetDelegate(const std::shared_ptr<WebViewDelegate>& delegate) { delegate_ = delegate; }

    void LoadRequest(const ns::URLRequest& request);
    void LoadHtmlString(const std::string& html, const ns::URL& baseUrl);
    void Reload();
    void StopLoading();
    bool IsLoading() const;
    bool CanGoBack() const;
    bool CanGoForward() const;
    void GoBack();
    void GoForward();
    // See WebViewBackend::Request.
    ns::URLRequest Request() const;

    // Logs the script, then runs it in the page; see WebViewBackend::EvaluateJavaScript.
    void EvaluateJavaScript(const std::string& script, ScriptCompletion completion = nullptr);

    // A person's click on a link of the page (see WebViewBackend::ClickLink): the test
    // driver's way in. False when there is no such link.
    bool ClickLink(const std::string& match);

    // The page's scroll view (bounces, scroll flags, offsets), a subview that fills the web
    // view.
    const std::shared_ptr<ui::ScrollView>& ScrollView();

    const WebViewEnvironment& Environment() const { return environment_; }
    WebViewBackend& Backend() { return *backend_; }

protected:
    void DidMoveToSuperview() override;

private:
    // The scroll view becomes a subview once the web view is owned (a view cannot take
    // subviews inside its constructor).
    void EnsureScrollView();
    // WebViewBackendClient. Nothing here touches the web view after the delegate's call: the
    // delegate may have destroyed it.
    bool BackendShouldStartLoad(const ns::URLRequest& request,
                                const WebViewNavigationAction& action) override;
    void BackendDidStartLoad() override;
    void BackendDidFinishLoad() override;
    void BackendDidFailLoad(const ns::Error& error) override;
    void BackendStateChanged() override;

    WebViewEnvironment environment_;
    std::weak_ptr<WebViewDelegate> delegate_;
    std::shared_ptr<ui::ScrollView> scrollView_;
    bool scrollViewAdded_ = false;
    std::unique_ptr<WebViewBackend> backend_;
};

}  // namespace ui

#endif  // PLATFORM_UI_WEB_VIEW_H
