#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <string>
#include <utility>
#include <vector>

#include "platform/net/URL.h"

namespace {

using ns::URL;

URL MustParse(const std::string& text) {
    std::optional<URL> url = URL::Parse(text);
    EXPECT_TRUE(url.has_value()) << text;
    return url.value_or(URL());
}

// RFC 3986 section 5.4: every example resolved against "http://a/b/c/d;p?q".
TEST(URLResolve, MatchesTheExamplesOfRfc3986) {
    const std::vector<std::pair<const char*, const char*>> examples = {
        // 5.4.1 normal examples
        {"g:h", "g:h"},
        {"g", "http://a/b/c/g"},
        {"./g", "http://a/b/c/g"},
        {"g/", "http://a/b/c/g/"},
        {"/g", "http://a/g"},
        {"//g", "http://g"},
        {"?y", "http://a/b/c/d;p?y"},
        {"g?y", "http://a/b/c/g?y"},
        {"#s", "http://a/b/c/d;p?q#s"},
        {"g#s", "http://a/b/c/g#s"},
        {"g?y#s", "http://a/b/c/g?y#s"},
        {";x", "http://a/b/c/;x"},
        {"g;x", "http://a/b/c/g;x"},
        {"g;x?y#s", "http://a/b/c/g;x?y#s"},
        {"", "http://a/b/c/d;p?q"},
        {".", "http://a/b/c/"},
        {"./", "http://a/b/c/"},
        {"..", "http://a/b/"},
        {"../", "http://a/b/"},
        {"../g", "http://a/b/g"},
        {"../..", "http://a/"},
        {"../../", "http://a/"},
        {"../../g", "http://a/g"},
        // 5.4.2 abnormal examples
        {"../../../g", "http://a/g"},
        {"../../../../g", "http://a/g"},
        {"/./g", "http://a/g"},
        {"/../g", "http://a/g"},
        {"g.", "http://a/b/c/g."},
        {".g", "http://a/b/c/.g"},
        {"g..", "http://a/b/c/g.."},
        {"..g", "http://a/b/c/..g"},
        {"./../g", "http://a/b/g"},
        {"./g/.", "http://a/b/c/g/"},
        {"g/./h", "http://a/b/c/g/h"},
        {"g/../h", "http://a/b/c/h"},
        {"g;x=1/./y", "http://a/b/c/g;x=1/y"},
        {"g;x=1/../y", "http://a/b/c/y"},
        {"g?y/./x", "http://a/b/c/g?y/./x"},
        {"g?y/../x", "http://a/b/c/g?y/../x"},
        {"g#s/./x", "http://a/b/c/g#s/./x"},
        {"g#s/../x", "http://a/b/c/g#s/../x"},
        {"http:g", "http:g"},  // strict parsers keep the scheme
    };
    const URL base = MustParse("http://a/b/c/d;p?q");
    for (const auto& example : examples) {
        std::optional<URL> resolved = URL::Resolve(example.first, base);
        ASSERT_TRUE(resolved.has_value()) << example.first;
        EXPECT_EQ(resolved->AbsoluteString(), example.second) << example.first;
    }
}

TEST(URLResolve, NeedsAnAbsoluteBaseAndAValidReference) {
    EXPECT_FALSE(URL::Resolve("g", MustParse("/relative/base")).has_value());
    EXPECT_FALSE(URL::Resolve("a b", MustParse("http://a/")).has_value());
    // A base with an authority and an empty path gains a "/" before a relative path.
    EXPECT_EQ(URL::Resolve("x", MustParse("http://h"))->AbsoluteString(), "http://h/x");
}

TEST(URLParse, SplitsEveryComponent) {
    const URL url = MustParse("http://user:pw@Example.COM:8080/a/b%20c/d.txt?x=1&y#frag");
    EXPECT_TRUE(url.IsAbsolute());
    EXPECT_TRUE(url.IsHTTP());
    EXPECT_EQ(url.Scheme(), "http");
    EXPECT_EQ(url.Authority(), "user:pw@Example.COM:8080");
    EXPECT_EQ(url.User(), "user");
    EXPECT_EQ(url.Password(), "pw");
    EXPECT_EQ(url.Host(), "Example.COM");
    EXPECT_EQ(url.Port(), 8080);
    EXPECT_EQ(url.PercentEncodedPath(), "/a/b%20c/d.txt");
    EXPECT_EQ(url.Path(), "/a/b c/d.txt");
    EXPECT_TRUE(url.HasQuery());
    EXPECT_EQ(url.Query(), "x=1&y");
    EXPECT_EQ(url.Fragment(), "frag");
    EXPECT_EQ(url.ResourceSpecifier(), "//user:pw@Example.COM:8080/a/b%20c/d.txt?x=1&y#frag");
    EXPECT_EQ(url.AbsoluteString(), "http://user:pw@Example.COM:8080/a/b%20c/d.txt?x=1&y#frag");
    EXPECT_EQ(url.PathComponents(), (std::vector<std::string>{"/", "a", "b c", "d.txt"}));
    EXPECT_EQ(url.LastPathComponent(), "d.txt");
    EXPECT_EQ(url.PathExtension(), "txt");
    EXPECT_EQ(url.WithoutFragment().AbsoluteString(),
              "http://user:pw@Example.COM:8080/a/b%20c/d.txt?x=1&y");
}

TEST(URLParse, HostsPortsAndSchemesWithoutAuthority) {
    const URL v6 = MustParse("http://[::1]:81/x");
    EXPECT_EQ(v6.Host(), "::1");
    EXPECT_EQ(v6.Port(), 81);
    EXPECT_EQ(MustParse("https://h/").PortOrDefault(), 443);
    EXPECT_EQ(MustParse("HTTP://h/").PortOrDefault(), 80);
    EXPECT_EQ(MustParse("http://h:/").Port(), -1);  // an empty port names none
    EXPECT_EQ(MustParse("ftp://h/").PortOrDefault(), -1);

    // The application's movie scheme: the resource specifier becomes an "http:" URL.
    const URL movie = MustParse("zulmovie://portal.example/api/play?id=7");
    EXPECT_EQ(movie.Scheme(), "zulmovie");
    EXPECT_EQ(movie.ResourceSpecifier(), "//portal.example/api/play?id=7");
    const URL mail = MustParse("mailto:someone@example.com");
    EXPECT_FALSE(mail.HasAuthority());
    EXPECT_EQ(mail.ResourceSpecifier(), "someone@example.com");

    const URL relative = MustParse("../img/a.png?v=2");
    EXPECT_FALSE(relative.IsAbsolute());
    EXPECT_EQ(relative.PathComponents(), (std::vector<std::string>{"..", "img", "a.png"}));
}

TEST(URLParse, RefusesTextThatIsNoURL) {
    for (const char* bad :
         {"http://a b/", "http://host:99999/", "http://host:12a/", "%zz", "http://h/%2", "1ab:c",
          "http://[::1/", "ht tp://h/", "http://h/\x01", "http://h/\xc3\xa9", "http://h/a#b#c",
          "http://h/a[1]", "a:b/c:d x", "http://u@[x]y/", "http://h:1:2/"}) {
        EXPECT_FALSE(URL::Parse(bad).has_value()) << bad;
    }
}

TEST(URLFile, EscapesThePathAndGivesItBack) {
    const URL url = URL::FileURL("/tmp/a b#c%d.txt");
    EXPECT_EQ(url.AbsoluteString(), "file:///tmp/a%20b%23c%25d.txt");
    EXPECT_TRUE(url.IsFileURL());
    EXPECT_EQ(url.FileSystemPath(), "/tmp/a b#c%d.txt");
    EXPECT_EQ(url.LastPathComponent(), "a b#c%d.txt");
    EXPECT_EQ(URL::FileURL("/srv/res", true).AbsoluteString(), "file:///srv/res/");
    EXPECT_EQ(MustParse("http://h/x").FileSystemPath(), "");

    char cwd[PATH_MAX];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    EXPECT_EQ(URL::FileURL("WebError.html").FileSystemPath(), std::string(cwd) + "/WebError.html");
    // A parsed file URL round-trips through AbsoluteString.
    EXPECT_EQ(MustParse(url.AbsoluteString()).FileSystemPath(), "/tmp/a b#c%d.txt");
    // "%00" would end the path at the NUL when it is opened: no path rather than another file.
    EXPECT_EQ(MustParse("file:///etc/passwd%00.png").FileSystemPath(), "");
}

TEST(URLPath, ComponentsExtensionsAndAppending) {
    EXPECT_EQ(MustParse("http://h/dir/").Path(), "/dir");
    EXPECT_EQ(MustParse("http://h/").Path(), "/");
    EXPECT_EQ(MustParse("http://h").PathComponents(), std::vector<std::string>{});
    EXPECT_EQ(MustParse("http://h").LastPathComponent(), "");
    EXPECT_EQ(MustParse("http://h/").LastPathComponent(), "/");
    EXPECT_EQ(MustParse("http://h/.profile").PathExtension(), "");
    EXPECT_EQ(MustParse("http://h/a.tar.gz").PathExtension(), "gz");
    EXPECT_EQ(MustParse("http://h/a.").PathExtension(), "");

    const URL base = MustParse("http://h/base?k=v");
    EXPECT_EQ(base.AppendingPathComponent("movies/x y").AbsoluteString(),
              "http://h/base/movies/x%20y?k=v");
    EXPECT_EQ(MustParse("http://h/base/").AppendingPathComponent("/x").AbsoluteString(),
              "http://h/base/x");
    EXPECT_EQ(MustParse("http://h").AppendingPathComponent("x").AbsoluteString(), "http://h/x");
    EXPECT_EQ(URL::RemoveDotSegments("/a/b/c/./../../g"), "/a/g");
    EXPECT_EQ(URL::RemoveDotSegments("mid/content=5/../6"), "mid/6");
}

// Random texts over the characters that matter to the grammar: whatever parses must print back
// as it was written, and whatever a resolution yields must parse again to itself.
TEST(URLParse, RandomTextsRoundTrip) {
    const std::string alphabet = "ab:/?#@[]%2F.;=+ 1";
    const URL base = MustParse("http://a/b/c/d;p?q");
    uint32_t x = 7;
    int parsed = 0;
    for (int i = 0; i < 20000; ++i) {
        std::string text;
        x = x * 1103515245u + 12345u;
        const size_t length = (x >> 16) % 14;
        for (size_t j = 0; j < length; ++j) {
            x = x * 1103515245u + 12345u;
            text.push_back(alphabet[(x >> 16) % alphabet.size()]);
        }
        std::optional<URL> url = URL::Parse(text);
        if (!url) continue;
        ++parsed;
        EXPECT_EQ(url->AbsoluteString(), text);
        std::optional<URL> resolved = URL::Resolve(text, base);
        ASSERT_TRUE(resolved.has_value()) << text;
        std::optional<URL> again = URL::Parse(resolved->AbsoluteString());
        ASSERT_TRUE(again.has_value()) << text << " -> " << resolved->AbsoluteString();
        EXPECT_EQ(again->AbsoluteString(), resolved->AbsoluteString());
    }
    EXPECT_GT(parsed, 1000);  // the alphabet gives both kinds of text
}

}  // namespace
