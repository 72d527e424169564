// The nginx origin of the end-to-end checks: it serves its folder on a loopback port of its own,
// two run side by side, and a stop leaves nothing listening.
#include "tests/support/NginxOrigin.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <string>

#include "tests/support/LoopbackHttpGet.h"
#include "tests/support/TemporaryDirectory.h"

namespace SvTestSupport {
namespace {

// Bytes no two offsets of which repeat in a short run, so a shifted body cannot pass.
std::string Pattern(size_t size) {
    std::string bytes(size, '\0');
    uint32_t state = 2463534242u;
    for (char& c : bytes) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        c = static_cast<char>(state);
    }
    return bytes;
}

TEST(NginxOriginServer, ServesItsFolderAndAStopLeavesNothingListening) {
    ASSERT_TRUE(NginxOrigin::Installed()) << "run scripts/deps to install nginx";
    TemporaryDirectory dir("nginxorigin");
    const std::string root = dir.File("www");
    ASSERT_EQ(0, mkdir(root.c_str(), 0755));
    const std::string bytes = Pattern(300000);
    std::ofstream(root + "/title.svm", std::ios::binary) << bytes;

    NginxOrigin plain(root);
    // Throttled well above what the body needs, so the check takes no noticeable time.
    NginxOrigin throttled(root, 4u << 20);
    std::string reason;
    ASSERT_TRUE(plain.Start(&reason)) << reason;
    ASSERT_TRUE(throttled.Start(&reason)) << reason;
    EXPECT_NE(plain.Port(), throttled.Port());
    EXPECT_EQ("http://127.0.0.1:" + std::to_string(plain.Port()) + "/title.svm",
              plain.Url("/title.svm"));

    for (NginxOrigin* origin : {&plain, &throttled}) {
        const HttpAnswer answer = HttpGet(origin->Port(), "/title.svm");
        EXPECT_EQ(200, answer.status) << answer.head;
        EXPECT_TRUE(answer.complete);
        EXPECT_TRUE(answer.body == bytes) << answer.body.size();
        EXPECT_EQ(404, HttpGet(origin->Port(), "/missing.svm").status);
    }

    const uint16_t port = plain.Port();
    plain.Stop();
    EXPECT_FALSE(plain.Running());
    EXPECT_EQ(0, HttpGet(port, "/title.svm", 1000).status) << "nothing answers after the stop";
    // The other one is still there.
    EXPECT_EQ(200, HttpGet(throttled.Port(), "/title.svm").status);
}

}  // namespace
}  // namespace SvTestSupport
