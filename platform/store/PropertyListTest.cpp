#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <limits>
#include <string>

#include "platform/Value.h"
#include "platform/store/PropertyList.h"
#include "tests/support/TemporaryDirectory.h"

namespace {

using ns::Array;
using ns::Data;
using ns::Date;
using ns::Dictionary;
using ns::PropertyList;
using ns::Value;

Value MustParse(const std::string& xml) {
    Value value;
    std::string error;
    EXPECT_TRUE(PropertyList::Parse(xml, value, error)) << error;
    return value;
}

std::string ParseError(const std::string& xml) {
    Value value("untouched");
    std::string error;
    EXPECT_FALSE(PropertyList::Parse(xml, value, error)) << xml;
    EXPECT_EQ(value, Value("untouched")) << "a failed parse must leave the output alone";
    EXPECT_FALSE(error.empty());
    return error;
}

// Seconds since 1970 of a UTC calendar time, by the C library (an oracle independent of ours).
int64_t Utc(int year, int month, int day, int hour, int minute, int second) {
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;
    return static_cast<int64_t>(timegm(&tm));
}

// A hand-written document with every kind, comments, CDATA, character references and
// white space in the places a hand editor leaves it.
const char kGolden[] = R"(<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist SYSTEM "PropertyList-1.0.dtd">
<plist version="1.0">
<!-- configuration -->
<dict>
	<key>ZUL Address</key>
	<string>https://portal.example</string>
	<key>ZUL Search URL</key>
	<string>%@/search?q=%%@&amp;x=&lt;1&gt;</string>
	<key>Caf&#233;</key>
	<string><![CDATA[a <raw> & text]]> and more</string>
	<key>Spaces</key>
	<string>  kept  </string>
	<key>Empty</key>
	<string/>
	<key>Count</key>
	<integer> -42 </integer>
	<key>Big</key>
	<integer>18446744073709551615</integer>
	<key>Ratio</key>
	<real>0.25</real>
	<key>Exponent</key>
	<real>-1.5e3</real>
	<key>On</key>
	<true/>
	<key>Off</key>
	<false></false>
	<key>Blob</key>
	<data>
	Zm9v
	YmFy
	</data>
	<key>When</key>
	<date>2012-02-29T23:59:58Z</date>
	<key>List</key>
	<array>
		<integer>1</integer>
		<!-- a comment between elements -->
		<array/>
		<dict/>
	</array>
</dict>
</plist>
)";

TEST(PropertyList, ParsesAHandWrittenDocumentWithEveryKind) {
    const Value plist = MustParse(kGolden);
    ASSERT_TRUE(plist.IsDictionary());
    EXPECT_EQ(plist.Count(), 14u);
    EXPECT_EQ(*plist["ZUL Address"].AsString(), "https://portal.example");
    EXPECT_EQ(*plist["ZUL Search URL"].AsString(), "%@/search?q=%%@&x=<1>");
    // &#233; is U+00E9, C3 A9 in UTF-8.
    EXPECT_TRUE(plist.Find("Caf\xC3\xA9") != nullptr);
    EXPECT_EQ(*plist["Caf\xC3\xA9"].AsString(), "a <raw> & text and more");
    EXPECT_EQ(*plist["Spaces"].AsString(), "  kept  ");
    EXPECT_EQ(*plist["Empty"].AsString(), "");
    EXPECT_EQ(*plist["Count"].AsInt(), -42);
    EXPECT_EQ(*plist["Big"].AsUInt(), std::numeric_limits<uint64_t>::max());
    EXPECT_EQ(*plist["Ratio"].AsDouble(), 0.25);
    EXPECT_EQ(*plist["Exponent"].AsDouble(), -1500.0);
    EXPECT_EQ(*plist["On"].AsBool(), true);
    EXPECT_EQ(*plist["Off"].AsBool(), false);
    EXPECT_EQ(*plist["Blob"].AsData(), Data(std::string_view("foobar")));
    // 2012 is a leap year; the C library's timegm is the oracle.
    EXPECT_EQ(plist["When"].AsDate()->SecondsSince1970(), Utc(2012, 2, 29, 23, 59, 58));
    const Value& list = plist["List"];
    ASSERT_EQ(list.Count(), 3u);
    EXPECT_EQ(*list[0].AsInt(), 1);
    EXPECT_TRUE(list[1].IsArray());
    EXPECT_EQ(list[1].Count(), 0u);
    EXPECT_TRUE(list[2].IsDictionary());
    // Keys keep the document's order.
    EXPECT_EQ(plist.AsDictionary()->Keys().front(), "ZUL Address");
    EXPECT_EQ(plist.AsDictionary()->Keys().back(), "List");
}

