#include <gtest/gtest.h>

#include <string>

#include "SVLibrary/Path/Path.h"
#include "SVLibrary/Path/Url.h"

namespace {

std::string Bool(bool value) { return value ? "true" : "false"; }

// Runs one path or URL operation by name; bool results read "true"/"false", and the query
// lookup reports its found flag after a '|'.
std::string Apply(const std::string& op, const std::string& a, const std::string& b) {
    if (op == "JoinPath") return SV::JoinPath(a, b);
    if (op == "GetDirectoryPart") return SV::GetDirectoryPart(a);
    if (op == "GetFileExtension") return SV::GetFileExtension(a);
    if (op == "RemoveFileExtension") return SV::RemoveFileExtension(a);
    if (op == "IsAbsolutePath") return Bool(SV::IsAbsolutePath(a));
    if (op == "IsUrl") return Bool(SV::IsUrl(a));
    if (op == "GetUrlScheme") return SV::GetUrlScheme(a);
    if (op == "GetUrlFileName") return SV::GetUrlFileName(a);
    if (op == "GetUrlBase") return SV::GetUrlBase(a);
    if (op == "AppendUrlPath") return SV::AppendUrlPath(a, b);
    if (op == "PercentEncode") return SV::PercentEncode(a);
    if (op == "PercentDecode") return SV::PercentDecode(a);
    if (op == "GetUrlQueryParameter") {
        bool found = true;
        std::string value = SV::GetUrlQueryParameter(a, b, &found);
        return value + "|" + Bool(found);
    }
    if (op == "ParseUrl") {  // the four offsets: scheme end, path, query, fragment
        size_t s = 99, p = 99, q = 99, f = 99;
        if (!SV::ParseUrl(a, &s, &p, &q, &f)) return "not a URL";
        return std::to_string(s) + " " + std::to_string(p) + " " + std::to_string(q) + " " +
               std::to_string(f);
    }
    ADD_FAILURE() << "unknown operation " << op;
    return "";
}

struct Case {
    const char* op;
    std::string a;
    std::string b;
    std::string expected;
};

TEST(PathAndUrl, Table) {
    const Case cases[] = {
        // Joining adds exactly one '/' only when neither side has one, and never doubles it.
        {"JoinPath", "dir", "file", "dir/file"},
        {"JoinPath", "dir/", "file", "dir/file"},
        {"JoinPath", "dir", "/file", "dir/file"},
        {"JoinPath", "dir/", "/file", "dir//file"},
        {"JoinPath", "", "file", "file"},
        {"JoinPath", "dir", "", "dir"},
        {"GetDirectoryPart", "/file", "", ""},
        {"GetDirectoryPart", "a/b/c", "", "a/b"},
        {"GetDirectoryPart", "file", "", ""},
        {"GetDirectoryPart", "", "", ""},
        // A '.' in a directory name is not an extension.
        {"GetFileExtension", "a.b/c", "", ""},
        {"GetFileExtension", "a/b.c.d", "", "d"},
        {"GetFileExtension", "name.", "", ""},
        {"GetFileExtension", "", "", ""},
        {"RemoveFileExtension", "a.b/c", "", "a.b/c"},
        {"RemoveFileExtension", "a/b.c.d", "", "a/b.c"},
        {"RemoveFileExtension", "", "", ""},
        {"IsAbsolutePath", "/x", "", "true"},
        {"IsAbsolutePath", "x/", "", "false"},
        {"IsAbsolutePath", "", "", "false"},

        // What is a URL: letter first, scheme characters, then "://".
        {"IsUrl", "1x://h", "", "false"},
        {"IsUrl", ":x", "", "false"},
        {"IsUrl", "x:h", "", "false"},
        {"IsUrl", "x:/h", "", "false"},
        {"IsUrl", "file:/x", "", "false"},
        {"IsUrl", "mailto:x", "", "false"},
        {"IsUrl", "x:", "", "false"},
        {"IsUrl", "x_y://h", "", "false"},
        {"IsUrl", "file:///x", "", "true"},
        {"IsUrl", "a+b.c-d://h", "", "true"},
        {"IsUrl", "x://", "", "true"},
        {"GetUrlScheme", "ABC://Host/Path", "", "abc"},
        {"GetUrlScheme", "file.mp4", "", ""},

        // Offsets: scheme end, path start, query start, fragment start.
        {"ParseUrl", "x://h/dir/name%20x.ts?a=1#f", "", "2 5 21 25"},
        {"ParseUrl", "x://h?k=1", "", "2 5 5 9"},
        {"ParseUrl", "x://h#a?b", "", "2 5 5 5"},
        {"ParseUrl", "x://", "", "2 4 4 4"},
        {"ParseUrl", "x:h", "", "not a URL"},

        {"GetUrlFileName", "x://h/dir/name%20x.ts?a=1#f", "", "name x.ts"},
        {"GetUrlBase", "x://h/dir/name%20x.ts?a=1#f", "", "x://h/dir"},
        {"GetUrlQueryParameter", "x://h/dir/name%20x.ts?a=1#f", "a", "1|true"},
        {"GetUrlQueryParameter", "x://h/dir/name%20x.ts?a=1#f", "b", "|false"},
        {"GetUrlFileName", "x://h?k=1", "", ""},
        {"GetUrlBase", "x://h?k=1", "", "x://h"},
        {"GetUrlFileName", "x://h/", "", ""},
        {"GetUrlBase", "x://h/", "", "x://h"},
        // A '/' in the query counts neither for the file name nor for the base.
        {"GetUrlFileName", "x://h/a?p=/y", "", "a"},
        {"GetUrlBase", "x://h/a?p=/y", "", "x://h"},
        {"GetUrlFileName", "not a url/x.ts", "", ""},
        {"GetUrlBase", "x:/h/a", "", ""},

        // Query parameters: first of repeated keys, key without '=', decoding, case, fragment.
        {"GetUrlQueryParameter", "x://h/f?a=1&a=2", "a", "1|true"},
        {"GetUrlQueryParameter", "x://h/f?a&b=2", "a", "|true"},
        {"GetUrlQueryParameter", "x://h/f?a=1&b=x%20y", "b", "x y|true"},
        {"GetUrlQueryParameter", "x://h/f?A=1", "a", "|false"},
        {"GetUrlQueryParameter", "x://h/f?a=1#b=2", "b", "|false"},
        {"GetUrlQueryParameter", "x://h/f?a=1=2&b", "a", "1=2|true"},
        {"GetUrlQueryParameter", "x://h/f?&&c=3", "c", "3|true"},
        {"GetUrlQueryParameter", "x://h/f?", "", "|true"},
        {"GetUrlQueryParameter", "x://h/f", "", "|false"},
        {"GetUrlQueryParameter", "file.ts?a=1", "a", "|false"},

        // Appending percent-encodes the whole relative path and keeps query and fragment.
        {"AppendUrlPath", "x://h", "x y", "x://h/x%20y"},
        {"AppendUrlPath", "x://h/d/?q=1", "f", "x://h/d/f?q=1"},
        {"AppendUrlPath", "x://h/d/", "a/b.ts", "x://h/d/a%2Fb.ts"},
        {"AppendUrlPath", "x://h/d#frag", "f", "x://h/d/f#frag"},
        {"AppendUrlPath", "dir/", "f", ""},

        {"PercentEncode", "a b/c~", "", "a%20b%2Fc~"},
        {"PercentEncode", "\xE9", "", "%E9"},
        {"PercentEncode", "AZaz09-._", "", "AZaz09-._"},
        {"PercentEncode", std::string("a\0b", 3), "", "a"},
        {"PercentDecode", "%41%4a%4A", "", "AJJ"},
        {"PercentDecode", "100%", "", "100"},
        {"PercentDecode", "%4", "", ""},
        {"PercentDecode", "a+b", "", "a+b"},
        {"PercentDecode", "%e9%2f", "", "\xE9/"},
        {"PercentDecode", std::string("%41\0%42", 7), "", "A"},
        // Not hex digits: the escape stands as written (no byte made up from the letters).
        {"PercentDecode", "%zz.ts", "", "%zz.ts"},
        {"GetUrlFileName", "x://h/d/a%4g%41.ts?q", "", "a%4gA.ts"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Apply(c.op, c.a, c.b), c.expected)
            << c.op << "('" << c.a << "', '" << c.b << "')";
    }
}

// The offsets asked for are written; the others are left alone.
TEST(PathAndUrl, ParseUrlWritesOnlyTheOffsetsAskedFor) {
    size_t query = 0;
    ASSERT_TRUE(SV::ParseUrl("http://host/p?q", nullptr, nullptr, &query, nullptr));
    EXPECT_EQ(query, 13u);
    size_t untouched = 77;
    EXPECT_FALSE(SV::ParseUrl("http:/host", &untouched, &untouched, &untouched, &untouched));
    EXPECT_EQ(untouched, 77u);
}

}  // namespace
