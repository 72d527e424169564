#include "tools/svplay/EventLine.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "tools/svplay/PlayStatus.h"

namespace {

using SvTools::EventLine;
using SvTools::PlayStatus;

TEST(EventLineTest, AnEventShowsItsNameAndItsAttributesInOrder) {
    ns::Dictionary attributes;
    attributes.Set("SVAssetPathKey", "/media/a.svm");
    attributes.Set("SVAssetTypeKey", 1ul);
    // Keys keep the order they were set in, not an alphabetical one.
    EXPECT_EQ("event SViOsApiEvent_Playing {SVAssetPathKey=/media/a.svm, SVAssetTypeKey=1}",
              EventLine::Format("SViOsApiEvent_Playing", attributes));
    EXPECT_EQ("event SViOsApiEvent_Terminated {}",
              EventLine::Format("SViOsApiEvent_Terminated", ns::Dictionary()));
}

TEST(EventLineTest, EachKindOfValueReadsAsItIs) {
    ns::Dictionary inner;
    inner.Set("a", -3);
    ns::Array rates;
    rates.push_back(37500ll);
    rates.push_back(75000ll);
    const struct {
        ns::Value value;
        std::string text;
    } cases[] = {
        {ns::Value(), "null"},
        {ns::Value(true), "true"},
        {ns::Value(false), "false"},
        {ns::Value(-42), "-42"},
        {ns::Value(uint64_t(18446744073709551615ull)), "18446744073709551615"},
        {ns::Value(25.0), "25"},                         // a whole float without a point
        {ns::Value(double(4.0f / 3.0f)), "1.33333337"},  // 4/3 as the float it was sent as
        {ns::Value(rates), "[37500, 75000]"},
        {ns::Value(ns::Array()), "[]"},
        {ns::Value(inner), "{a=-3}"},
        {ns::Value(ns::Data(std::vector<uint8_t>(1234, 0xff))), "<1234 bytes>"},
        {ns::Value(ns::Date(0)), "1970-01-01T00:00:00Z"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.text, EventLine::Describe(c.value));
    }
}

TEST(EventLineTest, TextThatWouldBeMisreadIsQuoted) {
    const struct {
        std::string in;
        std::string out;
    } cases[] = {
        {"Opening", "Opening"},
        {"http://localhost:20001/a.m3u8", "http://localhost:20001/a.m3u8"},
        {"", "\"\""},                        // an empty text stays visible
        {"Second half", "\"Second half\""},  // a space
        {"a,b", "\"a,b\""},                  // would read as two entries
        {"k=v", "\"k=v\""},                  // would read as a key
        {"{x}", "\"{x}\""},
        {"[x]", "\"[x]\""},
        {"say \"hi\"", "\"say \\\"hi\\\"\""},  // quotes escaped
        {"back\\slash", "\"back\\\\slash\""},
        {"two\nlines", "\"two\\nlines\""},  // never a second line
        {"tab\there", "\"tab\\there\""},
        {std::string("nul\0x", 5), "\"nul\\x00x\""},
        {"bell\x07", "\"bell\\x07\""},
        {"caf\xc3\xa9", "caf\xc3\xa9"},  // UTF-8 passes as it is
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.out, EventLine::Describe(ns::Value(c.in))) << c.in;
    }
    // Keys follow the same rule.
    ns::Dictionary odd;
    odd.Set("my key", "v");
    EXPECT_EQ("{\"my key\"=v}", EventLine::Describe(odd));
}

TEST(EventLineTest, NestedValuesStayOnOneLine) {
    ns::Dictionary chapter;
    chapter.Set("SVChapterIndexKey", 1l);
    chapter.Set("SVChapterTitleKey", "Part\ntwo");
    ns::Array list;
    list.push_back(chapter);
    list.push_back(ns::Array{ns::Value("x"), ns::Value(2)});
    ns::Dictionary attributes;
    attributes.Set("list", list);
    const std::string line = EventLine::Format("E", attributes);
    EXPECT_EQ("event E {list=[{SVChapterIndexKey=1, SVChapterTitleKey=\"Part\\ntwo\"}, [x, 2]]}",
              line);
    EXPECT_EQ(std::string::npos, line.find('\n'));
}

TEST(PlayStatusTest, BridgeCodesAndEngineStatusesAreNamedWithTheirNumber) {
    EXPECT_EQ("the player is not initialised (1)", PlayStatus::Text(1));
    EXPECT_EQ("a playback is already running (16)", PlayStatus::Text(16));
    EXPECT_EQ("unrecognised URL scheme (1012)", PlayStatus::Text(1012));
    EXPECT_EQ("the loopback server could not listen (1031)", PlayStatus::Text(1031));
    EXPECT_EQ("this kind of title cannot be played (4201)", PlayStatus::Text(4201));
    EXPECT_EQ("unknown status (7)", PlayStatus::Text(7));
    EXPECT_EQ("unknown status (-1)", PlayStatus::Text(-1));
}

}  // namespace
