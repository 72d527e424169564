#ifndef PLATFORM_UI_NOTIFICATION_RECORDER_H
#define PLATFORM_UI_NOTIFICATION_RECORDER_H
// The notification log of a test: every notification a centre delivers while the recorder
// lives, in delivery order, with its name, sender and user info.
//
// A centre calls its observers on its loop's thread (ns::NotificationCenter::Default(): the
// thread that steps ns::RunLoop::Main()); a post from elsewhere waits on that loop. A test
// that posts from its own thread therefore steps RunLoop::Main() once first, so the posts it
// makes are delivered, and recorded, at once. Loop thread only, like the centre's observers.

#include <cstdint>
#include <string>
#include <vector>

#include "platform/core/Notification.h"
#include "platform/core/NotificationCenter.h"

namespace ui {

class NotificationRecorder {
public:
    explicit NotificationRecorder(
        ns::NotificationCenter& center = ns::NotificationCenter::Default());
    ~NotificationRecorder();
    NotificationRecorder(const NotificationRecorder&) = delete;
    NotificationRecorder& operator=(const NotificationRecorder&) = delete;

    const std::vector<ns::Notification>& Entries() const { return entries_; }
    // The entries' names, in order.
    std::vector<std::string> Names() const;
    // How many of the entries carry that name.
    size_t Count(const std::string& name) const;
    void Clear() { entries_.clear(); }

private:
    ns::NotificationCenter& center_;
    std::vector<ns::Notification> entries_;  // before token_: the observer fills it
    uint64_t token_;
};

}  // namespace ui

#endif  // PLATFORM_UI_NOTIFICATION_RECORDER_H
