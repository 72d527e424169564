#include "app/SubtitleCues.h"

#include <algorithm>
#include <limits>
#include <utility>

#include "platform/core/LogWriter.h"

void SubtitleCues::setDuration(double seconds) {
    if (!(seconds > 0)) {
        duration_ = 0;
    } else if (seconds >= std::numeric_limits<int>::max()) {
        duration_ = std::numeric_limits<int>::max();
    } else {
        duration_ = static_cast<int>(seconds);
    }
}

void SubtitleCues::fill(std::vector<SubtitleEntry> entries) {
    const int minutes = duration_ / 60;
    ns::Log("[Q-S] the max interval %f", minutes);
    subtitleCollection_.assign(std::min(minutes + 1, kMaxMinutes), {});
    shownSubtitle_.clear();
    for (SubtitleEntry& entry : entries) file(std::move(entry));
}

void SubtitleCues::clear() { subtitleCollection_.clear(); }

void SubtitleCues::file(SubtitleEntry entry) {
    const int32_t minute = entry.begin / 60;
    if (minute >= kMaxMinutes) {
        ns::Log("[Q-S] Bad cell %i - %@", entry.begin, entry.subtitleString);
        return;
    }
    if (static_cast<size_t>(minute) >= subtitleCollection_.size()) {
        subtitleCollection_.resize(minute + 1);
    }
    subtitleCollection_[minute].push_back(std::move(entry));
}

std::string SubtitleCues::textAt(int seconds) {
    const long minute = seconds < 0 ? -1 : seconds / 60;
    if (minute < 0 || static_cast<size_t>(minute) >= subtitleCollection_.size()) {
        shownSubtitle_.clear();
        currentIndex_ = minute;
        return shownSubtitle_;
    }
    for (const SubtitleEntry& entry : subtitleCollection_[minute]) {
        if (entry.begin == seconds) {
            shownSubtitle_ = entry.subtitleString;
            currentIndex_ = minute;
        }
    }
    if (currentIndex_ != minute) {
        shownSubtitle_.clear();
        currentIndex_ = minute;
    }
    return shownSubtitle_;
}
