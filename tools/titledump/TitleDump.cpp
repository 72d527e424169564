#include "tools/titledump/TitleDump.h"

#include <cstdarg>
#include <cstdio>
#include <fstream>
#include <map>

#include "engine/container/Mpeg2PsIndexEntryReader.h"
#include "engine/core/MemoryChunk.h"
#include "engine/samples/Sample.h"

namespace SvTools {

using namespace SarvelonMediaKit;

namespace {

// A demultiplexing parser, its own listener, that keeps the tracks and counts the samples of
// each stream.
class SummaryParser : public Mpeg2PsParserListener, public Mpeg2PsParser {
public:
    typedef Mpeg2PsParser::Result Result;

    explicit SummaryParser(TitleSummary& summary) : Mpeg2PsParser(*this, true), summary_(summary) {}

protected:
    Result OnNewTrack(const boost::shared_ptr<MediaTrack>& track) override {
        summary_.tracks.push_back(track);
        return ResultOk;
    }
    Sample CreateSample(uint8_t streamId, uint32_t payloadLength, uint32_t type) override {
        Sample sample = Mpeg2PsParserListener::CreateSample(streamId, payloadLength, type);
        sample.SetStreamRef(StreamReference(streamId));
        return sample;
    }
    Result OnSample(const Sample& sample) override {
        const uint8_t id = static_cast<uint8_t>(sample.GetStreamRef().Get());
        auto found = index_.find(id);
        if (found == index_.end()) {
            StreamSummary stream;
            stream.streamId = id;
            stream.mediaType = sample.GetType();
            for (const Mpeg2PsPsm::EsMapEntry& entry : GetEsMap()) {
                if (entry.elementary_stream_id == id) {
                    stream.streamType = entry.stream_type;
                }
            }
            stream.firstDecodeTime = sample.GetDecodeTime().Get();
            found = index_.emplace(id, summary_.streams.size()).first;
            summary_.streams.push_back(stream);
        }
        StreamSummary& stream = summary_.streams[found->second];
        ++stream.samples;
        stream.keyFrames += sample.IsKeyFrame() ? 1 : 0;
        stream.bytes += sample.GetPayload().Size();
        stream.lastDecodeTime = sample.GetDecodeTime().Get();
        return ResultOk;
    }

private:
    TitleSummary& summary_;
    std::map<uint8_t, size_t> index_;
};

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* format, ...) {
    char text[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return text;
}

std::string FormatValue(const SV::SVTypedValue& value) {
    uint32_t u32 = 0;
    int32_t s32 = 0;
    uint64_t u64 = 0;
    float f = 0;
    bool b = false;
    const std::string* text = nullptr;
    const SV::SVDataBlob* blob = nullptr;
    if (value.GetUnsignedInt(u32)) {
        return Format("%u", u32);
    }
    if (value.GetSignedInt(s32)) {
        return Format("%d", s32);
    }
    if (value.GetUnsignedLong(u64)) {
        return Format("%llu", static_cast<unsigned long long>(u64));
    }
    if (value.GetFloat(f)) {
        return Format("%g", static_cast<double>(f));
    }
    if (value.GetBoolean(b)) {
        return b ? "true" : "false";
    }
    if (value.GetString(text)) {
        return "\"" + *text + "\"";
    }
    if (value.GetDataBlob(blob)) {
        std::string out = Format("%zu bytes", blob->size());
        for (size_t i = 0; i < blob->size() && i < 16; ++i) {
            out += Format(i == 0 ? " %02x" : "%02x", (*blob)[i]);
        }
        return out + (blob->size() > 16 ? "..." : "");
    }
    return "?";
}

const char* MediaTypeName(uint32_t type) {
    return type == 1 ? "audio" : type == 2 ? "video" : "other";
}

}  // namespace

bool ReadTitle(const std::string& path, TitleSummary& summary, std::string& error,
               size_t pieceSize) {
    summary = TitleSummary();
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        error = "cannot open " + path;
        return false;
    }
    if (pieceSize == 0) {
        pieceSize = 65536;
    }
    SummaryParser parser(summary);
    std::vector<char> buffer(pieceSize);
    while (file) {
        file.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
        const size_t n = static_cast<size_t>(file.gcount());
        if (n == 0) {
            break;
        }
        MemoryChunk chunk(static_cast<uint32_t>(n), 0, 0);
        std::copy(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(n), chunk.Data(0));
        summary.bytesParsed += n;
        summary.result = parser.Parse(chunk, false);
        if (summary.result != Mpeg2PsParser::ResultOk) {
            break;
        }
    }
    if (file.bad()) {
        error = "cannot read " + path;
        return false;
    }
    summary.chapters = parser.GetChapters();
    return true;
}

