#include "platform/store/XMLParser.h"

#include <fcntl.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <libxml/xmlerror.h>

#include "tests/support/TemporaryDirectory.h"

namespace {

using ns::XMLParser;

// Writes every event as one line; consecutive character pieces are joined into one "text:"
// line so the expectations do not depend on where libxml2 cuts text, and the pieces are kept
// apart as well for the tests that care.
class Recorder : public XMLParser::Delegate {
public:
    void DidStartDocument(XMLParser&) override { Add("begin"); }
    void DidEndDocument(XMLParser&) override { Add("end"); }
    void DidStartElement(XMLParser& parser, const std::string& name,
                         const std::vector<XMLParser::Attribute>& attributes) override {
        std::string line = "<" + name;
        for (const auto& a : attributes) line += " " + a.name + "=[" + a.value + "]";
        Add(line + ">");
        if (name == abortAt) parser.Abort();
    }
    void DidEndElement(XMLParser&, const std::string& name) override { Add("</" + name + ">"); }
    void FoundCharacters(XMLParser&, std::string_view text) override {
        pieces.emplace_back(text);
        if (!events.empty() && events.back().rfind("text:", 0) == 0) {
            events.back().append(text);
        } else {
            events.push_back("text:" + std::string(text));
        }
    }
    void ParseErrorOccurred(XMLParser&, const XMLParser::Error& /*error*/) override {
        ++errors;
        Add("error");
    }

    // All character data joined.
    std::string Text() const {
        std::string all;
        for (const auto& p : pieces) all += p;
        return all;
    }

    std::vector<std::string> events;
    std::vector<std::string> pieces;
    int errors = 0;
    std::string abortAt;

private:
    void Add(std::string line) { events.push_back(std::move(line)); }
};

// True when text is a run of whole UTF-8 sequences.
bool WholeUtf8(std::string_view text) {
    size_t i = 0;
    while (i < text.size()) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        const size_t n = c < 0x80         ? 1
                         : (c >> 5) == 6  ? 2
                         : (c >> 4) == 14 ? 3
                         : (c >> 3) == 30 ? 4
                                          : 0;
        if (n == 0 || i + n > text.size()) return false;
        for (size_t k = 1; k < n; ++k) {
            if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return false;
        }
        i += n;
    }
    return true;
}

TEST(XMLParserTest, NamesKeepTheirPrefixesAndAttributesKeepTheirOrder) {
    const std::string doc =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<tt:tt xmlns:tt=\"http://www.w3.org/ns/ttml\" xml:lang=\"de\">"
        "<tt:p end=\"00:00:07\" begin=\"00:00:05\" tts:color='white'>Hallo<br/>Welt</tt:p>"
        "</tt:tt>";
    Recorder r;
    XMLParser parser(r);
    ASSERT_TRUE(parser.Parse(doc)) << parser.LastError().message;
    const std::vector<std::string> expected = {
        "begin",
        // The namespace declaration is an ordinary attribute here, in its written place.
        "<tt:tt xmlns:tt=[http://www.w3.org/ns/ttml] xml:lang=[de]>",
        // Written order, not sorted: end before begin.
        "<tt:p end=[00:00:07] begin=[00:00:05] tts:color=[white]>",
        "text:Hallo",
        "<br>",
        "</br>",
        "text:Welt",
        "</tt:p>",
        "</tt:tt>",
        "end",
    };
    EXPECT_EQ(expected, r.events);
    EXPECT_EQ(0, r.errors);
    EXPECT_FALSE(parser.Failed());
}

