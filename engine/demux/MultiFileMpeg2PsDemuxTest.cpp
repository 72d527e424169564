// The demultiplexer of one file of a multi-file title: its factory, and the index digest it
// keeps while it reads a real title, checked against a digest worked out from the file's bytes
// with OpenSSL.

#include <gtest/gtest.h>

#include <boost/make_shared.hpp>

#include <string>
#include <vector>

#include "engine/core/ComponentStack.h"
#include "engine/core/Session.h"
#include "engine/demux/MultiFileMpeg2PsDemux.h"
#include "engine/input/FileClient.h"
#include "engine/demux/IndexDigestTestSupport.h"
#include "tests/support/Fixtures.h"
#include "tests/support/Mpeg2PsDemuxTestSupport.h"
#include "tests/support/ChainBuilder.h"

namespace SarvelonMediaKit {
namespace test {
namespace {

using demuxtest::EventRecorder;
using demuxtest::RecordingMux;
using SvTestSupport::Fixtures;

std::string Hex(const std::vector<uint8_t>& bytes) {
    static const char kDigits[] = "0123456789abcdef";
    std::string hex;
    for (uint8_t b : bytes) {
        hex += kDigits[b >> 4];
        hex += kDigits[b & 15];
    }
    return hex;
}

TEST(MultiFileMpeg2PsDemux, TheFactoryHandsOutTheObjectWithOrWithoutItsPlainPointer) {
    boost::shared_ptr<Session> session = Session::Create();
    boost::shared_ptr<MultiFileMpeg2PsDemux> unnamed =
        CreateMultiFileMpeg2PsDemux(session.get(), nullptr);
    ASSERT_TRUE(unnamed);
    MultiFileMpeg2PsDemux* raw = nullptr;
    boost::shared_ptr<MultiFileMpeg2PsDemux> named =
        CreateMultiFileMpeg2PsDemux(session.get(), &raw);
    EXPECT_EQ(named.get(), raw);
    EXPECT_NE(unnamed.get(), named.get());
    // It is a demultiplexer of its own kind: the loader's chains can tell it apart.
    EXPECT_NE(nullptr, dynamic_cast<Mpeg2PsDemux*>(named.get()));
    EXPECT_FALSE(named->IsHashEnabled());
    EXPECT_TRUE(named->GetIndexDigest().empty());
}

// Reads the title's index through a file client into the demultiplexer, with a multiplexer
// linked (which gives the demultiplexer a new parser), and returns the digest it kept.
std::vector<uint8_t> DigestOf(const std::string& path, bool hash, EventRecorder& events) {
    boost::shared_ptr<Session> session = Session::Create();
    session->SetCapacity(ByteAmount(16u << 20));
    MultiFileMpeg2PsDemux* demux = nullptr;
    boost::shared_ptr<MultiFileMpeg2PsDemux> holder =
        CreateMultiFileMpeg2PsDemux(session.get(), &demux);
    demux->SetHashEnabled(hash);
    demux->SetName(path, true);
    boost::shared_ptr<Component> source = CreateFileClient(session.get(), nullptr);
    source->SetName(path, true);
    ComponentStack stack = SvTestSupport::BuildChain(
        StackIdMain, {boost::make_shared<RecordingMux>(session.get()), holder, source});
    session->SetComponentStack(stack);
    demux->StreamInfoSource::AddMonitor(&events);
    demux->ErrorInfoSource::AddMonitor(&events);
    stack.Link();
    session->PreLoad(MediaTime(15000000));
    session->StartPump(1000);
    session->Start();
    EXPECT_TRUE(events.WaitForPreload(20000));
    session->Stop(true);
    return demux->GetIndexDigest();
}

TEST(MultiFileMpeg2PsDemux, KeepsTheDigestOfTheIndexEntriesItRead) {
    for (const std::string& path : {Fixtures::VideoOnlyTitle(), Fixtures::ShortTitle()}) {
        SCOPED_TRACE(path);
        EventRecorder events;
        EXPECT_EQ(IndexDigestHex(path), Hex(DigestOf(path, true, events)));
        EXPECT_TRUE(events.errors.empty());
        // The file's tracks were published once, complete, before the preload ended.
        ASSERT_EQ(1u, events.trackEvents.size());
        EXPECT_TRUE(events.trackEvents[0].second);
    }
    // Two titles, two digests: the digest is of the file, not a constant.
    EXPECT_NE(IndexDigestHex(Fixtures::VideoOnlyTitle()), IndexDigestHex(Fixtures::ShortTitle()));
    // Without the hash asked for, there is none.
    EventRecorder events;
    EXPECT_TRUE(DigestOf(Fixtures::VideoOnlyTitle(), false, events).empty());
}

}  // namespace
}  // namespace test
}  // namespace SarvelonMediaKit
