#ifndef PLATFORM_UI_APPLICATION_MAIN_H
#define PLATFORM_UI_APPLICATION_MAIN_H
// The start of a user-interface program: makes the application and its delegate, tells the
// delegate the application finished launching, makes it active, then runs ui::Loop() until the
// application is told to terminate (Application::Terminate). Returns the exit code given to
// Terminate; 1, with a log line, when the factory makes no delegate.

#include <functional>
#include <memory>

#include "platform/ui/ApplicationDelegate.h"

namespace ui {

using ApplicationDelegateFactory = std::function<std::shared_ptr<ApplicationDelegate>()>;

int ApplicationMain(int argc, char** argv, const ApplicationDelegateFactory& makeDelegate);

}  // namespace ui

#endif  // PLATFORM_UI_APPLICATION_MAIN_H
