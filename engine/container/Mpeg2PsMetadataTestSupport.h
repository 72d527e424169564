#ifndef ENGINE_CONTAINER_MPEG2PSMETADATATESTSUPPORT_H
#define ENGINE_CONTAINER_MPEG2PSMETADATATESTSUPPORT_H

// Shared by the tests of the tagged lists, the metadata blocks and their reader (included by
// *Test.cpp only).

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "engine/container/Mpeg2PsMetadata.h"
#include "engine/container/Mpeg2PsMetadataBlockReader.h"

namespace SarvelonMediaKit {
namespace containertest {

// Reads the bytes into list (bare or headed as its version says) and succeeds when the read
// succeeds and takes every byte; the failure tells the reader's error or the bytes left over.
inline ::testing::AssertionResult ReadsWhole(Mpeg2PsMetadata& list,
                                             const std::vector<uint8_t>& bytes) {
    size_t consumed = 0;
    if (!list.Read(bytes.data(), bytes.size(), consumed)) {
        return ::testing::AssertionFailure() << "not read: " << list.GetError();
    }
    if (consumed != bytes.size()) {
        return ::testing::AssertionFailure()
               << "read " << consumed << " of " << bytes.size() << " bytes";
    }
    return ::testing::AssertionSuccess();
}

// Reads a headed block as the parser does, expecting the whole of it taken.
inline Mpeg2PsMetadata HeadedBlock(const std::vector<uint8_t>& bytes) {
    Mpeg2PsMetadata block(1);
    EXPECT_TRUE(ReadsWhole(block, bytes));
    return block;
}

// A block reader with its chapter list and what reached the handlers.
struct BlockReaderHarness {
    typedef Mpeg2PsMetadataBlockReader Reader;

    Reader reader;
    std::vector<Reader::Chapter> chapters;
    std::vector<std::pair<uint32_t, std::vector<uint8_t>>> thumbnails;
    std::vector<uint32_t> nestedKinds;

    Mpeg2PsResult Parse(const Mpeg2PsMetadata& block, bool viaHandler = false) {
        Reader::BlockHandler nested;
        if (viaHandler) {
            // As the parser does: each nested block goes through its own (virtual) handler.
            nested = [this](const Mpeg2PsMetadata& inner) {
                nestedKinds.push_back(inner.GetVersion());
                return Parse(inner, true);
            };
        }
        return reader.ParseMetadataBlock(
            block, chapters,
            [this](uint32_t index, const std::vector<uint8_t>& image) {
                thumbnails.emplace_back(index, image);
            },
            nested);
    }
};

}  // namespace containertest
}  // namespace SarvelonMediaKit

#endif
