// Feeds index entries to the index-entry reader packet by packet, as the parser does: either
// arbitrary bytes, or an entry made by the writer (version from the first input byte) with the
// rest of the input laid over it and appended. Checks the reader's contract whatever the
// bytes: an incomplete entry keeps the buffer untouched, every other result empties it, a
// track comes only with success and never holds more seek entries than the bytes could carry,
// and the buffer never grows past the reader's limit.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "SVLibrary/Util/Sha256.h"
#include "engine/container/Mpeg2PsFormat.h"
#include "engine/container/Mpeg2PsIndexEntry.h"
#include "engine/container/Mpeg2PsIndexEntryTestSupport.h"
#include "engine/container/Mpeg2PsIndexEntryReader.h"
#include "fuzz/FuzzTestSupport.h"

namespace {

using namespace SarvelonMediaKit;
typedef Mpeg2PsIndexEntryReader Reader;

// The tests' muxed entry, with audio format 2 (read as six channels, a path of its own) and a
// track version tag.
std::vector<uint8_t> WrittenEntry(uint32_t version) {
    Mpeg2PsIndexEntry entry = containertest::MuxedTrackIndexEntry();
    entry.audio->format = 2;
    entry.trackVersion = 1;
    std::vector<uint8_t> bytes;
    entry.Write(version, bytes);
    return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) {
        return 0;
    }
    const uint32_t mode = data[0] % 8;
    const size_t piece = data[1] == 0 ? size : data[1];
    data += 2;
    size -= 2;

    std::vector<uint8_t> input;
    if (mode <= 4) {
        input = SvFuzz::LaidOver(WrittenEntry(mode), data, size);
    } else {
        input.assign(data, data + size);
    }

    const std::vector<Mpeg2PsPsm::EsMapEntry> esMap = {
        {0xE0, 0x1B, {}}, {0xC0, 0x0F, {}}, {0xBD, 0x87, {}}};
    SV::Sha256Context digest;
    if (SV::Sha256Init(&digest) != 1) {
        abort();
    }
    std::vector<uint8_t> buffer;
    uint32_t longest = 0;
    for (size_t pos = 0; pos < input.size();) {
        const size_t n = std::min(piece, input.size() - pos);
        buffer.insert(buffer.end(), input.begin() + pos, input.begin() + pos + n);
        pos += n;
        if (buffer.size() > Reader::kMaxEntrySize) {
            abort();
        }
        const std::vector<uint8_t> before = buffer;
        boost::shared_ptr<MediaTrack> track;
        const Mpeg2PsResult result =
            Reader::ParseIndexEntry(buffer, &digest, esMap, longest, track);
        if (result == Mpeg2PsResult::EntryIncomplete) {
            if (buffer != before || track) {
                abort();
            }
            continue;
        }
        if (!buffer.empty() || (result == Mpeg2PsResult::Ok) != bool(track)) {
            abort();
        }
        if (track && uint64_t(track->GetIndex().GetCount()) * Mpeg2PsFormat::kSeekRecordSize >
                         before.size()) {
            abort();
        }
    }
    std::vector<uint8_t> out(SV::kSha256DigestLength);
    SV::Sha256Final(out.data(), &digest);
    return 0;
}