TEST(PropertyList, AcceptsAValueAsRootAndBase64WithAndWithoutPadding) {
    EXPECT_EQ(MustParse("<string>bare</string>"), Value("bare"));
    // RFC 4648 test vectors.
    const std::pair<const char*, const char*> vectors[] = {{"", ""},
                                                           {"Zg==", "f"},
                                                           {"Zm8=", "fo"},
                                                           {"Zm9v", "foo"},
                                                           {"Zm9vYg==", "foob"},
                                                           {"Zm9vYmE=", "fooba"},
                                                           {"Zm9vYmFy", "foobar"},
                                                           {"Zm9vYg", "foob"}};  // padding left out
    for (const auto& [base64, bytes] : vectors) {
        const Value value = MustParse(std::string("<plist><data>") + base64 + "</data></plist>");
        ASSERT_TRUE(value.IsData()) << base64;
        EXPECT_EQ(*value.AsData(), Data(std::string_view(bytes))) << base64;
    }
}

TEST(PropertyList, RefusesMalformedDocumentsWithAReason) {
    EXPECT_NE(ParseError("<plist><dict>").find("line"), std::string::npos);
    ParseError("");
    ParseError("<plist/>");
    ParseError("<plist><string/><string/></plist>");
    ParseError("<plist><bogus/></plist>");
    ParseError("<plist><key>k</key></plist>");
    EXPECT_NE(ParseError("<dict><key>lonely</key></dict>").find("lonely"), std::string::npos);
    ParseError("<dict><string>no key</string><string>v</string></dict>");
    ParseError("<dict><key>a</key><key>b</key></dict>");
    ParseError("<dict>stray text<key>a</key><true/></dict>");
    ParseError("<array><string>a</string>text</array>");
    ParseError("<string>a<b/></string>");
    ParseError("<true>yes</true>");
    // Integers: empty, not decimal, beyond 64 bits either way.
    ParseError("<integer></integer>");
    ParseError("<integer>12a</integer>");
    ParseError("<integer>0x10</integer>");
    ParseError("<integer>- 1</integer>");
    ParseError("<integer>18446744073709551616</integer>");
    ParseError("<integer>-9223372036854775809</integer>");
    EXPECT_EQ(*MustParse("<integer>-9223372036854775808</integer>").AsInt(),
              std::numeric_limits<int64_t>::min());
    ParseError("<real>1.5x</real>");
    ParseError("<real></real>");
    // Base64: a character outside the alphabet, a lone digit, data after padding.
    ParseError("<data>Zm9v!</data>");
    ParseError("<data>Zm9vY</data>");
    ParseError("<data>Zg==Zg==</data>");
    ParseError("<data>Zg=</data>");
    // Dates: no 30 February, no hour 24, no offsets, no missing Z.
    ParseError("<date>2023-02-29T00:00:00Z</date>");
    ParseError("<date>2024-02-30T00:00:00Z</date>");
    ParseError("<date>2024-01-01T24:00:00Z</date>");
    ParseError("<date>2024-01-01T00:00:00+01:00</date>");
    ParseError("<date>2024-01-01T00:00:00</date>");
    ParseError("<date>0000-01-01T00:00:00Z</date>");
    // Too large to try.
    ParseError(std::string(PropertyList::kMaxDocumentSize + 1, ' '));
}

