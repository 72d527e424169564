#include "app/MainViewController2.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <sstream>
#include <utility>
#include <vector>

#include "SVLibrary/File/InputFileStream.h"
#include "app/LoginUDID.h"
#include "app/MainViewController2Interface.h"
#include "app/PageBridgeScript.h"
#include "app/Qplayer.h"
#include "app/SearchContentProvider.h"
#include "app/WeakCallback.h"
#include "app/WebErrorPage.h"
#include "app/ZULAlert.h"
#include "app/ZULCookies.h"
#include "app/ZULRequest.h"
#include "platform/core/Format.h"
#include "platform/core/LogWriter.h"
#include "platform/core/NotificationCenter.h"
#include "platform/net/Cookie.h"
#include "platform/net/CookieStorage.h"
#include "platform/net/PercentEscape.h"
#include "platform/store/Bundle.h"
#include "platform/ui/Animate.h"
#include "platform/ui/Application.h"
#include "platform/ui/Button.h"
#include "platform/ui/Image.h"
#include "platform/ui/ImageView.h"
#include "platform/ui/Loop.h"
#include "platform/ui/UiDevice.h"

namespace {

// The value of `name` in a URL's query; empty when it has none.
std::string QueryValue(const ns::URL& url, const std::string& name) {
    std::istringstream query(url.Query());
    std::string pair;
    while (std::getline(query, pair, '&')) {
        const size_t equals = pair.find('=');
        if (equals == std::string::npos || pair.compare(0, equals, name) != 0) continue;
        std::optional<std::string> value = ns::PercentEscape::Unescape(pair.substr(equals + 1));
        return value ? *value : std::string();
    }
    return std::string();
}

std::shared_ptr<ui::ImageView> TitleView() {
    return std::make_shared<ui::ImageView>(ui::Image::Named("Navigation-Bar-Title"));
}

}  // namespace

MainViewController2::MainViewController2(const std::string& interfaceFileName,
                                         std::weak_ptr<ZULScreenHost> host)
    : ui::ViewController(interfaceFileName), host_(std::move(host)) {
    RegisterMainViewController2Interface();
    BindOutlet("contentView", contentView_);
    BindOutlet("contentViewNavigationBar", contentViewNavigationBar_);
    BindOutlet("contentViewWebView", contentViewWebView_);
    BindOutlet("contentViewMenuNavigationItem", contentViewMenuNavigationItem_);
    BindOutlet("contentViewBackNavigationItem", contentViewBackNavigationItem_);
    BindOutlet("menuTableView", menuTableView_);
    BindOutlet("menuSearchBarParentView", menuSearchBarParentView_);
    BindOutlet("menuSearchBar", menuSearchBar_);
    BindOutlet("showHideMenuButtonItem", showHideMenuButtonItem_);

    SetWantsFullScreenLayout(true);
    if (const std::shared_ptr<ZULScreenHost> hostNow = host_.lock()) {
        zulMovieScheme_ = hostNow->zulMovieScheme();
        portalOrigin_ = PortalOrigin(hostNow->zulHomeURL());
        zulHomeRequest_ = ZULRequest::requestWithURL(hostNow->zulHomeURL());
        zulSeriesRequest_ = ZULRequest::requestWithURL(hostNow->zulSeriesURL());
        zulMoviesRequest_ = ZULRequest::requestWithURL(hostNow->zulMoviesURL());
        zulMyZULRequest_ = ZULRequest::requestWithURL(hostNow->zulMyZULURL());
        searchContentProvider_ = SearchContentProvider::For(*hostNow);
    } else {
        ns::Log("[MVC] there is no application delegate: no portal pages to load");
        searchContentProvider_ =
            std::make_shared<SearchContentProvider>(std::string(), std::string(), std::nullopt);
    }
    // A device that reports no idiom is taken for a phone.
    barSizeDelta_ = ui::UiDevice::Current().IsPad() ? 0 : kPhoneBarSizeDelta;
    menuContentProvider_ = std::make_shared<MenuContentProvider>();
}

