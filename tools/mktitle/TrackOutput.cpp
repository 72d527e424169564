#include "tools/mktitle/TrackOutput.h"

#include <stdexcept>

#include "engine/container/Mpeg2PsPack.h"
#include "engine/container/Mpeg2PsPes.h"

namespace SvTools {

namespace {

// The largest PES packet: 6 header bytes and a 16-bit length.
const size_t kMaxRecordSize = 6 + 0xFFFF;

}  // namespace

TrackOutput::TrackOutput(SampleSource* source, ByteSink* sink, const std::string& name)
    : source_(source), sink_(sink), name_(name) {
    if (sink_) {
        scratch_.resize(kMaxRecordSize);
    }
}

const uint8_t* TrackOutput::Bytes(bool video, const Sample& sample) {
    if (!source_) {
        return nullptr;
    }
    const std::vector<uint8_t>& bytes = source_->Next(video);
    if (bytes.size() != sample.size) {
        throw std::runtime_error(name_ + ": a sample of " + std::to_string(bytes.size()) +
                                 " bytes where " + std::to_string(sample.size) +
                                 " were read before; did the file change while it was read?");
    }
    return bytes.data();
}

void TrackOutput::Pack(const SarvelonMediaKit::Mpeg2PsPack& pack) {
    if (!sink_) {
        position_ += pack.GetSize(true);
        return;
    }
    Put(pack.Write(scratch_.data(), static_cast<uint32_t>(scratch_.size())));
}

void TrackOutput::Pes(const SarvelonMediaKit::Mpeg2PsPes& pes, size_t unadded) {
    if (!sink_) {
        position_ += pes.GetSize() + unadded;
        return;
    }
    Put(pes.Write(scratch_.data(), static_cast<uint32_t>(scratch_.size())));
}

void TrackOutput::Put(uint32_t size) {
    if (size == 0) {
        throw std::runtime_error(name_ + ": a packet could not be written");
    }
    sink_->Write(scratch_.data(), size);
    position_ += size;
}

}  // namespace SvTools
