#ifndef PLATFORM_UI_WEB_VIEW_SCRIPT_LOG_H
#define PLATFORM_UI_WEB_VIEW_SCRIPT_LOG_H
// The scripts the web views of the process were asked to evaluate, in order, with the
// identifier of each web view (the latest CappedLog::kMaxEntries). Tests and the inspector read
// it.

#include <cstddef>
#include <string>
#include <vector>

#include "platform/ui/CappedLog.h"

namespace ui {

struct WebViewScriptLogEntry {
    std::string identifier;  // the web view's identifier ("" when it has none)
    std::string script;
};

class WebViewScriptLog : public CappedLog<WebViewScriptLogEntry> {};

}  // namespace ui

#endif  // PLATFORM_UI_WEB_VIEW_SCRIPT_LOG_H
