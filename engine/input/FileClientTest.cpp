#include "engine/input/FileClient.h"

#include <boost/make_shared.hpp>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <fstream>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "engine/core/ComponentStack.h"
#include "engine/core/DefaultBandwidth.h"
#include "engine/core/ErrorInfoMonitor.h"
#include "tests/support/ChainTestComponents.h"
#include "tests/support/ErrorRecorder.h"
#include "tests/support/TemporaryDirectory.h"
#include "tests/support/ChainBuilder.h"

#if defined(__GNUC__) && !defined(__clang__)
// The replacement operator new below takes its memory from malloc, so free is the matching
// release; GCC cannot see through the replacement.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif
// The replacements are never inlined: a memory checker swaps operator new and delete for its
// own, and it can only do that with a real call. One inlined half would leave a block taken by
// its new and given back to free (or by malloc and given back to its delete), a mismatch.
#define SV_TEST_ALLOCATOR __attribute__((noinline, used))

// The largest single allocation made while tracking is on: a pull must size its buffer by what
// the file can give, not by what was asked for.
namespace {
std::atomic<bool> gTrackAllocations(false);
std::atomic<size_t> gLargestAllocation(0);
}  // namespace

SV_TEST_ALLOCATOR void* operator new(size_t size) {
    if (gTrackAllocations.load(std::memory_order_relaxed)) {
        size_t seen = gLargestAllocation.load();
        while (size > seen && !gLargestAllocation.compare_exchange_weak(seen, size)) {
        }
    }
    if (void* p = std::malloc(size == 0 ? 1 : size)) {
        return p;
    }
    throw std::bad_alloc();
}
SV_TEST_ALLOCATOR void operator delete(void* p) noexcept { std::free(p); }
SV_TEST_ALLOCATOR void operator delete(void* p, size_t) noexcept { std::free(p); }

namespace SarvelonMediaKit {
namespace {

typedef SvTestSupport::RecordingSink Sink;
// The stage between client and sink has the base behaviour: it pulls only what the client says
// it has left.
typedef SvTestSupport::RecordingStage Middle;

class FileClientTest : public ::testing::Test {
protected:
    void TearDown() override { ExpectEndsCleanly(); }

    // The end of the chain so far: every marker the client sent is the end of the stream, and
    // no data came after it.
    void ExpectEndsCleanly() {
        if (sink) {
            EXPECT_EQ("", sink->CheckEndedBy(MemoryMarkerTypeEndOfStream));
        }
    }
    size_t EndMarkers() const { return sink->CountMarkers(MemoryMarkerTypeEndOfStream); }
    std::vector<std::pair<SVStatus, std::string>> Errors() const { return errors.Errors(); }

    // A file of size bytes whose byte i is i % 251.
    std::string MakeFile(const std::string& name, uint64_t size) {
        const std::string path = dir.File(name);
        std::ofstream out(path, std::ios::binary);
        const std::vector<uint8_t> bytes = SvTestSupport::PatternBytes(0, size);
        out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(size));
        return path;
    }
    static std::vector<uint8_t> Pattern(uint64_t from, uint64_t to) {
        return SvTestSupport::PatternBytes(from, to);
    }
    // sink <- middle <- client, the client named with name and watched by errors; a sink built
    // before is checked first.
    void Build(const std::string& name) {
        ExpectEndsCleanly();
        sink = boost::make_shared<Sink>();
        sink->TakeOutOfBand(true);
        middle = boost::make_shared<Middle>(nullptr, "Middle");
        client = boost::make_shared<FileClient>(nullptr);
        client->AddMonitor(&errors);
        stack = SvTestSupport::BuildLinkedChain(StackIdMain, {sink, middle, client});
        client->SetName(name, true);
    }

