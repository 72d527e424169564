#ifndef APP_MAINVIEWCONTROLLER2_H
#define APP_MAINVIEWCONTROLLER2_H
// The portal screen, the root screen after a successful sign-in: the service's web portal in a
// web view under a navigation bar, on a pane that slides aside to uncover one table that shows
// either the native menu (MenuContentProvider) or the search results (SearchContentProvider),
// with the search bar above it.
//
//   - Navigation: a link in the configured movie scheme opens the player screen (Qplayer)
//     modally with "http:" + the link's resource specifier and the device identifier, and the
//     web view stays where it is. A person's click opens it at once. A page asking on its own
//     gets at most one player a second (counted from the last player it opened so, or the last
//     player that closed), and none at all once a player has closed while it was shown, until
//     the person or the application has moved to another page: a page cannot undo a Done. The
//     portal's own sign-in page ("/c/portal/login") is never loaded: the sign-in screen comes
//     back instead, as it does after any page that finishes without the portal's sign-in
//     cookies. The frame shows the portal's origin (PortalOrigin, from the home URL) only: a
//     page's navigation or redirect to another origin is refused, and another origin's sign-in
//     path is just such a navigation. The application's own loads (the menu's, a search
//     result's, the error page) and moves in the history, which holds only pages allowed
//     before, go wherever they lead. A load that fails shows the bundle's "WebError" page with
//     the error's text (a cancelled load shows nothing).
//   - Back item: on pages whose URL holds "/-/-/" (title pages) the bar shows a back item while
//     the web view can go back; popping it goes back in the web view.
//   - Page bridge: the player's progress (when worth storing, also when the application is about
//     to resign active), its completion and its errors are reported to the page through
//     __zulPlayerProxy (PageBridgeScript); a player error other than 100 (an ordinary end)
//     is shown in the player error alert once the player is gone.
//   - Menu: opens and closes in two 0.25 s phases (out past its place by a bounce width, then
//     back), by the bar's button or a swipe (right opens, left closes); while a phase runs
//     the button has no action and the swipe is off.
//
// Made by ZULAppDelegate::showWebViewController from the interface file "MainViewController2"
// (MainViewController2Interface.h), with the delegate as its host: the configuration (page,
// search and thumbnail addresses, the movie scheme), the activity indicator and the way back
// to the sign-in screen. Main thread only; make it with std::make_shared.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/MenuContentProvider.h"
#include "app/PortalOrigin.h"
#include "app/QPlayerDelegate.h"
#include "app/ZULLoadingView.h"
#include "app/ZULScreenHost.h"
#include "platform/core/RunLoop.h"
#include "platform/net/Error.h"
#include "platform/net/URLRequest.h"
#include "platform/ui/BarButtonItem.h"
#include "platform/ui/NavigationBar.h"
#include "platform/ui/NavigationItem.h"
#include "platform/ui/SearchBar.h"
#include "platform/ui/SwipeGestureRecognizer.h"
#include "platform/ui/TableView.h"
#include "platform/ui/ViewController.h"
#include "platform/ui/WebView.h"

class Qplayer;
class SearchContentProvider;