MainViewController2::~MainViewController2() {
    stopObserving();
    if (contentViewWebView_) contentViewWebView_->SetDelegate(nullptr);
    if (menuTableView_) {
        menuTableView_->SetDataSource(nullptr);
        menuTableView_->SetDelegate(nullptr);
    }
    if (menuSearchBar_) menuSearchBar_->SetDelegate(nullptr);
}

void MainViewController2::RegisterInterface() { RegisterMainViewController2Interface(); }

std::shared_ptr<MainViewController2> MainViewController2::self() {
    return std::static_pointer_cast<MainViewController2>(shared_from_this());
}

void MainViewController2::stopObserving() {
    if (resignActiveObserver_ != 0) {
        ns::NotificationCenter::Default().RemoveObserver(resignActiveObserver_);
    }
    resignActiveObserver_ = 0;
}

// --- set-up

void MainViewController2::ViewDidLoad() {
    const std::shared_ptr<ui::View> view = GetView();
    contentViewWidthWhenMenuVisible_ = ui::UiDevice::Current().IsPad()
                                           ? view->Bounds().Width() - kPadMenuWidth
                                           : kPhoneContentWidthWhenMenuVisible;
    contentViewBounceWidth_ = kContentViewBounceWidth;

    setUpNavigationBar();

    if (contentViewWebView_) {
        contentViewWebView_->ScrollView()->SetBounces(false);
        contentViewWebView_->SetDelegate(self());
    }
    if (contentView_) {
        ui::Layer& layer = contentView_->GetLayer();
        layer.SetShadowColor(ui::Color::Black());
        layer.SetShadowOffset(ui::Size(-3, 0));
        layer.SetShadowOpacity(0);
    }

    if (menuTableView_) {
        menuTableView_->SetTableFooterView(std::make_shared<ui::View>());
        menuContentProvider_->setTableView(menuTableView_);
        searchContentProvider_->setTableView(menuTableView_);
        menuTableView_->SetDataSource(self());
        menuTableView_->SetDelegate(self());
        menuTableView_->SelectRow(menuContentProvider_->lastSelectedMenuIndexPath(), false,
                                  ui::TableViewScrollPosition::None);
    }
    if (menuSearchBar_) menuSearchBar_->SetDelegate(self());

    swipeGestureRecognizer_ = std::make_shared<ui::SwipeGestureRecognizer>();
    swipeGestureRecognizer_->AddTarget(this, WeakCallback(*this, &MainViewController2::swipe));
    if (contentView_) ui::SwipeGestureRecognizer::AddTo(contentView_, swipeGestureRecognizer_);

    setUpLoadingView();

    stopObserving();
    resignActiveObserver_ = ns::NotificationCenter::Default().AddObserver(
        ui::kApplicationWillResignActiveNotification,
        WeakCallback(*this, &MainViewController2::storeProgress));
    loadRequestForSelectedMenuItem();
}

void MainViewController2::setUpNavigationBar() {
    if (contentViewNavigationBar_) {
        contentViewNavigationBar_->SetAutoresizingMask(ui::Autoresizing::FlexibleWidth);
        contentViewNavigationBar_->SetBackgroundImage(
            ui::Image::Named("Navigation-Bar-Background.png"), ui::BarMetrics::Default);
        contentViewNavigationBar_->SetDelegate(self());
    }
    if (contentViewMenuNavigationItem_) contentViewMenuNavigationItem_->SetTitleView(TitleView());
    if (contentViewBackNavigationItem_) contentViewBackNavigationItem_->SetTitleView(TitleView());

    if (showHideMenuButtonItem_) {
        if (ui::Image::Ptr image = ui::Image::Named("Menu-Button-Background")) {
            showHideMenuButtonItem_->SetBackgroundImage(
                image->StretchableImage(0, 0), ui::ControlState::Normal, ui::BarMetrics::Default);
        }
        if (ui::Image::Ptr image = ui::Image::Named("Menu-Button-Landscape-Background")) {
            showHideMenuButtonItem_->SetBackgroundImage(image->StretchableImage(0, 0),
                                                        ui::ControlState::Normal,
                                                        ui::BarMetrics::LandscapePhone);
        }
        setMenuButtonAction(&MainViewController2::showMenuAction);
    }
    ui::BarButtonItem::ImageTable& backImages =
        ui::BarButtonItem::Appearance().backButtonBackgroundImages;
    backImages.Set(ui::Image::Named("Back-Button"), ui::ControlState::Normal,
                   ui::BarMetrics::Default);
    backImages.Set(ui::Image::Named("Back-Button-Landscape"), ui::ControlState::Normal,
                   ui::BarMetrics::LandscapePhone);
}

