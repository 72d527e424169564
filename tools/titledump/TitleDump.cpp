#include "tools/titledump/TitleDump.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <map>
#include <set>

#include "SVLibrary/File/InputFileStream.h"
#include "SVLibrary/Util/Hex.h"
#include "json/KvJsonWriter.h"

#include "engine/codecs/MediaTiming.h"
#include "engine/container/Mpeg2PsIndexEntryReader.h"
#include "engine/container/TrackInfoKeys.h"
#include "engine/core/MemoryChunk.h"
#include "engine/samples/Sample.h"

namespace SvTools {

using namespace SarvelonMediaKit;

namespace {

// The stream whose key frames a track's seek points are: its pictures, or its sound when it has
// none. 0 for a track with neither.
uint32_t SeekStreamId(const MediaTrack& track) {
    const SV::SVDictionary& info = track.GetInfo();
    if (track.HasVideo()) {
        return info.GetUnsignedIntOrDefault(TrackInfoKey_VideoMpegStreamId, 0);
    }
    if (track.HasAudio()) {
        return info.GetUnsignedIntOrDefault(TrackInfoKey_AudioMpegStreamId, 0);
    }
    return 0;
}

// A demultiplexing parser, its own listener, that keeps the tracks and counts the samples of
// each stream.
class SummaryParser : public Mpeg2PsParserListener, public Mpeg2PsParser {
public:
    explicit SummaryParser(TitleSummary& summary) : Mpeg2PsParser(*this, true), summary_(summary) {}

protected:
    Mpeg2PsResult OnNewTrack(const boost::shared_ptr<MediaTrack>& track) override {
        summary_.tracks.push_back(track);
        return Mpeg2PsResult::Ok;
    }
    Sample CreateSample(uint8_t streamId, uint32_t payloadLength, SampleMediaType type) override {
        Sample sample = Mpeg2PsParserListener::CreateSample(streamId, payloadLength, type);
        sample.SetStreamRef(StreamReference(streamId));
        return sample;
    }
    Mpeg2PsResult OnSample(Sample& sample) override {
        const uint8_t id = static_cast<uint8_t>(sample.GetStreamRef().Get());
        auto found = index_.find(id);
        if (found == index_.end()) {
            StreamSummary stream;
            stream.streamId = id;
            for (const Mpeg2PsPsm::EsMapEntry& entry : GetStreamMap().GetEsMap()) {
                if (entry.elementary_stream_id == id) {
                    stream.streamType = entry.stream_type;
                }
            }
            stream.mediaType = KindOf(id, sample.GetType());
            stream.firstDecodeTime = sample.GetDecodeTime().Get();
            found = index_.emplace(id, summary_.streams.size()).first;
            summary_.streams.push_back(stream);
        }
        StreamSummary& stream = summary_.streams[found->second];
        if (sample.IsKeyFrame()) {
            KeyFrameCame(id, sample.GetDecodeTime().Get());
        }
        ++stream.samples;
        stream.keyFrames += sample.IsKeyFrame() ? 1 : 0;
        stream.bytes += sample.GetPayload().Size();
        stream.lastDecodeTime = sample.GetDecodeTime().Get();
        return Mpeg2PsResult::Ok;
    }

private:
    // What the tracks say the stream is. The parser classes a sample by the one audio and
    // video stream it follows, so the sound of a title's first language beside an audio
    // rendition of another (a stream of its own) would pass for neither.
    uint32_t KindOf(uint8_t id, uint32_t parsed) const {
        for (const boost::shared_ptr<MediaTrack>& track : summary_.tracks) {
            const SV::SVDictionary& info = track->GetInfo();
            if (track->HasVideo() &&
                info.GetUnsignedIntOrDefault(TrackInfoKey_VideoMpegStreamId, 0) == id) {
                return SampleMediaTypeVideo;
            }
            if (track->HasAudio() &&
                info.GetUnsignedIntOrDefault(TrackInfoKey_AudioMpegStreamId, 0) == id) {
                return SampleMediaTypeAudio;
            }
        }
        return parsed;
    }

