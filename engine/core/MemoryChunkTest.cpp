#include "engine/core/MemoryChunk.h"

#include <boost/make_shared.hpp>
#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

#include "SVLibrary/Exception/Exception.h"

namespace SarvelonMediaKit {
namespace {

// A data chunk whose payload bytes are first, first + 1, ...
MemoryChunk PatternChunk(uint32_t size, unsigned char first = 1, uint32_t headroom = 0,
                         uint32_t tailroom = 0) {
    MemoryChunk chunk(size, headroom, tailroom);
    for (uint32_t i = 0; i < size; ++i) {
        *chunk.Data(i) = static_cast<unsigned char>(first + i);
    }
    return chunk;
}

std::vector<unsigned char> Bytes(const MemoryChunk& chunk) {
    if (chunk.Size() == 0) {
        return std::vector<unsigned char>();
    }
    return std::vector<unsigned char>(chunk.Data(0), chunk.Data(0) + chunk.Size());
}

TEST(MemoryChunk, EmptyAndMarkerChunksHaveNoPayload) {
    MemoryChunk none;
    MemoryChunk marker(boost::make_shared<MemoryMarkerEndOfStream>());
    MemoryChunk zero(0, 16, 8);
    for (const MemoryChunk* chunk : {&none, &marker, &zero}) {
        EXPECT_EQ(0u, chunk->Size());
        EXPECT_TRUE(chunk->IsEmpty());
    }
    EXPECT_FALSE(none.GetMarker());
    ASSERT_TRUE(marker.GetMarker());
    EXPECT_EQ(2u, marker.GetMarker()->GetType());
    // Size 0 with room on both sides: all of the headroom can be taken, no more.
    EXPECT_FALSE(zero.Reserve(17));
    EXPECT_TRUE(zero.Reserve(16));
    EXPECT_EQ(16u, zero.Size());
}

TEST(MemoryChunk, MarkerKindsCarryTheirTypeAndFields) {
    struct Case {
        boost::shared_ptr<MemoryMarker> marker;
        uint32_t type;
    } cases[] = {
        {boost::make_shared<MemoryMarkerGopStart>(0x123456789ULL), 0},
        {boost::make_shared<MemoryMarkerTrackChange>(TrackId(7), 4), 1},
        {boost::make_shared<MemoryMarkerEndOfStream>(), 2},
        {boost::make_shared<MemoryMarkerEndOfData>(), 4},
        {boost::make_shared<MemoryMarkerMediaTimeSeek>(MediaTime(5000000), TrackId(3)), 5},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.type, c.marker->GetType());
        EXPECT_EQ(c.type, MemoryChunk(c.marker).GetMarker()->GetType());
    }
    EXPECT_EQ(0x123456789ULL, static_cast<MemoryMarkerGopStart&>(*cases[0].marker).GetValue());
    const MemoryMarkerTrackChange& change = static_cast<MemoryMarkerTrackChange&>(*cases[1].marker);
    EXPECT_EQ(7u, change.GetTrack());
    EXPECT_EQ(4, change.GetChangeType());
    const MemoryMarkerMediaTimeSeek& seek =
        static_cast<MemoryMarkerMediaTimeSeek&>(*cases[4].marker);
    EXPECT_EQ(5000000u, seek.GetMediaTime());
    EXPECT_EQ(3u, seek.GetTrack());
}

TEST(MemoryChunk, CopiesShareBytesAndRange) {
    MemoryChunk a = PatternChunk(10);
    MemoryChunk b = a;
    MemoryChunk c;
    c = b;
    *b.Data(0) = 0xEE;
    EXPECT_EQ(0xEE, *a.Data(0));
    ASSERT_TRUE(a.Advance(4));
    EXPECT_EQ(6u, b.Size());
    EXPECT_EQ(6u, c.Size());
    EXPECT_EQ(5, *c.Data(0));
    c.SetSize(2);
    EXPECT_EQ(2u, a.Size());
}

TEST(MemoryChunk, AdvanceByTheSizeEmptiesAndOneMoreFails) {
    MemoryChunk chunk = PatternChunk(8);
    MemoryChunk copy = chunk;
    EXPECT_FALSE(chunk.Advance(9));
    EXPECT_EQ(8u, chunk.Size());
    EXPECT_EQ(1, *chunk.Data(0));
    EXPECT_TRUE(chunk.Advance(8));
    EXPECT_EQ(0u, copy.Size());
    EXPECT_TRUE(copy.IsEmpty());
    EXPECT_FALSE(chunk.Advance(1));
    EXPECT_TRUE(chunk.Advance(0));
    EXPECT_FALSE(MemoryChunk().Advance(1));
}

TEST(MemoryChunk, ShrinkingAndGrowingBackRestoresTheBytes) {
    MemoryChunk chunk = PatternChunk(100, 1, 4, 4);
    const std::vector<unsigned char> before = Bytes(chunk);
    chunk.SetSize(30);
    EXPECT_EQ(30u, chunk.Size());
    chunk.SetSize(100);
    EXPECT_EQ(before, Bytes(chunk));
    // Growing past the old payload keeps the old bytes and adds zeros at the back.
    chunk.SetSize(200);
    EXPECT_TRUE(std::equal(before.begin(), before.end(), chunk.Data(0)));
    EXPECT_EQ(0, *chunk.Data(199));
}

TEST(MemoryChunk, SetSizeGivesAnEmptyChunkAStoreOfItsOwn) {
    MemoryChunk chunk;
    chunk.SetSize(0);
    EXPECT_TRUE(chunk.IsEmpty());
    chunk.SetSize(3);
    ASSERT_EQ(3u, chunk.Size());
    EXPECT_EQ(0, *chunk.Data(2));
}

TEST(MemoryChunk, TrimEndAndReserveRefuseMoreThanThereIs) {
    MemoryChunk chunk = PatternChunk(5, 1, 2, 0);
    EXPECT_FALSE(chunk.TrimEnd(6));
    EXPECT_EQ(5u, chunk.Size());
    EXPECT_TRUE(chunk.TrimEnd(2));
    EXPECT_EQ((std::vector<unsigned char>{1, 2, 3}), Bytes(chunk));
    EXPECT_FALSE(chunk.Reserve(3));
    EXPECT_TRUE(chunk.Reserve(2));
    EXPECT_EQ(5u, chunk.Size());
    EXPECT_EQ(1, *chunk.Data(2));
}

TEST(MemoryChunk, AppendCopiesThePrefixOfAnother) {
    MemoryChunk chunk = PatternChunk(3, 10);
    MemoryChunk other = PatternChunk(4, 50);
    chunk.Append(other, 2);
    EXPECT_EQ((std::vector<unsigned char>{10, 11, 12, 50, 51}), Bytes(chunk));
    chunk.Append(other);  // all of it
    EXPECT_EQ(9u, chunk.Size());
    EXPECT_EQ(53, *chunk.Data(8));
    EXPECT_THROW(chunk.Append(other, 5), SV::SVLibraryException);
    EXPECT_EQ(9u, chunk.Size());
    // Appending a chunk to itself reads the bytes before the store grows.
    MemoryChunk self = PatternChunk(4, 1);
    self.Append(self);
    EXPECT_EQ((std::vector<unsigned char>{1, 2, 3, 4, 1, 2, 3, 4}), Bytes(self));
    MemoryChunk empty;
    empty.Append(other, 1);
    EXPECT_EQ((std::vector<unsigned char>{50}), Bytes(empty));
}

TEST(MemoryChunk, CopyOfHoldsItsOwnCopyOfTheBytes) {
    uint8_t source[] = {7, 8, 9, 10};
    MemoryChunk copy = MemoryChunk::CopyOf(source, 3);
    source[0] = 99;  // the chunk does not see later changes to the source
    EXPECT_EQ((std::vector<unsigned char>{7, 8, 9}), Bytes(copy));
    EXPECT_FALSE(copy.Reserve(1));  // no headroom
    EXPECT_FALSE(copy.GetMarker());

    const std::vector<uint8_t> vector = {1, 2, 3, 4, 5};
    MemoryChunk fromVector = MemoryChunk::CopyOf(vector);
    EXPECT_EQ((std::vector<unsigned char>{1, 2, 3, 4, 5}), Bytes(fromVector));
    EXPECT_NE(vector.data(), fromVector.Data(0));

    // No bytes give an empty chunk without a buffer: a copy that grows gets a buffer of its
    // own, which the original does not see (copies of a data chunk would share it).
    for (const MemoryChunk& none :
         {MemoryChunk::CopyOf(nullptr, 0), MemoryChunk::CopyOf(std::vector<uint8_t>())}) {
        EXPECT_EQ(0u, none.Size());
        EXPECT_TRUE(none.IsEmpty());
        EXPECT_FALSE(none.GetMarker());
        MemoryChunk alias = none;
        alias.SetSize(2);
        EXPECT_EQ(0u, none.Size());
    }
    MemoryChunk zero(0, 0, 0);
    MemoryChunk alias = zero;
    alias.SetSize(2);
    EXPECT_EQ(2u, zero.Size());  // the difference the check above relies on
}

TEST(MemoryChunk, TheConstructorClearsPayloadAndRoom) {
    MemoryChunk chunk(4, 3, 5);
    EXPECT_EQ(Bytes(chunk), std::vector<unsigned char>(4, 0));
    ASSERT_TRUE(chunk.Reserve(3));  // the headroom
    chunk.SetSize(12);              // and the tailroom
    EXPECT_EQ(Bytes(chunk), std::vector<unsigned char>(12, 0));
}

TEST(MemoryChunk, AnUnsetChunkHasTheSizeAndRoomAskedFor) {
    MemoryChunk chunk = MemoryChunk::Unset(6, 3, 2);
    EXPECT_EQ(6u, chunk.Size());
    EXPECT_FALSE(chunk.IsEmpty());
    EXPECT_FALSE(chunk.GetMarker());
    for (uint32_t i = 0; i < 6; ++i) *chunk.Data(i) = static_cast<unsigned char>(10 + i);
    MemoryChunk copy = chunk;  // shares bytes and range as any data chunk does
    EXPECT_FALSE(chunk.Reserve(4));
    ASSERT_TRUE(chunk.Reserve(3));
    EXPECT_EQ(9u, copy.Size());
    EXPECT_EQ(10, *copy.Data(3));
    ASSERT_TRUE(chunk.Advance(3));
    // Appending writes over the tailroom and grows the buffer behind it: exactly the bytes
    // appended, whatever the room held.
    chunk.Append(PatternChunk(5, 100));
    EXPECT_EQ((std::vector<unsigned char>{10, 11, 12, 13, 14, 15, 100, 101, 102, 103, 104}),
              Bytes(chunk));
    // Growing with SetSize past the old buffer clears what it adds.
    MemoryChunk bare = MemoryChunk::Unset(2, 0, 0);
    *bare.Data(0) = 7;
    *bare.Data(1) = 8;
    bare.SetSize(5);
    EXPECT_EQ((std::vector<unsigned char>{7, 8, 0, 0, 0}), Bytes(bare));

    EXPECT_TRUE(MemoryChunk::Unset(0, 4, 4).IsEmpty());
    EXPECT_THROW(MemoryChunk::Unset(0xFFFFFFFFu, 1, 0), SV::SVLibraryException);
    EXPECT_THROW(MemoryChunk::Unset(1, 0xFFFFFFFFu, 1), SV::SVLibraryException);
}

// What saves the clearing: the buffer's vector gives new bytes a value only when one is named.
// Storage the vector already owns keeps what it held when the vector grows back over it.
TEST(MemoryChunk, TheBufferVectorLeavesNewBytesUnlessGivenAValue) {
    std::vector<unsigned char, MemoryChunk::UnsetAllocator<unsigned char>> bytes(64, 0xAB);
    const unsigned char* storage = bytes.data();
    bytes.resize(8);
    bytes.resize(64);  // within the capacity: the same storage, not cleared
    ASSERT_EQ(storage, bytes.data());
    EXPECT_EQ(0xAB, bytes[63]);
    bytes.resize(8);
    bytes.resize(64, 0);  // a named value is written
    EXPECT_EQ(0, bytes[63]);
    bytes.assign(3, 5);
    EXPECT_EQ((std::vector<unsigned char>{5, 5, 5}),
              std::vector<unsigned char>(bytes.begin(), bytes.end()));
}

TEST(MemoryChunk, SizesThatDoNotFit32BitsAreRefused) {
    EXPECT_THROW(MemoryChunk(0xFFFFFFFFu, 1, 0), SV::SVLibraryException);
    EXPECT_THROW(MemoryChunk(1, 0xFFFFFFFFu, 1), SV::SVLibraryException);
    MemoryChunk chunk(1, 2, 0);
    EXPECT_THROW(chunk.SetSize(0xFFFFFFFFu), SV::SVLibraryException);
    EXPECT_EQ(1u, chunk.Size());
}

// Where a chunk's buffer starts (its headroom included).
const unsigned char* BlockOf(const MemoryChunk& chunk, uint32_t headroom) {
    return chunk.Data(0) - headroom;
}

TEST(MemoryChunkBuffers, AFreedBufferServesTheNextOfAboutItsSizeOnTheSameThread) {
    const unsigned char* first = nullptr;
    {
        // 5120 bytes in all: just the size of one of the classes blocks are kept by.
        MemoryChunk chunk = MemoryChunk::Unset(5096, 16, 8);
        first = BlockOf(chunk, 16);
        std::memset(chunk.Data(0), 0xAB, 5096);
    }
    {
        // Same size: the same block, not a fresh one from the heap.
        MemoryChunk again = MemoryChunk::Unset(5096, 16, 8);
        EXPECT_EQ(first, BlockOf(again, 16));
    }
    {
        // A little smaller still fits the kept block.
        MemoryChunk smaller = MemoryChunk::Unset(4900, 0, 0);
        EXPECT_EQ(first, BlockOf(smaller, 0));
        // While it is in use, a second chunk cannot have it.
        MemoryChunk other = MemoryChunk::Unset(4900, 0, 0);
        EXPECT_NE(first, BlockOf(other, 0));
    }
    {
        // Larger than the block holds: never the kept block.
        MemoryChunk larger = MemoryChunk::Unset(5121, 0, 0);
        EXPECT_NE(first, BlockOf(larger, 0));
    }
}

TEST(MemoryChunkBuffers, AReusedBufferIsClearedWhereClearingIsPromised) {
    // Sizes about the edges of the kept range, and one well inside it.
    for (uint32_t size : {1000u, 1023u, 1024u, 1025u, 70000u, (4u << 20) - 24, (4u << 20) + 1}) {
        SCOPED_TRACE(size);
        const unsigned char* block = nullptr;
        {
            MemoryChunk dirty = MemoryChunk::Unset(size - 24, 16, 8);
            block = BlockOf(dirty, 16);
            std::memset(dirty.Data(0) - 16, 0xFF, size);
        }
        MemoryChunk clean(size - 24, 16, 8);
        if (size >= 1024 && size <= (4u << 20)) {
            EXPECT_EQ(block, BlockOf(clean, 16));  // kept and reused
        }
        const unsigned char* bytes = BlockOf(clean, 16);
        uint32_t nonzero = 0;
        for (uint32_t i = 0; i < size; ++i) {
            nonzero += bytes[i] != 0;
        }
        EXPECT_EQ(0u, nonzero);
        // Grown through its tailroom and beyond: the old bytes stay, the new ones are zero.
        clean.SetSize(size);
        EXPECT_EQ(0, *clean.Data(size - 1));
    }
}

TEST(MemoryChunkBuffers, BuffersFreedOnOtherThreadsAndBeyondWhatIsKeptLoseNothing) {
    // Far more than one thread keeps: made here, filled, freed on another thread that then
    // ends (its kept blocks go to the shared pool, bounded, or the heap; a leak checker would
    // see any lost on the way).
    std::vector<MemoryChunk> chunks;
    for (uint32_t i = 0; i < 40; ++i) {
        chunks.push_back(PatternChunk(300000 + i * 1000, static_cast<unsigned char>(i)));
    }
    std::thread freer([&chunks] {
        for (uint32_t i = 0; i < chunks.size(); ++i) {
            const MemoryChunk& chunk = chunks[i];
            ASSERT_EQ(300000 + i * 1000, chunk.Size());
            EXPECT_EQ(static_cast<unsigned char>(i + 299999), *chunk.Data(299999));
        }
        chunks.clear();
        // Made and freed again on this thread: served from what it just kept.
        MemoryChunk a = MemoryChunk::Unset(300000, 0, 0);
        const unsigned char* block = a.Data(0);
        a = MemoryChunk();
        MemoryChunk b = MemoryChunk::Unset(300000, 0, 0);
        EXPECT_EQ(block, b.Data(0));
    });
    freer.join();
    EXPECT_TRUE(chunks.empty());
    // This thread's own buffers still work after the other thread's cache is gone.
    MemoryChunk after = PatternChunk(300000, 7);
    EXPECT_EQ(static_cast<unsigned char>(7 + 299999), *after.Data(299999));
}

TEST(MemoryChunkBuffersDeathTest, ABufferLetGoOnAThreadThatEndsServesAnotherThread) {
    // In a child process of this test alone: the shared pool is bounded, and the threads of
    // other tests may have filled it already. The size is far above what the heap serves from
    // its own free lists (it maps such blocks afresh, zeroed, and unmaps them when freed): the
    // block made on one thread comes back to another, bytes unchanged, only if the pool the
    // threads share kept it.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            const uint32_t size = 3000000;
            const unsigned char* made = nullptr;
            std::thread maker([&] {
                MemoryChunk chunk = MemoryChunk::Unset(size, 0, 0);
                std::memset(chunk.Data(0), 0xA5, size);
                made = chunk.Data(0);
            });  // freed into the maker's cache, which goes to the shared pool as it ends
            maker.join();
            MemoryChunk again = MemoryChunk::Unset(size, 0, 0);
            const bool ok =
                again.Data(0) == made && *again.Data(0) == 0xA5 && *again.Data(size - 1) == 0xA5;
            std::_Exit(ok ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST(MemoryChunkBuffersDeathTest, ALargeBufferFreedOnAThreadThatMakesNoneServesTheMakers) {
    // A reader makes blocks and the pump frees them: the pump's own cache must not keep them
    // for nobody while readers ask the heap for new ones. In a child process, as the shared
    // pool may be full from other tests.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            const uint32_t size = 256 * 1024;
            std::vector<MemoryChunk> handed;
            std::vector<const unsigned char*> made;
            bool reused = true;
            std::thread maker([&] {
                for (int i = 0; i < 4; ++i) {
                    handed.push_back(MemoryChunk::Unset(size, 0, 0));
                    made.push_back(handed.back().Data(0));
                }
            });
            maker.join();
            // Freed on this thread, as the pump lets go of what a reader made.
            handed.clear();
            std::thread again([&] {
                for (int i = 0; i < 4; ++i) {
                    MemoryChunk chunk = MemoryChunk::Unset(size, 0, 0);
                    reused =
                        reused && std::find(made.begin(), made.end(), chunk.Data(0)) != made.end();
                    handed.push_back(chunk);
                }
            });
            again.join();
            handed.clear();
            std::_Exit(reused ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST(MemoryChunkBuffersDeathTest, SmallBuffersFreedOnAThreadThatTakesNoneGoBackToTheirMaker) {
    // A connection's pump lets go of the segment chunks the multiplexer cut while it lives on:
    // had it kept them in a cache of its own (a dozen such threads, one per player), they
    // would be held for nobody. The blocks, filled with a pattern, must come back unchanged to
    // a thread that makes chunks of their size while the thread that freed them still runs.
    // In a child process, as the shared pool may be full from other tests.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            const uint32_t size = 16 * 1024;  // a picture's part of a segment
            const int count = 8;
            std::vector<MemoryChunk> handed;
            std::vector<const unsigned char*> made;
            std::thread maker([&] {
                for (int i = 0; i < count; ++i) {
                    handed.push_back(MemoryChunk::Unset(size, 0, 0));
                    std::memset(handed.back().Data(0), 0x5A, size);
                    made.push_back(handed.back().Data(0));
                }
            });
            maker.join();
            std::mutex lock;
            std::condition_variable changed;
            bool freed = false;
            bool done = false;
            std::thread freer([&] {
                handed.clear();
                std::unique_lock<std::mutex> hold(lock);
                freed = true;
                changed.notify_all();
                changed.wait(hold, [&] { return done; });  // alive, its cache with it
            });
            {
                std::unique_lock<std::mutex> hold(lock);
                changed.wait(hold, [&] { return freed; });
            }
            int reused = 0;
            std::thread again([&] {
                for (int i = 0; i < count; ++i) {
                    MemoryChunk chunk = MemoryChunk::Unset(size, 0, 0);
                    if (std::find(made.begin(), made.end(), chunk.Data(0)) != made.end() &&
                        chunk.Data(0)[0] == 0x5A && chunk.Data(0)[size - 1] == 0x5A) {
                        ++reused;
                    }
                    handed.push_back(chunk);
                }
            });
            again.join();
            {
                std::lock_guard<std::mutex> hold(lock);
                done = true;
                changed.notify_all();
            }
            freer.join();
            handed.clear();
            std::_Exit(reused == count ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

// A slice shows its source's bytes without a copy; every way of changing its bytes (a write,
// room taken in front, growth) first gives it a copy, so the source never changes through it.
TEST(MemoryChunk, ASliceShowsItsSourceAndNeverWritesIntoIt) {
    MemoryChunk source = PatternChunk(8);  // 1..8
    MemoryChunk slice = source.Slice(2, 4);
    EXPECT_TRUE(slice.IsSlice());
    EXPECT_EQ(source.Data(2), slice.Data(0));  // the same bytes, not a copy
    EXPECT_EQ(std::vector<unsigned char>({3, 4, 5, 6}), Bytes(slice));
    // Its range is its own: moving it leaves the source's alone.
    EXPECT_TRUE(slice.Advance(1));
    EXPECT_EQ(8u, source.Size());
    EXPECT_EQ(std::vector<unsigned char>({4, 5, 6}), Bytes(slice));

    slice.MakeWritable();
    EXPECT_FALSE(slice.IsSlice());
    *slice.Data(0) = 0xAA;
    EXPECT_EQ(std::vector<unsigned char>({0xAA, 5, 6}), Bytes(slice));
    EXPECT_EQ(std::vector<unsigned char>({1, 2, 3, 4, 5, 6, 7, 8}), Bytes(source));

    // Room in front: a slice has none of its own, so it takes a copy with the room asked for.
    MemoryChunk front = source.Slice(0, 3);
    ASSERT_TRUE(front.Reserve(2));
    EXPECT_EQ(5u, front.Size());
    *front.Data(0) = 0xEE;
    *front.Data(1) = 0xEF;
    EXPECT_EQ(std::vector<unsigned char>({0xEE, 0xEF, 1, 2, 3}), Bytes(front));
    EXPECT_EQ(1, *source.Data(0));

    // Growth copies too, and the new bytes are zero as SetSize promises.
    MemoryChunk tail = source.Slice(6, 2);
    tail.SetSize(4);
    EXPECT_EQ(std::vector<unsigned char>({7, 8, 0, 0}), Bytes(tail));
    EXPECT_EQ(8u, source.Size());

    // Out of range is refused; an empty slice is an empty chunk.
    EXPECT_THROW(source.Slice(5, 4), SV::SVLibraryException);
    EXPECT_TRUE(source.Slice(8, 0).IsEmpty());
}

// The bytes a slice shows outlive their source's handle and a growth of the source that moves
// its store (the address sanitizer catches a slice left pointing at freed bytes).
TEST(MemoryChunk, ASliceKeepsItsBytesWhenTheSourceGrowsOrGoes) {
    MemoryChunk slice;
    MemoryChunk sliceOfSlice;
    {
        MemoryChunk source = PatternChunk(4096, 0);
        slice = source.Slice(100, 50);
        sliceOfSlice = slice.Slice(10, 5);
        source.SetSize(1 << 20);  // moves the store
        std::memset(source.Data(0), 0xFF, 4096);
    }
    ASSERT_EQ(50u, slice.Size());
    for (uint32_t i = 0; i < 50; ++i) {
        EXPECT_EQ(static_cast<unsigned char>(100 + i), *slice.Data(i)) << i;
    }
    EXPECT_EQ(std::vector<unsigned char>({110, 111, 112, 113, 114}), Bytes(sliceOfSlice));
}

// A slice runs on into the next piece cut from the same bytes, and only there.
TEST(MemoryChunk, ASliceExtendsOnlyOverTheBytesRightAfterIt) {
    MemoryChunk block = PatternChunk(100, 0);  // 0..99
    MemoryChunk first = block.Slice(0, 40);
    MemoryChunk second = block.Slice(40, 60);
    MemoryChunk payload = first.Slice(30, 10);        // 30..39, ending where first ends
    EXPECT_FALSE(payload.ExtendSlice(second, 1, 5));  // 41..: a gap of one byte
    EXPECT_FALSE(payload.ExtendSlice(MemoryChunk::CopyOf(second.Data(0), 60), 0, 5));
    EXPECT_FALSE(payload.ExtendSlice(second, 0, 61));  // more than second holds
    ASSERT_TRUE(payload.ExtendSlice(second, 0, 5));
    EXPECT_EQ(
        std::vector<unsigned char>({30, 31, 32, 33, 34, 35, 36, 37, 38, 39, 40, 41, 42, 43, 44}),
        Bytes(payload));
    EXPECT_EQ(block.Data(30), payload.Data(0));
    // A slice whose end was trimmed no longer ends where the next bytes start.
    ASSERT_TRUE(payload.TrimEnd(1));
    EXPECT_FALSE(payload.ExtendSlice(second, 5, 1));
    // Nor one showing bytes the source has since moved away from.
    MemoryChunk old = block.Slice(90, 10);
    block.SetSize(1 << 20);
    EXPECT_FALSE(old.ExtendSlice(block, 100, 1));
    EXPECT_FALSE(MemoryChunk::CopyOf(block.Data(0), 4).ExtendSlice(block, 4, 1));  // no slice
}

}  // namespace
}  // namespace SarvelonMediaKit