void MainViewController2::setUpLoadingView() {
    const ui::Rect bounds = GetView()->Bounds();
    const double size = 60;
    contentLoadingView_ = std::make_shared<ZULLoadingView>(ui::Rect(0, 0, size, size));
    contentLoadingView_->SetFrame(ui::Rect(std::round(bounds.MidX() - size / 2),
                                           std::round(bounds.MidY() - size / 2), size, size));
    contentLoadingView_->SetAutoresizingMask(
        ui::Autoresizing::FlexibleLeftMargin | ui::Autoresizing::FlexibleRightMargin |
        ui::Autoresizing::FlexibleTopMargin | ui::Autoresizing::FlexibleBottomMargin);
    contentLoadingView_->startSpin();
    if (contentView_) contentView_->InsertSubviewAbove(contentLoadingView_, contentViewWebView_);
}

void MainViewController2::ViewDidUnload() {
    menuContentProvider_->setTableView(nullptr);
    searchContentProvider_->setTableView(nullptr);
    stopObserving();
    contentView_.reset();
    contentViewNavigationBar_.reset();
    contentViewWebView_.reset();
    contentViewMenuNavigationItem_.reset();
    contentViewBackNavigationItem_.reset();
    contentLoadingView_.reset();
    menuTableView_.reset();
    menuSearchBarParentView_.reset();
    menuSearchBar_.reset();
    showHideMenuButtonItem_.reset();
}

// --- loading

void MainViewController2::loadRequestForSelectedMenuItem() {
    if (!contentViewWebView_) return;
    switch (menuContentProvider_->lastSelectedMenuIndexPath().row) {
        case MenuContentProvider::kHomeRow: loadOwn(zulHomeRequest_); break;
        case MenuContentProvider::kSeriesRow: loadOwn(zulSeriesRequest_); break;
        case MenuContentProvider::kMoviesRow: loadOwn(zulMoviesRequest_); break;
        case MenuContentProvider::kMyZULRow: loadOwn(zulMyZULRequest_); break;
        default: break;
    }
}

void MainViewController2::loadRequestForURL(const std::string& url) {
    if (!contentViewWebView_) return;
    ns::URLRequest request = ZULRequest::requestWithURL(url);
    // The cookies as they are now. As in the request category, a cookie whose name or value
    // would end the header line is left out rather than making the whole request fail.
    std::vector<ns::Cookie> cookies;
    for (const ns::Cookie& cookie : ns::CookieStorage::Shared().Cookies()) {
        const std::string text = cookie.Name() + cookie.Value();
        if (text.find_first_of(std::string("\r\n\0", 3)) == std::string::npos) {
            cookies.push_back(cookie);
        }
    }
    const std::string field = ns::Cookie::RequestHeaderValue(cookies);
    if (!field.empty()) request.SetValue(field, "Cookie");
    loadOwn(request);
}

void MainViewController2::loadOwn(const ns::URLRequest& request) {
    ownLoads_.push_back(request.GetURL().WithoutFragment().AbsoluteString());
    if (ownLoads_.size() > kMaxOwnLoads) ownLoads_.erase(ownLoads_.begin());
    contentViewWebView_->LoadRequest(request);
}

void MainViewController2::loadOwnHtml(const std::string& html, const ns::URL& baseUrl) {
    // A page without a base is shown as about:blank.
    ownLoads_.push_back(baseUrl.IsAbsolute() ? baseUrl.WithoutFragment().AbsoluteString()
                                             : std::string("about:blank"));
    if (ownLoads_.size() > kMaxOwnLoads) ownLoads_.erase(ownLoads_.begin());
    contentViewWebView_->LoadHtmlString(html, baseUrl);
}