TEST(PropertyList, ReadsRealsInAnyLocaleAndTheSpecialValues) {
    EXPECT_EQ(*MustParse("<real>+2.5</real>").AsDouble(), 2.5);
    EXPECT_TRUE(std::isnan(*MustParse("<real>nan</real>").AsDouble()));
    EXPECT_EQ(*MustParse("<real>+infinity</real>").AsDouble(),
              std::numeric_limits<double>::infinity());
    EXPECT_EQ(*MustParse("<real>-inf</real>").AsDouble(), -std::numeric_limits<double>::infinity());
    EXPECT_EQ(*MustParse("<real>1e400</real>").AsDouble(), std::numeric_limits<double>::infinity());
}

// Writing: the exact bytes, one comment per line of the expected text.
TEST(PropertyList, WritesTheGoldenText) {
    Dictionary top;
    top.Set("name", "A & <B>\r");
    top.Set("n", -7);
    top.Set("big", uint64_t{18446744073709551615u});
    top.Set("r", 0.1);
    top.Set("whole", 2.0);
    top.Set("yes", true);
    top.Set("bytes", Data(std::string_view("fo")));
    top.Set("at", Date(Utc(2001, 1, 1, 0, 0, 0)));
    top.Set("list", Array{Array{}, Dictionary{}, false});
    std::string text;
    std::string error;
    ASSERT_TRUE(PropertyList::Serialize(Value(std::move(top)), text, error)) << error;
    const std::string expected =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"  // declaration
        "<plist version=\"1.0\">\n"                     // root element
        "<dict>\n"                                      // top value, not indented
        "\t<key>name</key>\n"                           // members one tab in
        "\t<string>A &amp; &lt;B&gt;&#13;</string>\n"   // markup escaped, CR as a reference
        "\t<key>n</key>\n"                              //
        "\t<integer>-7</integer>\n"                     // signed integer
        "\t<key>big</key>\n"                            //
        "\t<integer>18446744073709551615</integer>\n"   // 2^64 - 1 as unsigned
        "\t<key>r</key>\n"                              //
        "\t<real>0.1</real>\n"                          // shortest text that reads back exactly
        "\t<key>whole</key>\n"                          //
        "\t<real>2</real>\n"                            // a whole real without a point
        "\t<key>yes</key>\n"                            //
        "\t<true/>\n"                                   // boolean as an empty element
        "\t<key>bytes</key>\n"                          //
        "\t<data>Zm8=</data>\n"                         // "fo" in base64, padded
        "\t<key>at</key>\n"                             //
        "\t<date>2001-01-01T00:00:00Z</date>\n"         // UTC, whole seconds
        "\t<key>list</key>\n"                           //
        "\t<array>\n"                                   // nested container
        "\t\t<array/>\n"                                // empty containers self-closed
        "\t\t<dict/>\n"                                 //
        "\t\t<false/>\n"                                //
        "\t</array>\n"                                  //
        "</dict>\n"                                     //
        "</plist>\n";                                   // end, with a final line feed
    EXPECT_EQ(text, expected);
}

TEST(PropertyList, RoundTripsEveryKindAndTrickyText) {
    Dictionary top;
    top.Set("crlf\r\nkey", "line\r\nbreaks\rand\ttabs\n");
    top.Set("markup", "]]> <![CDATA[ &amp; <!-- -->");
    top.Set("unicode", "\xC5\xBC\xC3\xB3\xC5\x82w \xF0\x9F\x8E\xAC \xEF\xBF\xBD");
    top.Set("spaces", "  both ends  ");
    top.Set("", "empty key");
    top.Set("min", std::numeric_limits<int64_t>::min());
    top.Set("max", std::numeric_limits<uint64_t>::max());
    top.Set("reals", Array{0.1, -0.0, 1e300, 4.9e-324, -1.7976931348623157e308,
                           std::numeric_limits<double>::infinity()});
    Array blobs;
    std::string bytes;
    for (int n = 0; n < 6; ++n) {
        blobs.push_back(Data(std::string_view(bytes)));
        bytes += static_cast<char>(0xFF - n * 51);  // high and low bytes, NUL included
    }
    top.Set("blobs", std::move(blobs));
    top.Set("dates",
            Array{Date(-1), Date(Utc(1, 1, 1, 0, 0, 0)), Date(Utc(9999, 12, 31, 23, 59, 59))});
    Value nested = Array{};
    for (int i = 0; i < 50; ++i) {
        nested = Array{std::move(nested), i};
    }
    top.Set("nested", std::move(nested));
    const Value original(std::move(top));

    std::string text;
    std::string error;
    ASSERT_TRUE(PropertyList::Serialize(original, text, error)) << error;
    const Value back = MustParse(text);
    EXPECT_EQ(back, original) << text;
    // Kinds survive too, not only values that compare equal.
    EXPECT_TRUE(back["min"].AsInt() != nullptr);
    EXPECT_TRUE(back["max"].AsUInt() != nullptr);
    EXPECT_TRUE(std::signbit(*back["reals"][1].AsDouble()));
    EXPECT_EQ(back["dates"][0].AsDate()->ToISO8601(), "1969-12-31T23:59:59Z");
}

