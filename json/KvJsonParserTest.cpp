#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "json/KvJsonLog.h"
#include "json/KvJsonParser.h"
#include "json/KvJsonParsing.h"
#include "json/KvJsonStreamParser.h"
#include "json/KvJsonStreamParserAccumulator.h"
#include "json/KvJsonStreamParserAdapter.h"
#include "json/KvJsonWriter.h"

namespace {

using ns::Value;

struct Outcome {
    std::optional<Value> value;
    std::string error;
    std::string text;  // the value written back, sorted: tells kinds apart that compare equal
};

Outcome Finish(std::optional<Value> value, std::string error) {
    Outcome outcome;
    outcome.value = std::move(value);
    outcome.error = std::move(error);
    if (outcome.value) {
        KvJsonWriter writer;
        writer.setSortKeys(true);
        outcome.text = writer.dataWithObject(*outcome.value).value_or("<write failed>");
    }
    return outcome;
}

Outcome ParseWhole(const std::string& document) {
    KvJsonParser parser;
    std::optional<Value> value = parser.objectWithString(document);
    return Finish(std::move(value), value ? "" : parser.error());
}

// The same document through the stream parser, `piece` bytes per call.
Outcome ParseInPieces(const std::string& document, size_t piece) {
    KvJsonStreamParserAccumulator accumulator;
    KvJsonStreamParserAdapter adapter;
    adapter.setDelegate(&accumulator);
    KvJsonStreamParser parser;
    parser.setDelegate(&adapter);
    int status = KvJsonStreamParserWaitingForData;
    for (size_t at = 0; at < document.size() && status != KvJsonStreamParserError; at += piece) {
        status = parser.parse(document.data() + at, std::min(piece, document.size() - at));
    }
    if (status == KvJsonStreamParserError) {
        return Finish(std::nullopt, parser.error());
    }
    if (status == KvJsonStreamParserComplete && !parser.hasUnfinishedToken()) {
        return Finish(accumulator.takeValue(), "");
    }
    return Finish(std::nullopt, "Unexpected end of input");
}

TEST(KvJsonParser, EveryDocumentGivesTheSameResultWholeOrInPieces) {
    std::string longString = "\"";
    for (int i = 0; i < 300; ++i) {
        longString += "x\\u00e9\\n\xE2\x82\xAC";
    }
    longString += "\"";
    const std::string documents[] = {
        R"([9223372036854775808, -0, 1.50, 1E22, 0.1, "A\u0000B\t/\u00e9"])",
        R"({"video":{"mediaID":"m1","startPosition":120,"drm":{"deliveryUri":"http://h/x"}}})",
        R"( [ true , false , null , {} , [] , "" , -12.5e-3 , 0 ] )",
        R"({"a":1,"a":{"b":[1,2,{"c":"\uD834\uDD1E"}]}})",
        "[" + longString + "," + longString + "]",
        "[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]",
        // Rejected ones: the same error whatever the pieces.
        "[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]",
        "[1e65536]",
        "[1] tru",
        "[1] true",
        "[1] 2",
        "true",
        "[-.5]",
        "[\"a\tb\"]",
        R"(["\uD800\u0041"])",
        R"(["\uD800"])",
        R"(["\u12"])",
        "[\"\xC3\x28\"]",
        "[0123]",
        "[1.]",
        "{\"a\" 1}",
        "[1,]",
        "[1,",
        "",
        "   ",
        "{\"a\":nul}",
        "[123456789012345678901234567890123456789]",
        "[0.0000000000000000000000000000000000000001",
        // Cut short after a fault inside the token: the fault is reported, not the cut.
        "[\"A\\u000\xCD\xCD",
        "[\"ok\\q",
        "[\"ab\xFF",
        "[-1.e",
        // Cut short inside a character or an escape: only the end is missing.
        "[\"ab\xE2\x82",
        "[\"ab\\uD834\\uDD",
        "[1.5e+",
    };
    for (const std::string& document : documents) {
        SCOPED_TRACE(document.substr(0, 80));
        const Outcome whole = ParseWhole(document);
        for (size_t piece : {1, 2, 3, 7}) {
            SCOPED_TRACE("pieces of " + std::to_string(piece));
            const Outcome pieces = ParseInPieces(document, piece);
            ASSERT_EQ(pieces.value.has_value(), whole.value.has_value()) << pieces.error;
            EXPECT_EQ(pieces.error, whole.error);
            if (whole.value) {
                EXPECT_EQ(*pieces.value, *whole.value);
                EXPECT_EQ(pieces.text, whole.text);
            }
        }
    }
}

TEST(KvJsonParser, OneCallResultsAndErrors) {
    struct Case {
        std::string document;
        const char* text;  // written back, or the error
    };
    const Case cases[] = {
        {"{\"a\":[1,2]}\n\t ", "{\"a\":[1,2]}"},
        {"{\"k\":1,\"k\":2,\"j\":3}", "{\"j\":3,\"k\":2}"},  // a repeated key keeps the last
        {"[1", "Unexpected end of input"},
        {"{\"a\":", "Unexpected end of input"},
        {"", "Unexpected end of input"},
        {"[1] tru", "Unexpected end of input"},
        {"[1] \"open", "Unexpected end of input"},
        {"[1] 5", "Unexpected end of input"},
        {"[1] x", "Illegal start of token [x]"},
        // A fault inside an unfinished token is reported as such; a token that is merely
        // unfinished is the end of input.
        {"[\"ab\xFF", "Broken Unicode encoding"},
        {"[\"ab\\u00G", "Invalid hex quad"},
        {"[-1.e", "No digits after decimal point"},
        {"[\"ab\xE2\x82", "Unexpected end of input"},
        {"[\"ab\\uD834", "Unexpected end of input"},
        {"true", "Token 'boolean' not expected before outer-most array or object"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.document);
        const Outcome outcome = ParseWhole(c.document);
        EXPECT_EQ(outcome.value ? outcome.text : outcome.error, c.text);
    }

    KvJsonParser parser;
    EXPECT_FALSE(parser.objectWithData(nullptr, 0));
    EXPECT_EQ(parser.error(), "Input was 'nil'");
    EXPECT_FALSE(parser.objectWithData("", 0));
    EXPECT_EQ(parser.error(), "Unexpected end of input");

    KvJsonError error;
    EXPECT_FALSE(parser.objectWithString("[1,}", &error));
    EXPECT_EQ(error.code, 0);
    EXPECT_EQ(error.domain, KvJsonParserErrorDomain);
    EXPECT_EQ(error.localizedDescription, "Token 'end of object' not expected as array value");
}

TEST(KvJsonParser, DepthLimitIsAdjustable) {
    KvJsonParser parser;
    parser.setMaxDepth(2);
    EXPECT_TRUE(parser.objectWithString("[[]]"));
    EXPECT_FALSE(parser.objectWithString("[[[]]]"));
    EXPECT_EQ(parser.error(), "Input depth exceeds max depth of 2");
    // 100,000 opening brackets fail at the limit; nothing recurses.
    parser.setMaxDepth(32);
    EXPECT_FALSE(parser.objectWithString(std::string(100000, '[')));
    EXPECT_EQ(parser.error(), "Input depth exceeds max depth of 32");
}

TEST(KvJsonParser, PlaybackInformationReadsThroughChainedLookups) {
    const std::optional<Value> info = JSONValue(std::string(R"({
        "subtitleLanguage": "sv", "UILanguage": "en",
        "video": {
            "mediaID": "abc-1", "startPosition": 125,
            "drm": {"deliveryUri": "http://media.example/title.mpg"},
            "subtitles": {"sv": {"label": "Svenska", "assets": {"TTML": {"uri": "http://s/sv.xml"}}}}
        }
    })"));
    ASSERT_TRUE(info);
    const Value& video = (*info)["video"];
    EXPECT_EQ(video["drm"]["deliveryUri"].StringValue(), "http://media.example/title.mpg");
    EXPECT_EQ(video["startPosition"].IntValue(), 125);
    EXPECT_EQ(video["subtitles"]["sv"]["assets"]["TTML"]["uri"].StringValue(), "http://s/sv.xml");
    EXPECT_EQ((*info)["UILanguage"].StringValue(), "en");
    EXPECT_EQ(video.Find("title"), nullptr);
    EXPECT_TRUE(video["subtitles"]["en"]["assets"]["TTML"]["uri"].IsNull());
}

class Collector : public KvJsonStreamParserAdapterDelegate {
public:
    std::vector<std::string> found;  // "array:" or "object:" with the value's description