bool MainViewController2::takeOwnLoad(const ns::URL& url) {
    const auto found =
        std::find(ownLoads_.begin(), ownLoads_.end(), url.WithoutFragment().AbsoluteString());
    if (found == ownLoads_.end()) return false;
    ownLoads_.erase(found);
    return true;
}

// --- web view

bool MainViewController2::ShouldStartLoad(ui::WebView& webView, const ns::URLRequest& request,
                                          const ui::WebViewNavigationAction& action) {
    const ns::URL& url = request.GetURL();
    ns::Log("[MVC] webView shouldStartLoadWithRequest:%@", url.AbsoluteString());
    if (!zulMovieScheme_.empty() && url.Scheme() == zulMovieScheme_) {
        openPlayerForLink(url, action.userGesture);
        return false;
    }
    const bool portal = portalOrigin_.Contains(url);
    if (portal && url.Path() == kLoginPath) {
        std::shared_ptr<MainViewController2> keep = self();
        if (const std::shared_ptr<ZULScreenHost> host = host_.lock()) {
            host->stopNetworkActivity();
            host->showLoginViewController();
        }
        return false;
    }
    const bool own = takeOwnLoad(url);
    const bool history = action.type == ui::WebViewNavigationType::BackForward ||
                         action.type == ui::WebViewNavigationType::Reload;
    if (!portal && !own && !history) {
        ns::Log("[MVC] %@ is not the portal's: not shown", url.AbsoluteString());
        // A refused redirect hop ends its load without a word.
        if (webView.IsLoading()) {
            if (const std::shared_ptr<ZULScreenHost> host = host_.lock()) {
                host->stopNetworkActivity();
            }
        }
        return false;
    }
    movingOn_ = own || action.userGesture;
    startingPageURL_ = url.AbsoluteString();
    return true;
}

void MainViewController2::openPlayerForLink(const ns::URL& url, bool userGesture) {
    if (qPlayer_) {
        // One player at a time: the page behind the player cannot ask for a second one.
        ns::Log("[MVC] a player is shown already");
        return;
    }
    if (!userGesture) {
        if (playerClosedOnThisPage_) {
            ns::Log("[MVC] the page asked for a player on its own after one closed: none opens");
            return;
        }
        const ns::RunLoop::TimePoint now = ui::Loop().Now();
        const auto interval = std::chrono::duration_cast<ns::RunLoop::Duration>(
            std::chrono::duration<double>(kUnpromptedPlayerInterval));
        if (playerQuietSince_ && now - *playerQuietSince_ < interval) {
            ns::Log("[MVC] the page asked for a player on its own too soon: none opens");
            return;
        }
        playerQuietSince_ = now;
    }
    const std::string infoUrl = ns::Format("http:%@", url.ResourceSpecifier());
    qPlayerLinkMediaID_ = QueryValue(url, "id");
    qPlayer_ = Qplayer::initWithJSON(infoUrl, LoginUDID::sharedLoginUDID().getUDID());
    qPlayer_->SetModalTransitionStyle(ui::ModalTransitionStyle::CrossDissolve);
    qPlayer_->setDelegate(self());
    if (!PresentViewController(qPlayer_, true)) {
        // A player nobody sees must not hold the place of the next one.
        qPlayer_.reset();
        qPlayerLinkMediaID_.clear();
    }
}

void MainViewController2::DidStartLoad(ui::WebView& webView) {
    // The page being loaded, as allowed just before (an allowed redirect hop comes later and
    // starts no load of its own); without one, the web view's.
    std::string url;
    url.swap(startingPageURL_);
    if (url.empty()) url = webView.Request().GetURL().AbsoluteString();
    ns::Log("[MVC] webViewDidStartLoad:%@", url);
    if (const std::shared_ptr<ZULScreenHost> host = host_.lock()) host->startNetworkActivity();
}