TEST(PropertyList, RefusesToWriteWhatCannotBeReadBack) {
    std::string text = "kept";
    std::string error;
    Dictionary withNull;
    withNull.Set("a", Array{1, nullptr});
    EXPECT_FALSE(PropertyList::Serialize(Value(std::move(withNull)), text, error));
    EXPECT_NE(error.find("[\"a\"][1]"), std::string::npos) << error;
    EXPECT_EQ(text, "kept");
    EXPECT_FALSE(PropertyList::Serialize(Value("bad \xC3"), text, error));          // cut UTF-8
    EXPECT_FALSE(PropertyList::Serialize(Value("over \xC0\xAF"), text, error));     // overlong
    EXPECT_FALSE(PropertyList::Serialize(Value("sur \xED\xA0\x80"), text, error));  // surrogate
    EXPECT_FALSE(PropertyList::Serialize(Value(std::string("nul \0", 5)), text, error));
    EXPECT_FALSE(PropertyList::Serialize(Value("bell \a"), text, error));
    EXPECT_FALSE(PropertyList::Serialize(Value(Date(Utc(1, 1, 1, 0, 0, 0) - 1)), text, error));
    Value deep = 1;
    for (size_t i = 0; i <= PropertyList::kMaxDepth + 1; ++i) {
        deep = Array{std::move(deep)};
    }
    EXPECT_FALSE(PropertyList::Serialize(deep, text, error));
    EXPECT_EQ(text, "kept");
}

// Watches a file for any open or read while `action` runs; answers the events seen.
template <typename Action>
uint32_t FileEventsDuring(const std::string& path, Action action) {
    const int fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    EXPECT_GE(fd, 0);
    EXPECT_GE(inotify_add_watch(fd, path.c_str(), IN_OPEN | IN_ACCESS), 0);
    action();
    uint32_t events = 0;
    alignas(inotify_event) char buffer[4096];
    ssize_t n;
    while ((n = read(fd, buffer, sizeof(buffer))) > 0) {
        for (char* p = buffer; p < buffer + n;) {
            auto* event = reinterpret_cast<inotify_event*>(p);
            events |= event->mask;
            p += sizeof(inotify_event) + event->len;
        }
    }
    close(fd);
    return events;
}

class PropertyListFiles : public ::testing::Test {
protected:
    std::string Write(const std::string& name, const std::string& text) {
        const std::string path = folder_ + "/" + name;
        std::ofstream(path) << text;
        return path;
    }
    SvTestSupport::TemporaryDirectory directory_{"plist-test-"};
    const std::string folder_ = directory_.Path();
};

