#ifndef APP_SUBTITLECUES_H
#define APP_SUBTITLECUES_H
// The subtitle entries of one document, filed by minute, and the text to show at each whole
// second of playback.
//
// Entries are filed by minute (begin / 60). The filing starts with one bucket per minute of the
// duration known when the entries are given and grows for entries past it (entries given before
// the duration is known are all kept), up to kMaxMinutes; an entry later than that is dropped,
// so that no time in a document can make the table large.
//
// Lookups: textAt(t) makes the text of the last entry at exactly second t the current text;
// when none is at t and the minute differs from that of the last answer, the current text
// becomes empty, so a cue running into a new minute ends there. A second past the filed
// minutes, or before 0, gives "". Main thread only.

#include <string>
#include <vector>

#include "app/SubtitleEntry.h"

class SubtitleCues {
public:
    // A day of one-minute buckets.
    static constexpr int kMaxMinutes = 24 * 60;

    // The movie's duration, truncated to whole seconds (not a number or below 0: 0).
    void setDuration(double seconds);
    int duration() const { return duration_; }
    // Replaces the cues with the entries, in their order.
    void fill(std::vector<SubtitleEntry> entries);
    // The text to show at second t (see the top of this file).
    std::string textAt(int seconds);
    // Drops the cues.
    void clear();

private:
    // Files the entry in the bucket of its minute, growing the table up to kMaxMinutes.
    void file(SubtitleEntry entry);

    int duration_ = 0;
    std::vector<std::vector<SubtitleEntry>> subtitleCollection_;
    std::string shownSubtitle_;
    long currentIndex_ = -1;
};

#endif  // APP_SUBTITLECUES_H