void MainViewController2::DidFinishLoad(ui::WebView& webView) {
    const std::string pageUrl = webView.Request().GetURL().AbsoluteString();
    ns::Log("[MVC] webViewDidFinishLoad:%@", pageUrl);
    const std::shared_ptr<ZULScreenHost> host = host_.lock();
    if (host) host->stopNetworkActivity();
    // The person or the application moved on: the new page may start its title itself.
    if (movingOn_) playerClosedOnThisPage_ = false;
    movingOn_ = false;
    if (!ZULCookies::hasUserSignedInCookies(portalOrigin_)) {
        std::shared_ptr<MainViewController2> keep = self();
        if (host) host->showLoginViewController();
        return;
    }
    if (contentLoadingView_ && !contentLoadingView_->IsHidden()) {
        contentLoadingView_->SetHidden(true);
        contentLoadingView_->SetAlpha(0);
        contentLoadingView_->cancelSpin();
        std::weak_ptr<ui::WebView> web = contentViewWebView_;
        ui::Animate(
            kWebViewFadeInDuration, 0, ui::AnimationOptions::CurveEaseOut,
            [web] {
                if (auto view = web.lock()) view->SetAlpha(1);
            },
            nullptr);
    }
    applyBackItemRule(pageUrl);
}

void MainViewController2::applyBackItemRule(const std::string& pageUrl) {
    if (!contentViewNavigationBar_ || !contentViewWebView_) return;
    const ui::NavigationItem::Ptr top = contentViewNavigationBar_->TopItem();
    // A page without a URL counts as a title page.
    const bool titlePage = pageUrl.empty() || pageUrl.find(kBackItemPathMark) != std::string::npos;
    if (!titlePage && top == contentViewBackNavigationItem_) {
        // The page already left the title page: taking the item away must not go back too.
        poppingBackItem_ = true;
        contentViewNavigationBar_->PopNavigationItem(false);
        poppingBackItem_ = false;
    } else if (titlePage && top == contentViewMenuNavigationItem_ &&
               contentViewWebView_->CanGoBack()) {
        contentViewNavigationBar_->PushNavigationItem(contentViewBackNavigationItem_, false);
    }
}

void MainViewController2::DidFailLoad(ui::WebView& webView, const ns::Error& error) {
    ns::Log("[MVC] webView didFailLoadWithError:%@", error.LocalizedDescription());
    if (const std::shared_ptr<ZULScreenHost> host = host_.lock()) host->stopNetworkActivity();
    if (error.GetCode() == ns::Error::kCancelled) return;
    contentViewWebViewLastError_ = error;
    const std::string path = ns::Bundle::Main().PathForResource(WebErrorPage::kResourceName,
                                                                WebErrorPage::kResourceType);
    std::string page;
    if (!path.empty()) {
        SV::InputFileStream file(path);
        std::ostringstream text;
        text << file.rdbuf();
        page = text.str();
    }
    if (page.empty()) {
        ns::Log("[MVC] %@.%@ is not in the bundle", WebErrorPage::kResourceName,
                WebErrorPage::kResourceType);
        page = "%@";
    }
    if (&webView != contentViewWebView_.get()) return;
    loadOwnHtml(WebErrorPage::fill(page, error.LocalizedDescription()),
                path.empty() ? ns::URL() : ns::URL::FileURL(path));
}

// --- navigation bar

bool MainViewController2::ShouldPushItem(ui::NavigationBar& bar, ui::NavigationItem& /*item*/) {
    return bar.TopItem() != contentViewBackNavigationItem_;
}

bool MainViewController2::ShouldPopItem(ui::NavigationBar& /*bar*/, ui::NavigationItem& item) {
    if (!poppingBackItem_ && &item == contentViewBackNavigationItem_.get() && contentViewWebView_) {
        contentViewWebView_->GoBack();
    }
    return true;
}

// --- page bridge

std::string MainViewController2::reportedMediaID() const {
    if (qPlayer_ && !qPlayer_->mediaID().empty()) return qPlayer_->mediaID();
    return qPlayerLinkMediaID_;
}

void MainViewController2::evaluate(const std::string& script) {
    if (contentViewWebView_) contentViewWebView_->EvaluateJavaScript(script);
}

void MainViewController2::storeProgress() {
    if (!qPlayer_ || !qPlayer_->shouldStoreCurrentProgress()) return;
    evaluate(PageBridgeScript::playProgress(reportedMediaID(), qPlayer_->currentProgress()));
}

void MainViewController2::disposeQPlayer() {
    ns::Log("[MVC] disposeQPlayer");
    storeProgress();
    animateDismissQPlayerWithError(kOrdinaryEndCode);
}

