#include "platform/desktop/WebKitHistory.h"

#include <utility>

namespace ns::desktop {

WebKitHistory::~WebKitHistory() {
    for (Entry& entry : entries_) Release(entry);
}

void WebKitHistory::Release(Entry& entry) {
    if (entry.item != nullptr) g_object_unref(entry.item);
    entry.item = nullptr;
}

void WebKitHistory::Push(Entry entry) {
    if (entry.item != nullptr) g_object_ref(entry.item);
    if (!entries_.empty()) {
        for (size_t i = index_ + 1; i < entries_.size(); ++i) Release(entries_[i]);
        entries_.resize(index_ + 1);
    }
    entries_.push_back(std::move(entry));
    if (entries_.size() > kMaxEntries) {
        Release(entries_.front());
        entries_.erase(entries_.begin());
    }
    index_ = entries_.size() - 1;
}

bool WebKitHistory::MoveTo(size_t index) {
    if (index >= entries_.size()) return false;
    index_ = index;
    return true;
}

std::optional<size_t> WebKitHistory::Find(const WebKitBackForwardListItem* item) const {
    if (item == nullptr) return std::nullopt;
    for (size_t i = 0; i < entries_.size(); ++i) {
        if (entries_[i].item == item) return i;
    }
    return std::nullopt;
}

}  // namespace ns::desktop
