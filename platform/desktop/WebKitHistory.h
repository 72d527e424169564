#ifndef PLATFORM_DESKTOP_WEBKIT_HISTORY_H
#define PLATFORM_DESKTOP_WEBKIT_HISTORY_H
// The pages a WebKit web view has shown, as the model tells them (back, forward, the page
// shown). WebKit's own back-forward list keeps no entry for a page loaded from an HTML string,
// so the backend keeps this list: an HTML string's entry holds its text (going back to it shows
// it again without the network), every other entry WebKit's item, which WebKit goes back to
// itself. A new page drops the entries ahead of the one shown; the latest kMaxEntries are
// kept. GTK thread only.

#include <webkit2/webkit2.h>

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace ns::desktop {

class WebKitHistory {
public:
    static constexpr size_t kMaxEntries = 100;

    struct Entry {
        std::string url;
        std::optional<std::string> html;            // an HTML string's text
        WebKitBackForwardListItem* item = nullptr;  // referenced while in the list
    };

    WebKitHistory() = default;
    ~WebKitHistory();
    WebKitHistory(const WebKitHistory&) = delete;
    WebKitHistory& operator=(const WebKitHistory&) = delete;

    bool Empty() const { return entries_.empty(); }
    size_t Index() const { return index_; }
    size_t Size() const { return entries_.size(); }
    const Entry& At(size_t index) const { return entries_[index]; }
    bool CanGoBack() const { return !entries_.empty() && index_ > 0; }
    bool CanGoForward() const { return index_ + 1 < entries_.size(); }

    // A new page after the one shown, which it becomes.
    void Push(Entry entry);
    // The entry at `index` is shown again; false (nothing changes) when there is none.
    bool MoveTo(size_t index);
    // The entry that holds WebKit's item.
    std::optional<size_t> Find(const WebKitBackForwardListItem* item) const;

private:
    static void Release(Entry& entry);

    std::vector<Entry> entries_;
    size_t index_ = 0;  // of the page shown; meaningless while empty
};

}  // namespace ns::desktop

#endif
