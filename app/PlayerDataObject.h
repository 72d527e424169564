#ifndef APP_PLAYERDATAOBJECT_H
#define APP_PLAYERDATAOBJECT_H
// The playback information of one title, as the portal's playback-information request answers
// it (JSON):
//
//   {"subtitleLanguage": "en", "UILanguage": "en",
//    "video": {"mediaID": "102", "startPosition": 0,
//              "subtitles": {"en": {"label": "English", "assets": {"TTML": {"uri": "..."}}}},
//              "drm": {"deliveryUri": "http://.../media/102.svm"}}}
//
// contentID is the media id again; labels is never filled by the portal and stays empty.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/LabelObject.h"
#include "app/SubtitleLanguageObject.h"
#include "platform/Value.h"

class PlayerDataObject {
public:
    // What reading a response found.
    struct Reading {
        // The "MISSING ... --" texts of the absent fields, in the fixed order.
        std::string missing;
        // False when a field other than the start position is absent.
        bool valid = true;
    };

    // Reads the fields of a parsed response (a value that is no dictionary counts as one
    // without any field). Subtitles are listed only for a valid response that has any: sorted
    // by label, after an entry "None" without a document.
    Reading readResponse(const ns::Value& root);

    // The document of the first subtitle entry in that language (nothing for "None", which
    // has none); "No Subtitle" when none matches; nothing when there are no entries at all.
    std::optional<std::string> getSubtitleForLanguage(const std::string& language) const;
    // The title of the first label in that language; "No title" when none matches; nothing
    // when there are no labels at all.
    std::optional<std::string> getLabelForLanguage(const std::string& language) const;

    std::string mediaID;
    std::string contentID;
    std::string sarvelonUri;
    int32_t startPosition = 0;
    std::string subtitleLanguage;
    std::string UILanguage;
    std::vector<SubtitleLanguageObject> subtitles;
    std::vector<LabelObject> labels;
};

#endif  // APP_PLAYERDATAOBJECT_H
