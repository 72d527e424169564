#include "engine/input/FileReadAhead.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/ChainTestComponents.h"
#include "tests/support/MediaFileTestSupport.h"
#include "tests/support/TemporaryDirectory.h"

namespace SarvelonMediaKit {
namespace {

// Small blocks, so that a file of a few kilobytes spans several of the reader's buffers (four
// blocks each).
const uint32_t kAheadBlock = 1000;
const size_t kAheadDepth = 3;

class FileReadAheadTest : public ::testing::Test {
protected:
    // A file of size bytes whose byte i is i % 251, opened for reading at its start.
    void Open(uint64_t size) {
        const std::string path = dir.File("ahead");
        ASSERT_TRUE(SvTestSupport::WriteWholeFile(path, SvTestSupport::PatternBytes(0, size)));
        ASSERT_TRUE(file.Open(path, SV::File::kReadOnly | SV::File::kBinary));
    }

    // Takes every block until the reader has none left; each block's size goes to sizes.
    std::vector<uint8_t> TakeAll(std::vector<uint32_t>* sizes = nullptr) {
        std::vector<uint8_t> bytes;
        for (MemoryChunk block = reader.Take(); !block.IsEmpty(); block = reader.Take()) {
            bytes.insert(bytes.end(), block.Data(0), block.Data(0) + block.Size());
            if (sizes != nullptr) sizes->push_back(block.Size());
        }
        return bytes;
    }

    SvTestSupport::TemporaryDirectory dir{"filereadahead"};
    SV::File file;
    FileReadAhead reader{kAheadBlock, kAheadDepth};
};

// A file that ends in the middle of a buffer, and in the middle of a block: every byte comes,
// once and in order, in whole blocks but the last, and the reader then ends without a failure.
TEST_F(FileReadAheadTest, AFileEndingMidBufferComesWholeInOrder) {
    const uint64_t size = 9 * kAheadBlock + 321;  // two buffers and a bit of a third
    Open(size);
    reader.Start(file, size + 5000);  // more asked for than the file holds
    std::vector<uint32_t> sizes;
    EXPECT_TRUE(SvTestSupport::PatternBytes(0, size) == TakeAll(&sizes));
    ASSERT_EQ(10u, sizes.size());
    for (size_t i = 0; i + 1 < sizes.size(); ++i) EXPECT_EQ(kAheadBlock, sizes[i]) << i;
    EXPECT_EQ(321u, sizes.back());
    EXPECT_TRUE(reader.IsDrained());
    EXPECT_FALSE(reader.Failed());
    EXPECT_EQ(0u, reader.Stop());
    EXPECT_EQ(int64_t(size), file.Tell());
}

// A read bounded within the file ends where the bound says, mid-block and mid-buffer, and the
// file stands just past it.
TEST_F(FileReadAheadTest, ABoundEndingMidBufferReadsNoFurther) {
    Open(20 * kAheadBlock);
    ASSERT_TRUE(file.Seek(123, 0));
    reader.Start(file, 6 * kAheadBlock + 7);
    EXPECT_TRUE(SvTestSupport::PatternBytes(123, 123 + 6 * kAheadBlock + 7) == TakeAll());
    EXPECT_FALSE(reader.Failed());
    reader.Stop();
    EXPECT_EQ(int64_t(123 + 6 * kAheadBlock + 7), file.Tell());
}

// Blocks already taken keep their bytes while the reader goes on filling the rest of their
// buffer: the blocks after them are read into bytes no block taken shows.
TEST_F(FileReadAheadTest, BlocksTakenKeepTheirBytesWhileTheirBufferFills) {
    const uint64_t size = 12 * kAheadBlock;
    Open(size);
    reader.Start(file, size);
    const MemoryChunk first = reader.Take();
    const MemoryChunk second = reader.Take();
    ASSERT_EQ(kAheadBlock, first.Size());
    ASSERT_EQ(kAheadBlock, second.Size());
    const std::vector<uint8_t> rest = TakeAll();  // the reader fills the buffer's other blocks
    EXPECT_TRUE(SvTestSupport::PatternBytes(0, kAheadBlock) ==
                std::vector<uint8_t>(first.Data(0), first.Data(0) + first.Size()));
    EXPECT_TRUE(SvTestSupport::PatternBytes(kAheadBlock, 2 * kAheadBlock) ==
                std::vector<uint8_t>(second.Data(0), second.Data(0) + second.Size()));
    EXPECT_TRUE(SvTestSupport::PatternBytes(2 * kAheadBlock, size) == rest);
}

// Neighbouring blocks of one buffer join into one slice, as a payload that runs from one into
// the next does in the demultiplexer; blocks of different buffers do not, and neither is
// changed by the attempt.
TEST_F(FileReadAheadTest, NeighbouringBlocksOfOneBufferJoinIntoOneSlice) {
    Open(8 * kAheadBlock);
    reader.Start(file, 8 * kAheadBlock);
    std::vector<MemoryChunk> blocks;
    for (MemoryChunk block = reader.Take(); !block.IsEmpty(); block = reader.Take()) {
        blocks.push_back(block);
    }
    ASSERT_EQ(8u, blocks.size());
    // The last 10 bytes of block 0 and the first 10 of block 1: the first buffer.
    MemoryChunk payload = blocks[0].Slice(kAheadBlock - 10, 10);
    ASSERT_TRUE(payload.ExtendSlice(blocks[1], 0, 10));
    EXPECT_TRUE(SvTestSupport::PatternBytes(kAheadBlock - 10, kAheadBlock + 10) ==
                std::vector<uint8_t>(payload.Data(0), payload.Data(0) + payload.Size()));
    // Block 3 ends the first buffer, block 4 starts the second.
    MemoryChunk across = blocks[3].Slice(kAheadBlock - 10, 10);
    EXPECT_FALSE(across.ExtendSlice(blocks[4], 0, 10));
    EXPECT_EQ(10u, across.Size());
    EXPECT_TRUE(SvTestSupport::PatternBytes(4 * kAheadBlock - 10, 4 * kAheadBlock) ==
                std::vector<uint8_t>(across.Data(0), across.Data(0) + across.Size()));
}

// Stopped in the middle of a buffer with blocks still queued: the count dropped is what was
// read and not taken, the file stands past every byte read, and a new start from the first
// byte not taken reads the rest of the file into a buffer of its own.
TEST_F(FileReadAheadTest, AStopMidBufferDropsTheQueuedBlocksAndARestartReadsOn) {
    const uint64_t size = 10 * kAheadBlock + 55;
    Open(size);
    reader.Start(file, size);
    const MemoryChunk first = reader.Take();
    ASSERT_EQ(kAheadBlock, first.Size());
    const uint64_t dropped = reader.Stop();
    EXPECT_EQ(uint64_t(file.Tell()), kAheadBlock + dropped);
    EXPECT_LE(dropped, kAheadDepth * kAheadBlock);
    ASSERT_TRUE(file.Seek(kAheadBlock, 0));
    reader.Start(file, size - kAheadBlock);
    std::vector<uint8_t> got(first.Data(0), first.Data(0) + first.Size());
    const std::vector<uint8_t> rest = TakeAll();
    got.insert(got.end(), rest.begin(), rest.end());
    EXPECT_TRUE(SvTestSupport::PatternBytes(0, size) == got);
}

}  // namespace
}  // namespace SarvelonMediaKit