TEST(XMLParserTest, ReferencesSplitAcrossChunksArriveWhole) {
    // "&amp;", a decimal and a hexadecimal character reference (two and four UTF-8 bytes), a
    // literal three-byte character and references inside an attribute value.
    const std::string doc =
        "<p a=\"x&lt;&#233;\">a&amp;b&#233;c&#x1F600;d\xE2\x82\xAC"
        "e</p>";
    const std::string expectedText =
        "a&b\xC3\xA9"
        "c\xF0\x9F\x98\x80"
        "d\xE2\x82\xAC"
        "e";
    for (size_t cut = 0; cut <= doc.size(); ++cut) {
        Recorder r;
        XMLParser parser(r);
        ASSERT_TRUE(parser.Feed(doc.substr(0, cut)));
        ASSERT_TRUE(parser.Feed(doc.substr(cut)));
        ASSERT_TRUE(parser.Finish()) << "cut at " << cut << ": " << parser.LastError().message;
        EXPECT_EQ(expectedText, r.Text()) << "cut at " << cut;
        ASSERT_GE(r.events.size(), 2u);
        EXPECT_EQ("<p a=[x<\xC3\xA9]>", r.events[1]) << "cut at " << cut;
        for (const auto& piece : r.pieces) EXPECT_TRUE(WholeUtf8(piece)) << "cut at " << cut;
    }
    // One byte at a time.
    Recorder r;
    XMLParser parser(r);
    for (char c : doc) ASSERT_TRUE(parser.Feed(&c, 1));
    ASSERT_TRUE(parser.Finish());
    EXPECT_EQ(expectedText, r.Text());
}

TEST(XMLParserTest, LongTextMayComeInPiecesThatJoinToTheWholeText) {
    std::string text;
    for (int i = 0; i < 20000; ++i) text += "line " + std::to_string(i) + " &amp; more\n";
    std::string expected;
    for (int i = 0; i < 20000; ++i) expected += "line " + std::to_string(i) + " & more\n";
    const std::string doc = "<r><![CDATA[<raw>]]>" + text + "</r>";
    Recorder r;
    XMLParser parser(r);
    for (size_t at = 0; at < doc.size(); at += 4093) {
        ASSERT_TRUE(parser.Feed(doc.substr(at, 4093)));
    }
    ASSERT_TRUE(parser.Finish());
    // CDATA content comes through as character data, untouched.
    EXPECT_EQ("<raw>" + expected, r.Text());
    EXPECT_GT(r.pieces.size(), 1u);
}

TEST(XMLParserTest, DeclaredEncodingIsDeliveredAsUtf8) {
    // "Gr\xFC\xDF" is "Gruss" with u-umlaut and sharp s in ISO 8859-1.
    const std::string doc = "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><p>Gr\xFC\xDF</p>";
    Recorder r;
    XMLParser parser(r);
    ASSERT_TRUE(parser.Parse(doc)) << parser.LastError().message;
    EXPECT_EQ("Gr\xC3\xBC\xC3\x9F", r.Text());
}

// Watches a file for being opened or read.
class AccessWatch {
public:
    explicit AccessWatch(const std::string& path) {
        fd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (fd_ >= 0) inotify_add_watch(fd_, path.c_str(), IN_OPEN | IN_ACCESS);
    }
    ~AccessWatch() {
        if (fd_ >= 0) close(fd_);
    }
    bool Ok() const { return fd_ >= 0; }
    // Number of open/read events since the last call.
    int Events() {
        char buffer[4096];
        int count = 0;
        ssize_t n;
        while ((n = read(fd_, buffer, sizeof buffer)) > 0) {
            for (char* p = buffer; p < buffer + n;) {
                auto* e = reinterpret_cast<inotify_event*>(p);
                ++count;
                p += sizeof(inotify_event) + e->len;
            }
        }
        return count;
    }

private:
    int fd_ = -1;
};

