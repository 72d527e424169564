#include "platform/ui/WebViewScriptLog.h"

#include <utility>

namespace ui {

namespace {

std::vector<WebViewScriptLogEntry>& Log() {
    static std::vector<WebViewScriptLogEntry>* log = new std::vector<WebViewScriptLogEntry>();
    return *log;
}

}  // namespace

void WebViewScriptLog::Append(WebViewScriptLogEntry entry) {
    std::vector<WebViewScriptLogEntry>& log = Log();
    if (log.size() >= kMaxEntries) {
        log.erase(log.begin(),
                  log.begin() + static_cast<std::ptrdiff_t>(log.size() - kMaxEntries + 1));
    }
    log.push_back(std::move(entry));
}

const std::vector<WebViewScriptLogEntry>& WebViewScriptLog::Entries() { return Log(); }

void WebViewScriptLog::Clear() { Log().clear(); }

}  // namespace ui
