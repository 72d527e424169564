#include "platform/ui/WebView.h"

#include <utility>

#include "platform/ui/HeadlessWebViewBackend.h"
#include "platform/ui/WebViewScriptLog.h"

namespace ui {

namespace {

WebViewBackendFactory& InstalledFactory() {
    static auto* factory = new WebViewBackendFactory();  // never destroyed
    return *factory;
}

}  // namespace

void WebView::SetBackendFactory(WebViewBackendFactory factory) {
    InstalledFactory() = std::move(factory);
}

WebViewBackendFactory WebView::HeadlessBackendFactory() {
    return [](WebViewBackendClient& client, const WebViewEnvironment& environment) {
        return std::unique_ptr<WebViewBackend>(new HeadlessWebViewBackend(client, environment));
    };
}

WebView::WebView(const Rect& frame, const WebViewEnvironment& environment)
    : View(frame),
      environment_(environment),
      scrollView_(std::make_shared<ui::ScrollView>(Rect(Point(), frame.size))) {
    scrollView_->SetAutoresizingMask(Autoresizing::FlexibleWidth | Autoresizing::FlexibleHeight);
    const WebViewBackendFactory& installed = InstalledFactory();
    WebViewBackendFactory factory = installed ? installed : HeadlessBackendFactory();
    backend_ = factory(*this, environment_);
    if (!backend_) {
        // A factory that cannot make its engine (no display, say) still leaves a working view.
        backend_ = HeadlessBackendFactory()(*this, environment_);
    }
}

WebView::~WebView() {
    // The backend goes first, while the view it reports to is still whole.
    backend_.reset();
}

const std::shared_ptr<ui::ScrollView>& WebView::ScrollView() {
    EnsureScrollView();
    return scrollView_;
}

void WebView::DidMoveToSuperview() { EnsureScrollView(); }

void WebView::EnsureScrollView() {
    if (scrollViewAdded_ || weak_from_this().expired()) {
        return;
    }
    scrollViewAdded_ = true;
    scrollView_->SetFrame(Rect(Point(), Bounds().size));
    AddSubview(scrollView_);
}

void WebView::LoadRequest(const ns::URLRequest& request) { backend_->LoadRequest(request); }

void WebView::LoadHtmlString(const std::string& html, const ns::URL& baseUrl) {
    backend_->LoadHtmlString(html, baseUrl);
}

void WebView::Reload() { backend_->Reload(); }
void WebView::StopLoading() { backend_->StopLoading(); }
bool WebView::IsLoading() const { return backend_->IsLoading(); }
bool WebView::CanGoBack() const { return backend_->CanGoBack(); }
bool WebView::CanGoForward() const { return backend_->CanGoForward(); }
void WebView::GoBack() { backend_->GoBack(); }
void WebView::GoForward() { backend_->GoForward(); }
ns::URLRequest WebView::Request() const { return backend_->Request(); }

void WebView::EvaluateJavaScript(const std::string& script, ScriptCompletion completion) {
    WebViewScriptLog::Append({Identifier(), script});
    backend_->EvaluateJavaScript(script, std::move(completion));
}

bool WebView::ClickLink(const std::string& match) { return backend_->ClickLink(match); }

bool WebView::BackendShouldStartLoad(const ns::URLRequest& request,
                                     const WebViewNavigationAction& action) {
    std::shared_ptr<WebViewDelegate> delegate = delegate_.lock();
    return delegate ? delegate->ShouldStartLoad(*this, request, action) : true;
}

void WebView::BackendDidStartLoad() {
    NoteChange();
    if (std::shared_ptr<WebViewDelegate> delegate = delegate_.lock()) {
        delegate->DidStartLoad(*this);
    }
}

void WebView::BackendDidFinishLoad() {
    NoteChange();
    if (std::shared_ptr<WebViewDelegate> delegate = delegate_.lock()) {
        delegate->DidFinishLoad(*this);
    }
}

void WebView::BackendDidFailLoad(const ns::Error& error) {
    NoteChange();
    if (std::shared_ptr<WebViewDelegate> delegate = delegate_.lock()) {
        delegate->DidFailLoad(*this, error);
    }
}

void WebView::BackendStateChanged() { NoteChange(); }

}  // namespace ui