    // Marks the first seek point not yet met, from the stream's last one met on, that has the key
    // frame's time: the renditions on one stream come one after another, each in time order.
    void KeyFrameCame(uint8_t id, uint64_t time) {
        if (!seekPointsListed_) {
            ListSeekPoints();
        }
        const auto times = seekTimes_.find(id);
        if (times == seekTimes_.end() || times->second.count(time) == 0) {
            return;  // not a key frame the index lists (an audio frame between seek points)
        }
        std::vector<SeekPointSeen>& points = summary_.seekPoints[id];
        size_t& next = nextSeekPoint_[id];
        for (size_t i = next; i < points.size(); ++i) {
            if (points[i].time == time) {
                points[i].met = true;
                next = i + 1;
                return;
            }
        }
    }

    // Once the tracks are known (the index comes before the media): every track's seek points,
    // tracks in file order.
    void ListSeekPoints() {
        seekPointsListed_ = true;
        std::vector<size_t> order(summary_.tracks.size());
        for (size_t i = 0; i < order.size(); ++i) {
            order[i] = i;
        }
        std::stable_sort(order.begin(), order.end(), [this](size_t a, size_t b) {
            return summary_.tracks[a]->GetIndex().GetOffset() <
                   summary_.tracks[b]->GetIndex().GetOffset();
        });
        for (size_t t : order) {
            const MediaTrack& track = *summary_.tracks[t];
            const uint32_t id = SeekStreamId(track);
            if (id == 0 || id > 0xFF) {
                continue;
            }
            const MediaTrackIndex& index = track.GetIndex();
            for (uint32_t k = 0; k < index.GetCount(); ++k) {
                SeekPointSeen point;
                point.track = t;
                point.time = TicksToMicrosecondsTruncated(index.GetEntries()[k].time);
                summary_.seekPoints[uint8_t(id)].push_back(point);
                seekTimes_[uint8_t(id)].insert(point.time);
            }
        }
    }