class MainViewController2 : public ui::ViewController,
                            public ui::WebViewDelegate,
                            public ui::TableViewDataSource,
                            public ui::TableViewDelegate,
                            public ui::SearchBarDelegate,
                            public ui::NavigationBarDelegate,
                            public QPlayerDelegate {
public:
    static constexpr const char* kInterfaceName = "MainViewController2";
    // The portal's sign-in page, which sends the user back to the native sign-in.
    static constexpr const char* kLoginPath = "/c/portal/login";
    // Pages below this part of a path are title pages, reached from a list: they get a back item.
    static constexpr const char* kBackItemPathMark = "/-/-/";
    // Every menu and search animation phase.
    static constexpr double kAnimationDuration = 0.25;
    static constexpr double kWebViewFadeInDuration = 0.5;
    static constexpr double kContentViewBounceWidth = 16;
    // Of the content pane on screen while the menu is open: a phone keeps this much, a tablet
    // its width less the menu's.
    static constexpr double kPhoneContentWidthWhenMenuVisible = 75;
    static constexpr double kPadMenuWidth = 320;
    // How much the bar's height changes between portrait and landscape on a phone.
    static constexpr double kPhoneBarSizeDelta = 12;
    static constexpr double kShadowOpacity = 0.8;
    // animateDismissQPlayerWithError's code for an ordinary end: no alert.
    static constexpr int kOrdinaryEndCode = 100;
    // Seconds between two players a page opens without a person's click (and after a player
    // closed).
    static constexpr double kUnpromptedPlayerInterval = 1.0;
    // Own loads remembered until offered; older ones go (a newer load replaced them).
    static constexpr size_t kMaxOwnLoads = 8;

    // host: held weakly; without one there are no portal pages to load.
    MainViewController2(const std::string& interfaceFileName, std::weak_ptr<ZULScreenHost> host);
    ~MainViewController2() override;
    const char* ClassName() const override { return "MainViewController2"; }

    // Registers the interface file's builder (again: the same builder replaces itself).
    static void RegisterInterface();

    // --- actions
    void loadRequestForSelectedMenuItem();
    void loadRequestForURL(const std::string& url);
    // Reports the player's progress to the page when there is a player and its progress is
    // worth storing; also runs when the application is about to resign active.
    void storeProgress();
    void animateDismissQPlayerWithError(int code);
    void swipe(ui::SwipeGestureRecognizer& sender);
    void showMenuAction();
    void hideMenuAction();
    void setContentViewShadowHidden(bool hidden);

    // --- state, for tests and the inspector
    bool isMenuVisible() const { return isMenuVisible_; }
    bool isSearchActive() const { return isSearchActive_; }
    const std::shared_ptr<Qplayer>& qPlayer() const { return qPlayer_; }
    const std::optional<ns::Error>& contentViewWebViewLastError() const {
        return contentViewWebViewLastError_;
    }
    double contentViewWidthWhenMenuVisible() const { return contentViewWidthWhenMenuVisible_; }
    double barSizeDelta() const { return barSizeDelta_; }
    const std::shared_ptr<MenuContentProvider>& menuContentProvider() const {
        return menuContentProvider_;
    }
    const std::shared_ptr<SearchContentProvider>& searchContentProvider() const {
        return searchContentProvider_;
    }
    const ui::SwipeGestureRecognizer::Ptr& swipeGestureRecognizer() const {
        return swipeGestureRecognizer_;
    }

    // --- outlets (null until the view is loaded)
    const std::shared_ptr<ui::View>& contentView() const { return contentView_; }
    const std::shared_ptr<ui::NavigationBar>& contentViewNavigationBar() const {
        return contentViewNavigationBar_;
    }
    const std::shared_ptr<ui::WebView>& contentViewWebView() const { return contentViewWebView_; }
    const std::shared_ptr<ui::NavigationItem>& contentViewMenuNavigationItem() const {
        return contentViewMenuNavigationItem_;
    }
    const std::shared_ptr<ui::NavigationItem>& contentViewBackNavigationItem() const {
        return contentViewBackNavigationItem_;
    }
    const std::shared_ptr<ZULLoadingView>& contentLoadingView() const {
        return contentLoadingView_;
    }
    const std::shared_ptr<ui::TableView>& menuTableView() const { return menuTableView_; }
    const std::shared_ptr<ui::View>& menuSearchBarParentView() const {
        return menuSearchBarParentView_;
    }
    const std::shared_ptr<ui::SearchBar>& menuSearchBar() const { return menuSearchBar_; }
    const std::shared_ptr<ui::BarButtonItem>& showHideMenuButtonItem() const {
        return showHideMenuButtonItem_;
    }

    // --- ui::ViewController
    void ViewDidLoad() override;
    void ViewDidUnload() override;
    bool ShouldAutorotateToInterfaceOrientation(ui::InterfaceOrientation orientation) override;
    void WillAnimateRotationToInterfaceOrientation(ui::InterfaceOrientation orientation,
                                                   double duration) override;
    void DidRotateFromInterfaceOrientation(ui::InterfaceOrientation from) override;

    // --- ui::WebViewDelegate
    bool ShouldStartLoad(ui::WebView& webView, const ns::URLRequest& request,
                         const ui::WebViewNavigationAction& action) override;
    void DidStartLoad(ui::WebView& webView) override;
    void DidFinishLoad(ui::WebView& webView) override;
    void DidFailLoad(ui::WebView& webView, const ns::Error& error) override;

    // --- ui::NavigationBarDelegate
    bool ShouldPushItem(ui::NavigationBar& bar, ui::NavigationItem& item) override;
    bool ShouldPopItem(ui::NavigationBar& bar, ui::NavigationItem& item) override;

    // --- QPlayerDelegate
    void disposeQPlayer() override;
    void playbackDidComplete() override;
    void playbackDidStopOnError(int code, const std::string& errorDescription) override;

    // --- table: every call goes to the search provider in search mode, else to the menu's
    int NumberOfSections(ui::TableView& tableView) override;
    int NumberOfRowsInSection(ui::TableView& tableView, int section) override;
    std::shared_ptr<ui::TableViewCell> CellForRow(ui::TableView& tableView,
                                                  const ui::IndexPath& indexPath) override;
    std::optional<std::string> TitleForHeaderInSection(ui::TableView& tableView,
                                                       int section) override;
    std::optional<double> HeightForRow(ui::TableView& tableView,
                                       const ui::IndexPath& indexPath) override;
    std::optional<double> HeightForHeaderInSection(ui::TableView& tableView, int section) override;
    std::shared_ptr<ui::View> ViewForHeaderInSection(ui::TableView& tableView,
                                                     int section) override;
    void WillDisplayCell(ui::TableView& tableView, ui::TableViewCell& cell,
                         const ui::IndexPath& indexPath) override;
    void DidSelectRow(ui::TableView& tableView, const ui::IndexPath& indexPath) override;
    void DidScroll(ui::ScrollView& scrollView) override;
    void DidEndDragging(ui::ScrollView& scrollView, bool willDecelerate) override;
    void DidEndDecelerating(ui::ScrollView& scrollView) override;

    // --- ui::SearchBarDelegate
    bool ShouldBeginEditing(ui::SearchBar& bar) override;
    void TextDidChange(ui::SearchBar& bar, const std::string& text) override;
    void SearchButtonClicked(ui::SearchBar& bar) override;
    void CancelButtonClicked(ui::SearchBar& bar) override;

private:
    std::shared_ptr<MainViewController2> self();
    // The table's current provider.
    ui::TableViewDataSource& dataSource();
    ui::TableViewDelegate& tableDelegate();
    // The media id the page is told of: the player's, or while the player has none (its
    // playback information never came) the "id" of the play link the page gave.
    std::string reportedMediaID() const;
    void evaluate(const std::string& script);
    void setUpNavigationBar();
    void setUpLoadingView();
    void setMenuButtonAction(void (MainViewController2::*action)());
    // The menu's slide in two steps: `slide` (easing out), then the bounce back (letting touches
    // through), each step only while the screen and its content view are still there.
    void slideContentView(bool opening, std::function<void()> slide);
    // The menu is open (or closed): the button, the swipe and the page's touches follow.
    void menuSlideEnded(bool opened);
    void applyBackItemRule(const std::string& pageUrl);
    // The movie scheme's link: a player, unless one is shown or the page asks too often.
    void openPlayerForLink(const ns::URL& url, bool userGesture);
    // Loads of the application's own, remembered until the web view offers them.
    void loadOwn(const ns::URLRequest& request);
    void loadOwnHtml(const std::string& html, const ns::URL& baseUrl);
    // Whether the URL is one of the application's own loads still to be offered (taken off).
    bool takeOwnLoad(const ns::URL& url);
    void stopObserving();

    std::weak_ptr<ZULScreenHost> host_;

    // Outlets.
    std::shared_ptr<ui::View> contentView_;
    std::shared_ptr<ui::NavigationBar> contentViewNavigationBar_;
    std::shared_ptr<ui::WebView> contentViewWebView_;
    std::shared_ptr<ui::NavigationItem> contentViewMenuNavigationItem_;
    std::shared_ptr<ui::NavigationItem> contentViewBackNavigationItem_;
    std::shared_ptr<ZULLoadingView> contentLoadingView_;
    std::shared_ptr<ui::TableView> menuTableView_;
    std::shared_ptr<ui::View> menuSearchBarParentView_;
    std::shared_ptr<ui::SearchBar> menuSearchBar_;
    std::shared_ptr<ui::BarButtonItem> showHideMenuButtonItem_;

    std::string zulMovieScheme_;
    PortalOrigin portalOrigin_;
    // The application's own loads not yet offered, oldest first (a few at most).
    std::vector<std::string> ownLoads_;
    // When the last player a page opened without a person's click opened, or the last player
    // closed, on the loop's clock.
    std::optional<ns::RunLoop::TimePoint> playerQuietSince_;
    // A player closed while the page shown was there: the page opens none on its own.
    bool playerClosedOnThisPage_ = false;
    // The navigation allowed last was the person's or the application's: the page it finishes
    // with is a new one (the page before keeps running until then).
    bool movingOn_ = false;
    ns::URLRequest zulHomeRequest_;
    ns::URLRequest zulSeriesRequest_;
    ns::URLRequest zulMoviesRequest_;
    ns::URLRequest zulMyZULRequest_;
    double barSizeDelta_ = kPhoneBarSizeDelta;
    double contentViewWidthWhenMenuVisible_ = kPhoneContentWidthWhenMenuVisible;
    double contentViewBounceWidth_ = kContentViewBounceWidth;
    bool isMenuVisible_ = false;
    bool isSearchActive_ = false;
    std::shared_ptr<MenuContentProvider> menuContentProvider_;
    std::shared_ptr<SearchContentProvider> searchContentProvider_;
    ui::SwipeGestureRecognizer::Ptr swipeGestureRecognizer_;
    std::shared_ptr<Qplayer> qPlayer_;
    std::string qPlayerLinkMediaID_;
    // Set while the back-item rule itself takes the back item away (the page moved on already).
    bool poppingBackItem_ = false;
    std::optional<ns::Error> contentViewWebViewLastError_;
    // The URL of the last navigation ShouldStartLoad allowed: the page DidStartLoad announces
    // (the web view's own request is still the page before until the response arrives).
    std::string startingPageURL_;
    uint64_t resignActiveObserver_ = 0;
};

#endif  // APP_MAINVIEWCONTROLLER2_H