TEST(XMLParserTest, ExternalEntitiesAndDtdsAreNeverLoaded) {
    SvTestSupport::TemporaryDirectory dir("xmlparser-");
    const std::string secretPath = dir.File("secret.txt");
    const std::string secret = "TOP-SECRET-4711";
    std::ofstream(secretPath) << secret;
    const std::string dtdPath = dir.File("entities.dtd");
    std::ofstream(dtdPath) << "<!ENTITY leak SYSTEM \"file://" + secretPath + "\">";

    AccessWatch secretWatch(secretPath);
    AccessWatch dtdWatch(dtdPath);
    ASSERT_TRUE(secretWatch.Ok() && dtdWatch.Ok());
    // The oracle works: reading the file is seen.
    std::ifstream(secretPath).get();
    ASSERT_GT(secretWatch.Events(), 0);

    const std::string url = "file://" + secretPath;
    struct Case {
        const char* what;
        std::string doc;
        bool wellFormed;  // references to entities we do not expand are errors
    };
    const std::vector<Case> cases = {
        {"general entity", "<!DOCTYPE r [<!ENTITY xxe SYSTEM \"" + url + "\">]><r>&xxe;</r>",
         false},
        {"plain path", "<!DOCTYPE r [<!ENTITY xxe SYSTEM \"" + secretPath + "\">]><r>&xxe;</r>",
         false},
        {"public id", "<!DOCTYPE r [<!ENTITY xxe PUBLIC \"-//X//Y\" \"" + url + "\">]><r>&xxe;</r>",
         false},
        {"in attribute", "<!DOCTYPE r [<!ENTITY xxe SYSTEM \"" + url + "\">]><r a=\"&xxe;\"/>",
         false},
        {"parameter entity",
         "<!DOCTYPE r [<!ENTITY % ext SYSTEM \"file://" + dtdPath + "\"> %ext;]><r>&leak;</r>",
         false},
        {"external DTD", "<!DOCTYPE r SYSTEM \"file://" + dtdPath + "\"><r>&leak;</r>", false},
        {"external DTD unused", "<!DOCTYPE r SYSTEM \"file://" + dtdPath + "\"><r>ok</r>", true},
        {"internal entity", "<!DOCTYPE r [<!ENTITY in \"inner\">]><r>&in;</r>", false},
    };
    for (const auto& c : cases) {
        Recorder r;
        XMLParser parser(r);
        EXPECT_EQ(c.wellFormed, parser.Parse(c.doc)) << c.what;
        EXPECT_EQ(c.wellFormed ? 0 : 1, r.errors) << c.what;
        EXPECT_EQ(std::string::npos, r.Text().find(secret)) << c.what;
        EXPECT_EQ(std::string::npos, r.Text().find("inner")) << c.what;
        for (const auto& e : r.events) EXPECT_EQ(std::string::npos, e.find(secret)) << c.what;
        EXPECT_EQ(0, secretWatch.Events()) << c.what << ": the secret file was opened";
        EXPECT_EQ(0, dtdWatch.Events()) << c.what << ": the DTD was opened";
    }
}

TEST(XMLParserTest, NestedEntityDeclarationsDoNotAmplify) {
    // The classic exponential entity bomb: declarations are not kept, so nothing grows.
    std::string doc = "<!DOCTYPE r [<!ENTITY a0 \"xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx\">";
    for (int i = 1; i < 12; ++i) {
        std::string prev = "&a" + std::to_string(i - 1) + ";";
        std::string value;
        for (int k = 0; k < 10; ++k) value += prev;
        doc += "<!ENTITY a" + std::to_string(i) + " \"" + value + "\">";
    }
    doc += "]><r>&a11;</r>";
    Recorder r;
    XMLParser parser(r);
    EXPECT_FALSE(parser.Parse(doc));
    EXPECT_LT(r.Text().size(), 100u);
}

TEST(XMLParserTest, ErrorsCarryLineAndColumnAndEndTheParse) {
    Recorder r;
    XMLParser parser(r);
    // Line 3 closes <b> with </a>.
    EXPECT_FALSE(parser.Parse("<a>\n<b>text\n</a><c/></b>"));
    EXPECT_TRUE(parser.Failed());
    EXPECT_EQ(1, r.errors);
    const XMLParser::Error& e = parser.LastError();
    EXPECT_EQ(XML_ERR_TAG_NAME_MISMATCH, e.code) << e.message;
    EXPECT_EQ(3, e.line);
    EXPECT_GT(e.column, 0);
    EXPECT_FALSE(e.message.empty());
    EXPECT_NE('\n', e.message.back());
    // Nothing after the error: no <c>, no end of document.
    EXPECT_EQ("error", r.events.back());
    for (const auto& ev : r.events) EXPECT_NE("<c>", ev);
    // More input is refused.
    EXPECT_FALSE(parser.Feed("<d/>"));
    EXPECT_EQ(1, r.errors);
}

