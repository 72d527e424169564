#ifndef ENGINE_DEMUX_MPEG2PSPARSERTESTSUPPORT_H
#define ENGINE_DEMUX_MPEG2PSPARSERTESTSUPPORT_H

// Helpers of the parser's tests: a parser that records what it reports, and writers of small
// program streams.

#include <boost/shared_ptr.hpp>

#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "engine/core/MemoryChunk.h"
#include "engine/container/MediaTrack.h"
#include "engine/container/Mpeg2PsPack.h"
#include "engine/demux/Mpeg2PsParser.h"
#include "engine/demux/Mpeg2PsParserListener.h"
#include "engine/container/Mpeg2PsPes.h"
#include "engine/container/Mpeg2PsPsm.h"
#include "engine/container/TrackInfoKeys.h"
#include "engine/samples/Sample.h"

namespace SarvelonMediaKit {
namespace ParserTest {

typedef std::vector<uint8_t> Bytes;

inline MemoryChunk ToChunk(const uint8_t* bytes, size_t size) {
    MemoryChunk chunk(static_cast<uint32_t>(size), 0, 0);
    for (size_t i = 0; i < size; ++i) {
        *chunk.Data(static_cast<uint32_t>(i)) = bytes[i];
    }
    return chunk;
}

inline Bytes FromChunk(const MemoryChunk& chunk) {
    return chunk.Size() ? Bytes(chunk.Data(0), chunk.Data(0) + chunk.Size()) : Bytes();
}

inline Bytes SampleBytes(const Sample& sample) {
    Bytes out;
    for (const MemoryChunk& c : sample.GetPayload().GetChunks()) {
        const Bytes b = FromChunk(c);
        out.insert(out.end(), b.begin(), b.end());
    }
    return out;
}

// A parser that is its own listener and gives every sample its stream id as its stream
// reference, as a demultiplexer gives it its stream's; the rest of the listener is as it is.
class StreamIdParser : public Mpeg2PsParserListener, public Mpeg2PsParser {
public:
    explicit StreamIdParser(bool demultiplexing) : Mpeg2PsParser(*this, demultiplexing) {}

protected:
    Sample CreateSample(uint8_t streamId, uint32_t payloadLength, SampleMediaType type) override {
        Sample s = Mpeg2PsParserListener::CreateSample(streamId, payloadLength, type);
        s.SetStreamRef(StreamReference(streamId));
        return s;
    }
};

// A parser that records every report as one line of text, in order; keeps the samples and the
// output chunks.
class RecordingParser : public StreamIdParser {
public:
    explicit RecordingParser(bool demultiplexing) : StreamIdParser(demultiplexing) {}

    std::vector<std::string> log;
    std::vector<Sample> samples;
    std::vector<uint8_t> sampleIds;
    Bytes output;
    std::vector<MemoryChunk> outputChunks;
    std::vector<boost::shared_ptr<MediaTrack>> tracks;
    Mpeg2PsResult sampleResult = Mpeg2PsResult::Ok;
    uint32_t metadataCompleteCalls = 0;
    uint32_t resyncCalls = 0;