    TitleSummary& summary_;
    std::map<uint8_t, size_t> index_;
    bool seekPointsListed_ = false;
    std::map<uint8_t, std::set<uint64_t>> seekTimes_;
    std::map<uint8_t, size_t> nextSeekPoint_;
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

// The scalar a track's info holds, handed to `visit` as its own type (uint32_t, int32_t,
// uint64_t, float, bool, std::string or SV::SVDataBlob); `other` for the kinds track info does
// not hold (none, arrays, dictionaries, a signed long).
template <typename Result, typename Visit>
Result VisitScalar(const SV::SVTypedValue& value, Visit visit, Result other) {
    uint32_t u32 = 0;
    int32_t s32 = 0;
    uint64_t u64 = 0;
    float f = 0;
    bool b = false;
    const std::string* text = nullptr;
    const SV::SVDataBlob* blob = nullptr;
    if (value.GetUnsignedInt(u32)) {
        return visit(u32);
    }
    if (value.GetSignedInt(s32)) {
        return visit(s32);
    }
    if (value.GetUnsignedLong(u64)) {
        return visit(u64);
    }
    if (value.GetFloat(f)) {
        return visit(f);
    }
    if (value.GetBoolean(b)) {
        return visit(b);
    }
    if (value.GetString(text)) {
        return visit(*text);
    }
    if (value.GetDataBlob(blob)) {
        return visit(*blob);
    }
    return other;
}

// A value as the text report writes it.
struct ValueText {
    std::string operator()(uint32_t u32) const { return Format("%u", u32); }
    std::string operator()(int32_t s32) const { return Format("%d", s32); }
    std::string operator()(uint64_t u64) const {
        return Format("%llu", static_cast<unsigned long long>(u64));
    }
    std::string operator()(float f) const { return Format("%g", static_cast<double>(f)); }
    std::string operator()(bool b) const { return b ? "true" : "false"; }
    std::string operator()(const std::string& text) const { return "\"" + text + "\""; }
    std::string operator()(const SV::SVDataBlob& blob) const {
        std::string out = Format("%zu bytes", blob.size());
        for (size_t i = 0; i < blob.size() && i < 16; ++i) {
            out += Format(i == 0 ? " %02x" : "%02x", blob[i]);
        }
        return out + (blob.size() > 16 ? "..." : "");
    }
};

std::string FormatValue(const SV::SVTypedValue& value) {
    return VisitScalar(value, ValueText(), std::string("?"));
}

// The last sample lasts beyond its own decode time (a picture, an audio frame) and the index
// counts to its end: media whose decode times reach this close to the duration are whole.
const uint64_t kDurationSlack = 1000000;  // microseconds

const char* MediaTypeName(uint32_t type) {
    return type == 1 ? "audio" : type == 2 ? "video" : "other";
}

}  // namespace

bool ReadTitle(const std::string& path, TitleSummary& summary, std::string& error,
               size_t pieceSize) {
    summary = TitleSummary();
    SV::InputFileStream file(path);
    if (!file) {
        error = "cannot open " + path + ": " + std::strerror(errno);
        return false;
    }
    struct stat info;
    const bool regular = stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
    if (!regular && stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
        error = "cannot read " + path + ": " + std::strerror(EISDIR);
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
        if (summary.result != Mpeg2PsResult::Ok) {
            break;
        }
    }
    if (file.bad()) {
        error = "cannot read " + path + ": " + std::strerror(errno);
        return false;
    }
    summary.fileSize = regular ? uint64_t(info.st_size) : summary.bytesParsed;
    summary.chapters = parser.GetHeaderSection().GetChapters();
    summary.indexSeen = parser.GetHeaderSection().IsIndexMagicSeen();
    summary.indexComplete = parser.GetHeaderSection().IsIndexComplete();
    return true;
}

std::string ResultName(Mpeg2PsResult result) {
    return result == Mpeg2PsResult::Ok ? "end of file" : Mpeg2PsResultText(result);
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
                          e.time / static_cast<double>(kTicksPerSecond),
                          static_cast<unsigned long long>(e.position));
        }
    }
    out += Format("chapters: %zu\n", summary.chapters.size());
    for (size_t i = 0; i < summary.chapters.size(); ++i) {
        const Mpeg2PsParser::Chapter& c = summary.chapters[i];
        out += Format(
            "chapter %zu: time %u ticks (%.3f s), title \"%s\", thumbnail %u bytes at "
            "%llu\n",
            i, c.time, c.time / static_cast<double>(kTicksPerSecond), c.title.c_str(),
            c.thumbnailSize, static_cast<unsigned long long>(c.thumbnailPosition));
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
    out += Format("result: %u (%s)\n", Mpeg2PsResultNumber(summary.result),
                  ResultName(summary.result).c_str());
    return out;
}

namespace {

// A value as the JSON report writes it.
struct ValueJson {
    ns::Value operator()(uint32_t u32) const { return ns::Value(u32); }
    ns::Value operator()(int32_t s32) const { return ns::Value(s32); }
    ns::Value operator()(uint64_t u64) const {
        return ns::Value(static_cast<unsigned long long>(u64));
    }
    ns::Value operator()(float f) const { return ns::Value(static_cast<double>(f)); }
    ns::Value operator()(bool b) const { return ns::Value(b); }
    ns::Value operator()(const std::string& text) const { return ns::Value(text); }
    ns::Value operator()(const SV::SVDataBlob& blob) const {
        // All the bytes, in hex: the text report shows only the first ones.
        return ns::Value(SV::BytesToHex(std::vector<unsigned char>(blob.begin(), blob.end())));
    }
};

ns::Value JsonValue(const SV::SVTypedValue& value) {
    return VisitScalar(value, ValueJson(), ns::Value());
}

ns::Value Seconds(uint64_t ticks) {
    return ns::Value(double(ticks) / static_cast<double>(kTicksPerSecond));
}

}  // namespace

