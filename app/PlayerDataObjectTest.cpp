// Reading the playback information: which fields count as missing and in which order they are
// named, the subtitle list, and the lookups by language. Expected texts are written out by
// hand from the order the portal's answer is checked in.

#include "app/PlayerDataObject.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "json/KvJsonParser.h"

namespace {

ns::Value Parse(const std::string& json) {
    KvJsonParser parser;
    std::optional<ns::Value> value = parser.objectWithString(json);
    return value ? *value : ns::Value();
}

std::vector<std::string> Languages(const PlayerDataObject& data) {
    std::vector<std::string> out;
    for (const SubtitleLanguageObject& s : data.subtitles) out.push_back(s.language);
    return out;
}

const char* kAllMissing =
    "MISSING subtitleLanguage --MISSING UILanguage --MISSING startPosition --"
    "MISSING contentID --MISSING mediaID--MISSING sarvelonUri --";

TEST(PlayerDataObjectTest, AFullAnswerFillsEveryFieldAndIsValid) {
    PlayerDataObject data;
    const auto reading = data.readResponse(
        Parse(R"({"subtitleLanguage":"pl","UILanguage":"en","video":{"mediaID":"102",)"
              R"("startPosition":"75","drm":{"deliveryUri":"http://h/media/102.svm"}}})"));
    EXPECT_TRUE(reading.valid);
    EXPECT_EQ("", reading.missing);
    EXPECT_EQ("102", data.mediaID);
    EXPECT_EQ("102", data.contentID);
    EXPECT_EQ("http://h/media/102.svm", data.sarvelonUri);
    EXPECT_EQ(75, data.startPosition);  // a text is read as a whole number
    EXPECT_EQ("pl", data.subtitleLanguage);
    EXPECT_EQ("en", data.UILanguage);
    EXPECT_TRUE(data.subtitles.empty());  // no "subtitles": no list, not even "None"
    EXPECT_TRUE(data.labels.empty());
}

TEST(PlayerDataObjectTest, MissingFieldsAreNamedInTheirFixedOrder) {
    for (const char* body : {"{}", "not json at all", "[1,2]", R"({"video":"x"})"}) {
        PlayerDataObject data;
        const auto reading = data.readResponse(Parse(body));
        EXPECT_FALSE(reading.valid) << body;
        EXPECT_EQ(kAllMissing, reading.missing) << body;
    }
    // Only the UI language and the start position are absent (the portal's faulty title).
    PlayerDataObject data;
    const auto reading = data.readResponse(
        Parse(R"({"subtitleLanguage":"en","video":{"mediaID":"901","drm":{"deliveryUri":"u"}}})"));
    EXPECT_FALSE(reading.valid);
    EXPECT_EQ("MISSING UILanguage --MISSING startPosition --", reading.missing);
}

TEST(PlayerDataObjectTest, AStartAtZeroIsNamedButLeavesTheAnswerValid) {
    PlayerDataObject data;
    const auto reading = data.readResponse(Parse(
        R"({"subtitleLanguage":"en","UILanguage":"en","video":{"mediaID":7,"startPosition":0,)"
        R"("drm":{"deliveryUri":""}}})"));
    EXPECT_TRUE(reading.valid);
    EXPECT_EQ("MISSING startPosition --", reading.missing);
    EXPECT_EQ("7", data.mediaID);  // a number stands for its text
    // An empty delivery URI is present: the engine start reports it, not the reading.
    EXPECT_EQ("", data.sarvelonUri);
}

TEST(PlayerDataObjectTest, SubtitlesAreSortedByLabelAfterNone) {
    PlayerDataObject data;
    const auto reading = data.readResponse(Parse(
        R"({"subtitleLanguage":"en","UILanguage":"en","video":{"mediaID":"1","startPosition":3,)"
        R"("drm":{"deliveryUri":"u"},"subtitles":{)"
        R"("pl":{"label":"Polski","assets":{"TTML":{"uri":"http://h/pl.ttml"}}},)"
        R"("en":{"label":"English","assets":{"TTML":{"uri":"http://h/en.ttml"}}},)"
        R"("de":{"label":"Deutsch","assets":{"TTML":{"uri":"http://h/de.ttml"}}}}}})"));
    ASSERT_TRUE(reading.valid);
    EXPECT_EQ((std::vector<std::string>{"None", "de", "en", "pl"}), Languages(data));
    EXPECT_EQ("None", data.subtitles[0].label);
    EXPECT_FALSE(data.subtitles[0].uri.has_value());
    EXPECT_EQ("Deutsch", data.subtitles[1].label);

    EXPECT_EQ("http://h/en.ttml", data.getSubtitleForLanguage("en").value_or("(none)"));
    EXPECT_FALSE(data.getSubtitleForLanguage("None").has_value());
    EXPECT_EQ("No Subtitle", data.getSubtitleForLanguage("fr").value_or("(none)"));
}

TEST(PlayerDataObjectTest, NoSubtitlesWhenTheListIsEmptyOrTheAnswerInvalid) {
    PlayerDataObject empty;
    ASSERT_TRUE(empty
                    .readResponse(Parse(R"({"subtitleLanguage":"en","UILanguage":"en",)"
                                        R"("video":{"mediaID":"1","startPosition":3,)"
                                        R"("drm":{"deliveryUri":"u"},"subtitles":{}}})"))
                    .valid);
    EXPECT_TRUE(empty.subtitles.empty());
    EXPECT_FALSE(empty.getSubtitleForLanguage("en").has_value());

    PlayerDataObject invalid;
    ASSERT_FALSE(
        invalid.readResponse(Parse(R"({"video":{"subtitles":{"en":{"label":"E"}}}})")).valid);
    EXPECT_TRUE(invalid.subtitles.empty());
}

TEST(PlayerDataObjectTest, LabelLookupsByLanguage) {
    PlayerDataObject data;
    EXPECT_FALSE(data.getLabelForLanguage("en").has_value());
    data.labels.push_back(LabelObject{"pl", "Film"});
    data.labels.push_back(LabelObject{"en", "Movie"});
    data.labels.push_back(LabelObject{"en", "Second"});
    EXPECT_EQ("Movie", data.getLabelForLanguage("en").value_or("(none)"));
    EXPECT_EQ("No title", data.getLabelForLanguage("de").value_or("(none)"));
}

}  // namespace
