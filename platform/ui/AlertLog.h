#ifndef PLATFORM_UI_ALERT_LOG_H
#define PLATFORM_UI_ALERT_LOG_H
// Every alert shown in the process, in order, as it was when shown. Tests and the inspector
// read it; Clear() starts over. Main thread only, like the views.

#include <string>
#include <vector>

namespace ui {

struct AlertLogEntry {
    std::string title;
    std::string message;
    std::vector<std::string> buttons;  // in index order, the cancel button included
    int cancelButtonIndex = -1;        // -1: none
    int tag = 0;
};

class AlertLog {
public:
    static void Append(AlertLogEntry entry);
    static const std::vector<AlertLogEntry>& Entries();
    static void Clear();
};

}  // namespace ui

#endif  // PLATFORM_UI_ALERT_LOG_H
