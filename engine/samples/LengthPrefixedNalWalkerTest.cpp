// The walk over 4-byte length-prefixed NAL units: lengths across chunks, the start code written
// over each field, the two tail rules, a length past the payload, and units erased in place.
#include "engine/samples/LengthPrefixedNalWalker.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace SarvelonMediaKit {
namespace {

typedef std::vector<uint8_t> Bytes;

MemoryChunkList ListOf(const std::vector<Bytes>& parts) {
    MemoryChunkList list;
    for (const Bytes& part : parts) {
        MemoryChunk& chunk = list.AddChunk(static_cast<uint32_t>(part.size()));
        if (!part.empty()) {
            std::memcpy(chunk.Data(0), part.data(), part.size());
        }
    }
    return list;
}

Bytes BytesOf(const MemoryChunkList& list) {
    Bytes bytes;
    for (const MemoryChunk& chunk : list.GetChunks()) {
        bytes.insert(bytes.end(), chunk.Data(0), chunk.Data(0) + chunk.Size());
    }
    return bytes;
}

// What a walk saw: each unit's length and first byte (0x100 for an empty unit), and the end.
struct Walk {
    std::vector<uint32_t> lengths;
    std::vector<int> firstBytes;
    LengthPrefixedNalWalker::Result end;
};

Walk WalkAll(MemoryChunkList& list, uint32_t minimumUnitSize, const uint8_t* replacement) {
    Walk walk;
    LengthPrefixedNalWalker walker(list, minimumUnitSize);
    while ((walk.end = walker.Next(replacement)) == LengthPrefixedNalWalker::ResultUnit) {
        walk.lengths.push_back(walker.Length());
        walk.firstBytes.push_back(walker.Length() > 0 ? *walker.Unit() : 0x100);
    }
    if (walk.end == LengthPrefixedNalWalker::ResultLengthPastPayload) {
        walk.lengths.push_back(walker.Length());
    }
    return walk;
}

const uint8_t kFourByteStartCode[4] = {0x00, 0x00, 0x00, 0x01};

TEST(LengthPrefixedNalWalker, WalksUnitsWhoseFieldsSpanChunks) {
    // Units 41 9A 01 (length 3), 65 (length 1), an empty one; the fields cut across chunks.
    MemoryChunkList list = ListOf({{0x00, 0x00},
                                   {0x00, 0x03, 0x41, 0x9A, 0x01, 0x00},
                                   {},
                                   {0x00, 0x00, 0x01, 0x65},
                                   {0x00, 0x00, 0x00, 0x00}});
    const Walk walk = WalkAll(list, 0, kFourByteStartCode);
    EXPECT_EQ(std::vector<uint32_t>({3, 1, 0}), walk.lengths);
    EXPECT_EQ(std::vector<int>({0x41, 0x65, 0x100}), walk.firstBytes);
    EXPECT_EQ(LengthPrefixedNalWalker::ResultEnd, walk.end);
    // Every field became 00 00 00 01; the units are untouched.
    EXPECT_EQ(Bytes({0x00, 0x00, 0x00, 0x01, 0x41, 0x9A, 0x01, 0x00, 0x00, 0x00, 0x01, 0x65, 0x00,
                     0x00, 0x00, 0x01}),
              BytesOf(list));
}

TEST(LengthPrefixedNalWalker, WithoutReplacementTheFieldsStay) {
    const Bytes bytes = {0x00, 0x00, 0x00, 0x02, 0x41, 0x9A, 0x00, 0x00, 0x00, 0x01, 0x0C};
    MemoryChunkList list = ListOf({bytes});
    const Walk walk = WalkAll(list, 0, nullptr);
    EXPECT_EQ(std::vector<uint32_t>({2, 1}), walk.lengths);
    EXPECT_EQ(std::vector<int>({0x41, 0x0C}), walk.firstBytes);
    EXPECT_EQ(bytes, BytesOf(list));
}

TEST(LengthPrefixedNalWalker, TheMinimumUnitSizeDecidesAboutALoneLengthField) {
    // A unit, then a length field of 9 with nothing behind it.
    const Bytes bytes = {0x00, 0x00, 0x00, 0x01, 0x41, 0x00, 0x00, 0x00, 0x09};
    {
        SCOPED_TRACE("every complete field is read");
        MemoryChunkList list = ListOf({bytes});
        const Walk walk = WalkAll(list, 0, kFourByteStartCode);
        EXPECT_EQ(LengthPrefixedNalWalker::ResultLengthPastPayload, walk.end);
        EXPECT_EQ(std::vector<uint32_t>({1, 9}), walk.lengths);
        // The offending field was already written over.
        EXPECT_EQ(Bytes({0x00, 0x00, 0x00, 0x01, 0x41, 0x00, 0x00, 0x00, 0x01}), BytesOf(list));
    }
    {
        SCOPED_TRACE("a field needs a byte behind it");
        MemoryChunkList list = ListOf({bytes});
        const Walk walk = WalkAll(list, 1, nullptr);
        EXPECT_EQ(LengthPrefixedNalWalker::ResultEnd, walk.end);
        EXPECT_EQ(std::vector<uint32_t>({1}), walk.lengths);
        EXPECT_EQ(bytes, BytesOf(list));
    }
    {
        SCOPED_TRACE("three stray bytes are left in both");
        MemoryChunkList list = ListOf({{0x00, 0x00, 0x00, 0x01, 0x41, 0xAA, 0xBB, 0xCC}});
        EXPECT_EQ(LengthPrefixedNalWalker::ResultEnd, WalkAll(list, 0, kFourByteStartCode).end);
        EXPECT_EQ(Bytes({0x00, 0x00, 0x00, 0x01, 0x41, 0xAA, 0xBB, 0xCC}), BytesOf(list));
    }
    {
        SCOPED_TRACE("empty payload");
        MemoryChunkList list;
        EXPECT_EQ(LengthPrefixedNalWalker::ResultEnd, WalkAll(list, 0, kFourByteStartCode).end);
    }
}

TEST(LengthPrefixedNalWalker, ALengthPastThePayloadEndsTheWalk) {
    // The largest length: checked against what is left, never added to a position.
    MemoryChunkList list = ListOf({{0xFF, 0xFF, 0xFF, 0xFF, 0x41, 0x00, 0x00, 0x00, 0x01, 0x41}});
    LengthPrefixedNalWalker walker(list, 0);
    EXPECT_EQ(LengthPrefixedNalWalker::ResultLengthPastPayload, walker.Next());
    EXPECT_EQ(0xFFFFFFFFu, walker.Length());
    // Over: the units behind are not read.
    EXPECT_EQ(LengthPrefixedNalWalker::ResultLengthPastPayload, walker.Next());
}

TEST(LengthPrefixedNalWalker, ErasesUnitsWithTheirFields) {
    // Slice, filler (type 12) whose field spans chunks, filler, slice.
    MemoryChunkList list =
        ListOf({{0x00, 0x00, 0x00, 0x02, 0x41, 0x9A, 0x00, 0x00},
                {0x00, 0x03, 0x0C, 0xFF},
                {0x80, 0x00, 0x00, 0x00, 0x01, 0x0C, 0x00, 0x00, 0x00, 0x01, 0x65}});
    LengthPrefixedNalWalker walker(list, 1);
    std::vector<uint8_t> types;
    while (walker.Next() == LengthPrefixedNalWalker::ResultUnit) {
        types.push_back(walker.UnitType());
        if (walker.UnitType() == 12) {
            walker.EraseUnit();
        }
    }
    EXPECT_EQ(std::vector<uint8_t>({1, 12, 12, 5}), types);
    EXPECT_EQ(Bytes({0x00, 0x00, 0x00, 0x02, 0x41, 0x9A, 0x00, 0x00, 0x00, 0x01, 0x65}),
              BytesOf(list));
}

}  // namespace
}  // namespace SarvelonMediaKit