void MainViewController2::playbackDidComplete() {
    ns::Log("[MVC] playbackDidComplete");
    if (!qPlayer_) return;
    evaluate(PageBridgeScript::complete(reportedMediaID()));
    animateDismissQPlayerWithError(kOrdinaryEndCode);
}

void MainViewController2::playbackDidStopOnError(int code, const std::string& errorDescription) {
    ns::Log("[MVC] playbackDidStopOnError:%d desc:%@", code, errorDescription);
    if (!qPlayer_) return;
    evaluate(PageBridgeScript::error(reportedMediaID(), code));
    storeProgress();
    animateDismissQPlayerWithError(code);
}

void MainViewController2::animateDismissQPlayerWithError(int code) {
    // A player already on its way out has had its dismissal (and its alert).
    if (!qPlayer_) return;
    qPlayer_.reset();
    qPlayerLinkMediaID_.clear();
    playerQuietSince_ = ui::Loop().Now();
    playerClosedOnThisPage_ = true;
    DismissViewController(true, [code] {
        ui::Application::Shared().SetStatusBarHidden(false);
        if (code != kOrdinaryEndCode) {
            ZULAlert::initWithPlayerCustomErrorForDelegate(nullptr, code)->Show();
        }
    });
}

// --- menu

void MainViewController2::setMenuButtonAction(void (MainViewController2::*action)()) {
    if (!showHideMenuButtonItem_) return;
    if (action == nullptr) {
        showHideMenuButtonItem_->SetAction(nullptr);
        return;
    }
    showHideMenuButtonItem_->SetAction(WeakCallback(*this, action));
}

void MainViewController2::swipe(ui::SwipeGestureRecognizer& sender) {
    ns::Log("[MVC] swipe:%@", ns::Format("direction %u", sender.Direction()));
    if (sender.Direction() == ui::SwipeDirection::Right) {
        showMenuAction();
    } else if (sender.Direction() == ui::SwipeDirection::Left) {
        hideMenuAction();
    }
}

void MainViewController2::setContentViewShadowHidden(bool hidden) {
    if (contentView_) contentView_->GetLayer().SetShadowOpacity(hidden ? 0 : kShadowOpacity);
}

void MainViewController2::showMenuAction() {
    if (!contentView_) return;
    contentView_->SetHidden(false);
    if (menuTableView_) menuTableView_->SetAlpha(1);
    setMenuButtonAction(nullptr);
    if (contentViewWebView_) contentViewWebView_->SetUserInteractionEnabled(false);
    swipeGestureRecognizer_->SetEnabled(false);

    const double visible = isSearchActive_ ? 0 : contentViewWidthWhenMenuVisible_;
    const double x = GetView()->Frame().MaxX() - visible + contentViewBounceWidth_;
    slideContentView(true, [this, x] {
        ui::Rect frame = contentView_->Frame();
        frame.origin.x = x;
        contentView_->SetFrame(frame);
        setContentViewShadowHidden(false);
    });
}

void MainViewController2::hideMenuAction() {
    if (!contentView_) return;
    contentView_->SetHidden(false);
    setMenuButtonAction(nullptr);
    if (menuSearchBar_) menuSearchBar_->ResignFirstResponder();
    swipeGestureRecognizer_->SetEnabled(false);

    slideContentView(false, [this] {
        if (menuTableView_) menuTableView_->SetAlpha(0);
        ui::Rect frame = contentView_->Frame();
        frame.origin.x = -contentViewBounceWidth_;
        contentView_->SetFrame(frame);
        setContentViewShadowHidden(true);
    });
}

void MainViewController2::slideContentView(bool opening, std::function<void()> slide) {
    ui::Animate(kAnimationDuration, 0, ui::AnimationOptions::CurveEaseOut, std::move(slide),
                WeakCallback(*this, [opening](MainViewController2& self) {
                    if (!self.contentView_) return;
                    // Searching, the menu takes the whole screen: the content view goes out of
                    // sight.
                    if (opening && self.isSearchActive_) self.contentView_->SetHidden(true);
                    ui::Animate(
                        kAnimationDuration, 0, ui::AnimationOptions::AllowUserInteraction,
                        [&self, opening] {
                            // The bounce: back by its width when opening, to the left edge when
                            // closing.
                            ui::Rect frame = self.contentView_->Frame();
                            frame.origin.x =
                                opening ? frame.origin.x - self.contentViewBounceWidth_ : 0;
                            self.contentView_->SetFrame(frame);
                        },
                        WeakCallback(self, [opening](MainViewController2& controller) {
                            controller.menuSlideEnded(opening);
                        }));
                }));
}

