#ifndef ENGINE_SAMPLES_SAMPLE_H
#define ENGINE_SAMPLES_SAMPLE_H

#include <boost/shared_ptr.hpp>

#include <cstdint>

#include "SVLibrary/Types/SarvelonMediaKitTypes.h"
#include "engine/core/MemoryChunk.h"
#include "engine/samples/MemoryChunkList.h"
#include "engine/samples/SampleFormat.h"

namespace SarvelonMediaKit {

// One access unit of one elementary stream (an H.264 picture, an AAC or E-AC-3 frame), or an
// in-band marker (format SampleFormatMarker), on its way from the demultiplexer through the
// sample filters to a multiplexer. Held and copied by value; copies share the payload bytes.
class Sample {
public:
    // Type 0, format 0, the invalid stream reference, not a key frame, times 0, scrambling
    // control 0, and a payload of one chunk of size bytes (none for 0) with that room.
    explicit Sample(uint32_t headroom = 0, uint32_t tailroom = 0, uint32_t size = 0);
    // The same with the given type, format and stream reference.
    Sample(uint32_t type, uint32_t format, StreamReference streamRef, uint32_t headroom,
           uint32_t tailroom, uint32_t size);

    // SampleMediaType: 1 audio, 2 video (0 until a stream stamps a filter-made sample).
    uint32_t GetType() const { return type_; }
    void SetType(uint32_t type) { type_ = type; }
    // SampleFormat.
    uint32_t GetFormat() const { return format_; }
    void SetFormat(uint32_t format) { format_ = format; }
    StreamReference GetStreamRef() const { return streamRef_; }
    void SetStreamRef(StreamReference streamRef) { streamRef_ = streamRef; }
    // A random-access unit: set from the PES data_alignment_indicator, and by the H.264 filter
    // for pictures with an IDR slice.
    bool IsKeyFrame() const { return (dataAlignment_ & 1) != 0; }
    void SetDataAlignment(bool on) { dataAlignment_ = on ? 1 : 0; }
    // Microseconds.
    MediaTime GetDecodeTime() const { return decodeTime_; }
    void SetDecodeTime(MediaTime time) { decodeTime_ = time; }
    // PTS - DTS in microseconds.
    MediaTime GetPresentationOffset() const { return presentationOffset_; }
    void SetPresentationOffset(MediaTime offset) { presentationOffset_ = offset; }
    MemoryChunkList& GetPayload() { return payload_; }
    const MemoryChunkList& GetPayload() const { return payload_; }
    // PES_scrambling_control (0-3) of the packet that started the sample.
    uint32_t GetScramblingControl() const { return scramblingControl_; }
    void SetScramblingControl(uint32_t bits) { scramblingControl_ = bits; }

    // The marker of a marker sample (format 1 with a chunk); empty for any other sample.
    boost::shared_ptr<MemoryMarker> GetMemoryMarker() const;

private:
    uint32_t type_;
    uint32_t format_;
    StreamReference streamRef_;
    uint8_t dataAlignment_;  // bit 0 only
    MediaTime decodeTime_;
    MediaTime presentationOffset_;
    MemoryChunkList payload_;
    uint32_t scramblingControl_;
};

}  // namespace SarvelonMediaKit

#endif
