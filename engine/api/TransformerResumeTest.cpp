// A Transformer whose title comes from an origin that fails on the way: the first answer a 503,
// every body closed after 60000 bytes. The HTTP client resumes each failure, so no error
// reaches the Transformer and the file it writes is the one the title's own file gives.

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

#include "SVLibrary/Types/SVStatus.h"
#include "engine/api/Transformer.h"
#include "engine/core/Session.h"
#include "engine/input/CurlHTTPClientInterface.h"
#include "engine/input/HTTPClientInterfaceFactory.h"
#include "engine/input/HTTPThread.h"
#include "tests/support/Fixtures.h"
#include "tests/support/TemporaryDirectory.h"
#include "tests/support/TestOrigin.h"
#include "engine/input/CurlTransportTestFixture.h"
#include "tests/support/MediaFileTestSupport.h"

namespace SarvelonMediaKit {
namespace {

using SvTestSupport::Fixtures;
using SvTestSupport::TemporaryDirectory;
using SvTestSupport::TestOrigin;

class TransformerResumeTest : public CurlTransportTestFixture {};

// The title written as a transport stream; the Transformer's status and error text after it.
struct Written {
    std::string bytes;
    SVStatus status = 0;
    std::string error;
};

Written WriteTitle(const std::string& title, const std::string& output) {
    Transformer transformer(title, MediaFormatMpeg2Ts, OutputKindFile, output);
    EXPECT_EQ(SVStatusSuccess, transformer.GetStatus());
    EXPECT_EQ(SVStatusSuccess, transformer.PreLoad()) << transformer.GetErrorText();
    EXPECT_EQ(SVStatusSuccess,
              transformer.Transform(MediaTime(~uint64_t(0)), TrickPlayRate(0), true));
    EXPECT_TRUE(transformer.GetSession()->WaitForStop(30000)) << title;
    Written written;
    written.status = transformer.GetStatus();
    written.error = transformer.GetErrorText();
    EXPECT_EQ(SVStatusSuccess, transformer.Stop());
    written.bytes = SvTestSupport::ReadWholeFile(output);
    return written;
}

TEST_F(TransformerResumeTest, FailuresThatPassNeverReachTheTransformer) {
    const std::string title = Fixtures::ShortTitle();
    TestOrigin origin;
    origin.ServeFile("/title.svm", title);
    TestOrigin::Fault fault;
    fault.failEvery = 1000;  // the first request only
    fault.failStatus = 503;
    fault.closeAfter = 60000;
    origin.SetFault("/title.svm", fault);
    TemporaryDirectory dir("tresume");

    const Written local = WriteTitle(title, dir.File("local.ts"));
    ASSERT_EQ(SVStatusSuccess, local.status);
    ASSERT_FALSE(local.bytes.empty());
    const Written served = WriteTitle(origin.Url("/title.svm"), dir.File("served.ts"));
    EXPECT_EQ(SVStatusSuccess, served.status) << served.error;
    EXPECT_EQ("", served.error);
    EXPECT_EQ(local.bytes.size(), served.bytes.size());
    EXPECT_TRUE(local.bytes == served.bytes) << "the same bytes as from the file";
    // A 503, then bodies cut at 60000 bytes: 177 KB took at least three more.
    EXPECT_GE(origin.Requests().size(), 5u);
}

}  // namespace
}  // namespace SarvelonMediaKit
