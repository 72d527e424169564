#include "engine/samples/MemoryChunkList.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace SarvelonMediaKit {
namespace {

// A list of chunks holding the given strings, one chunk per string.
MemoryChunkList ListOf(const std::vector<std::string>& parts, uint32_t headroom = 0,
                       uint32_t tailroom = 0) {
    MemoryChunkList list(headroom, tailroom);
    for (const std::string& part : parts) {
        MemoryChunk& chunk = list.AddChunk(static_cast<uint32_t>(part.size()));
        for (size_t i = 0; i < part.size(); ++i) {
            *chunk.Data(static_cast<uint32_t>(i)) = static_cast<unsigned char>(part[i]);
        }
    }
    return list;
}

// The chunks' payloads, one string per chunk.
std::vector<std::string> Parts(const MemoryChunkList& list) {
    std::vector<std::string> parts;
    for (auto it = list.Begin(); it != list.End(); ++it) {
        parts.emplace_back(reinterpret_cast<const char*>(it->Data(0)), it->Size());
    }
    return parts;
}

TEST(MemoryChunkList, OnlyTheFirstChunkGetsHeadroomEveryChunkTailroom) {
    MemoryChunkList list(7, 3);
    MemoryChunk first = list.AddChunk(4);
    MemoryChunk second = list.AddChunk(4);
    EXPECT_TRUE(first.Reserve(7));
    EXPECT_FALSE(second.Reserve(1));
    // The tailroom lets a chunk grow without its old bytes moving elsewhere in the list.
    *second.Data(3) = 'x';
    second.SetSize(7);
    EXPECT_EQ('x', *second.Data(3));
    // The list holds handles of the same chunks: it sees both changes (11 + 7 bytes).
    EXPECT_EQ(18u, list.Size());
}

TEST(MemoryChunkList, AppendGrowsTheLastChunkOrMakesTheFirst) {
    MemoryChunkList list(2, 0);
    const uint8_t abc[] = {'a', 'b', 'c'};
    list.Append(abc, 3);
    list.Append(abc, 2);
    EXPECT_EQ(std::vector<std::string>({"abcab"}), Parts(list));
    list.AddChunk(0);
    list.Append(abc + 2, 1);
    EXPECT_EQ(std::vector<std::string>({"abcab", "c"}), Parts(list));
    EXPECT_EQ(6u, list.Size());
}

TEST(MemoryChunkList, TheFirstAppendCopiesItsBytesAndClearsTheRoomAroundThem) {
    // A buffer of the same size was just filled and freed, so a reused one would show 0xEE
    // wherever clearing was skipped.
    const uint32_t length = 1500;
    {
        MemoryChunk dirty = MemoryChunk::Unset(length, 8, 4);
        std::memset(dirty.Data(0) - 8, 0xEE, length + 12);
    }
    std::vector<uint8_t> bytes(length);
    for (uint32_t i = 0; i < length; ++i) {
        bytes[i] = static_cast<uint8_t>(i * 7 + 1);
    }
    MemoryChunkList list(8, 4);
    list.Append(bytes.data(), length);
    ASSERT_EQ(1u, list.GetChunks().size());
    MemoryChunk& chunk = list.Back();
    ASSERT_EQ(length, chunk.Size());
    EXPECT_EQ(0, std::memcmp(bytes.data(), chunk.Data(0), length));
    // The headroom, taken into the payload: all zero.
    ASSERT_TRUE(chunk.Reserve(8));
    EXPECT_EQ(std::vector<uint8_t>(8, 0), std::vector<uint8_t>(chunk.Data(0), chunk.Data(8)));
    ASSERT_TRUE(chunk.Advance(8));
    // The tailroom, taken by growing the payload: all zero.
    chunk.SetSize(length + 4);
    EXPECT_EQ(std::vector<uint8_t>(4, 0),
              std::vector<uint8_t>(chunk.Data(length), chunk.Data(length + 4)));
}

TEST(MemoryChunkList, PrependMovesTheFirstChunksBytesUp) {
    const uint8_t head[] = {'H', 'D'};
    MemoryChunkList empty(4, 0);
    empty.Prepend(head, 2);
    EXPECT_EQ(std::vector<std::string>({"HD"}), Parts(empty));

    MemoryChunkList list = ListOf({"payload", "more"}, 4, 0);
    list.Prepend(head, 2);
    EXPECT_EQ(std::vector<std::string>({"HDpayload", "more"}), Parts(list));
    // The headroom was not used for it.
    EXPECT_TRUE(list.Begin()->Reserve(4));
}

TEST(MemoryChunkList, CopiesShareTheBytesAndAppendChunksSharesToo) {
    MemoryChunkList list = ListOf({"abc"});
    MemoryChunkList copy = list;
    MemoryChunkList joined = ListOf({"x"});
    joined.AppendChunks(list);
    *list.Begin()->Data(0) = 'Z';
    EXPECT_EQ(std::vector<std::string>({"Zbc"}), Parts(copy));
    EXPECT_EQ(std::vector<std::string>({"x", "Zbc"}), Parts(joined));
}

TEST(MemoryChunkListCursor, WalksAcrossChunksSkippingEmptyOnes) {
    MemoryChunkList list = ListOf({"", "ab", "", "", "cde", ""});
    MemoryChunkList::Cursor cursor(list);
    std::string seen;
    for (; !cursor.IsAtEnd(); cursor.Advance(1)) {
        seen += static_cast<char>(*cursor);
    }
    EXPECT_EQ("abcde", seen);
    EXPECT_EQ(5u, cursor.GetPosition());

    MemoryChunkList::Cursor end(list);
    end.End();
    EXPECT_FALSE(cursor != end);

    EXPECT_EQ(4u, cursor.StepBack(4));
    EXPECT_EQ('b', *cursor);
    EXPECT_EQ(1u, cursor.StepBack(9));  // stops at the first byte
    EXPECT_EQ('a', *cursor);
    MemoryChunkList::Cursor begin(list);
    EXPECT_FALSE(cursor != begin);
    EXPECT_EQ(3u, begin.Advance(3));
    EXPECT_EQ('d', *begin);
    EXPECT_EQ(2u, begin.BytesLeftInChunk());
    EXPECT_EQ(3, begin - cursor);
    EXPECT_EQ(2u, begin.Advance(10));
    EXPECT_TRUE(begin.IsAtEnd());
}

TEST(MemoryChunkListCursor, ReadsAndWritesAcrossChunks) {
    MemoryChunkList list = ListOf({"ab", "", "cde", "f"});
    MemoryChunkList::Cursor cursor(list);
    cursor.Advance(1);
    char read[4] = {};
    EXPECT_EQ(4u, cursor.Read(reinterpret_cast<uint8_t*>(read), 4));
    EXPECT_EQ("bcde", std::string(read, 4));
    EXPECT_EQ('f', *cursor);

    // Overwrites in place across the empty chunk, the chunks keep their sizes.
    MemoryChunkList::Cursor writer(list);
    writer.Advance(1);
    EXPECT_EQ(3u, writer.Write(reinterpret_cast<const uint8_t*>("XYZ"), 3));
    EXPECT_EQ(std::vector<std::string>({"aX", "", "YZe", "f"}), Parts(list));
    EXPECT_EQ(4u, writer.GetPosition());

    // Past the end only what there is: two bytes are left from position 4.
    char tail[5] = {};
    EXPECT_EQ(2u, writer.Read(reinterpret_cast<uint8_t*>(tail), 5));
    EXPECT_EQ("ef", std::string(tail, 2));
    EXPECT_TRUE(writer.IsAtEnd());
    EXPECT_EQ(0u, writer.Write(reinterpret_cast<const uint8_t*>("!"), 1));
    EXPECT_EQ(0u, MemoryChunkList::Cursor().Read(reinterpret_cast<uint8_t*>(tail), 1));
}

TEST(MemoryChunkListCursor, EraseFollowsTheChunkRules) {
    struct Case {
        const char* name;
        std::vector<std::string> parts;
        uint64_t start;  // cursor position
        uint64_t count;
        std::vector<std::string> after;
        uint64_t removed;
        char current;  // 0: at the end
    };
    const Case cases[] = {
        {"inside one chunk: following bytes move down", {"abcdef"}, 1, 2, {"adef"}, 2, 'd'},
        {"from a chunk start: the front is dropped", {"abc", "defg"}, 3, 2, {"abc", "fg"}, 2, 'f'},
        {"whole chunk from its start leaves the list",
         {"ab", "cd", "ef"},
         2,
         2,
         {"ab", "ef"},
         2,
         'e'},
        {"to a chunk end from inside: cut short, go on",
         {"abcd", "efgh"},
         2,
         4,
         {"ab", "gh"},
         4,
         'g'},
        {"across a whole middle chunk", {"abc", "de", "fgh"}, 1, 5, {"a", "gh"}, 5, 'g'},
        {"past the end removes what there is", {"abc", "de"}, 1, 50, {"a"}, 4, 0},
        {"everything", {"abc", "de"}, 0, 5, {}, 5, 0},
        {"zero bytes", {"abc"}, 1, 0, {"abc"}, 0, 'b'},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MemoryChunkList list = ListOf(c.parts);
        MemoryChunkList::Cursor cursor(list);
        cursor.Advance(c.start);
        EXPECT_EQ(c.removed, cursor.Erase(c.count));
        EXPECT_EQ(c.after, Parts(list));
        EXPECT_EQ(c.start, cursor.GetPosition());
        if (c.current) {
            ASSERT_FALSE(cursor.IsAtEnd());
            EXPECT_EQ(c.current, static_cast<char>(*cursor));
        } else {
            EXPECT_TRUE(cursor.IsAtEnd());
        }
    }
}

TEST(MemoryChunkListCursor, EraseEditsTheSharedBytesOfCopies) {
    MemoryChunkList list = ListOf({"abcdef"});
    MemoryChunkList copy = list;
    MemoryChunkList::Cursor cursor(list);
    cursor.Advance(2);
    cursor.Erase(2);
    // The chunk is edited in place: a copy of the list sees the same bytes.
    EXPECT_EQ(std::vector<std::string>({"abef"}), Parts(copy));
}

}  // namespace
}  // namespace SarvelonMediaKit
