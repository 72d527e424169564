#include "app/PlayerDataObject.h"

#include <algorithm>

namespace {

// A field's text: a string as it is, a number by its text (a media id may come as either);
// nothing for an absent field or one of another kind.
std::optional<std::string> TextOf(const ns::Value* value) {
    if (value == nullptr) return std::nullopt;
    if (const std::string* text = value->AsString()) return *text;
    if (value->IsNumber()) return value->StringValue();
    return std::nullopt;
}

}  // namespace

PlayerDataObject::Reading PlayerDataObject::readResponse(const ns::Value& root) {
    Reading reading;
    const ns::Value& video = root["video"];
    const std::optional<std::string> subtitleLanguageText = TextOf(root.Find("subtitleLanguage"));
    const std::optional<std::string> uiLanguageText = TextOf(root.Find("UILanguage"));
    const std::optional<std::string> mediaText = TextOf(video.Find("mediaID"));
    const std::optional<std::string> deliveryText = TextOf(video["drm"].Find("deliveryUri"));
    const ns::Value* start = video.Find("startPosition");
    startPosition = start != nullptr ? start->IntValue() : 0;
    subtitleLanguage = subtitleLanguageText.value_or(std::string());
    UILanguage = uiLanguageText.value_or(std::string());
    mediaID = mediaText.value_or(std::string());
    contentID = mediaID;
    sarvelonUri = deliveryText.value_or(std::string());

    auto missing = [&reading](bool absent, const char* text, bool required) {
        if (!absent) return;
        reading.missing += text;
        if (required) reading.valid = false;
    };
    missing(!subtitleLanguageText, "MISSING subtitleLanguage --", true);
    missing(!uiLanguageText, "MISSING UILanguage --", true);
    missing(startPosition == 0, "MISSING startPosition --", false);
    missing(!mediaText, "MISSING contentID --", true);
    missing(!mediaText, "MISSING mediaID--", true);
    missing(!deliveryText, "MISSING sarvelonUri --", true);

    subtitles.clear();
    const ns::Dictionary* entries = video["subtitles"].AsDictionary();
    if (!reading.valid || entries == nullptr || entries->empty()) return reading;
    for (const auto& [language, entry] : *entries) {
        SubtitleLanguageObject subtitle;
        subtitle.language = language;
        subtitle.label = TextOf(entry.Find("label")).value_or(std::string());
        subtitle.uri = TextOf(entry["assets"]["TTML"].Find("uri"));
        subtitles.push_back(subtitle);
    }
    std::stable_sort(subtitles.begin(), subtitles.end(),
                     [](const SubtitleLanguageObject& a, const SubtitleLanguageObject& b) {
                         return a.label < b.label;
                     });
    SubtitleLanguageObject none;
    none.language = "None";
    none.label = "None";
    subtitles.insert(subtitles.begin(), none);
    return reading;
}

std::optional<std::string> PlayerDataObject::getSubtitleForLanguage(
    const std::string& language) const {
    if (subtitles.empty()) return std::nullopt;
    for (const SubtitleLanguageObject& subtitle : subtitles) {
        if (subtitle.language == language) return subtitle.uri;
    }
    return std::string("No Subtitle");
}

std::optional<std::string> PlayerDataObject::getLabelForLanguage(
    const std::string& language) const {
    if (labels.empty()) return std::nullopt;
    for (const LabelObject& label : labels) {
        if (label.language == language) return label.title;
    }
    return std::string("No title");
}
