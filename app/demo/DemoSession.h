#ifndef APP_DEMO_DEMOSESSION_H
#define APP_DEMO_DEMOSESSION_H
// The application's scripted session, as a person would use it, through the same input the
// window hands the models (ui::Driver, and link clicks in the web view): sign in, open the
// menu and Movies, open a title, play it with subtitles on and the volume slider open until it
// completes, see the title page report the completion, then go Back and search from the menu
// and see a thumbnail. Each screen's picture is taken through the caller's capture function:
// "sign-in", "portal", "menu", "player", "player-volume", "title-completed", "search".
//
// It drives the running application (ZULAppDelegate::Current() and its key window) and must
// start while the sign-in screen is up. Main thread only.

#include <memory>
#include <string>

#include "app/demo/DemoStepRunner.h"
#include "platform/ui/TableView.h"

class DemoSession {
public:
    struct Options {
        std::string login = "demo@zul.test";
        std::string password = "demo";
        // The title played: the portal's shortest movie, so that real speed stays short.
        std::string titleId = "102";
        // The text of the subtitle chooser's button.
        std::string subtitleLanguage = "English";
        // Found in the catalogue's movie titles.
        std::string searchText = "Colour";
        // The longest wait for the title to play to its end.
        double playbackTimeout = 90;
    };

    DemoSession(Options options, DemoStepRunner::WaitFunction wait,
                DemoStepRunner::CaptureFunction capture, DemoStepRunner::PrintFunction print);

    DemoStepRunner& Runner() { return runner_; }
    // Runs the session; true when every step held.
    bool Run() { return runner_.Run(); }

    // What the title page's status line said after the completion, read back by script.
    const std::string& PageStatus() const { return *pageStatus_; }

    // The search has shown what a person waits for: a result row on screen with its
    // downloaded thumbnail (a picture from the thumbnail cache). The loading row, the
    // no-results row and a row with a placeholder picture do not count.
    static bool ShowsDownloadedThumbnail(ui::TableView& table);
    // The beginning of the log line that says the page at `path` finished loading, with the
    // page's full URL on the configured base URL, so that no other page's load counts.
    static std::string PageLoadedTag(const std::string& path);

private:
    void AddSteps();

    Options options_;
    DemoStepRunner::WaitFunction wait_;
    DemoStepRunner runner_;
    // Filled by a script's completion, which may come after the session object moved on.
    std::shared_ptr<std::string> pageStatus_ = std::make_shared<std::string>();
    std::shared_ptr<bool> pageStatusRead_ = std::make_shared<bool>(false);
};

#endif  // APP_DEMO_DEMOSESSION_H