TEST_F(PropertyListFiles, NeverLoadsExternalEntitiesOrDtds) {
    const std::string secret = Write("secret.txt", "TOP-SECRET-42");
    const std::string dtd = Write("outside.dtd", "<!ENTITY fromdtd \"DTD-TEXT\">");
    // An external entity on a local file, referenced in a value.
    const std::string entity =
        "<?xml version=\"1.0\"?>\n<!DOCTYPE plist [\n"
        "<!ENTITY secret SYSTEM \"file://" +
        secret +
        "\">\n]>\n"
        "<plist><string>&secret;</string></plist>\n";
    std::string error;
    const uint32_t secretEvents = FileEventsDuring(secret, [&] {
        Value value;
        const bool ok = PropertyList::Parse(entity, value, error);
        EXPECT_FALSE(ok) << value.Description();
        EXPECT_EQ(value.Description().find("TOP-SECRET"), std::string::npos);
    });
    EXPECT_EQ(secretEvents, 0u) << "the entity's file was opened";
    EXPECT_NE(error.find("secret"), std::string::npos) << error;
    EXPECT_EQ(error.find("TOP-SECRET"), std::string::npos) << error;

    // An external DTD is not read either; the document still parses.
    const std::string external = "<!DOCTYPE plist SYSTEM \"file://" + dtd +
                                 "\">\n"
                                 "<plist><string>plain</string></plist>";
    const uint32_t dtdEvents =
        FileEventsDuring(dtd, [&] { EXPECT_EQ(MustParse(external), Value("plain")); });
    EXPECT_EQ(dtdEvents, 0u) << "the DTD was opened";
}

TEST(PropertyList, RefusesInternalEntitiesWithoutExpandingThem) {
    // The classic amplification: ten levels of ten references.
    std::string bomb = "<!DOCTYPE plist [\n<!ENTITY e0 \"lol\">\n";
    for (int i = 1; i < 10; ++i) {
        bomb += "<!ENTITY e" + std::to_string(i) + " \"";
        for (int j = 0; j < 10; ++j) bomb += "&e" + std::to_string(i - 1) + ";";
        bomb += "\">\n";
    }
    bomb += "]>\n<plist><string>&e9;</string></plist>";
    ParseError(bomb);
    ParseError("<!DOCTYPE plist [<!ENTITY x \"text\">]><plist><string>&x;</string></plist>");
    // Declared but unused entities do no harm.
    EXPECT_EQ(MustParse("<!DOCTYPE plist [<!ENTITY x \"y\">]><plist><true/></plist>"), Value(true));
}

TEST(PropertyList, ExpandsCharacterReferences) {
    // Decimal and hexadecimal references, one of them outside the BMP: U+1F600 is F0 9F 98 80
    // in UTF-8.
    EXPECT_EQ(MustParse("<plist><string>&#65;&#x42;&#13;&#x1F600;</string></plist>"),
              Value(std::string("AB\r\xF0\x9F\x98\x80")));
    // A reference to a character XML cannot carry is still an error.
    ParseError("<plist><string>&#0;</string></plist>");
}

TEST_F(PropertyListFiles, WritesFilesWithTheModeAndReadsThemBack) {
    const std::string path = folder_ + "/out.plist";
    Dictionary top;
    top.Set("k", "v");
    std::string error;
    ASSERT_TRUE(PropertyList::WriteFile(path, Value(top), 0600, error)) << error;
    struct stat status {};
    ASSERT_EQ(stat(path.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0600u);
    Value back;
    ASSERT_TRUE(PropertyList::ReadFile(path, back, error)) << error;
    EXPECT_EQ(back, Value(top));

    // A failed write (null inside) leaves the old file whole, and no temporary file behind.
    top.Set("bad", nullptr);
    EXPECT_FALSE(PropertyList::WriteFile(path, Value(top), 0600, error));
    ASSERT_TRUE(PropertyList::ReadFile(path, back, error)) << error;
    EXPECT_EQ(*back["k"].AsString(), "v");
    EXPECT_TRUE(back.Find("bad") == nullptr);

    bool missing = false;
    EXPECT_FALSE(PropertyList::ReadFile(folder_ + "/none.plist", back, error, &missing));
    EXPECT_TRUE(missing);
    EXPECT_FALSE(PropertyList::ReadFile(Write("junk.plist", "<plist>"), back, error, &missing));
    EXPECT_FALSE(missing);
    EXPECT_NE(error.find("junk.plist"), std::string::npos) << error;
}

}  // namespace
