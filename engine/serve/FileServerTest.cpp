#include "engine/serve/FileServer.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <thread>

#include <boost/make_shared.hpp>

#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "engine/core/Session.h"
#include "engine/core/ComponentStack.h"
#include "engine/core/ErrorInfoMonitor.h"
#include "tests/support/ErrorRecorder.h"
#include "tests/support/TemporaryDirectory.h"
#include "tests/support/ChainBuilder.h"
#include "tests/support/MediaFileTestSupport.h"

namespace SarvelonMediaKit {
namespace {

using SvTestSupport::ReadWholeFile;

MemoryChunk Bytes(const std::string& text) {
    MemoryChunk chunk(static_cast<uint32_t>(text.size()), 4, 4);
    if (!text.empty()) std::memcpy(chunk.Data(0), text.data(), text.size());
    return chunk;
}

MemoryChunk Marker(const boost::shared_ptr<MemoryMarker>& marker) { return MemoryChunk(marker); }

class FileServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        path = dir.File("out.ts");
        session = Session::Create();
        // A pump without a thread: a stop shuts the session down at once on this thread.
        session->StartPump(0);
        server = boost::make_shared<FileServer>(session.get());
        ComponentStack stack = SvTestSupport::BuildChain(StackIdMain, {server});
        session->SetComponentStack(stack);
        server->AddMonitor(&errors);
    }
    void TearDown() override { server->RemoveMonitor(&errors); }
    std::vector<SvTestSupport::ErrorRecorder::Report> Errors() const { return errors.Errors(); }

    SvTestSupport::TemporaryDirectory dir{"fileserver"};
    std::string path;
    SvTestSupport::ErrorRecorder errors;
    boost::shared_ptr<Session> session;
    boost::shared_ptr<FileServer> server;
};

TEST_F(FileServerTest, WritesTheChunksInOrderAndEndOfDataStopsTheSession) {
    {
        std::ofstream old(path, std::ios::binary);
        old << "older and longer content that must not survive";
    }
    server->SetName(path, true);
    server->Add(Bytes(std::string("\x47\x00\x01", 3)));
    server->Add(Marker(boost::make_shared<MemoryMarkerGopStart>(5)));
    server->Add(Bytes(std::string("ab\0cd", 5)));
    server->Add(Marker(boost::make_shared<MemoryMarkerEndOfStream>()));
    // Each chunk is on disk as soon as it has been added.
    EXPECT_EQ(std::string("\x47\x00\x01"
                          "ab\0cd",
                          8),
              ReadWholeFile(path));
    EXPECT_FALSE(session->WaitForStop(0));  // end of stream is not end of data

    server->Add(Marker(boost::make_shared<MemoryMarkerEndOfData>()));
    EXPECT_TRUE(session->WaitForStop(0));
    EXPECT_EQ(std::string("\x47\x00\x01"
                          "ab\0cd",
                          8),
              ReadWholeFile(path));
    EXPECT_TRUE(Errors().empty());
    EXPECT_EQ(0xFFFFFFFFu, server->BytesWanted());
    EXPECT_EQ("SarvelonMediaKit::FileServer", server->GetTypeName());
    EXPECT_EQ("", server->GetName());
}

TEST_F(FileServerTest, TheEndOfTheStreamIsNotedUntilARepositionOrANewName) {
    server->SetName(path, true);
    EXPECT_FALSE(server->HasReachedEndOfStream());
    server->Add(Bytes("abc"));
    server->Add(Marker(boost::make_shared<MemoryMarkerGopStart>(5)));
    EXPECT_FALSE(server->HasReachedEndOfStream());  // other markers are not the end
    server->Add(Marker(boost::make_shared<MemoryMarkerEndOfStream>()));
    EXPECT_TRUE(server->HasReachedEndOfStream());
    EXPECT_EQ("abc", ReadWholeFile(path));
    EXPECT_FALSE(session->WaitForStop(0));  // noted only: the owner decides to stop

    server->SetPosition(BytePosition(0), StackIdAudioBranch);  // another stack: kept
    EXPECT_TRUE(server->HasReachedEndOfStream());
    server->SetPosition(BytePosition(0), StackIdAny);  // more data will come
    EXPECT_FALSE(server->HasReachedEndOfStream());

    server->Add(Marker(boost::make_shared<MemoryMarkerEndOfStream>()));
    EXPECT_TRUE(server->HasReachedEndOfStream());
    server->SetName(dir.File("second.ts"), true);  // a new file starts without an end
    EXPECT_FALSE(server->HasReachedEndOfStream());
    EXPECT_TRUE(Errors().empty());
}

TEST_F(FileServerTest, AFileThatCannotBeOpenedIsReportedAndStopsAtTheFirstChunk) {
    const std::string missing = dir.File("no/such/dir/out.ts");
    server->SetName(missing, true);
    ASSERT_EQ(1u, Errors().size());
    EXPECT_EQ(SVStatusFileInput, Errors()[0].first);
    EXPECT_EQ(missing, Errors()[0].second);
    EXPECT_TRUE(server->HasFailed());
    EXPECT_FALSE(session->WaitForStop(0));  // the chain being set up is left alone

    server->Add(Bytes("data"));
    EXPECT_TRUE(session->WaitForStop(0));
    server->Add(Bytes("more"));
    EXPECT_EQ(1u, Errors().size());  // reported once
}