void MainViewController2::menuSlideEnded(bool opened) {
    isMenuVisible_ = opened;
    setMenuButtonAction(opened ? &MainViewController2::hideMenuAction
                               : &MainViewController2::showMenuAction);
    if (!opened && contentViewWebView_) contentViewWebView_->SetUserInteractionEnabled(true);
    swipeGestureRecognizer_->SetEnabled(true);
    swipeGestureRecognizer_->SetDirection(opened ? ui::SwipeDirection::Left
                                                 : ui::SwipeDirection::Right);
}

// --- rotation

bool MainViewController2::ShouldAutorotateToInterfaceOrientation(ui::InterfaceOrientation) {
    return true;
}

void MainViewController2::WillAnimateRotationToInterfaceOrientation(
    ui::InterfaceOrientation orientation, double /*duration*/) {
    if (!contentViewNavigationBar_ || !contentViewWebView_ || !contentView_) return;
    ui::Rect bar = contentViewNavigationBar_->Frame();
    bar.size.height += ui::IsLandscape(orientation) ? -barSizeDelta_ : barSizeDelta_;
    contentViewNavigationBar_->SetFrame(bar);
    contentViewNavigationBar_->SizeToFit();
    bar = contentViewNavigationBar_->Frame();
    contentViewWebView_->SetFrame(ui::Rect(0, bar.MaxY(), contentViewWebView_->Frame().Width(),
                                           contentView_->Frame().Height() - bar.Height()));
    if (isMenuVisible_) setContentViewShadowHidden(true);
}

void MainViewController2::DidRotateFromInterfaceOrientation(ui::InterfaceOrientation /*from*/) {
    if (isMenuVisible_) setContentViewShadowHidden(false);
}

// --- table

ui::TableViewDataSource& MainViewController2::dataSource() {
    if (isSearchActive_) return *searchContentProvider_;
    return *menuContentProvider_;
}

ui::TableViewDelegate& MainViewController2::tableDelegate() {
    if (isSearchActive_) return *searchContentProvider_;
    return *menuContentProvider_;
}

int MainViewController2::NumberOfSections(ui::TableView& tableView) {
    return dataSource().NumberOfSections(tableView);
}

int MainViewController2::NumberOfRowsInSection(ui::TableView& tableView, int section) {
    return dataSource().NumberOfRowsInSection(tableView, section);
}

std::shared_ptr<ui::TableViewCell> MainViewController2::CellForRow(ui::TableView& tableView,
                                                                   const ui::IndexPath& indexPath) {
    return dataSource().CellForRow(tableView, indexPath);
}

std::optional<std::string> MainViewController2::TitleForHeaderInSection(ui::TableView& tableView,
                                                                        int section) {
    return dataSource().TitleForHeaderInSection(tableView, section);
}

std::optional<double> MainViewController2::HeightForRow(ui::TableView& tableView,
                                                        const ui::IndexPath& indexPath) {
    return tableDelegate().HeightForRow(tableView, indexPath);
}

std::optional<double> MainViewController2::HeightForHeaderInSection(ui::TableView& tableView,
                                                                    int section) {
    return tableDelegate().HeightForHeaderInSection(tableView, section);
}

std::shared_ptr<ui::View> MainViewController2::ViewForHeaderInSection(ui::TableView& tableView,
                                                                      int section) {
    return tableDelegate().ViewForHeaderInSection(tableView, section);
}

void MainViewController2::WillDisplayCell(ui::TableView& tableView, ui::TableViewCell& cell,
                                          const ui::IndexPath& indexPath) {
    tableDelegate().WillDisplayCell(tableView, cell, indexPath);
}