TEST(XMLParserTest, UnfinishedAndEmptyDocumentsFailAtFinish) {
    for (const std::string doc : {"", "<", "<a>", "<a><b></b>", "<?xml version=\"1.0\"?>",
                                  "<a/><b/>", "<a/>trailing", "\xFF\xFE"}) {
        Recorder r;
        XMLParser parser(r);
        parser.Feed(doc);
        EXPECT_FALSE(parser.Finish()) << "[" << doc << "]";
        EXPECT_EQ(1, r.errors) << "[" << doc << "]";
        EXPECT_NE(0, parser.LastError().code);
        for (const auto& ev : r.events) EXPECT_NE("end", ev) << "[" << doc << "]";
    }
    // A short but whole document held back for encoding detection is parsed at Finish.
    Recorder r;
    XMLParser parser(r);
    EXPECT_TRUE(parser.Feed("<a/>"));
    EXPECT_TRUE(parser.Finish());
    EXPECT_EQ((std::vector<std::string>{"begin", "<a>", "</a>", "end"}), r.events);
    EXPECT_FALSE(parser.Feed("<b/>"));  // nothing after the end
}

TEST(XMLParserTest, InputThatIsNotValidInItsEncodingFailsFedWholeOrInPieces) {
    const std::vector<std::string> docs = {
        // 0x96 is no character of UTF-7; libxml2's converter halts on it.
        "<?xml version=\"1.0\" encoding=\"UTF-7\"?>\n<a>\n<b\x96"
        "c/></a>",
        // Bytes the declared encoding cannot carry after the root element: the rest of the
        // input must not be dropped silently.
        "<?xml version=\"1.0\" encoding=\"UTF-.8\"?>\n<r/>&\xE6\xCD\xCC\xCC\xC4\xD9\xDC\x87",
        // 0xFF never appears in UTF-8.
        "<a>ok \xFF</a>",
    };
    for (const auto& doc : docs) {
        for (size_t piece : {doc.size(), size_t{1}, size_t{3}, size_t{16}}) {
            Recorder r;
            XMLParser parser(r);
            for (size_t at = 0; at < doc.size(); at += piece) parser.Feed(doc.substr(at, piece));
            EXPECT_FALSE(parser.Finish()) << doc << " in pieces of " << piece;
            EXPECT_EQ(1, r.errors) << doc << " in pieces of " << piece;
            EXPECT_NE(0, parser.LastError().code);
        }
    }
}

TEST(XMLParserTest, AbortFromACallbackStopsEverything) {
    Recorder r;
    r.abortAt = "b";
    XMLParser parser(r);
    EXPECT_FALSE(parser.Feed("<a>one<b>two</b><c/>"));
    EXPECT_FALSE(parser.Feed("</a>"));
    EXPECT_FALSE(parser.Finish());
    EXPECT_TRUE(parser.Failed());
    EXPECT_EQ(XMLParser::kAborted, parser.LastError().code);
    EXPECT_EQ(0, r.errors);  // an abort is the caller's own doing, not a parse error
    EXPECT_EQ((std::vector<std::string>{"begin", "<a>", "text:one", "<b>"}), r.events);
}

TEST(XMLParserTest, AbortBetweenFeedsStopsTheRest) {
    Recorder r;
    XMLParser parser(r);
    EXPECT_TRUE(parser.Feed("<a><b/>"));
    parser.Abort();
    EXPECT_FALSE(parser.Feed("<c/></a>"));
    EXPECT_FALSE(parser.Finish());
    for (const auto& ev : r.events) EXPECT_NE("<c>", ev);
}

}  // namespace
