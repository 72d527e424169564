#ifndef PLATFORM_DESKTOP_WINDOW_TITLE_H
#define PLATFORM_DESKTOP_WINDOW_TITLE_H
// The name a person sees on the window: the one the bundle gives for showing
// ("CFBundleDisplayName"), else its short name ("CFBundleName"), else the program's name.

#include <string>

#include "platform/store/Bundle.h"

namespace ns::desktop {

std::string WindowTitle(const ns::Bundle& bundle);

}  // namespace ns::desktop

#endif