    SvTestSupport::TemporaryDirectory dir{"fileclient"};
    ComponentStack stack{StackIdMain};
    boost::shared_ptr<Sink> sink;
    boost::shared_ptr<Middle> middle;
    boost::shared_ptr<FileClient> client;
    SvTestSupport::ErrorRecorder errors;
};

// Sizes around the pull size and the per-pull maximum; each file named as a path and as a
// "file://" URL. The end comes with the pull that takes the last bytes: the stage in between
// pulls no further once the client has nothing left. An empty file has no such pull: it counts
// one byte left until its end has gone out, so the stage's first pull brings the end.
TEST_F(FileClientTest, AChainReadsTheFileExactlyThenEndsOnce) {
    const uint64_t sizes[] = {0, 1, 65536, 65537, 300001, FileClient::kMaxPullBytes + 5};
    for (uint64_t size : sizes) {
        for (bool url : {false, true}) {
            SCOPED_TRACE(testing::Message() << size << (url ? " url" : " path"));
            stack = ComponentStack(StackIdMain);
            errors.Clear();
            const std::string path = MakeFile("f" + std::to_string(size), size);
            Build(url ? "file://" + path : path);
            EXPECT_EQ(path, client->GetName());
            EXPECT_EQ(size, sink->EndPosition());
            EXPECT_EQ(size, sink->CurrentLoadedFilePosition());
            int pulls = 0;
            while (EndMarkers() == 0 && pulls < 1000) {
                middle->PullData(65536);
                ++pulls;
            }
            // Pulls after the end reach the client no more: what it has left is 0.
            middle->PullData(65536);
            middle->PullData(65536);
            EXPECT_EQ(1u, EndMarkers());
            EXPECT_TRUE(Pattern(0, size) == sink->Bytes());
            for (uint32_t s : sink->ChunkSizes()) EXPECT_LE(s, 65536u);
            EXPECT_EQ(size, client->GetReadPosition());
            EXPECT_TRUE(Errors().empty());
        }
    }
}

TEST_F(FileClientTest, PullsAtTheEndOfTheFile) {
    Build(MakeFile("empty", 0));
    client->PullData(1000);  // an empty file ends at the first pull
    EXPECT_TRUE(sink->ChunkSizes().empty());
    EXPECT_EQ(1u, EndMarkers());

    stack = ComponentStack(StackIdMain);
    Build(MakeFile("end", 1300));
    client->SeekFilePosition(1000, 0, false);
    client->PullData(1000);  // 300 left: the data, then the marker, in the same pull
    EXPECT_EQ((std::vector<uint32_t>{300}), sink->ChunkSizes());
    EXPECT_EQ(1u, EndMarkers());
    client->PullData(1000);  // pulled again directly, the end is told again
    EXPECT_EQ(2u, EndMarkers());
    EXPECT_EQ(300u, sink->Bytes().size());
}

TEST_F(FileClientTest, SeekMovesTheNextReadToTheFilePosition) {
    Build(MakeFile("seek", 5000));
    client->SeekFilePosition(4000, 4500, true);
    EXPECT_EQ(4000u, client->GetReadPosition());
    EXPECT_EQ(500u, client->GetBufferedBytes());  // up to the end of the range, not the file
    client->PullData(10);
    client->SeekFilePosition(7, 0, false);
    client->PullData(3);
    const std::vector<uint8_t> got = sink->Bytes();
    ASSERT_EQ(13u, got.size());
    EXPECT_EQ(Pattern(4000, 4010), std::vector<uint8_t>(got.begin(), got.begin() + 10));
    EXPECT_EQ(Pattern(7, 10), std::vector<uint8_t>(got.begin() + 10, got.end()));
    EXPECT_TRUE(Errors().empty());

    // An offset the file refuses (beyond the signed range) is reported; the position stays.
    client->SeekFilePosition(BytePosition(~uint64_t(0)), 0, false);
    ASSERT_EQ(1u, Errors().size());
    EXPECT_EQ(1013, Errors()[0].first);
    EXPECT_EQ("Bad Seek Range", Errors()[0].second);
    EXPECT_EQ(10u, client->GetReadPosition());
}

// A seek with an end reads [start, end) and ends there as at the end of the file: the marker
// with the pull that takes the last byte of the range, the bytes after it never.
TEST_F(FileClientTest, ABoundedSeekReadsItsRangeExactlyAndEndsAtItsEnd) {
    const uint64_t size = 300000;
    const struct {
        uint64_t start;
        uint64_t end;
        uint64_t stop;  // where the bytes delivered stop
    } cases[] = {
        {1000, 1001, 1001},         // a single byte
        {5000, 70000, 70000},       // more than one pull of the stage in between
        {0, 65536, 65536},          // exactly one pull
        {250000, size, size},       // the end of the file as the bound
        {250000, size + 99, size},  // a bound past the file reads to its end
        {100, 0, size},             // no bound
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.start << "-" << c.end);
        stack = ComponentStack(StackIdMain);
        Build(MakeFile("bounded", size));
        client->SeekFilePosition(c.start, c.end, true);
        EXPECT_EQ(c.stop - c.start, client->GetBufferedBytes());
        EXPECT_EQ(c.stop, sink->CurrentLoadedFilePosition()) << "loaded up to the bound";
        EXPECT_EQ(size, sink->EndPosition()) << "the file's end is still the file's";
        for (int pulls = 0; EndMarkers() == 0 && pulls < 100; ++pulls) middle->PullData(65536);
        middle->PullData(65536);  // nothing left: no pull reaches the client
        EXPECT_EQ(1u, EndMarkers());
        EXPECT_TRUE(Pattern(c.start, c.stop) == sink->Bytes());
        EXPECT_EQ(c.stop, client->GetReadPosition());
        EXPECT_EQ(0u, client->GetBufferedBytes());
        // Pulled directly at the bound, it reads nothing more and tells the end again.
        client->PullData(ByteAmount(0xFFFFFFFFu));
        EXPECT_EQ(2u, EndMarkers());
        EXPECT_EQ(c.stop - c.start, sink->Bytes().size());
        EXPECT_TRUE(Errors().empty());
    }
}

