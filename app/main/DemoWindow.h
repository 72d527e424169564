#ifndef APP_MAIN_DEMOWINDOW_H
#define APP_MAIN_DEMOWINDOW_H
// `zul-demo --demo DIR`: the scripted session (DemoSession) in the application's window. The
// session starts once GTK's loop runs (the window is up), waits by iterating GLib, and keeps a
// PNG of the window for each screen in DIR (refusing a blank one) and every log line in
// DIR/zul.log (from the start on). Each step is printed on standard output, and only the
// steps: whatever else the process prints there or on standard error goes to DIR/zul.out. At
// the end the application terminates with 0 when every step held, else 1.

#include <functional>
#include <string>

// Call before the application starts: makes DIR and schedules the session. False with the
// reason in `error` when DIR or its log file cannot be made. `held` then answers whether the
// session ran to its end with every step held (false while it runs, and for good once the
// application ended it early).
bool StartDemoSession(const std::string& folder, std::string& error, std::function<bool()>& held);

#endif  // APP_MAIN_DEMOWINDOW_H
