#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "json/KvJsonStreamParser.h"

namespace {

// Writes every event as a short word: "{" "}" "[" "]" k:key s:string n:number b:1 b:0 null.
class Recorder : public KvJsonStreamParserDelegate {
public:
    std::string events;

    void parserFoundObjectStart(KvJsonStreamParser&) override { add("{"); }
    void parserFoundObjectKey(KvJsonStreamParser&, std::string_view key) override {
        add("k:" + std::string(key));
    }
    void parserFoundObjectEnd(KvJsonStreamParser&) override { add("}"); }
    void parserFoundArrayStart(KvJsonStreamParser&) override { add("["); }
    void parserFoundArrayEnd(KvJsonStreamParser&) override { add("]"); }
    void parserFoundBoolean(KvJsonStreamParser&, bool value) override {
        add(value ? "b:1" : "b:0");
    }
    void parserFoundNull(KvJsonStreamParser&) override { add("null"); }
    void parserFoundNumber(KvJsonStreamParser&, const ns::Value& number) override {
        add("n:" + number.StringValue());
    }
    void parserFoundString(KvJsonStreamParser&, std::string_view string) override {
        add("s:" + std::string(string));
    }

private:
    void add(const std::string& event) {
        if (!events.empty()) {
            events += ' ';
        }
        events += event;
    }
};

int Parse(KvJsonStreamParser& parser, const std::string& text) {
    return parser.parse(text.data(), text.size());
}

TEST(KvJsonStreamParser, ReportsEventsInDocumentOrder) {
    Recorder recorder;
    KvJsonStreamParser parser;
    parser.setDelegate(&recorder);
    EXPECT_EQ(Parse(parser, R"({"a":[1,"x",true,false,null,{}],"b":{"c":-2.5},"d":[]} )"),
              KvJsonStreamParserComplete);
    EXPECT_EQ(recorder.events, "{ k:a [ n:1 s:x b:1 b:0 null { } ] k:b { k:c n:-2.5 } k:d [ ] }");
}

TEST(KvJsonStreamParser, GrammarErrorsNameTheTokenAndThePlace) {
    struct Case {
        const char* json;
        const char* error;
    };
    const Case cases[] = {
        {"1 ", "Token 'number' not expected before outer-most array or object"},
        {"true", "Token 'boolean' not expected before outer-most array or object"},
        {"\"s\"", "Token 'string' not expected before outer-most array or object"},
        {"null", "Token 'null' not expected before outer-most array or object"},
        {"]", "Token 'end of array' not expected before outer-most array or object"},
        {"[1,]", "Token 'end of array' not expected as array value"},
        {"[,1]", "Token 'value separator' not expected at array start"},
        {"[1 2]", "Token 'number' not expected after array value"},
        {"[1:2]", "Token 'key-value separator' not expected after array value"},
        {"{,}", "Token 'value separator' not expected at beginning of object"},
        {"{1:2}", "Token 'number' not expected at beginning of object"},
        {"{\"a\" 1}", "Token 'number' not expected after object key"},
        {"{\"a\":}", "Token 'end of object' not expected as object value"},
        {"{\"a\":1 \"b\"}", "Token 'string' not expected after object value"},
        {"{\"a\":1,}", "Token 'end of object' not expected in place of object key"},
        {"{\"a\":1]", "Token 'end of array' not expected after object value"},
        {"[}", "Token 'end of object' not expected at array start"},
        {"[1] [2]", "Token 'start of array' not expected after outer-most array or object"},
        {"{} 1 ", "Token 'number' not expected after outer-most array or object"},
        {"[1] x", "Illegal start of token [x]"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.json);
        KvJsonStreamParser parser;
        EXPECT_EQ(Parse(parser, c.json), KvJsonStreamParserError);
        EXPECT_EQ(parser.error(), c.error);
    }
}

TEST(KvJsonStreamParser, DepthLimitCountsOpenContainers) {
    auto nested = [](int depth) {
        std::string text;
        for (int i = 0; i < depth; ++i) {
            // The innermost object is empty; the others hold the next container under "k".
            text += i % 2 ? (i + 1 < depth ? "{\"k\":" : "{") : "[";
        }
        for (int i = depth - 1; i >= 0; --i) {
            text += i % 2 ? "}" : "]";
        }
        return text;
    };
    {
        KvJsonStreamParser parser;
        EXPECT_EQ(Parse(parser, nested(32)), KvJsonStreamParserComplete) << parser.error();
    }
    {
        Recorder recorder;
        KvJsonStreamParser parser;
        parser.setDelegate(&recorder);
        EXPECT_EQ(Parse(parser, nested(33)), KvJsonStreamParserError);
        EXPECT_EQ(parser.error(), "Input depth exceeds max depth of 32");
        // The 33rd container was never reported as started.
        EXPECT_EQ(std::count(recorder.events.begin(), recorder.events.end(), '['), 16);
        EXPECT_EQ(std::count(recorder.events.begin(), recorder.events.end(), '{'), 16);
    }
    {
        KvJsonStreamParser parser;
        parser.setMaxDepth(0);
        EXPECT_EQ(Parse(parser, "[]"), KvJsonStreamParserError);
        EXPECT_EQ(parser.error(), "Input depth exceeds max depth of 0");
    }
    {
        // A huge limit costs nothing up front, and the limit still holds.
        KvJsonStreamParser parser;
        parser.setMaxDepth(size_t{1} << 40);
        EXPECT_EQ(Parse(parser, nested(1000)), KvJsonStreamParserComplete);
    }
    {
        // Opening brackets without end fail at the limit, whatever follows.
        KvJsonStreamParser parser;
        EXPECT_EQ(Parse(parser, std::string(100000, '[')), KvJsonStreamParserError);
        EXPECT_EQ(parser.error(), "Input depth exceeds max depth of 32");
    }
}

TEST(KvJsonStreamParser, WaitsForDataAndStaysInItsFinalState) {
    Recorder recorder;
    KvJsonStreamParser parser;
    parser.setDelegate(&recorder);
    EXPECT_EQ(Parse(parser, "  "), KvJsonStreamParserWaitingForData);
    EXPECT_EQ(Parse(parser, "{\"ke"), KvJsonStreamParserWaitingForData);
    EXPECT_EQ(Parse(parser, "y\": [tr"), KvJsonStreamParserWaitingForData);
    EXPECT_EQ(Parse(parser, "ue]}"), KvJsonStreamParserComplete);
    EXPECT_EQ(Parse(parser, " \n"), KvJsonStreamParserComplete);
    EXPECT_FALSE(parser.hasUnfinishedToken());
    EXPECT_EQ(recorder.events, "{ k:key [ b:1 ] }");

    // Bytes that start another token after the document leave the parser complete, but
    // with an unfinished token that the caller can see.
    EXPECT_EQ(Parse(parser, "tr"), KvJsonStreamParserComplete);
    EXPECT_TRUE(parser.hasUnfinishedToken());
    EXPECT_EQ(Parse(parser, "ue"), KvJsonStreamParserError);

    // Once in error, every later call fails at once.
    EXPECT_EQ(Parse(parser, "[]"), KvJsonStreamParserError);
    EXPECT_EQ(parser.error(), "Token 'boolean' not expected after outer-most array or object");
    EXPECT_EQ(recorder.events, "{ k:key [ b:1 ] }");
}

TEST(KvJsonStreamParser, MultipleDocumentsAreParsedInTurn) {
    Recorder recorder;
    KvJsonStreamParser parser;
    parser.setDelegate(&recorder);
    parser.setSupportMultipleDocuments(true);
    EXPECT_EQ(Parse(parser, "[1]{\"a\":2}\n[]"), KvJsonStreamParserWaitingForData);
    EXPECT_EQ(recorder.events, "[ n:1 ] { k:a n:2 } [ ]");
    EXPECT_EQ(Parse(parser, "3 "), KvJsonStreamParserError);
    EXPECT_EQ(parser.error(), "Token 'number' not expected before outer-most array or object");
}

}  // namespace
