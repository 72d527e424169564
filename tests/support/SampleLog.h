#ifndef TESTS_SUPPORT_SAMPLELOG_H
#define TESTS_SUPPORT_SAMPLELOG_H

// Header-only (included by *Test.cpp only): a multiplexer that keeps a log of every sample a
// demultiplexer hands it, with a digest of each payload, so that two chains fed the same title
// by different sources can be compared sample by sample.

#include <cstdint>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "engine/samples/Sample.h"
#include "tests/support/Mpeg2PsDemuxTestSupport.h"

namespace SvTestSupport {

// One sample as it left the demultiplexer.
struct SampleLogEntry {
    uint32_t stream = 0;              // stream id of the elementary stream (0xE0, 0xC0, ...)
    uint64_t decodeTime = 0;          // microseconds
    uint64_t presentationOffset = 0;  // PTS - DTS, microseconds
    bool key = false;
    uint64_t size = 0;  // payload bytes
    uint64_t hash = 0;  // FNV-1a (64 bits) of the payload bytes

    bool operator==(const SampleLogEntry& other) const {
        return stream == other.stream && decodeTime == other.decodeTime &&
               presentationOffset == other.presentationOffset && key == other.key &&
               size == other.size && hash == other.hash;
    }
    bool operator!=(const SampleLogEntry& other) const { return !(*this == other); }
    std::string ToString() const {
        std::ostringstream out;
        out << "stream 0x" << std::hex << stream << std::dec << " dts " << decodeTime << " +"
            << presentationOffset << (key ? " key" : "") << " size " << size << " hash " << std::hex
            << hash;
        return out.str();
    }
};

// FNV-1a over the payload, chunk after chunk: the same bytes give the same digest however the
// payload is cut into chunks.
inline uint64_t PayloadHash(const SarvelonMediaKit::MemoryChunkList& payload) {
    uint64_t hash = 14695981039346656037ull;
    for (const SarvelonMediaKit::MemoryChunk& chunk : payload.GetChunks()) {
        const unsigned char* data = chunk.Data(0);
        for (uint32_t i = 0; i < chunk.Size(); ++i) {
            hash ^= data[i];
            hash *= 1099511628211ull;
        }
    }
    return hash;
}

// The recording multiplexer of the demultiplexer tests that also keeps, in the order it takes
// them, one log entry per sample. Readable from another thread.
class SampleLogMux : public SarvelonMediaKit::demuxtest::RecordingMux {
public:
    explicit SampleLogMux(SarvelonMediaKit::Session* session) : RecordingMux(session) {}
    std::string GetTypeName() const override { return "SampleLogMux"; }
    // It writes nothing out, so it always has room: a source that asks its consumer's room
    // (a download client) is not held back by the missing output end.
    SarvelonMediaKit::ByteAmount DoGetBytesWanted() override {
        return SarvelonMediaKit::ByteAmount(1u << 20);
    }

    void DoProcessSample(SarvelonMediaKit::Sample& sample) override {
        SampleLogEntry entry;
        entry.stream = sample.GetStreamRef().Get();
        entry.decodeTime = sample.GetDecodeTime().Get();
        entry.presentationOffset = sample.GetPresentationOffset().Get();
        entry.key = sample.IsKeyFrame();
        entry.size = sample.GetPayload().Size();
        entry.hash = PayloadHash(sample.GetPayload());
        {
            std::lock_guard<std::mutex> lock(logMutex_);
            log_.push_back(entry);
        }
        RecordingMux::DoProcessSample(sample);
    }

    std::vector<SampleLogEntry> Log() const {
        std::lock_guard<std::mutex> lock(logMutex_);
        return log_;
    }

private:
    mutable std::mutex logMutex_;
    std::vector<SampleLogEntry> log_;
};

// Empty when the logs are equal, else where they first part.
inline std::string FirstDifference(const std::vector<SampleLogEntry>& expected,
                                   const std::vector<SampleLogEntry>& got) {
    for (size_t i = 0; i < expected.size() && i < got.size(); ++i) {
        if (expected[i] != got[i]) {
            return "sample " + std::to_string(i) + ": expected " + expected[i].ToString() +
                   ", got " + got[i].ToString();
        }
    }
    if (expected.size() != got.size()) {
        return "expected " + std::to_string(expected.size()) + " samples, got " +
               std::to_string(got.size());
    }
    return std::string();
}

}  // namespace SvTestSupport

#endif