// The bound belongs to one seek: the next seek sets its own, a refused seek keeps the last,
// and naming the file again reads it whole.
TEST_F(FileClientTest, EachSeekSetsItsOwnBound) {
    Build(MakeFile("rebound", 10000));
    client->SeekFilePosition(2000, 3000, false);
    client->PullData(ByteAmount(0xFFFFFFFFu));
    EXPECT_EQ((std::vector<uint32_t>{1000}), sink->ChunkSizes());
    EXPECT_EQ(1u, EndMarkers());

    client->SeekFilePosition(BytePosition(~uint64_t(0)), 9000, false);  // refused
    ASSERT_EQ(1u, Errors().size());
    EXPECT_EQ(3000u, client->GetReadPosition());
    EXPECT_EQ(3000u, sink->CurrentLoadedFilePosition()) << "the old bound stands";

    // Backwards within the old range, then again without an end: to the end of the file.
    client->SeekFilePosition(2500, 2600, false);
    EXPECT_EQ(100u, client->GetBufferedBytes());
    client->SeekFilePosition(9000, 0, false);
    EXPECT_EQ(1000u, client->GetBufferedBytes());
    EXPECT_EQ(10000u, sink->CurrentLoadedFilePosition());

    client->SeekFilePosition(0, 10, false);
    client->SetName(client->GetName(), true);  // reopened: from the start, to the end
    EXPECT_EQ(10000u, client->GetBufferedBytes());
    EXPECT_EQ(10000u, sink->CurrentLoadedFilePosition());

    // A range that is empty or runs backwards delivers nothing, only the end.
    stack = ComponentStack(StackIdMain);
    Build(MakeFile("empty-range", 10000));
    for (const std::pair<uint64_t, uint64_t>& range :
         {std::make_pair(uint64_t(400), uint64_t(400)),
          std::make_pair(uint64_t(500), uint64_t(450))}) {
        client->SeekFilePosition(range.first, range.second, false);
        client->PullData(1000);
    }
    EXPECT_TRUE(sink->Bytes().empty());
    EXPECT_EQ(2u, EndMarkers());
}

TEST_F(FileClientTest, OutOfBandRangesComeInPiecesAndLeaveTheReadPosition) {
    const uint64_t size = 0x30000;
    Build(MakeFile("oob", size));
    client->SeekFilePosition(123, 0, false);
    const struct {
        uint64_t start;
        uint64_t end;
        std::vector<size_t> pieces;
    } cases[] = {
        {500, 500, {}},                      // empty range
        {100, 100 + 0x10001, {0x10000, 1}},  // one byte over a piece
        {size - 0x10000, size, {0x10000}},   // the last piece exactly
        {size - 10, size + 100, {}},         // short read: nothing of a partial piece
        {size + 5, size + 10, {}},           // wholly beyond the end
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.start << "-" << c.end);
        sink->outOfBand.clear();
        EXPECT_TRUE(sink->OutOfBandRequest(c.start, c.end));  // offered toward the source
        ASSERT_EQ(c.pieces.size(), sink->outOfBand.size());
        uint64_t at = c.start;
        for (size_t i = 0; i < c.pieces.size(); ++i) {
            EXPECT_TRUE(Pattern(at, at + c.pieces[i]) == sink->outOfBand[i]);
            at += c.pieces[i];
        }
        EXPECT_EQ(123u, client->GetReadPosition());
    }
    EXPECT_TRUE(sink->Bytes().empty());
    EXPECT_TRUE(Errors().empty());
}

