#ifndef PLATFORM_UI_ALERT_LOG_H
#define PLATFORM_UI_ALERT_LOG_H
// The alerts shown in the process, in order, as they were when shown (the latest
// CappedLog::kMaxEntries). Tests and the inspector read it.

#include <string>
#include <vector>

#include "platform/ui/CappedLog.h"

namespace ui {

struct AlertLogEntry {
    std::string title;
    std::string message;
    std::vector<std::string> buttons;  // in index order, the cancel button included
    int cancelButtonIndex = -1;        // -1: none
    int tag = 0;
};

class AlertLog : public CappedLog<AlertLogEntry> {};

}  // namespace ui

#endif  // PLATFORM_UI_ALERT_LOG_H