    // Feeds data in pieces of the given sizes (cycled; the rest of data at the end); logs and
    // returns the first non-zero result, continuing after results a caller may go on from.
    Mpeg2PsResult Feed(const Bytes& data, const std::vector<size_t>& pieces) {
        size_t pos = 0;
        size_t i = 0;
        while (pos < data.size()) {
            size_t n = pieces.empty() ? data.size() : pieces[i++ % pieces.size()];
            n = std::min(n, data.size() - pos);
            const Mpeg2PsResult r = Parse(ToChunk(data.data() + pos, n), false);
            pos += n;
            if (r != Mpeg2PsResult::Ok) {
                log.push_back("result " + std::to_string(Mpeg2PsResultNumber(r)));
                return r;
            }
        }
        log.push_back("result 0");
        return Mpeg2PsResult::Ok;
    }

protected:
    Mpeg2PsResult OnSample(Sample& sample) override {
        char line[160];
        std::snprintf(line, sizeof line,
                      "sample id=%02x type=%u size=%llu dts=%llu pto=%llu key=%d",
                      static_cast<unsigned>(sample.GetStreamRef().Get()), sample.GetType(),
                      static_cast<unsigned long long>(sample.GetPayload().Size()),
                      static_cast<unsigned long long>(sample.GetDecodeTime().Get()),
                      static_cast<unsigned long long>(sample.GetPresentationOffset().Get()),
                      sample.IsKeyFrame() ? 1 : 0);
        log.push_back(line);
        samples.push_back(sample);
        sampleIds.push_back(static_cast<uint8_t>(sample.GetStreamRef().Get()));
        return sampleResult;
    }
    Mpeg2PsResult OnOutputChunk(const MemoryChunk& chunk) override {
        const Bytes b = FromChunk(chunk);
        output.insert(output.end(), b.begin(), b.end());
        outputChunks.push_back(chunk);
        return Mpeg2PsResult::Ok;
    }
    Mpeg2PsResult OnNewTrack(const boost::shared_ptr<MediaTrack>& track) override {
        std::string line = "track";
        for (const auto& entry : track->GetInfo()) {
            std::string value;
            entry.second.Print("", value);
            while (!value.empty() && value.back() == '\n') {
                value.pop_back();
            }
            line += " " + entry.first + "=" + value;
        }
        line += " seek=" + std::to_string(track->GetIndex().GetCount());
        log.push_back(line);
        tracks.push_back(track);
        return Mpeg2PsResult::Ok;
    }
    Mpeg2PsResult MetadataComplete() override {
        ++metadataCompleteCalls;
        log.push_back("metadata complete");
        return Mpeg2PsResult::Ok;
    }
    Mpeg2PsResult ShouldResync(const uint8_t* current, uint32_t left,
                               Mpeg2PsResult answer) override {
        ++resyncCalls;
        return Mpeg2PsParserListener::ShouldResync(current, left, answer);
    }
    void OnDataSkipped(uint64_t position, uint64_t count) override {
        log.push_back("skipped " + std::to_string(count) + " at " + std::to_string(position));
        skipped.push_back(std::make_pair(position, count));
    }

public:
    // Every damaged stretch told: (stream position, bytes skipped).
    std::vector<std::pair<uint64_t, uint64_t>> skipped;
};

// ---- Fields read back by hand, apart from the records' own readers ----

// The PTS of a PES packet written with one (flags 0x80, the PTS at byte 9), in 90 kHz ticks.
inline uint64_t PesPts(const Bytes& pes) {
    const uint8_t* t = pes.data() + 9;
    return (uint64_t(t[0] & 0x0E) << 29) | (uint64_t(t[1]) << 22) | (uint64_t(t[2] >> 1) << 15) |
           (uint64_t(t[3]) << 7) | (t[4] >> 1);
}

// The SCR of a pack header, in 27 MHz ticks.
inline uint64_t PackScr(const Bytes& pack) {
    const uint8_t* b = pack.data();
    const uint64_t base = (uint64_t((b[4] >> 3) & 7) << 30) | (uint64_t(b[4] & 3) << 28) |
                          (uint64_t(b[5]) << 20) | (uint64_t(b[6] >> 3) << 15) |
                          (uint64_t(b[6] & 3) << 13) | (uint64_t(b[7]) << 5) | (b[8] >> 3);
    return base * 300 + ((b[8] & 3) << 7) + (b[9] >> 1);
}

// ---- Writers of small streams ----

inline void Append(Bytes& out, const Bytes& more) {
    out.insert(out.end(), more.begin(), more.end());
}

inline Bytes Pack(uint64_t scr) {
    Mpeg2PsPack pack;
    pack.SetScr(scr);
    pack.SetMuxRate(1000);
    Bytes out;
    pack.AppendTo(out);
    return out;
}

inline Bytes Pes(uint8_t id, const Bytes& payload, int64_t pts = -1, int64_t dts = -1,
                 bool aligned = false) {
    Mpeg2PsPes pes;
    pes.SetStreamId(id);
    if (pts >= 0) {
        pes.SetPts(static_cast<uint64_t>(pts));
    }
    if (dts >= 0) {
        pes.SetDts(static_cast<uint64_t>(dts));
    }
    pes.SetDataAlignment(aligned);
    pes.AddData(payload.data(), static_cast<uint32_t>(payload.size()), true);
    Bytes out;
    pes.AppendTo(out);
    return out;
}

// A stream map packet (start code to CRC) naming H.264 on 0xE0 and AAC on 0xC0, with optional
// program_stream_info.
inline Bytes StreamMap(const Bytes& info = Bytes()) {
    Mpeg2PsPsm psm;
    psm.SetCurrentNextIndicator(true);
    if (!info.empty()) {
        psm.AddProgramStreamInfo(info.data(), static_cast<uint16_t>(info.size()));
    }
    psm.AddEsInfo(0xE0, 0x1B);
    psm.AddEsInfo(0xC0, 0x0F);
    Bytes out(psm.GetSize());
    out.resize(psm.Write(out.data(), static_cast<uint32_t>(out.size())));
    return out;
}

inline Bytes ProgramEnd() { return Bytes{0x00, 0x00, 0x01, 0xB9}; }

inline Bytes Filled(size_t n, uint8_t seed) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i) {
        b[i] = static_cast<uint8_t>(seed + i * 7);
    }
    return b;
}

}  // namespace ParserTest
}  // namespace SarvelonMediaKit

#endif