bool FormatTitleJson(const TitleSummary& summary, std::string& text, std::string& error,
                     bool human) {
    ns::Array tracks;
    for (const boost::shared_ptr<MediaTrack>& t : summary.tracks) {
        const MediaTrack& track = *t;
        ns::Dictionary info;
        for (const auto& entry : track.GetInfo()) {
            info.Set(entry.first, JsonValue(entry.second));
        }
        ns::Array seekTable;
        const MediaTrackIndex& index = track.GetIndex();
        for (uint32_t k = 0; k < index.GetCount(); ++k) {
            const MediaTrackIndex::Entry& e = index.GetEntries()[k];
            ns::Dictionary seek;
            seek.Set("time", ns::Value(e.time));
            seek.Set("seconds", Seconds(e.time));
            seek.Set("position", ns::Value(static_cast<unsigned long long>(e.position)));
            seekTable.push_back(ns::Value(std::move(seek)));
        }
        ns::Dictionary item;
        item.Set("video", ns::Value(track.HasVideo()));
        item.Set("audio", ns::Value(track.HasAudio()));
        item.Set("info", ns::Value(std::move(info)));
        item.Set("seekTable", ns::Value(std::move(seekTable)));
        tracks.push_back(ns::Value(std::move(item)));
    }
    ns::Array chapters;
    for (const Mpeg2PsParser::Chapter& c : summary.chapters) {
        ns::Dictionary item;
        item.Set("time", ns::Value(c.time));
        item.Set("seconds", Seconds(c.time));
        item.Set("title", ns::Value(c.title));
        item.Set("thumbnailSize", ns::Value(c.thumbnailSize));
        item.Set("thumbnailPosition",
                 ns::Value(static_cast<unsigned long long>(c.thumbnailPosition)));
        chapters.push_back(ns::Value(std::move(item)));
    }
    ns::Array streams;
    for (const StreamSummary& s : summary.streams) {
        ns::Dictionary item;
        item.Set("streamId", ns::Value(unsigned(s.streamId)));
        item.Set("kind", ns::Value(MediaTypeName(s.mediaType)));
        item.Set("streamType", ns::Value(unsigned(s.streamType)));
        item.Set("samples", ns::Value(static_cast<unsigned long long>(s.samples)));
        item.Set("keyFrames", ns::Value(static_cast<unsigned long long>(s.keyFrames)));
        item.Set("bytes", ns::Value(static_cast<unsigned long long>(s.bytes)));
        item.Set("firstDecodeTime", ns::Value(static_cast<unsigned long long>(s.firstDecodeTime)));
        item.Set("lastDecodeTime", ns::Value(static_cast<unsigned long long>(s.lastDecodeTime)));
        streams.push_back(ns::Value(std::move(item)));
    }
    ns::Dictionary result;
    result.Set("code", ns::Value(Mpeg2PsResultNumber(summary.result)));
    result.Set("name", ns::Value(ResultName(summary.result)));
    ns::Dictionary report;
    report.Set("tracks", ns::Value(std::move(tracks)));
    report.Set("chapters", ns::Value(std::move(chapters)));
    report.Set("streams", ns::Value(std::move(streams)));
    report.Set("result", ns::Value(std::move(result)));

    KvJsonWriter writer;
    writer.setHumanReadable(human);
    const std::optional<std::string> written = writer.dataWithObject(ns::Value(std::move(report)));
    if (!written) {
        error = writer.error();
        return false;
    }
    text = *written + "\n";
    return true;
}

bool IsNotATitle(const TitleSummary& summary) {
    const bool parsedToEnd =
        summary.result == Mpeg2PsResult::Ok || summary.result == Mpeg2PsResult::ProgramEnd;
    return summary.fileSize != 0 && !summary.indexSeen &&
           (summary.result == Mpeg2PsResult::NoPackFirst || parsedToEnd);
}

