#include "app/demo/DemoSession.h"

#include <algorithm>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "app/LoginViewController.h"
#include "app/demo/DemoPicture.h"
#include "app/Qplayer.h"
#include "app/QplayerControls.h"
#include "app/ResultTableViewCell.h"
#include "app/ZULAppDelegate.h"
#include "app/ZULImageDownload.h"
#include "platform/media/MoviePlayer.h"
#include "platform/ui/AlertView.h"
#include "platform/ui/Application.h"
#include "platform/ui/Button.h"
#include "platform/ui/Driver.h"
#include "platform/ui/Label.h"
#include "platform/ui/NavigationBar.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/SearchBar.h"
#include "platform/ui/Slider.h"
#include "platform/ui/TableView.h"
#include "platform/ui/WebView.h"
#include "platform/ui/Window.h"

namespace {

constexpr const char* kFinishLoadTag = "[MVC] webViewDidFinishLoad:";
// The menu's rows (the portal's menu: Home, Series, Movies, My ZUL).
constexpr int kMoviesRow = 2;
constexpr int kMenuRows = 4;
// The menu's two-phase slide takes 0.5 s; a little more lets the last frame settle.
constexpr double kMenuSlideSeconds = 0.7;
// The player's controls fade in within this time.
constexpr double kControlsFadeSeconds = 3;
// The subtitle chooser slides up in 0.3 s.
constexpr double kChooserSlideSeconds = 0.4;
// A page scrolled by script is drawn again within this time.
constexpr double kScrollSettleSeconds = 0.3;
// A thumbnail fades in over 1.2 s.
constexpr double kThumbnailFadeSeconds = 1.4;
// The player's subtitle line shows this while no cue is due.
constexpr const char* kNoCueText = ".......";

ui::ViewController::Ptr RootController() {
    std::shared_ptr<ui::Window> window = ui::Application::Shared().KeyWindow();
    return window ? window->RootViewController() : nullptr;
}

std::shared_ptr<LoginViewController> Login() {
    auto navigation = std::dynamic_pointer_cast<ui::NavigationController>(RootController());
    return navigation
               ? std::dynamic_pointer_cast<LoginViewController>(navigation->TopViewController())
               : nullptr;
}

// The portal screen when it is the window's root and its view is up.
ui::ViewController::Ptr Portal() {
    ui::ViewController::Ptr root = RootController();
    return root && root->IsViewLoaded() && std::string(root->ClassName()) == "MainViewController2"
               ? root
               : nullptr;
}

// The player presented over the portal; null when none is.
ui::ViewController::Ptr Player() {
    ui::ViewController::Ptr portal = Portal();
    return portal ? portal->PresentedViewController() : nullptr;
}

// The first view of that class in the portal screen's tree.
template <typename T>
std::shared_ptr<T> PortalView(const char* className) {
    ui::ViewController::Ptr portal = Portal();
    if (!portal) return nullptr;
    ui::Driver driver(portal->GetView());
    for (const ui::View::Ptr& view : driver.FindAll(className)) {
        if (auto typed = std::dynamic_pointer_cast<T>(view)) return typed;
    }
    return nullptr;
}

std::shared_ptr<ui::WebView> PortalWebView() { return PortalView<ui::WebView>("WebView"); }

// The page the portal's web view shows, when it has finished loading it.
std::string LoadedPage() {
    std::shared_ptr<ui::WebView> web = PortalWebView();
    if (!web || web->IsLoading()) return std::string();
    return web->Request().GetURL().AbsoluteString();
}

bool EndsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() &&
           text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// Where the web view's left edge lies in the window: 0 while the menu is closed.
double WebViewX() {
    std::shared_ptr<ui::WebView> web = PortalWebView();
    return web ? web->ConvertPointTo(ui::Point(0, 0), nullptr).x : 0;
}

// The menu button: the portal bar's left item.
bool TapMenuButton(std::string& error) {
    auto bar = PortalView<ui::NavigationBar>("NavigationBar");
    if (!bar || !bar->LeftItemView()) {
        error = "the portal has no menu button";
        return false;
    }
    if (!ui::Driver().Tap(bar->LeftItemView())) {
        error = "the menu button cannot be reached";
        return false;
    }
    return true;
}

// Clears a text field the way a person does, with the delete key, then types into it.
bool TypeInto(const std::shared_ptr<ui::TextField>& field, const std::string& text) {
    ui::Driver driver;
    if (!field || !driver.Tap(field)) return false;
    // Each press takes one character at most; a field that keeps its text stops the loop.
    for (size_t presses = field->Text().size(); !field->Text().empty(); --presses) {
        if (presses == 0 || !field->DeleteBackward()) return false;
    }
    return driver.Type(text);
}

// The page at `path` on the configured base URL; `path` alone without a configuration.
std::string PageURL(const std::string& path) {
    ZULAppDelegate* delegate = ZULAppDelegate::Current();
    if (!delegate) return path;
    std::string base = delegate->zulBaseURL();
    while (!base.empty() && base.back() == '/') base.pop_back();
    return base + path;
}

// Empty when the player's picture shows the movie; else why not (a black picture under the
// controls, as when the picture's decoder is missing and only the sound plays).
std::string MovieShownIn(const DemoPicture& picture) {
    auto player = std::dynamic_pointer_cast<Qplayer>(Player());
    std::shared_ptr<ui::Window> window = ui::Application::Shared().KeyWindow();
    std::shared_ptr<ui::View> movie =
        player && player->player() ? player->player()->View() : nullptr;
    if (!movie || !window || window->Bounds().size.width <= 0) return "no movie view to look at";
    // The picture is of the whole window, maybe at another scale than its points.
    const double scale = picture.width / window->Bounds().size.width;
    const ui::Rect area = movie->ConvertRectTo(movie->Bounds(), nullptr);
    return UniformPictureReason(
        picture,
        {static_cast<int>(area.origin.x * scale), static_cast<int>(area.origin.y * scale),
         static_cast<int>(area.size.width * scale), static_cast<int>(area.size.height * scale)});
}

}  // namespace

