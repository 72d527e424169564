#include "engine/serve/HTTPRequestReader.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace SarvelonMediaKit {
namespace {

size_t HeadEnd(const std::string& text) {
    return HTTPRequestReader::FindHeadEnd(text.data(), text.size());
}

TEST(HTTPRequestReaderTest, AHeadEndsAtItsFirstBlankLineInEitherLineEnding) {
    EXPECT_EQ(0u, HeadEnd("GET / HTTP/1.1\r\nHost: x\r\n"));
    EXPECT_EQ(0u, HeadEnd("GET / HTTP/1.1\r\nHost: x\r\n\r"));
    EXPECT_EQ(std::strlen("GET / HTTP/1.1\r\n\r\n"), HeadEnd("GET / HTTP/1.1\r\n\r\nGET /b"));
    EXPECT_EQ(std::strlen("GET / HTTP/1.1\n\n"), HeadEnd("GET / HTTP/1.1\n\nrest"));
    EXPECT_EQ(std::strlen("GET / HTTP/1.1\nA:\n\r\n"), HeadEnd("GET / HTTP/1.1\nA:\n\r\n"));
}

TEST(HTTPRequestReaderTest, TheRequestLineAndFieldsAreRead) {
    const std::string head =
        "GET /tok::7-3.ts?x=1 HTTP/1.1\r\nrange: bytes=1-2 \r\nCONNECTION: keep-alive\r\n"
        "Connection: Upgrade\r\nNoColon\r\n\r\n";
    HTTPRequestReader reader;
    ASSERT_TRUE(reader.Parse(head.data(), head.size()));
    EXPECT_EQ(HTTPRequestReader::MethodGet, reader.GetMethod());
    EXPECT_EQ("/7-3.ts", reader.GetPath());
    EXPECT_EQ("tok", reader.GetPathPrefix());
    EXPECT_EQ(1, reader.GetMinorVersion());
    EXPECT_EQ("bytes=1-2", reader.GetHeader("Range"));
    EXPECT_EQ("keep-alive, Upgrade", reader.GetHeader("connection"));
    EXPECT_TRUE(reader.HeaderHasToken("Connection", "Keep-Alive"));
    EXPECT_TRUE(reader.HeaderHasToken("Connection", "upgrade"));
    EXPECT_FALSE(reader.HeaderHasToken("Connection", "close"));
    EXPECT_FALSE(reader.HasHeader("NoColon"));
    uint64_t length = 99;
    EXPECT_TRUE(reader.GetContentLength(&length));
    EXPECT_EQ(0u, length);

    HTTPRequestReader head10;
    const std::string h = "HEAD http://host:1/a.m3u8 HTTP/1.0\n\n";
    ASSERT_TRUE(head10.Parse(h.data(), h.size()));
    EXPECT_EQ(HTTPRequestReader::MethodHead, head10.GetMethod());
    EXPECT_EQ("/a.m3u8", head10.GetPath());
    EXPECT_EQ(0, head10.GetMinorVersion());
}

TEST(HTTPRequestReaderTest, MalformedRequestLinesAreRefused) {
    const char* bad[] = {
        "GET\r\n\r\n",                 // no target
        "GET /a\r\n\r\n",              // no version
        "GET /a HTTP/2.0\r\n\r\n",     // not HTTP/1.x
        "GET a HTTP/1.1\r\n\r\n",      // not a path
        "G\x01T /a HTTP/1.1\r\n\r\n",  // not a method
        "GET  /a HTTP/1.1\r\n\r\n",    // an empty target
        "\r\n\r\n",                    // nothing at all
    };
    for (const char* text : bad) {
        HTTPRequestReader reader;
        EXPECT_FALSE(reader.Parse(text, std::strlen(text))) << text;
        EXPECT_EQ("", reader.GetPath());
    }
    HTTPRequestReader post;
    const std::string p = "POST /a HTTP/1.1\r\nContent-Length: 12x\r\n\r\n";
    ASSERT_TRUE(post.Parse(p.data(), p.size()));
    EXPECT_EQ(HTTPRequestReader::MethodOther, post.GetMethod());
    uint64_t length = 0;
    EXPECT_FALSE(post.GetContentLength(&length));
}

TEST(HTTPRequestReaderTest, OnlyTheLoopbackNamesWithAnOptionalPortAreLoopbackHosts) {
    const char* const loopback[] = {"localhost",   "127.0.0.1",   "[::1]",       "localhost:20001",
                                    "127.0.0.1:1", "[::1]:65535", "LocalHost:80"};
    for (const char* host : loopback) EXPECT_TRUE(HTTPRequestReader::IsLoopbackHost(host)) << host;
    const char* const others[] = {
        "evil.example",
        "evil.example:20001",
        "",                        // another name, or none written
        "localhost.evil.example",  // a name that starts like ours
        "127.0.0.1.nip.example",
        "127.0.0.2",
        "0.0.0.0",
        "::1",  // other spellings
        "localhost:",
        "localhost:x",
        "localhost:123456",
        "localhost:65536",  // broken ports
        "localhost:80:80",
        "[::1]x",
        "localhost, evil.example",  // two Host fields joined
    };
    for (const char* host : others) EXPECT_FALSE(HTTPRequestReader::IsLoopbackHost(host)) << host;
}

TEST(HTTPRequestReaderTest, AnAbsoluteTargetKeepsItsAuthority) {
    const std::string absolute = "GET http://evil.example:8080/a.ts HTTP/1.1\r\n\r\n";
    HTTPRequestReader reader;
    ASSERT_TRUE(reader.Parse(absolute.data(), absolute.size()));
    EXPECT_TRUE(reader.HasAbsoluteTarget());
    EXPECT_EQ("evil.example:8080", reader.GetAuthority());
    EXPECT_EQ("/a.ts", reader.GetPath());
    const std::string bare = "GET HTTP://localhost HTTP/1.1\r\n\r\n";
    ASSERT_TRUE(reader.Parse(bare.data(), bare.size()));
    EXPECT_EQ("localhost", reader.GetAuthority());
    EXPECT_EQ("/", reader.GetPath());
    const std::string origin = "GET /a.ts HTTP/1.1\r\nHost: x\r\n\r\n";
    HTTPRequestReader plain;
    ASSERT_TRUE(plain.Parse(origin.data(), origin.size()));
    EXPECT_FALSE(plain.HasAbsoluteTarget());
    EXPECT_EQ("", plain.GetAuthority());
}

}  // namespace
}  // namespace SarvelonMediaKit