    void parserFoundArray(KvJsonStreamParser&, Value&& array) override {
        found.push_back("array:" + array.Description());
    }
    void parserFoundObject(KvJsonStreamParser&, Value&& object) override {
        found.push_back("object:" + object.Description());
    }
};

std::vector<std::string> Skipping(size_t levels, const std::string& document) {
    Collector collector;
    KvJsonStreamParserAdapter adapter;
    adapter.setDelegate(&collector);
    adapter.setLevelsToSkip(levels);
    KvJsonStreamParser parser;
    parser.setDelegate(&adapter);
    EXPECT_EQ(parser.parse(document.data(), document.size()), KvJsonStreamParserComplete);
    return collector.found;
}

TEST(KvJsonStreamParserAdapter, SkippedLevelsDeliverTheirValuesOneByOne) {
    EXPECT_EQ(Skipping(0, R"([{"a":1},{"b":2}])"),
              (std::vector<std::string>{R"(array:[{"a": 1}, {"b": 2}])"}));
    EXPECT_EQ(Skipping(1, R"([{"a":1},{"b":2},{"c":[3]}])"),
              (std::vector<std::string>{R"(object:{"a": 1})", R"(object:{"b": 2})",
                                        R"(object:{"c": [3]})"}));
    // Scalars inside the skipped levels arrive through parserFoundObject as well.
    EXPECT_EQ(Skipping(1, R"([2, "x", null, [3]])"),
              (std::vector<std::string>{"object:2", R"(object:"x")", "object:null", "array:[3]"}));
    // Keys of a skipped object do not disturb the objects built inside it.
    EXPECT_EQ(Skipping(1, R"({"a":{"x":1,"y":{"z":2}},"b":[true],"c":3})"),
              (std::vector<std::string>{R"(object:{"x": 1, "y": {"z": 2}})", "array:[true]",
                                        "object:3"}));
    EXPECT_EQ(Skipping(2, R"([[1,{"k":"v"}],[]])"),
              (std::vector<std::string>{"object:1", R"(object:{"k": "v"})"}));
}

// Objects keep their members in document order; a key given twice keeps its first place and
// takes the last value. Both for a small object and for objects large enough to be looked up
// through a hash index (more than 16 members), and with containers nested inside arrays
// inside objects, whose members wait on the builder's stacks together.
TEST(KvJsonParser, MembersKeepDocumentOrderAndARepeatedKeyItsFirstPlace) {
    KvJsonParser parser;
    const std::optional<Value> small = parser.objectWithString(R"({"b":1,"a":2,"b":3})");
    ASSERT_TRUE(small);
    EXPECT_EQ(R"({"b": 3, "a": 2})", small->Description());

    const std::optional<Value> large = parser.objectWithString(
        R"({"k1":1,"k2":2,"k3":3,"k4":4,"k5":5,"k6":6,"k7":7,"k8":8,"k9":9,"k10":10,)"
        R"("k3":"again","k11":[{"x":[1,{"y":[]}],"x":0},[[]],{}],"k1":null})");
    ASSERT_TRUE(large);
    EXPECT_EQ(R"({"k1": null, "k2": 2, "k3": "again", "k4": 4, "k5": 5, "k6": 6, "k7": 7, )"
              R"("k8": 8, "k9": 9, "k10": 10, "k11": [{"x": 0}, [[]], {}]})",
              large->Description());
    EXPECT_EQ(11u, large->Count());
    EXPECT_EQ("again", (*large)["k3"].StringValue());  // found through the index
    EXPECT_TRUE((*large)["k1"].IsNull());
    EXPECT_EQ(0, (*large)["k11"][0]["x"].IntValue());

    // 20 members: k3 repeated before the 17th member, k18 and k1 after it.
    std::string text = "{";
    for (int i = 1; i <= 20; ++i) {
        text += "\"k" + std::to_string(i) + "\":" + std::to_string(i) + ",";
        if (i == 10) {
            text += R"("k3":"x",)";
        }
    }
    text += R"("k18":"y","k1":[]})";
    const std::optional<Value> indexed = parser.objectWithString(text);
    ASSERT_TRUE(indexed);
    EXPECT_EQ(R"({"k1": [], "k2": 2, "k3": "x", "k4": 4, "k5": 5, "k6": 6, "k7": 7, "k8": 8, )"
              R"("k9": 9, "k10": 10, "k11": 11, "k12": 12, "k13": 13, "k14": 14, "k15": 15, )"
              R"("k16": 16, "k17": 17, "k18": "y", "k19": 19, "k20": 20})",
              indexed->Description());
    EXPECT_EQ("y", (*indexed)["k18"].StringValue());
    EXPECT_EQ(20, (*indexed)["k20"].IntValue());
}

// Trees in the shapes a parse builds and frees most: thousands of records of 13 members with
// strings too long to be stored inline, nesting thousands deep, and objects at and just past the
// 16 members a dictionary holds without an index. Each tree outlives the parser that made it,
// is copied and moved, and the copy stays whole after the original is gone.
TEST(KvJsonParser, TreesOutliveTheirParserThroughCopiesAndMoves) {
    const int kRecords = 3000;
    std::string text = "[";
    for (int i = 0; i < kRecords; ++i) {
        text += i == 0 ? "{" : ",{";
        text += "\"id\":" + std::to_string(i) + ",\"title\":\"a title long enough to be apart " +
                std::to_string(i) + "\",\"url\":\"/t/" + std::to_string(i) +
                "\",\"a\":1,\"b\":2,\"c\":3,\"d\":4,\"e\":5,\"f\":6,\"g\":null,\"h\":true,"
                "\"tags\":[\"x\",\"" +
                std::string(40, 'y') + "\"],\"meta\":{\"w\":" + std::to_string(2 * i) +
                ",\"lang\":{\"sub\":[\"en\"]}}}";
    }
    text += "]";
    std::optional<Value> copy;
    std::optional<Value> moved;
    {
        std::optional<Value> parsed;
        {
            KvJsonParser parser;
            parsed = parser.objectWithString(text);
        }
        ASSERT_TRUE(parsed);
        copy = *parsed;
        moved = std::move(*parsed);
    }
    for (const std::optional<Value>* tree : {&copy, &moved}) {
        const Value& records = **tree;
        ASSERT_EQ(size_t(kRecords), records.Count());
        for (int i = 0; i < kRecords; ++i) {
            const Value& record = records[size_t(i)];
            ASSERT_EQ(13u, record.Count()) << i;
            EXPECT_EQ(i, record["id"].IntValue());
            EXPECT_EQ("a title long enough to be apart " + std::to_string(i),
                      record["title"].StringValue());
            EXPECT_EQ("/t/" + std::to_string(i), record["url"].StringValue());
            EXPECT_EQ(std::string(40, 'y'), record["tags"][1].StringValue());
            EXPECT_EQ(2 * i, record["meta"]["w"].IntValue());
            EXPECT_EQ("en", record["meta"]["lang"]["sub"][0].StringValue());
            EXPECT_TRUE(record.Find("g") != nullptr && record["g"].IsNull());
        }
    }
    moved.reset();
    EXPECT_EQ("a title long enough to be apart 2999", (*copy)[2999]["title"].StringValue());

    // 2,000 levels of arrays and of objects, each holding one long string at the bottom.
    const int kDepth = 2000;
    const std::string bottom = "\"" + std::string(30, 'z') + "\"";
    const std::string arrays = std::string(kDepth, '[') + bottom + std::string(kDepth, ']');
    std::string objects;
    for (int i = 0; i < kDepth; ++i) {
        objects += "{\"n\":";
    }
    objects += bottom + std::string(kDepth, '}');
    for (const std::string& deep : std::vector<std::string>{arrays, objects}) {
        std::optional<Value> kept;
        {
            KvJsonParser parser;
            parser.setMaxDepth(kDepth);
            kept = parser.objectWithString(deep);
            ASSERT_TRUE(kept) << parser.error();
        }
        const Value* at = &*kept;
        for (int level = 0; level < kDepth; ++level) {
            ASSERT_EQ(1u, at->Count()) << level;
            at = at->IsArray() ? &(*at)[0] : at->Find("n");
        }
        EXPECT_EQ(std::string(30, 'z'), at->StringValue());
    }

    // Objects of 15, 16 and 17 members, then one more set and one replaced: every key is
    // still found, the new one last.
    for (int members : {15, 16, 17}) {
        std::string object = "{";
        for (int i = 0; i < members; ++i) {
            object += (i == 0 ? "\"k" : ",\"k") + std::to_string(i) + "\":" + std::to_string(i);
        }
        object += "}";
        KvJsonParser parser;
        std::optional<Value> value = parser.objectWithString(object);
        ASSERT_TRUE(value);
        ns::Dictionary* dictionary = value->AsDictionary();
        ASSERT_NE(nullptr, dictionary);
        dictionary->Set("extra", "last");
        dictionary->Set("k0", -1);
        ASSERT_EQ(size_t(members) + 1, dictionary->size());
        EXPECT_EQ("extra", dictionary->Keys().back());
        EXPECT_EQ(-1, (*value)["k0"].IntValue());
        for (int i = 1; i < members; ++i) {
            EXPECT_EQ(i, (*value)["k" + std::to_string(i)].IntValue()) << members;
        }
        EXPECT_EQ("last", (*value)["extra"].StringValue());
    }
}

std::vector<std::string> gLogLines;
void CaptureLog(const std::string& line) { gLogLines.push_back(line); }

TEST(KvJsonParsing, JSONValueLogsItsFailure) {
    gLogLines.clear();
    KvJsonSetLogHandler(&CaptureLog);
    EXPECT_FALSE(JSONValue(std::string("[1,")));
    EXPECT_FALSE(JSONValue(nullptr, 0));
    const char bytes[] = "{\"ok\":true}";
    const std::optional<Value> value = JSONValue(bytes, sizeof(bytes) - 1);
    KvJsonSetLogHandler(nullptr);
    ASSERT_TRUE(value);
    EXPECT_TRUE((*value)["ok"].BoolValue());
    EXPECT_EQ(gLogLines,
              (std::vector<std::string>{"-JSONValue failed. Error is: Unexpected end of input",
                                        "-JSONValue failed. Error is: Input was 'nil'"}));
}

}  // namespace