// The file is read a block at a time and handed on over several pulls: the position, the bytes
// left and an out-of-band range between two pulls count only what was handed on, never the
// bytes read ahead, and a seek drops them.
TEST_F(FileClientTest, BytesReadAheadAreNotCountedAsHandedOn) {
    const uint64_t size = 0x30000;
    Build(MakeFile("ahead", size));
    client->PullData(100);
    EXPECT_EQ(100u, client->GetReadPosition());
    EXPECT_EQ(100u, client->CurrentPosition().Get());
    EXPECT_EQ(size - 100, client->GetBufferedBytes());
    EXPECT_TRUE(sink->OutOfBandRequest(5000, 5010));
    ASSERT_EQ(1u, sink->outOfBand.size());
    EXPECT_TRUE(Pattern(5000, 5010) == sink->outOfBand[0]);
    client->PullData(50);
    EXPECT_EQ(150u, client->GetReadPosition());
    client->SeekFilePosition(1000, 0, false);
    client->PullData(20);
    const std::vector<uint8_t> got = sink->Bytes();
    ASSERT_EQ(170u, got.size());
    EXPECT_TRUE(Pattern(0, 150) == std::vector<uint8_t>(got.begin(), got.begin() + 150));
    EXPECT_TRUE(Pattern(1000, 1020) == std::vector<uint8_t>(got.begin() + 150, got.end()));
    EXPECT_EQ(1020u, client->GetReadPosition());
    EXPECT_EQ(0u, EndMarkers());
    EXPECT_TRUE(Errors().empty());
}

// A file of many blocks: what goes on is the file in order, the position counts only what was
// handed on, and an out-of-band range and a seek in the middle of it leave nothing of the
// blocks read behind.
TEST_F(FileClientTest, AFileOfManyBlocksComesOnWholeAndInOrderAcrossOutOfBandRangesAndSeeks) {
    const uint64_t size = (5u << 20) + 12345;  // 20 blocks of 256 KiB and a bit
    Build(MakeFile("many", size));
    uint64_t handed = 0;
    while (handed < (3u << 20) + 7) {
        const uint64_t want = std::min<uint64_t>(65536, (3u << 20) + 7 - handed);
        client->PullData(ByteAmount(uint32_t(want)));
        handed += want;
        ASSERT_EQ(handed, client->GetReadPosition());
        ASSERT_EQ(handed, sink->Bytes().size());
    }
    EXPECT_EQ(size - handed, client->GetBufferedBytes());
    EXPECT_TRUE(sink->OutOfBandRequest(100, 200));
    ASSERT_EQ(1u, sink->outOfBand.size());
    EXPECT_TRUE(Pattern(100, 200) == sink->outOfBand[0]);
    EXPECT_EQ(handed, client->GetReadPosition());
    // Past the rest of the block read before the request: it comes from the file again.
    for (int pulls = 0; handed < (4u << 20) && pulls < 100; ++pulls) {
        client->PullData(65536);
        handed = sink->Bytes().size();
    }
    ASSERT_EQ(4u << 20, handed);
    EXPECT_TRUE(Pattern(0, handed) == sink->Bytes());
    EXPECT_EQ(handed, client->GetReadPosition());

    client->SeekFilePosition(1000, 0, false);
    EXPECT_EQ(1000u, client->GetReadPosition());
    int pulls = 0;
    while (EndMarkers() == 0 && pulls < 1000) {
        middle->PullData(65536);
        ++pulls;
    }
    const std::vector<uint8_t> got = sink->Bytes();
    ASSERT_EQ(handed + size - 1000, got.size());
    EXPECT_TRUE(Pattern(1000, size) == std::vector<uint8_t>(got.begin() + handed, got.end()));
    EXPECT_EQ(size, client->GetReadPosition());
    EXPECT_EQ(1u, EndMarkers());
    EXPECT_TRUE(Errors().empty());
}

TEST_F(FileClientTest, RoomAskedForMidFileReadsOnFromTheFirstByteNotHandedOn) {
    const uint64_t size = 3u << 20;
    Build(MakeFile("room", size));
    for (int i = 0; i < 3; ++i) client->PullData(65536);  // a block read, part of it handed on
    ASSERT_EQ(3u * 65536, sink->Bytes().size());
    // From now on the chain wants room in front of each chunk: those are read straight into
    // their chunk, while the rest of the block read waits unused.
    client->SetHeadroom(16);
    for (int pulls = 0; EndMarkers() == 0 && pulls < 100; ++pulls) client->PullData(65536);
    ASSERT_EQ(size, sink->Bytes().size());
    EXPECT_TRUE(Pattern(0, size) == sink->Bytes());
    EXPECT_EQ(1u, EndMarkers());
    EXPECT_TRUE(Errors().empty());
}

