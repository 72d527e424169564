#ifndef TOOLS_MKTITLE_TRACKOUTPUT_H
#define TOOLS_MKTITLE_TRACKOUTPUT_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "tools/mktitle/ByteSink.h"
#include "tools/mktitle/SampleSource.h"
#include "tools/mktitle/TitleInput.h"

namespace SarvelonMediaKit {
class Mpeg2PsPack;
class Mpeg2PsPes;
}  // namespace SarvelonMediaKit

namespace SvTools {

// Where a track's packs and packets go: only counted while the title is planned (no source, no
// sink), written to the sink when it is made. The same layout code runs both ways, so the plan
// and the bytes cannot differ.
class TrackOutput {
public:
    // name: the input, for messages.
    TrackOutput(SampleSource* source, ByteSink* sink, const std::string& name);

    // Bytes laid out so far.
    uint64_t Position() const { return position_; }

    // The bytes of the next sample of a kind, checked against the size the sample table gave;
    // null while planning.
    const uint8_t* Bytes(bool video, const Sample& sample);

    // A pack header (the pack's packets follow one by one).
    void Pack(const SarvelonMediaKit::Mpeg2PsPack& pack);
    // A packet; while planning, its last `unadded` payload bytes were left out of it, since only
    // their number counts.
    void Pes(const SarvelonMediaKit::Mpeg2PsPes& pes, size_t unadded);

private:
    void Put(uint32_t size);

    SampleSource* source_;
    ByteSink* sink_;
    std::string name_;
    std::vector<uint8_t> scratch_;  // one record at a time
    uint64_t position_ = 0;
};

}  // namespace SvTools

#endif
