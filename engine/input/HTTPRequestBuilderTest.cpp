#include "engine/input/HTTPRequestBuilder.h"

#include <gtest/gtest.h>

namespace SarvelonMediaKit {
namespace {

TEST(HTTPRequestBuilder, RangeValues) {
    EXPECT_EQ(HTTPRequestBuilder::RangeValue(0, 0), "");
    EXPECT_EQ(HTTPRequestBuilder::RangeValue(100, 200), "bytes=100-199");
    EXPECT_EQ(HTTPRequestBuilder::RangeValue(100, 0), "bytes=100-");
    EXPECT_EQ(HTTPRequestBuilder::RangeValue(0, 1), "bytes=0-0");
    EXPECT_EQ(HTTPRequestBuilder::RangeValue(5000000000ull, 5000000001ull),
              "bytes=5000000000-5000000000");
    // Nothing a header could say.
    EXPECT_EQ(HTTPRequestBuilder::RangeValue(100, 100), "");
    EXPECT_EQ(HTTPRequestBuilder::RangeValue(100, 50), "");
}

TEST(HTTPRequestBuilder, GetWithoutParametersKeepsTheUrl) {
    const HTTPRequestBuilder::Request r =
        HTTPRequestBuilder::Build("http://h/p?x=%41", {}, "", false);
    EXPECT_EQ(r.url, "http://h/p?x=%41");
    EXPECT_FALSE(r.post);
    EXPECT_EQ(r.formBody, "");
}

TEST(HTTPRequestBuilder, PostFlagMovesTheWholeQueryIntoTheBody) {
    const HTTPRequestBuilder::Request r =
        HTTPRequestBuilder::Build("http://h/p?x=1", {{"z", "a b"}, {"y", "&"}}, "", true);
    EXPECT_EQ(r.url, "http://h/p");
    EXPECT_TRUE(r.post);
    EXPECT_EQ(r.formBody, "x=1&y=&&z=a b");  // as they are, names in order
}

}  // namespace
}  // namespace SarvelonMediaKit
