#ifndef PLATFORM_UI_CAPPED_LOG_H
#define PLATFORM_UI_CAPPED_LOG_H
// A process-wide record of one kind of event, in order, for tests and the inspector: only the
// latest kMaxEntries are kept, so a long session does not grow it without end. Clear() starts
// over. Main thread only, like the views.

#include <cstddef>
#include <utility>
#include <vector>

namespace ui {

template <typename Entry>
class CappedLog {
public:
    static constexpr size_t kMaxEntries = 1000;

    static void Append(Entry entry) {
        std::vector<Entry>& log = Store();
        if (log.size() >= kMaxEntries) {
            log.erase(log.begin(),
                      log.begin() + static_cast<std::ptrdiff_t>(log.size() - kMaxEntries + 1));
        }
        log.push_back(std::move(entry));
    }
    static const std::vector<Entry>& Entries() { return Store(); }
    static void Clear() { Store().clear(); }

private:
    static std::vector<Entry>& Store() {
        static auto* log = new std::vector<Entry>();  // never destroyed
        return *log;
    }
};

}  // namespace ui

#endif  // PLATFORM_UI_CAPPED_LOG_H