bool DemoSession::ShowsDownloadedThumbnail(ui::TableView& table) {
    const std::string cache = ZULImageDownload::cachePath();
    if (cache.empty()) return false;
    for (const std::shared_ptr<ui::TableViewCell>& cell : table.VisibleCells()) {
        auto result = std::dynamic_pointer_cast<ResultTableViewCell>(cell);
        ui::Image::Ptr image = result ? result->thumbView()->GetImage() : nullptr;
        if (image && image->Path().compare(0, cache.size() + 1, cache + "/") == 0) return true;
    }
    return false;
}

std::string DemoSession::PageLoadedTag(const std::string& path) {
    return kFinishLoadTag + PageURL(path);
}

DemoSession::DemoSession(Options options, DemoStepRunner::WaitFunction wait,
                         DemoStepRunner::CaptureFunction capture,
                         DemoStepRunner::PrintFunction print)
    : options_(std::move(options)),
      wait_(wait),
      runner_(std::move(wait), std::move(capture), std::move(print)) {
    AddSteps();
}

void DemoSession::AddSteps() {
    using Step = DemoStepRunner::Step;
    const std::string titlePath = "/-/-/" + options_.titleId;
    auto pause = [wait = wait_](double seconds) { wait([] { return false; }, seconds); };

    Step signInScreen;
    signInScreen.name = "the sign-in screen";
    signInScreen.done = [] {
        auto login = Login();
        return login && login->IsViewLoaded() && login->signInButton() &&
               login->signInButton()->IsEnabled();
    };
    signInScreen.doneText = "no sign-in screen";
    signInScreen.picture = "sign-in";
    runner_.Add(signInScreen);

    Step signIn;
    signIn.name = "sign in as " + options_.login;
    signIn.action = [this](std::string& error) {
        auto login = Login();
        if (!login) {
            error = "the sign-in screen is gone";
            return false;
        }
        if (!TypeInto(login->emailTextField(), options_.login) ||
            !TypeInto(login->passwordlTextField(), options_.password)) {
            error = "the form did not take the typing";
            return false;
        }
        if (!ui::Driver().Tap(login->signInButton())) {
            error = "the sign-in button cannot be reached";
            return false;
        }
        return true;
    };
    signIn.done = [] {
        // A device new to the account is told so first; the person reads it and goes on.
        for (const ui::AlertView::Ptr& alert : ui::AlertView::VisibleAlerts()) {
            if (alert->Tag() == LoginViewController::kDeviceAddedAlertTag) {
                ui::Driver().DismissAlert(0);
                return false;
            }
        }
        return Portal() != nullptr;
    };
    signIn.doneText = "the portal screen did not come";
    signIn.tags = {"[LVC] login connection connectionDidFinishLoading userSignedIn:1"};
    signIn.timeout = 20;
    runner_.Add(signIn);

    Step portal;
    portal.name = "the portal's home page";
    portal.done = [] {
        ZULAppDelegate* delegate = ZULAppDelegate::Current();
        return delegate && !LoadedPage().empty() && LoadedPage() == delegate->zulHomeURL();
    };
    portal.doneText = "the home page did not finish loading";
    portal.tags = {kFinishLoadTag};
    portal.timeout = 20;
    portal.picture = "portal";
    runner_.Add(portal);

    Step menu;
    menu.name = "open the menu";
    menu.action = [pause](std::string& error) {
        if (!TapMenuButton(error)) return false;
        pause(kMenuSlideSeconds);
        return true;
    };
    menu.done = [] {
        auto table = PortalView<ui::TableView>("TableView");
        return table && table->NumberOfSections() == 1 &&
               table->NumberOfRowsInSection(0) == kMenuRows && WebViewX() > 0;
    };
    menu.doneText = "the menu is not open with its four rows";
    menu.picture = "menu";
    runner_.Add(menu);

    Step movies;
    movies.name = "choose Movies";
    movies.action = [](std::string& error) {
        auto table = PortalView<ui::TableView>("TableView");
        const ui::IndexPath row(0, kMoviesRow);
        std::vector<ui::IndexPath> shown;
        if (table) shown = table->IndexPathsForVisibleRows();
        if (std::find(shown.begin(), shown.end(), row) == shown.end()) {
            error = "the Movies row is not on screen";
            return false;
        }
        // The menu reloads its rows to move the colours, which clears the selection the
        // driver looks for: the page that loads tells whether the tap was taken.
        ui::Driver().SelectRow(table, row);
        return true;
    };
    movies.done = [] {
        ZULAppDelegate* delegate = ZULAppDelegate::Current();
        auto web = PortalWebView();
        // The web view takes touches again once the menu has closed.
        return delegate && LoadedPage() == delegate->zulMoviesURL() && WebViewX() == 0 && web &&
               web->IsUserInteractionEnabled();
    };
    movies.doneText = "the Movies page is not shown with the menu closed";
    movies.tags = {kFinishLoadTag};
    movies.timeout = 15;
    runner_.Add(movies);

    Step title;
    title.name = "open the title " + titlePath;
    title.action = [titlePath](std::string& error) {
        auto web = PortalWebView();
        if (!web || !ui::Driver().ClickLink(web, titlePath)) {
            error = "the Movies page has no link to " + titlePath;
            return false;
        }
        return true;
    };
    title.done = [titlePath] { return LoadedPage() == PageURL(titlePath); };
    title.doneText = "the title page did not finish loading";
    title.tags = {PageLoadedTag(titlePath)};
    title.timeout = 15;
    runner_.Add(title);

    Step play;
    play.name = "play it";
    play.action = [](std::string& error) {
        auto web = PortalWebView();
        if (!web || !ui::Driver().ClickLink(web, "Play")) {
            error = "the title page has no Play link";
            return false;
        }
        return true;
    };
    play.done = [] {
        auto player = std::dynamic_pointer_cast<Qplayer>(Player());
        return player && player->player() &&
               player->player()->PlaybackState() == ns::MoviePlaybackState::Playing &&
               player->controls().showingControls();
    };
    play.doneText = "no player is playing with its controls shown";
    play.tags = {"[Q] ALL OK", "[Q] MPMovieLoadStatePlayable"};
    play.timeout = 30;
    runner_.Add(play);

    Step subtitles;
    subtitles.name = "subtitles: " + options_.subtitleLanguage;
    subtitles.action = [this, pause](std::string& error) {
        ui::Driver driver;
        // The controls fade in as playback starts: the button takes a touch once it shows.
        if (!wait_([&driver] { return driver.Tap("subtitleButton"); }, kControlsFadeSeconds)) {
            error = "the subtitle button cannot be reached";
            return false;
        }
        pause(kChooserSlideSeconds);
        if (!driver.Tap(driver.FindWithText<ui::Button>(options_.subtitleLanguage, "Button"))) {
            error = "the chooser offers no " + options_.subtitleLanguage;
            return false;
        }
        return true;
    };
    subtitles.done = [] {
        auto label = ui::Driver().Find<ui::Label>("subtitleView");
        return label && !label->IsHidden() && !label->Text().empty() && label->Text() != kNoCueText;
    };
    subtitles.doneText = "no subtitle line showed";
    subtitles.shown = [] {
        auto label = ui::Driver().Find<ui::Label>("subtitleView");
        return "subtitle line: \"" + (label ? label->Text() : std::string()) + "\"";
    };
    subtitles.timeout = 15;
    subtitles.picture = "player";
    subtitles.checkPicture = [](const DemoPicture& picture) { return MovieShownIn(picture); };
    runner_.Add(subtitles);

    Step volume;
    volume.name = "open the volume slider";
    volume.action = [this](std::string& error) {
        ui::Driver driver;
        if (!wait_([&driver] { return driver.Tap("audioButton"); }, kControlsFadeSeconds)) {
            error = "the volume button cannot be reached";
            return false;
        }
        return true;
    };
    volume.done = [] {
        auto player = std::dynamic_pointer_cast<Qplayer>(Player());
        auto slider = ui::Driver().Find<ui::Slider>("volumeSlider");
        return player && player->controls().showingVolumeSlider() && slider &&
               slider->Superview() && slider->Superview()->Alpha() == 1;
    };
    volume.doneText = "the volume slider did not show";
    volume.settle = kChooserSlideSeconds;
    volume.picture = "player-volume";
    runner_.Add(volume);

    Step complete;
    complete.name = "play to the end";
    complete.done = [] { return Portal() != nullptr && Player() == nullptr; };
    complete.doneText = "the player is still shown";
    complete.tags = {"[MVC] playbackDidComplete"};
    complete.timeout = options_.playbackTimeout;
    runner_.Add(complete);

    Step watched;
    watched.name = "the title page shows it watched";
    auto status = pageStatus_;
    auto read = pageStatusRead_;
    // The page's own bridge function writes its status line; ask the page for it until it says
    // so (each answer comes back later, on the loop). The line is brought into view, as a
    // person would scroll to it, so that the picture shows it.
    auto ask = [status, read] {
        auto web = PortalWebView();
        if (!web) return;
        *read = false;
        web->EvaluateJavaScript(
            "(function(){var s=document.getElementById('player-status');"
            "if(!s)return '';s.scrollIntoView({block:'center'});return s.textContent;})()",
            [status, read](const std::string& result) {
                *status = result;
                *read = true;
            });
    };
    watched.action = [ask](std::string&) {
        ask();
        return true;
    };
    watched.done = [status, read, ask] {
        if (!*read) return false;
        if (status->find("Completed") == 0) return true;
        ask();
        return false;
    };
    watched.doneText = "the page's status line does not say Completed";
    watched.shown = [status] { return "the page's status line: \"" + *status + "\""; };
    watched.timeout = 10;
    watched.picture = "title-completed";
    watched.settle = kScrollSettleSeconds;
    runner_.Add(watched);

    Step search;
    search.name = "search for \"" + options_.searchText + "\"";
    search.action = [this, pause, titlePath](std::string& error) {
        // The title page's bar shows Back instead of the menu button: back to Movies first.
        auto navigation = PortalView<ui::NavigationBar>("NavigationBar");
        if (navigation && navigation->BackButton()) {
            if (!ui::Driver().Tap(navigation->BackButton())) {
                error = "the Back button cannot be reached";
                return false;
            }
            const bool back = wait_(
                [navigation, titlePath] {
                    return !navigation->BackButton() && !LoadedPage().empty() &&
                           !EndsWith(LoadedPage(), titlePath);
                },
                15);
            if (!back) {
                error = "Back did not lead off the title page";
                return false;
            }
        }
        if (!TapMenuButton(error)) return false;
        pause(kMenuSlideSeconds);
        auto bar = PortalView<ui::SearchBar>("SearchBar");
        if (!bar || !ui::Driver().Tap(bar)) {
            error = "the search bar cannot be reached";
            return false;
        }
        if (!ui::Driver().Type(options_.searchText)) {
            error = "the search bar did not take the typing";
            return false;
        }
        return true;
    };
    search.done = [] {
        auto table = PortalView<ui::TableView>("TableView");
        return table && ShowsDownloadedThumbnail(*table);
    };
    search.doneText = "no result row shows its downloaded thumbnail";
    search.tags = {"[SCP] zulSearch didReceiveData",
                   "[SCP] zulImageDownload didFinishDownloading:"};
    search.timeout = 20;
    search.picture = "search";
    search.settle = kThumbnailFadeSeconds;
    runner_.Add(search);
}
