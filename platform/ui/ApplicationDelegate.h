#ifndef PLATFORM_UI_APPLICATION_DELEGATE_H
#define PLATFORM_UI_APPLICATION_DELEGATE_H
// What the application tells its delegate (the application's own start-up class). Every call
// comes on the main thread; the defaults do nothing.

#include <string>

#include "platform/Value.h"

namespace ui {

class ApplicationDelegate {
public:
    virtual ~ApplicationDelegate() = default;

    // Once, at start-up, with the launch options (a dictionary; empty when there are none).
    // The answer is the platform's: whether a URL given in the options can be handled; the
    // application runs on either way.
    virtual bool DidFinishLaunching(const ns::Value& /*options*/) { return true; }
    virtual void DidBecomeActive() {}
    virtual void WillResignActive() {}
    virtual void DidEnterBackground() {}
    virtual void WillEnterForeground() {}
    virtual void WillTerminate() {}
    // Whether the URL was handled.
    virtual bool HandleOpenURL(const std::string& /*url*/) { return false; }
};

}  // namespace ui

#endif  // PLATFORM_UI_APPLICATION_DELEGATE_H
