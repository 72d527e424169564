// A page's dialog text is bounded and valid; no web process outlives its web view, and the
// memory guard's end of one process does not make another's crash look like its own.

#include <signal.h>
#include <sys/types.h>

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "platform/core/RunLoop.h"
#include "platform/desktop/RunLoopSource.h"
#include "platform/desktop/WebKitScriptDialogs.h"
#include "platform/desktop/WebKitWebViewBackend.h"
#include "platform/desktop/WebProcessMemoryGuard.h"
#include "platform/desktop/testing/ChildProcesses.h"
#include "platform/desktop/testing/MainContextWait.h"
#include "platform/ui/Loop.h"
#include "platform/ui/WebView.h"

namespace ns::desktop {
namespace {

constexpr std::chrono::seconds kProcessWait(10);  // a passing step takes milliseconds
constexpr const char* kPlainPage = "<html><body style=\"margin:0\"></body></html>";

// Counts finished loads and keeps the failures.
class ProcessEndDelegate : public ui::WebViewDelegate {
public:
    void DidFinishLoad(ui::WebView&) override { ++finished; }
    void DidFailLoad(ui::WebView&, const Error& error) override { errors.push_back(error); }
    size_t finished = 0;
    std::vector<Error> errors;
};

// The page's message as its alert shows it: whole up to the bound, else cut before the character
// that crosses it, with an ellipsis; bytes that are no UTF-8 shown as U+FFFD.
TEST(WebKitScriptDialogsText, TheMessageIsBoundedAndValid) {
    const size_t max = WebKitScriptDialogs::kMaxMessageBytes;
    ASSERT_EQ(max, 1024u);
    const std::string a1023(1023, 'a'), a1024(1024, 'a');
    struct Row {
        const char* what;
        std::string message;
        std::string shown;
    };
    const Row rows[] = {
        {"short", "Hello", "Hello"},
        {"at the bound", a1024, a1024},
        {"one past", a1024 + "b", a1024 + "\u2026"},
        {"a two-byte character across the bound", a1023 + "\u00e9", a1023 + "\u2026"},
        {"a two-byte character at its end", a1023 + "\u00e9" + "x", a1023 + "\u2026"},
        {"invalid bytes",
         "a\xff"
         "b",
         "a\uFFFD"
         "b"},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(WebKitScriptDialogs::ShownMessage(row.message.c_str()), row.shown) << row.what;
    }
    EXPECT_EQ(WebKitScriptDialogs::ShownMessage(nullptr), "");
}

TEST(WebKitProcesses, NoWebProcessOutlivesItsWebView) {
    RunLoop loop;
    ui::ScopedLoop scope(loop);
    RunLoopSource source(loop);
    ui::WebView::SetBackendFactory(WebKitWebViewBackend::Factory());
    auto delegate = std::make_shared<ProcessEndDelegate>();
    std::vector<std::shared_ptr<ui::WebView>> views;
    for (int i = 0; i < 2; ++i) {
        views.push_back(std::make_shared<ui::WebView>(ui::Rect(0, 0, 100, 100)));
        views.back()->SetDelegate(delegate);
        views.back()->LoadHtmlString(kPlainPage, *URL::Parse("http://127.0.0.1/"));
    }
    ASSERT_TRUE(IterateUntil([&] { return delegate->finished == 2; }, kProcessWait));
    EXPECT_GE(ChildrenNamed("WebKitWebProcess"), 1);
    views.clear();
    EXPECT_TRUE(IterateUntil([] { return ChildrenNamed("WebKitWebProcess") == 0; }, kProcessWait))
        << ChildrenNamed("WebKitWebProcess") << " web processes left";
    ui::WebView::SetBackendFactory(nullptr);
}

// The guard ends a web process past its bound and that view says so; another view's process
// that crashes right after is a crash all the same. The bound is lowered here (the guard takes
// the first one it is given) so that a page reaches it with a few hundred megabytes; the
// shipped one is the portal window test's.
TEST(WebKitProcesses, AfterTheGuardEndedOneProcessAnotherViewsCrashIsACrash) {
    WebProcessMemoryGuard::Start(uint64_t{512} << 20);
    RunLoop loop;
    ui::ScopedLoop scope(loop);
    RunLoopSource source(loop);
    ui::WebView::SetBackendFactory(WebKitWebViewBackend::Factory());
    auto quiet = std::make_shared<ProcessEndDelegate>();
    auto greedy = std::make_shared<ProcessEndDelegate>();
    auto quietView = std::make_shared<ui::WebView>(ui::Rect(0, 0, 100, 100));
    auto greedyView = std::make_shared<ui::WebView>(ui::Rect(0, 0, 100, 100));
    quietView->SetDelegate(quiet);
    greedyView->SetDelegate(greedy);
    quietView->LoadHtmlString(kPlainPage, *URL::Parse("http://127.0.0.1/"));
    greedyView->LoadHtmlString(kPlainPage, *URL::Parse("http://127.0.0.1/"));
    ASSERT_TRUE(
        IterateUntil([&] { return quiet->finished + greedy->finished == 2; }, kProcessWait));
    ASSERT_GE(ChildrenNamed("WebKitWebProcess"), 2) << "the views share a process";

    // One page takes a gigabyte at most, 64 MB at a time: its process is ended on the way.
    greedyView->LoadHtmlString(
        "<html><body><script>var held = []; for (var i = 0; i < 16; ++i) {"
        " var a = new Uint8Array(64 << 20); a.fill(1); held.push(a); }</script></body></html>",
        *URL::Parse("http://127.0.0.1/"));
    ASSERT_TRUE(IterateUntil([&] { return !greedy->errors.empty(); }, kProcessWait));
    EXPECT_EQ(greedy->errors[0].LocalizedDescription(),
              "The web page's process ended: it exceeded its memory limit.");

    // The other view's process (with any WebKit keeps ready beside it), ended by the test as by
    // the kernel, at once.
    const std::vector<pid_t> left = ChildPidsNamed("WebKitWebProcess");
    ASSERT_FALSE(left.empty());
    for (const pid_t pid : left) ASSERT_EQ(kill(pid, SIGKILL), 0);
    ASSERT_TRUE(IterateUntil([&] { return !quiet->errors.empty(); }, kProcessWait));
    EXPECT_EQ(quiet->errors[0].LocalizedDescription(), "The web page's process ended: it crashed.");
    EXPECT_EQ(greedy->errors.size(), 1u);

    quietView.reset();
    greedyView.reset();
    ui::WebView::SetBackendFactory(nullptr);
}

}  // namespace
}  // namespace ns::desktop
