// Feeds arbitrary bytes to the container's record readers (pack with its packets, system
// header, PES packet). What a reader accepts must lie inside the input, and writing it out and
// reading that back must give the same bytes again: a record that cannot survive its own round
// trip would be written differently from what was read.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "engine/codecs/ByteReader.h"
#include "engine/container/Mpeg2PsPack.h"
#include "engine/container/Mpeg2PsPes.h"
#include "engine/container/Mpeg2PsSystemHeader.h"

namespace {

using namespace SarvelonMediaKit;

// The record's bytes as its writer lays them out; empty when it cannot be written.
template <typename Record>
std::vector<uint8_t> Written(const Record& record) {
    std::vector<uint8_t> out(0x30000);
    out.resize(record.Write(out.data(), static_cast<uint32_t>(out.size())));
    return out;
}

template <typename Record>
void RoundTrip(const uint8_t* data, size_t size) {
    ByteReader in(data, size);
    Record first;
    if (!first.Read(in)) {
        if (in.Position() != 0) std::abort();  // a refused record leaves the reader where it was
        return;
    }
    if (in.Position() == 0 || in.Position() > size) std::abort();
    const std::vector<uint8_t> written = Written(first);
    if (written.empty()) return;  // some accepted records are too long to write back
    ByteReader again(written.data(), written.size());
    Record second;
    if (!second.Read(again)) std::abort();
    if (Written(second) != written) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 0x20000) return 0;  // a pack with its packets stays far below this
    RoundTrip<Mpeg2PsPes>(data, size);
    RoundTrip<Mpeg2PsSystemHeader>(data, size);
    RoundTrip<Mpeg2PsPack>(data, size);
    return 0;
}
