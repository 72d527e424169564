// Reads arbitrary bytes as a tagged metadata list, bare or headed (first input byte), or lays
// them over a written chapter table; then hands a headed block to the metadata-block reader.
// Checks that a list that was read writes back to bytes that read to the same list, that no
// getter's type error escapes the block reader, and that nested tables cannot exhaust the
// stack.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "engine/container/Mpeg2PsMetadata.h"
#include "engine/container/Mpeg2PsMetadataBlockReader.h"
#include "engine/container/Mpeg2PsMetadataBlocks.h"
#include "fuzz/FuzzTestSupport.h"

namespace {

using namespace SarvelonMediaKit;
typedef Mpeg2PsMetadataBlockReader Reader;

std::vector<uint8_t> WrittenTable() {
    std::vector<uint8_t> chapter1;
    std::vector<uint8_t> chapter2;
    std::vector<uint8_t> thumbnail;
    std::vector<uint8_t> inner;
    std::vector<uint8_t> table;
    Mpeg2PsMetadataBlocks::WriteChapter(0, "One", 1000, 20, chapter1);
    Mpeg2PsMetadataBlocks::WriteChapter(90000, "", 1020, 20, chapter2);
    Mpeg2PsMetadataBlocks::WriteThumbnail(1, {0xFF, 0xD8, 0xFF, 0xD9}, thumbnail);
    Mpeg2PsMetadataBlocks::WriteTable({chapter2, thumbnail}, inner);
    Mpeg2PsMetadataBlocks::WriteTable({chapter1, inner}, table);
    return table;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) {
        return 0;
    }
    const uint32_t mode = data[0] % 3;
    ++data;
    --size;

    std::vector<uint8_t> input;
    if (mode == 2) {
        input = SvFuzz::LaidOver(WrittenTable(), data, size);
    } else {
        input.assign(data, data + size);
    }

    Mpeg2PsMetadata list(mode == 0 ? 0 : 1);
    size_t consumed = 0;
    if (!list.Read(input.data(), input.size(), consumed)) {
        return 0;
    }
    if (consumed > input.size()) {
        abort();
    }
    // Written back, the list reads to the same values.
    std::vector<uint8_t> written;
    if (!list.Write(written)) {
        abort();
    }
    Mpeg2PsMetadata again(list.GetVersion());  // a headed block of kind 0 writes bare
    size_t againConsumed = 0;
    std::vector<uint8_t> rewritten;
    if (!again.Read(written.data(), written.size(), againConsumed) ||
        againConsumed != written.size() || !again.Write(rewritten) || rewritten != written) {
        abort();
    }

    if (mode != 0) {
        Reader reader;
        std::vector<Reader::Chapter> chapters;
        size_t thumbnails = 0;
        reader.ParseMetadataBlock(
            list, chapters, [&thumbnails](uint32_t, const std::vector<uint8_t>&) { ++thumbnails; },
            Reader::BlockHandler());
        if (chapters.size() + thumbnails > input.size()) {
            abort();
        }
    }
    return 0;
}
