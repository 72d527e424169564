#include "platform/ui/NotificationRecorder.h"

#include <algorithm>

namespace ui {

NotificationRecorder::NotificationRecorder(ns::NotificationCenter& center)
    : center_(center), token_(center.AddObserver(std::string(), [this](const ns::Notification& n) {
          entries_.push_back(n);
      })) {}

NotificationRecorder::~NotificationRecorder() { center_.RemoveObserver(token_); }

std::vector<std::string> NotificationRecorder::Names() const {
    std::vector<std::string> names;
    names.reserve(entries_.size());
    for (const ns::Notification& n : entries_) {
        names.push_back(n.name);
    }
    return names;
}

size_t NotificationRecorder::Count(const std::string& name) const {
    return static_cast<size_t>(
        std::count_if(entries_.begin(), entries_.end(),
                      [&](const ns::Notification& n) { return n.name == name; }));
}

}  // namespace ui
