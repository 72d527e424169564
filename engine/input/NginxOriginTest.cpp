// End-to-end: the transport against a real web server, nginx, serving a folder on loopback.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <random>
#include <string>

#include "engine/input/TransportTestSupport.h"
#include "tests/support/NginxOrigin.h"
#include "tests/support/TemporaryDirectory.h"
#include "tests/support/TestLabels.h"

namespace SarvelonMediaKit {
namespace test {
namespace {

using SvTestSupport::NginxOrigin;

SV_SUITE_LABEL(NginxOrigin, e2e);  // checked with outside clients
TEST(NginxOrigin, RandomRangedReadsOfAHundredMegabyteFileMatchTheFile) {
    // scripts/deps installs nginx: without it this check has not run, which is a failure.
    ASSERT_TRUE(NginxOrigin::Installed())
        << NginxOrigin::kProgram << " is missing: run scripts/deps to install nginx";
    SvTestSupport::TemporaryDirectory folder("svnginx");
    const std::string root = folder.File("www");
    ASSERT_EQ(mkdir(root.c_str(), 0755), 0);
    const size_t size = 100u * 1024 * 1024;
    const std::string file = PatternBytes(size, 21);
    {
        std::ofstream out(root + "/title.bin", std::ios::binary);
        out.write(file.data(), static_cast<std::streamsize>(file.size()));
    }
    NginxOrigin nginx(root);
    std::string reason;
    ASSERT_TRUE(nginx.Start(&reason)) << reason;

    std::mt19937_64 random(17);
    for (int i = 0; i < 1000; ++i) {
        uint64_t start = random() % size;
        uint64_t end = start + 1 + random() % (256 * 1024);
        if (end > size) end = size;
        if (i % 100 == 99) end = 0;  // now and then to the end of the file
        if (end == 0) start = size - 1 - random() % (512 * 1024);
        TransportRecorder recorder(MakeTransport(nginx.Url("/title.bin")));
        ASSERT_TRUE(recorder.Fetch(start, end)) << start << "-" << end;
        ASSERT_FALSE(recorder.Failed()) << start << "-" << end;
        const size_t length = (end == 0 ? size : end) - start;
        const std::string bytes = recorder.Bytes();
        ASSERT_EQ(bytes.size(), length) << start << "-" << end;
        ASSERT_TRUE(bytes == file.substr(start, length)) << start << "-" << end;
        ASSERT_EQ(recorder.Ends(), std::vector<unsigned long long>{size});
    }
}

}  // namespace
}  // namespace test
}  // namespace SarvelonMediaKit
