#ifndef APP_SUBTITLELANGUAGEOBJECT_H
#define APP_SUBTITLELANGUAGEOBJECT_H
// One subtitle language of a title as the playback information lists it, and as the subtitle
// chooser shows it: the language key ("en", or "None" for the entry that turns subtitles off),
// the text on its button, and the address of its TTML document. The "None" entry has no
// document: its uri is empty (std::nullopt), which is different from a document address that
// happens to be the empty string.

#include <optional>
#include <string>

struct SubtitleLanguageObject {
    std::string language;
    std::string label;
    std::optional<std::string> uri;
};

#endif  // APP_SUBTITLELANGUAGEOBJECT_H
