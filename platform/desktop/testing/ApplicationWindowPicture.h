#ifndef PLATFORM_DESKTOP_TESTING_APPLICATION_WINDOW_PICTURE_H
#define PLATFORM_DESKTOP_TESTING_APPLICATION_WINDOW_PICTURE_H
// For a scripted session run inside the application's own process (the demo): pictures of the
// application's window and a start once GTK's loop runs, behind an interface free of GTK.
// GTK thread only.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace ns::desktop {

// Waits (iterating GLib) for the application's window, the largest shown top-level window (an
// alert is drawn inside it) and for the pages of its web views to reach the screen, has it
// drawn, and saves its picture as a PNG at `path`. False with the reason in `error` when no
// window shows, a page does not show, it does not draw, it cannot be read back, it is blank
// (one colour), or the file cannot be written.
// When `rgb` is given, it receives the picture's pixels (red, green and blue bytes, rows from
// the top) and `width`, `height` its size.
bool SaveApplicationWindowPicture(const std::string& path, std::string& error,
                                  std::vector<uint8_t>* rgb = nullptr, int* width = nullptr,
                                  int* height = nullptr);

// Runs `work` once GTK's main loop runs, that is once the application and its window are up.
void RunWhenLoopRuns(std::function<void()> work);

}  // namespace ns::desktop

#endif