void MainViewController2::DidSelectRow(ui::TableView& tableView, const ui::IndexPath& indexPath) {
    if (isSearchActive_) {
        searchContentProvider_->DidSelectRow(tableView, indexPath);
        const std::string url = searchContentProvider_->lastSelectedURL();
        // A result without a page leads nowhere: the menu stays open.
        if (url.empty()) return;
        loadRequestForURL(url);
    } else {
        menuContentProvider_->DidSelectRow(tableView, indexPath);
        loadRequestForSelectedMenuItem();
    }
    hideMenuAction();
}

void MainViewController2::DidScroll(ui::ScrollView& scrollView) {
    if (&scrollView != menuTableView_.get() || !menuSearchBar_ ||
        !menuSearchBar_->IsFirstResponder()) {
        return;
    }
    menuSearchBar_->ResignFirstResponder();
    // Resigning disables the cancel button; it stays usable.
    for (const std::shared_ptr<ui::View>& subview : menuSearchBar_->Subviews()) {
        if (auto button = std::dynamic_pointer_cast<ui::Button>(subview)) button->SetEnabled(true);
    }
}

void MainViewController2::DidEndDragging(ui::ScrollView& scrollView, bool willDecelerate) {
    if (isSearchActive_ && &scrollView == menuTableView_.get()) {
        searchContentProvider_->DidEndDragging(scrollView, willDecelerate);
    }
}

void MainViewController2::DidEndDecelerating(ui::ScrollView& scrollView) {
    if (isSearchActive_ && &scrollView == menuTableView_.get()) {
        searchContentProvider_->DidEndDecelerating(scrollView);
    }
}

// --- search bar

bool MainViewController2::ShouldBeginEditing(ui::SearchBar& bar) {
    ns::Log("[MVC] searchBarShouldBeginEditing");
    if (!bar.Text().empty()) {
        isSearchActive_ = true;
        if (menuTableView_) menuTableView_->ReloadData();
    }
    ui::Animate(
        kAnimationDuration, 0, ui::AnimationOptions::AllowUserInteraction,
        [this] {
            if (contentView_) {
                ui::Rect frame = contentView_->Frame();
                frame.origin.x = frame.Width();
                contentView_->SetFrame(frame);
            }
            if (menuSearchBar_ && menuSearchBarParentView_) {
                ui::Rect frame = menuSearchBar_->Frame();
                frame.size.width = menuSearchBarParentView_->Bounds().Width();
                menuSearchBar_->SetFrame(frame);
            }
        },
        WeakCallback(*this, [](MainViewController2& self) {
            if (self.menuSearchBar_) self.menuSearchBar_->SetShowsCancelButton(true, true);
            if (self.contentView_) self.contentView_->SetHidden(true);
        }));
    return true;
}

void MainViewController2::TextDidChange(ui::SearchBar& /*bar*/, const std::string& text) {
    ns::Log("[MVC] searchBar textDidChange:%@", text);
    if (!text.empty()) {
        isSearchActive_ = true;
        searchContentProvider_->searchForSearchText(text);
    } else {
        isSearchActive_ = false;
        searchContentProvider_->cancelSearch();
    }
    searchContentProvider_->clearResult();
    if (menuTableView_) menuTableView_->ReloadData();
}

void MainViewController2::SearchButtonClicked(ui::SearchBar& bar) {
    ns::Log("[MVC] searchBarSearchButtonClicked");
    bar.ResignFirstResponder();
}

void MainViewController2::CancelButtonClicked(ui::SearchBar& bar) {
    ns::Log("[MVC] searchBarCancelButtonClicked");
    isSearchActive_ = false;
    searchContentProvider_->cancelSearch();
    if (menuTableView_) menuTableView_->ReloadData();
    bar.ResignFirstResponder();
    bar.SetShowsCancelButton(false, false);
    if (!contentView_) return;
    contentView_->SetHidden(false);
    const double x = GetView()->Frame().MaxX() - contentViewWidthWhenMenuVisible_;
    ui::Animate(
        kAnimationDuration, 0, ui::AnimationOptions::CurveEaseOut,
        [this, x] {
            ui::Rect frame = contentView_->Frame();
            frame.origin.x = x;
            contentView_->SetFrame(frame);
        },
        nullptr);
}