TEST_F(FileServerTest, AChunkWithoutANameIsReportedAsLost) {
    server->Add(Bytes("data"));
    ASSERT_EQ(1u, Errors().size());
    EXPECT_EQ(std::make_pair(SVStatus(SVStatusFileInput), std::string("Could not write bytes")),
              Errors()[0]);
    EXPECT_TRUE(session->WaitForStop(0));
}

TEST_F(FileServerTest, AFailedWriteIsReportedAndNothingMoreIsWritten) {
    if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full";
    server->SetName("/dev/full", true);
    ASSERT_TRUE(Errors().empty());
    server->Add(Bytes(std::string(70000, 'x')));
    ASSERT_EQ(1u, Errors().size());
    EXPECT_EQ(std::make_pair(SVStatus(SVStatusFileInput), std::string("Could not write bytes")),
              Errors()[0]);
    EXPECT_TRUE(server->HasFailed());
    EXPECT_TRUE(session->WaitForStop(0));
    server->Add(Bytes("more"));
    EXPECT_EQ(1u, Errors().size());
}

TEST_F(FileServerTest, WriteChunksAppendsManyChunksInOrderInOneGo) {
    server->SetName(path, true);
    server->Add(Bytes("head:"));
    // More chunks than one gathered system call takes (1024 on Linux), of varied sizes, with
    // empty chunks and a marker among them: those add nothing.
    std::vector<MemoryChunk> chunks;
    std::string expected = "head:";
    for (int i = 0; i < 2500; ++i) {
        if (i % 100 == 0) {
            chunks.push_back(MemoryChunk());
            chunks.push_back(Marker(boost::make_shared<MemoryMarkerGopStart>(i)));
        }
        const std::string text = std::to_string(i) + std::string(i % 7, char('a' + i % 26));
        expected += text;
        chunks.push_back(Bytes(text));
    }
    server->WriteChunks(chunks);
    server->WriteChunks(std::vector<MemoryChunk>());  // nothing to write is no failure
    server->Add(Bytes(":tail"));
    expected += ":tail";
    EXPECT_EQ(expected, ReadWholeFile(path));
    EXPECT_TRUE(Errors().empty());
    EXPECT_FALSE(server->HasFailed());
}

TEST_F(FileServerTest, WriteChunksWithoutAFileIsReportedAsLost) {
    server->WriteChunks({Bytes("a"), Bytes("b")});
    ASSERT_EQ(1u, Errors().size());
    EXPECT_EQ(std::make_pair(SVStatus(SVStatusFileInput), std::string("Could not write bytes")),
              Errors()[0]);
    EXPECT_TRUE(session->WaitForStop(0));
}

TEST_F(FileServerTest, WriteChunksOnAFullDeviceFailsOnceAndStops) {
    if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full";
    server->SetName("/dev/full", true);
    server->WriteChunks({Bytes(std::string(70000, 'x')), Bytes("y")});
    ASSERT_EQ(1u, Errors().size());
    EXPECT_TRUE(server->HasFailed());
    EXPECT_TRUE(session->WaitForStop(0));
    server->WriteChunks({Bytes("more")});
    EXPECT_EQ(1u, Errors().size());
}

TEST_F(FileServerTest, ADeviceIsWrittenAsGivenAndANewNameStartsAfresh) {
    server->SetName("/dev/null", true);
    server->Add(Bytes("into the void"));
    EXPECT_TRUE(Errors().empty());
    EXPECT_FALSE(server->HasFailed());
    // A second name closes the first file and truncates the second.
    {
        std::ofstream old(path, std::ios::binary);
        old << "stale bytes";
    }
    server->SetName(path, true);
    server->Add(Bytes("new"));
    EXPECT_EQ("new", ReadWholeFile(path));
    EXPECT_TRUE(Errors().empty());
}

// The reason a caller gives for a failure is the one the system gave for the failing call, not
// whatever errno holds once the error has been published and the file closed.
TEST_F(FileServerTest, TheSystemsReasonForAFailureIsKept) {
    EXPECT_EQ(0, server->FailureReason());
    server->SetName(dir.File("no/such/dir/out.ts"), true);
    EXPECT_EQ(ENOENT, server->FailureReason());
    server->SetName(dir.Path(), true);  // a directory cannot be opened for writing
    EXPECT_EQ(EISDIR, server->FailureReason());
    server->SetName(path, true);  // a new name starts afresh
    EXPECT_EQ(0, server->FailureReason());
    if (access("/dev/full", W_OK) == 0) {
        server->SetName("/dev/full", true);
        server->Add(Bytes("x"));
        EXPECT_EQ(ENOSPC, server->FailureReason());
    }
}

}  // namespace
}  // namespace SarvelonMediaKit