std::vector<std::string> TitleProblems(const TitleSummary& summary) {
    std::vector<std::string> problems;
    if (summary.fileSize == 0) {
        problems.push_back("the file is empty");
        return problems;
    }
    // As the engine refuses such titles at once, in its words (a parser that stopped on an
    // error says what it met instead).
    const bool parsedToEnd =
        summary.result == Mpeg2PsResult::Ok || summary.result == Mpeg2PsResult::ProgramEnd;
    if (parsedToEnd && !summary.indexSeen) {
        problems.push_back("the title has no index");
    } else if (parsedToEnd && !summary.indexComplete) {
        problems.push_back("media was truncated: the file ends in the title's header");
    }
    if (summary.result == Mpeg2PsResult::Ok) {
        // A whole title ends with the program end code: without it the media stopped early.
        problems.push_back("the media end without the program end code");
    } else if (summary.result != Mpeg2PsResult::ProgramEnd) {
        problems.push_back(Format("the parser stopped: %s (%u)", ResultName(summary.result).c_str(),
                                  Mpeg2PsResultNumber(summary.result)));
    }
    if (summary.tracks.empty()) {
        problems.push_back("the title has no tracks");
    }
    uint64_t end = 0;
    for (const boost::shared_ptr<MediaTrack>& track : summary.tracks) {
        const MediaTrackIndex& index = track->GetIndex();
        const uint64_t trackEnd = index.GetOffset() + index.GetSize();
        end = std::max(end, trackEnd < index.GetOffset() ? ~uint64_t(0) : trackEnd);
    }
    if (end > summary.fileSize) {
        problems.push_back(
            Format("the title is cut short: the file ends at byte %llu, its index "
                   "gives %llu",
                   static_cast<unsigned long long>(summary.fileSize),
                   static_cast<unsigned long long>(end)));
    }
    // Damaged media are skipped by the parser and leave a gap up to the end: the decode times
    // met must span the duration the index gives, but for the last sample's own length.
    uint64_t duration = 0;
    for (const boost::shared_ptr<MediaTrack>& track : summary.tracks) {
        const MediaTrackIndex& index = track->GetIndex();
        duration = std::max(duration, index.TicksToMicroseconds(index.GetDuration()));
    }
    uint64_t reached = 0;
    for (const StreamSummary& stream : summary.streams) {
        if (stream.lastDecodeTime > stream.firstDecodeTime) {
            reached = std::max(reached, stream.lastDecodeTime - stream.firstDecodeTime);
        }
    }
    // Seek points whose key frames never came while later ones on the same stream did: groups
    // of pictures lost mid-file (zeros in their place are stuffing to the parser, not damage it
    // tells). Those after the last one met are media that end early, told above and below.
    uint64_t listed = 0;
    uint64_t lost = 0;
    const SeekPointSeen* firstLost = nullptr;
    for (const auto& stream : summary.seekPoints) {
        const std::vector<SeekPointSeen>& points = stream.second;
        listed += points.size();
        size_t end = points.size();
        while (end > 0 && !points[end - 1].met) {
            --end;
        }
        for (size_t i = 0; i < end; ++i) {
            if (!points[i].met) {
                ++lost;
                if (firstLost == nullptr) {
                    firstLost = &points[i];
                }
            }
        }
    }
    if (firstLost != nullptr) {
        problems.push_back(
            Format("groups of pictures are lost: %llu of the %llu key frames its index lists never "
                   "came, the first at %.3f s of track %zu",
                   static_cast<unsigned long long>(lost), static_cast<unsigned long long>(listed),
                   double(firstLost->time) / static_cast<double>(kMicrosecondsPerSecond),
                   firstLost->track + 1));
    }
    if (!summary.tracks.empty() && reached + kDurationSlack < duration) {
        problems.push_back(
            Format("the media are damaged: their decode times span %.3f s of the "
                   "%.3f s its index gives",
                   double(reached) / static_cast<double>(kMicrosecondsPerSecond),
                   double(duration) / static_cast<double>(kMicrosecondsPerSecond)));
    }
    return problems;
}

}  // namespace SvTools
