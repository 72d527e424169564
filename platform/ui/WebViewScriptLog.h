#ifndef PLATFORM_UI_WEB_VIEW_SCRIPT_LOG_H
#define PLATFORM_UI_WEB_VIEW_SCRIPT_LOG_H
// Every script a web view of the process was asked to evaluate, in order, with the identifier
// of that web view. Tests and the inspector read it; Clear() starts over. Only the latest
// kMaxEntries are kept, so a long session does not grow it without end. Main thread only.

#include <cstddef>
#include <string>
#include <vector>

namespace ui {

struct WebViewScriptLogEntry {
    std::string identifier;  // the web view's identifier ("" when it has none)
    std::string script;
};

class WebViewScriptLog {
public:
    static constexpr size_t kMaxEntries = 1000;

    static void Append(WebViewScriptLogEntry entry);
    static const std::vector<WebViewScriptLogEntry>& Entries();
    static void Clear();
};

}  // namespace ui

#endif  // PLATFORM_UI_WEB_VIEW_SCRIPT_LOG_H
