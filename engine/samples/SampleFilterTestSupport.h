#ifndef ENGINE_SAMPLES_SAMPLEFILTERTESTSUPPORT_H
#define ENGINE_SAMPLES_SAMPLEFILTERTESTSUPPORT_H

// Helpers shared by the sample-filter tests of this folder (included by *Test.cpp only).

#include <boost/make_shared.hpp>
#include <boost/shared_ptr.hpp>

#include <cstdint>
#include <cstring>
#include <map>
#include <vector>

#include "engine/core/MemoryTracker.h"
#include "engine/samples/Sample.h"
#include "engine/samples/SampleStream.h"
#include "engine/samples/SampleStreamOwner.h"

namespace SarvelonMediaKit {
namespace filtertest {

typedef std::vector<uint8_t> Bytes;

// A demultiplexer stand-in that answers stream-information queries from a table.
class InfoOwner : public SampleStreamOwner {
public:
    boost::shared_ptr<MemoryTracker> GetMemoryTracker() const override {
        return boost::shared_ptr<MemoryTracker>();
    }
    bool GetStreamInfo(uint32_t kind, const uint8_t** data, uint32_t* size) override {
        const auto found = info.find(kind);
        if (found == info.end()) {
            return false;
        }
        *data = found->second.data();
        *size = static_cast<uint32_t>(found->second.size());
        return true;
    }
    std::map<uint32_t, Bytes> info;
};

// A connected stream with the given room for new payloads.
inline boost::shared_ptr<SampleStream> MakeStream(uint32_t type, uint32_t format,
                                                  SampleStreamOwner* owner = nullptr,
                                                  uint32_t headroom = 16) {
    boost::shared_ptr<SampleStream> stream =
        boost::make_shared<SampleStream>(owner, StreamReference(7), type, format);
    stream->SetHeadroom(headroom);
    stream->SetConnected(true);
    return stream;
}

// A connected stream whose owner knows one kind of stream information (nothing when the bytes
// are empty), as a demultiplexer that read it from the container would. The owner may learn
// more afterwards.
struct OwnedStream {
    OwnedStream(uint32_t type, uint32_t format, uint32_t infoKind, const Bytes& info,
                uint32_t headroom = 16) {
        if (!info.empty()) {
            owner.info[infoKind] = info;
        }
        stream = MakeStream(type, format, &owner, headroom);
    }
    OwnedStream(const OwnedStream&) = delete;  // the stream keeps the owner's address
    OwnedStream& operator=(const OwnedStream&) = delete;

    InfoOwner owner;
    boost::shared_ptr<SampleStream> stream;
};

// A sample of the stream with one chunk per part (the first with the stream's headroom).
inline Sample MakeSample(const SampleStream& stream, const std::vector<Bytes>& parts,
                         uint64_t decodeTime = 0, uint64_t presentationOffset = 0) {
    Sample sample = stream.MakeSample(0);
    for (const Bytes& part : parts) {
        MemoryChunk& chunk = sample.GetPayload().AddChunk(static_cast<uint32_t>(part.size()));
        if (!part.empty()) {
            std::memcpy(chunk.Data(0), part.data(), part.size());
        }
    }
    sample.SetDecodeTime(decodeTime);
    sample.SetPresentationOffset(presentationOffset);
    return sample;
}

inline void Push(SampleStream& stream, const std::vector<Bytes>& parts, uint64_t decodeTime = 0,
                 uint64_t presentationOffset = 0) {
    Sample sample = MakeSample(stream, parts, decodeTime, presentationOffset);
    stream.PushSample(sample);
}

// All payload bytes of a sample in order.
inline Bytes PayloadOf(const Sample& sample) {
    Bytes bytes;
    for (const MemoryChunk& chunk : sample.GetPayload().GetChunks()) {
        if (chunk.Size() > 0) {
            bytes.insert(bytes.end(), chunk.Data(0), chunk.Data(0) + chunk.Size());
        }
    }
    return bytes;
}

// Takes every queued sample out of the stream, oldest first.
inline std::vector<Sample> Drain(SampleStream& stream) {
    std::vector<Sample> samples;
    while (!stream.IsEmpty()) {
        samples.push_back(stream.Front());
        stream.PopFront();
    }
    return samples;
}

inline Bytes Concat(const std::vector<Bytes>& parts) {
    Bytes all;
    for (const Bytes& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

}  // namespace filtertest
}  // namespace SarvelonMediaKit

#endif