std::string ResultName(uint32_t result) {
    typedef Mpeg2PsParser Parser;
    typedef Mpeg2PsIndexEntryReader Entry;
    switch (result) {
        case Parser::ResultOk: return "end of file";
        case Parser::ResultNoPackFirst: return "data before the first pack";
        case Parser::ResultBadStreamMap: return "bad program stream map";
        case Entry::ResultBadMagic: return "bad index entry magic";
        case Entry::ResultEntryTooShort: return "index entry too short";
        case Entry::ResultUnknownVersion: return "unknown index entry version";
        case Entry::ResultEntryIncomplete: return "index entry incomplete";
        case Parser::ResultProgramEnd: return "program end";
        case Entry::ResultSeekTableNotStored: return "seek table cannot be stored";
        case Parser::ResultUnsupportedAudio: return "unsupported audio for trick play";
        case Entry::ResultBadTags: return "bad tags or metadata block";
        case Parser::ResultNoMetadataItem: return "header record outside the first pack";
        case Entry::ResultSeekTableTooLong: return "seek table longer than its entry";
        case Parser::ResultNoSelectedTrack: return "trick play without a track";
        case Parser::ResultHashFailed: return "index digest failed";
        default: return "error";
    }
}

std::string FormatTitle(const TitleSummary& summary) {
    std::string out;
    out += Format("tracks: %zu\n", summary.tracks.size());
    for (size_t i = 0; i < summary.tracks.size(); ++i) {
        const MediaTrack& track = *summary.tracks[i];
        out += Format("track %zu:%s%s\n", i + 1, track.HasVideo() ? " video" : "",
                      track.HasAudio() ? " audio" : "");
        for (const auto& entry : track.GetInfo()) {
            out += "  " + entry.first + " = " + FormatValue(entry.second) + "\n";
        }
        const MediaTrackIndex& index = track.GetIndex();
        out += Format("  seek table: %u entries\n", index.GetCount());
        for (uint32_t k = 0; k < index.GetCount(); ++k) {
            const MediaTrackIndex::Entry& e = index.GetEntries()[k];
            out += Format("    seek %u: time %u ticks (%.3f s), position %llu\n", k, e.time,
                          e.time / 90000.0, static_cast<unsigned long long>(e.position));
        }
    }
    out += Format("chapters: %zu\n", summary.chapters.size());
    for (size_t i = 0; i < summary.chapters.size(); ++i) {
        const Mpeg2PsParser::Chapter& c = summary.chapters[i];
        out += Format(
            "chapter %zu: time %u ticks (%.3f s), title \"%s\", thumbnail %u bytes at "
            "%llu\n",
            i, c.time, c.time / 90000.0, c.title.c_str(), c.thumbnailSize,
            static_cast<unsigned long long>(c.thumbnailPosition));
    }
    out += Format("streams: %zu\n", summary.streams.size());
    for (const StreamSummary& s : summary.streams) {
        out += Format(
            "stream 0x%02x: %s, stream type 0x%02x, %llu samples (%llu key), %llu "
            "bytes, first decode time %llu us, last decode time %llu us\n",
            s.streamId, MediaTypeName(s.mediaType), s.streamType,
            static_cast<unsigned long long>(s.samples),
            static_cast<unsigned long long>(s.keyFrames), static_cast<unsigned long long>(s.bytes),
            static_cast<unsigned long long>(s.firstDecodeTime),
            static_cast<unsigned long long>(s.lastDecodeTime));
    }
    out += Format("result: %u (%s)\n", summary.result, ResultName(summary.result).c_str());
    return out;
}

}  // namespace SvTools