// A file cut short while it is read: what goes on is a stretch of the file from its start
// (however much was read before the cut, at most a pull and the rest of a block, far less
// than the file), then the truncation is told, once however often the end is pulled at, and
// the end of the stream follows.
TEST_F(FileClientTest, AFileCutShortWhileReadEndsAfterTheBytesThatWereThereAndSaysSo) {
    const uint64_t size = 4u << 20;
    const std::string path = MakeFile("cut", size);
    Build(path);
    client->PullData(65536);
    ASSERT_EQ(0, truncate(path.c_str(), 1u << 20));
    int pulls = 0;
    while (EndMarkers() == 0 && pulls < 1000) {
        middle->PullData(65536);
        ++pulls;
    }
    EXPECT_EQ(1u, EndMarkers());
    const std::vector<uint8_t> got = sink->Bytes();
    EXPECT_GE(got.size(), 1u << 20);
    EXPECT_LT(got.size(), size);
    EXPECT_TRUE(Pattern(0, got.size()) == got);
    for (int i = 0; i < 3; ++i) middle->PullData(65536);
    const std::vector<std::pair<SVStatus, std::string>> told = {
        {SVStatusMediaTruncated, "Media was truncated"}};
    EXPECT_EQ(told, Errors());
}

TEST_F(FileClientTest, AMissingFileIsReportedWithItsNameAndLeavesTheBandwidth) {
    SetDefaultBandwidth(ByteAmount(1234));
    const std::string name = "file://" + dir.File("missing.svm");
    Build(name);
    ASSERT_EQ(1u, Errors().size());
    EXPECT_EQ(1013, Errors()[0].first);
    EXPECT_EQ(name, Errors()[0].second);  // the name as given, prefix included
    EXPECT_EQ(1234u, GetDefaultBandwidth());
    EXPECT_EQ(0u, sink->EndPosition());
    client->PullData(1000);
    EXPECT_TRUE(sink->ChunkSizes().empty());
    EXPECT_EQ(0u, EndMarkers());

    // "file://" anywhere but at the start is part of the path.
    errors.Clear();
    const std::string inside = dir.File("file://x");
    client->SetName(inside, true);
    ASSERT_EQ(1u, Errors().size());
    EXPECT_EQ(inside, Errors()[0].second);

    client->SetName(MakeFile("present", 10), true);
    EXPECT_EQ(0xFFFFFFFFu, GetDefaultBandwidth());  // a local file: no limit
    EXPECT_EQ(10u, sink->EndPosition());
}

TEST_F(FileClientTest, AHugePullAllocatesNoMoreThanTheBytesLeftOrOnePullsMaximum) {
    const struct {
        uint64_t size;
        uint64_t from;
        uint32_t delivered;
    } cases[] = {
        {300, 0, 300},
        {FileClient::kMaxPullBytes * 3, 1000, FileClient::kMaxPullBytes},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.size);
        stack = ComponentStack(StackIdMain);
        Build(MakeFile("huge" + std::to_string(c.size), c.size));
        client->SeekFilePosition(c.from, 0, false);
        gLargestAllocation = 0;
        gTrackAllocations = true;
        client->PullData(ByteAmount(0xFFFFFFFFu));
        gTrackAllocations = false;
        EXPECT_LE(gLargestAllocation.load(), size_t(c.delivered) + 4096);
        ASSERT_EQ(1u, sink->ChunkSizes().size());
        EXPECT_EQ(c.delivered, sink->ChunkSizes()[0]);
        EXPECT_TRUE(Pattern(c.from, c.from + c.delivered) == sink->Bytes());
    }
}

// Bytes left past 4 GiB do not fit the 32-bit count: it saturates (a sparse file costs no
// disk).
TEST_F(FileClientTest, BytesLeftSaturateAt32Bits) {
    const std::string path = dir.File("sparse");
    const uint64_t size = 6ull << 30;
    { std::ofstream out(path, std::ios::binary); }
    ASSERT_EQ(0, truncate(path.c_str(), off_t(size)));
    Build(path);
    EXPECT_EQ(size, sink->EndPosition());
    EXPECT_EQ(0xFFFFFFFFu, client->GetBufferedBytes());
    client->SeekFilePosition(size - 10, 0, false);
    EXPECT_EQ(10u, client->GetBufferedBytes());
    client->SeekFilePosition(size + 10, 0, false);  // past the end: the difference is negative
    EXPECT_EQ(0xFFFFFFFFu, client->GetBufferedBytes());
}

TEST(FileClientFactory, MakesANamedFileClient) {
    FileClient* raw = nullptr;
    boost::shared_ptr<Component> client = CreateFileClient(nullptr, &raw);
    ASSERT_NE(nullptr, raw);
    EXPECT_EQ(client.get(), static_cast<Component*>(raw));
    EXPECT_EQ("SarvelonMediaKit::FileClient", client->GetTypeName());
    EXPECT_NE(nullptr, CreateFileClient(nullptr, nullptr));
}

}  // namespace
}  // namespace SarvelonMediaKit
