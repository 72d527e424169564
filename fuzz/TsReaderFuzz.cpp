// Feeds arbitrary bytes to the transport-stream reader whole and in two pieces cut where the
// first input byte says, and checks that both ways read the same: programs, PES packets with
// their fields and payloads, continuity errors, PCRs and error counts. Whatever the input, the
// reader must neither crash nor keep more than its caps allow.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "common/TsReader.h"

namespace {

bool SamePes(const SvTools::TsPes& a, const SvTools::TsPes& b) {
    return a.pid == b.pid && a.streamType == b.streamType && a.streamId == b.streamId &&
           a.hasPts == b.hasPts && a.hasDts == b.hasDts && a.pts == b.pts && a.dts == b.dts &&
           a.randomAccess == b.randomAccess && a.discontinuity == b.discontinuity &&
           a.dataAlignment == b.dataAlignment && a.firstPacket == b.firstPacket &&
           a.truncated == b.truncated && a.payload == b.payload;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) {
        return 0;
    }
    const size_t cut = (size_t{data[0]} * 257) % size;
    SvTools::TsReader whole;
    whole.Feed(data, size);
    whole.Finish();
    SvTools::TsReader pieces;
    pieces.Feed(data, cut);
    pieces.Feed(data + cut, size - cut);
    pieces.Finish();

    if (whole.Pes().size() != pieces.Pes().size() ||
        whole.Programs().size() != pieces.Programs().size() ||
        whole.ContinuityErrors().size() != pieces.ContinuityErrors().size() ||
        whole.Pcrs().size() != pieces.Pcrs().size() ||
        whole.PacketCount() != pieces.PacketCount() ||
        whole.SkippedBytes() != pieces.SkippedBytes() ||
        whole.SectionErrors() != pieces.SectionErrors() ||
        whole.PesErrors() != pieces.PesErrors()) {
        abort();
    }
    for (size_t i = 0; i < whole.Pes().size(); ++i) {
        const SvTools::TsPes& pes = whole.Pes()[i];
        if (!SamePes(pes, pieces.Pes()[i]) || pes.payload.size() > 16 * 1024 * 1024 ||
            pes.pts >= (uint64_t{1} << 33) || pes.dts >= (uint64_t{1} << 33)) {
            abort();
        }
    }
    for (const SvTools::TsProgram& program : whole.Programs()) {
        for (const SvTools::TsStreamInfo& stream : program.streams) {
            if (stream.pid > 0x1FFF || whole.FindStream(stream.pid) == nullptr) {
                abort();
            }
        }
    }
    // Every byte is accounted for: read as a packet, or skipped.
    if (whole.PacketCount() * 188 + whole.SkippedBytes() != size) {
        abort();
    }
    return 0;
}
