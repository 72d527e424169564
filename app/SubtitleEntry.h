#ifndef APP_SUBTITLEENTRY_H
#define APP_SUBTITLEENTRY_H
// One timed change of the subtitle line: from second `begin` on, show `subtitleString`. A cue
// gives two of them, its text at its begin and an end marker (empty text) at its end, so a cue
// stays on screen until the next change replaces it.

#include <cstdint>
#include <string>

struct SubtitleEntry {
    int32_t begin = 0;
    std::string subtitleString;  // empty: an end marker
};

#endif  // APP_SUBTITLEENTRY_H
