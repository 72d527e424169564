#include "tools/mktitle/TitleWriter.h"

#include <boost/make_shared.hpp>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <set>
#include <stdexcept>

#include "SVLibrary/Util/Sha256.h"
#include "engine/container/Mpeg2PsFormat.h"
#include "engine/container/Mpeg2PsIndexEntry.h"
#include "engine/container/Mpeg2PsMetadataBlocks.h"
#include "engine/container/Mpeg2PsPack.h"
#include "engine/container/Mpeg2PsRecordPackets.h"
#include "engine/codecs/Aac.h"
#include "engine/codecs/Eac3.h"
#include "engine/codecs/MediaTiming.h"
#include "tools/mktitle/LimitedSink.h"
#include "tools/mktitle/TrackOutput.h"

namespace SvTools {

// The stream ids of a rendition's pictures and sound in the container. Outside the anonymous
// namespace: TitleWriter::Track holds one.
struct TitleStreamIds {
    uint8_t video = SarvelonMediaKit::Mpeg2PsFormat::kStreamIdVideoFirst;
    uint8_t audio = 0;
    uint8_t audioType = 0;
};

namespace {

using namespace SarvelonMediaKit;
namespace Format = SarvelonMediaKit::Mpeg2PsFormat;

// A pack (and seek point) per second of audio.
const uint32_t kAudioOnlyPackInterval = kTicksPerSecond;
const size_t kMaxImageSize = 16 * 1024 * 1024;
// The HD-DVD private data of sub-stream 0 in front of every E-AC-3 frame.
const uint8_t kEac3PrefixBytes[kEac3HdDvdPrivateDataSize] = {
    static_cast<uint8_t>(kEac3HdDvdPrivateData >> 24),
    static_cast<uint8_t>(kEac3HdDvdPrivateData >> 16),
    static_cast<uint8_t>(kEac3HdDvdPrivateData >> 8), static_cast<uint8_t>(kEac3HdDvdPrivateData)};

uint32_t Ticks(uint64_t time, uint64_t origin, const std::string& source) {
    const uint64_t ticks = time - origin;
    if (ticks > 0xFFFFFFFFu) {
        throw std::runtime_error(source + ": longer than 13 hours, beyond the 32-bit tick count");
    }
    return static_cast<uint32_t>(ticks);
}

// One access unit as PES packets of its own: the first carries the timestamps (the DTS only
// when it differs) and, for a key frame or audio frame, data alignment; the others carry the
// rest of the bytes. data is null while the title is planned.
void AddAccessUnit(TrackOutput& out, const Sample& unit, const uint8_t* data, uint8_t streamId,
                   bool prefix, uint64_t origin) {
    size_t offset = 0;
    bool first = true;
    while (first || offset < unit.size) {
        Mpeg2PsPes pes;
        pes.SetStreamId(streamId);
        if (first) {
            pes.SetPts((unit.pts - origin) & kTimestampMask);
            if (unit.dts != unit.pts) {
                pes.SetDts((unit.dts - origin) & kTimestampMask);
            }
            pes.SetDataAlignment(unit.key);
            if (prefix) {
                pes.AddData(kEac3PrefixBytes, sizeof kEac3PrefixBytes, true);
            }
        }
        const size_t room = static_cast<size_t>(std::max<int32_t>(pes.GetFreeSpace(), 0));
        const size_t take = std::min<size_t>(room, unit.size - offset);
        if (take > 0 && data) {
            pes.AddData(data + offset, static_cast<uint32_t>(take), false);
        }
        out.Pes(pes, data ? 0 : take);
        offset += take;
        first = false;
    }
}

uint32_t PeakAudioRate(const std::vector<Sample>& units) {
    uint64_t peak = 0, window = 0;
    size_t begin = 0;
    for (size_t end = 0; end < units.size(); ++end) {
        window += units[end].size;
        while (units[end].pts - units[begin].pts >= kTicksPerSecond) {
            window -= units[begin].size;
            ++begin;
        }
        peak = std::max(peak, window);
    }
    return static_cast<uint32_t>(std::min<uint64_t>(peak * 8, 0xFFFFFFFFu));
}

// Lays out one rendition's media from its first pack on; the seek points' positions are
// relative to the track.
void LayTrack(const Rendition& rendition, const TitleStreamIds& ids, uint64_t origin,
              uint32_t muxRate, TrackOutput& out,
              std::vector<Mpeg2PsIndexEntry::SeekPoint>* seekPoints) {
    const std::vector<Sample>& video = rendition.video.samples;
    const std::vector<Sample>& audio = rendition.audio.samples;
    const bool prefix = rendition.audio.codec == AudioCodec::Eac3;
    bool packOpen = false;
    uint64_t packTime = 0;
    auto open = [&](uint64_t time) {
        const uint32_t ticks = Ticks(time, origin, rendition.source);
        if (seekPoints) {
            seekPoints->push_back({ticks, out.Position()});
        }
        Mpeg2PsPack pack(0);
        // The clock reference of a pack is its first decode time; never 0, which readers take
        // for the header pack.
        pack.SetScr(std::max<uint64_t>(TicksToClock(ticks), 1));
        pack.SetMuxRate(muxRate);
        out.Pack(pack);
        packOpen = true;
        packTime = time;
    };
    size_t v = 0, a = 0;
    // Audio before the first key frame has no pack to go into.
    while (!video.empty() && a < audio.size() && audio[a].pts < video[0].dts) {
        out.Bytes(false, audio[a]);
        ++a;
    }
    while (v < video.size() || a < audio.size()) {
        const bool takeVideo =
            v < video.size() && (a >= audio.size() || video[v].dts <= audio[a].pts);
        if (takeVideo) {
            if (video[v].key || !packOpen) {
                open(video[v].dts);
            }
            AddAccessUnit(out, video[v], out.Bytes(true, video[v]), ids.video, false, origin);
            ++v;
        } else {
            if (video.empty() && (!packOpen || audio[a].pts >= packTime + kAudioOnlyPackInterval)) {
                open(audio[a].pts);
            }
            AddAccessUnit(out, audio[a], out.Bytes(false, audio[a]), ids.audio, prefix, origin);
            ++a;
        }
    }
}

// Bytes per second of the busiest stretch between two seek points, in units of 50 bytes/s.
uint32_t MuxRate(const std::vector<Mpeg2PsIndexEntry::SeekPoint>& seekPoints, uint64_t size,
                 uint32_t duration) {
    uint64_t peak = 0;
    for (size_t i = 0; i < seekPoints.size(); ++i) {
        const uint64_t end = i + 1 < seekPoints.size() ? seekPoints[i + 1].position : size;
        const uint64_t endTime = i + 1 < seekPoints.size() ? seekPoints[i + 1].time : duration;
        const uint64_t span = std::max<uint64_t>(endTime - seekPoints[i].time, 1);
        peak = std::max(peak, (end - seekPoints[i].position) * kTicksPerSecond / span);
    }
    const uint64_t rate = (peak + 49) / 50;
    return static_cast<uint32_t>(std::min<uint64_t>(std::max<uint64_t>(rate, 1), 0x3FFFFF));
}

Mpeg2PsIndexEntry Describe(const Rendition& rendition, const TitleStreamIds& ids, uint64_t origin,
                           uint64_t trackSize) {
    Mpeg2PsIndexEntry entry;
    uint64_t end = origin;
    uint64_t videoBytes = 0, audioBytes = 0;
    const VideoStream& video = rendition.video;
    const AudioStream& audio = rendition.audio;
    // A trick-play track's pictures are shown for the frame duration at its rate: on the
    // title's time line each covers that duration times the rate's magnitude.
    const int32_t rate = rendition.trickRate;
    const uint64_t shown =
        uint64_t{video.frameDuration} * static_cast<uint64_t>(rate == 0 ? 1 : std::abs(rate));
    for (const Sample& unit : video.samples) {
        end = std::max(end, unit.pts + shown);
        videoBytes += unit.size;
    }
    for (const Sample& unit : audio.samples) {
        end = std::max(end, unit.pts + audio.frameDuration);
        audioBytes += unit.size;
    }
    entry.duration = Ticks(end, origin, rendition.source);
    entry.bitRate = DeriveBitRate(trackSize, entry.duration);
    entry.trickPlayRate = rendition.trickRate;
    if (video.present) {
        Mpeg2PsIndexEntry::Video v;
        v.format = kVideoFormatH264;
        v.profile = video.profile;
        v.level = video.level;
        if (video.width > 0xFFFF || video.height > 0xFFFF) {
            throw std::runtime_error(rendition.source + ": picture too large");
        }
        v.width = static_cast<uint16_t>(video.width);
        v.height = static_cast<uint16_t>(video.height);
        if (video.sarWidth != 0 && video.sarWidth <= 0xFFFF && video.sarHeight <= 0xFFFF) {
            v.pixelWidth = static_cast<uint16_t>(video.sarWidth);
            v.pixelHeight = static_cast<uint16_t>(video.sarHeight);
        }
        v.frameDuration = video.frameDuration;
        v.bitRate = DeriveBitRate(videoBytes, uint64_t{video.frameDuration} * video.samples.size());
        v.mpegStreamId = ids.video;
        v.mpegStreamType = Format::kStreamTypeH264;
        v.avcDecoderConfigurationRecord = video.avcConfiguration;
        entry.video = v;
        std::vector<uint64_t> keyTimes;
        for (const Sample& unit : video.samples) {
            if (unit.key) {
                keyTimes.push_back(unit.dts);
            }
        }
        entry.adaptationInterval = DeriveFrameDuration(keyTimes);
    }
    if (audio.codec != AudioCodec::None) {
        Mpeg2PsIndexEntry::Audio a;
        a.profile = audio.profile;
        a.numChannels = static_cast<uint8_t>(std::min<uint32_t>(audio.channels, 255));
        a.sampleFrequency = audio.sampleRate;
        a.sampleSize = 16;
        a.bitRate = DeriveBitRate(audioBytes, uint64_t{audio.frameDuration} * audio.samples.size());
        a.mpegStreamId = ids.audio;
        a.mpegStreamType = ids.audioType;
        a.identifier = rendition.language;
        if (audio.codec == AudioCodec::Aac) {
            a.format = kAudioFormatAac;
            const uint32_t buffer = std::max<uint64_t>(
                uint64_t{768} * std::max<uint32_t>(audio.channels, 1), audio.maxFrameSize);
            a.esDescriptor = BuildAudioEsDescriptor(
                ids.audio, audio.audioSpecificConfig, buffer,
                std::max(PeakAudioRate(audio.samples), a.bitRate), a.bitRate);
        } else {
            a.format = kAudioFormatEac3;
            Eac3FrameHeader header;
            header.fscod = audio.eac3Fscod;
            header.bsid = audio.eac3Bsid;
            header.acmod = audio.eac3Acmod;
            header.lfeOn = audio.eac3Lfe;
            a.ec3SpecificData = BuildEc3SpecificData(header, (a.bitRate + 500) / 1000);
        }
        entry.audio = a;
    }
    return entry;
}

std::vector<TitleStreamIds> AssignStreamIds(const std::vector<Rendition>& renditions) {
    bool anyVideo = false;
    for (const Rendition& rendition : renditions) {
        anyVideo = anyVideo || rendition.video.present;
    }
    // AAC of renditions with video is stream 0xC0; an audio-only rendition next to video ones
    // gets a stream of its own (0xC1 on), so that it can be played beside them. E-AC-3 is
    // always private stream 1.
    std::vector<TitleStreamIds> ids;
    uint8_t nextAlternate = Format::kStreamIdAudioFirst + 1;
    for (const Rendition& rendition : renditions) {
        TitleStreamIds id;
        if (rendition.audio.codec == AudioCodec::Eac3) {
            id.audio = Format::kStreamIdPrivateStream1;
            id.audioType = Format::kStreamTypeEac3;
        } else if (rendition.audio.codec == AudioCodec::Aac) {
            id.audioType = Format::kStreamTypeAacAdts;
            if (anyVideo && !rendition.video.present) {
                if (nextAlternate > 0xDF) {
                    throw std::runtime_error("more than 31 audio-only renditions");
                }
                id.audio = nextAlternate++;
            } else {
                id.audio = Format::kStreamIdAudioFirst;
            }
        }
        ids.push_back(id);
    }
    return ids;
}

std::vector<uint8_t> Header(const std::vector<Rendition>& renditions,
                            const std::vector<TitleStreamIds>& ids,
                            const std::vector<Mpeg2PsIndexEntry>& entries,
                            const std::vector<std::vector<uint8_t>>& chapterBlocks,
                            uint32_t muxRate, const TitleOptions& options,
                            std::vector<uint8_t>* indexDigest = nullptr) {
    Mpeg2PsPack pack(0);
    pack.SetScr(0);
    pack.SetMuxRate(muxRate);

    // The elementary streams in order of first use.
    std::vector<std::pair<uint8_t, uint8_t>> streams;
    auto use = [&streams](uint8_t id, uint8_t type) {
        for (const auto& stream : streams) {
            if (stream.first == id) {
                return;
            }
        }
        streams.push_back({id, type});
    };
    for (size_t i = 0; i < renditions.size(); ++i) {
        if (renditions[i].video.present) {
            use(ids[i].video, Format::kStreamTypeH264);
        }
        if (renditions[i].audio.codec != AudioCodec::None) {
            use(ids[i].audio, ids[i].audioType);
        }
    }
    boost::shared_ptr<Mpeg2PsSystemHeader> system = boost::make_shared<Mpeg2PsSystemHeader>();
    system->SetRateBound(muxRate);
    uint8_t audioStreams = 0, videoStreams = 0;
    for (const auto& stream : streams) {
        if (stream.second == Format::kStreamTypeH264) {
            ++videoStreams;
            system->AddStreamBound(stream.first, false, 232);  // 232 KiB
        } else {
            ++audioStreams;
            system->AddStreamBound(stream.first, true, 32);  // 4 KiB
        }
    }
    system->SetAudioBound(audioStreams);
    system->SetVideoBound(videoStreams);
    pack.SetSystemHeader(system);
    if (!options.noStreamMap) {
        boost::shared_ptr<Mpeg2PsPsm> map = boost::make_shared<Mpeg2PsPsm>();
        for (const auto& stream : streams) {
            map->AddEsInfo(stream.first, stream.second);
        }
        pack.SetPsm(map);
    }
    // A reader keeps an entry's packets together until the entry is whole and digests what it
    // holds after each packet: an entry in k packets adds k prefixes of itself to the digest.
    SV::Sha256Context digest;
    if (indexDigest && SV::Sha256Init(&digest) != 1) {
        throw std::runtime_error("the index digest cannot be started");
    }
    for (size_t i = 0; i < entries.size(); ++i) {
        std::vector<uint8_t> bytes;
        std::string error;
        if (!entries[i].Write(options.indexVersion, bytes, &error)) {
            throw std::runtime_error(renditions[i].source + ": index entry: " + error);
        }
        if (options.badMagic && i == 0) {
            bytes[3] = 'x';
        }
        std::vector<uint8_t> held;
        for (const auto& pes :
             MakeRecordPackets(Format::kStreamIdPrivateStream2, bytes, options.indexPacketSize)) {
            pack.AddPes(pes);
            if (indexDigest) {
                const std::vector<uint8_t> payload = pes->GetPayload();
                held.insert(held.end(), payload.begin(), payload.end());
                if (SV::Sha256Update(&digest, held.data(), static_cast<uint32_t>(held.size())) !=
                    1) {
                    throw std::runtime_error("the index digest cannot be computed");
                }
            }
        }
    }
    if (indexDigest) {
        indexDigest->assign(SV::kSha256DigestLength, 0);
        if (SV::Sha256Final(indexDigest->data(), &digest) != 1) {
            throw std::runtime_error("the index digest cannot be finished");
        }
    }
    if (!chapterBlocks.empty()) {
        std::vector<uint8_t> table;
        if (!Mpeg2PsMetadataBlocks::WriteTable(chapterBlocks, table)) {
            throw std::runtime_error("the chapter table is too large");
        }
        for (const auto& pes : MakeRecordPackets(Format::kStreamIdMetadata, table)) {
            pack.AddPes(pes);
        }
    }
    std::vector<uint8_t> out;
    if (!pack.AppendTo(out)) {
        throw std::runtime_error("the header section could not be written");
    }
    return out;
}

}  // namespace

// A rendition's track as planned: its index entry without positions, its seek points relative
// to the track, and its size.
struct TitleWriter::Track {
    TitleStreamIds ids;
    Mpeg2PsIndexEntry entry;
    std::vector<Mpeg2PsIndexEntry::SeekPoint> seekPoints;
    uint64_t size = 0;
    uint32_t muxRate = 1;
};

TitleWriter::TitleWriter(const std::vector<Rendition>& renditions, const TitleOptions& options)
    : renditions_(renditions), options_(options) {
    if (renditions.empty()) {
        throw std::runtime_error("no input");
    }
    if (options.indexVersion > Format::kIndexEntryVersionMax) {
        throw std::runtime_error("index entry version " + std::to_string(options.indexVersion) +
                                 " does not exist (0 to 4)");
    }
    bool haveOrigin = false;
    for (const Rendition& rendition : renditions) {
        if (rendition.video.samples.empty() && rendition.audio.samples.empty()) {
            throw std::runtime_error(rendition.source + ": no media to write");
        }
        for (const std::vector<Sample>* units :
             {&rendition.video.samples, &rendition.audio.samples}) {
            if (!units->empty()) {
                const uint64_t first = units->front().dts;
                origin_ = haveOrigin ? std::min(origin_, first) : first;
                haveOrigin = true;
            }
        }
    }
    if (options.fixedOrigin) {
        if (options.origin > origin_) {
            throw std::runtime_error("internal error: the time origin lies after the media");
        }
        origin_ = options.origin;
    }
    const std::vector<TitleStreamIds> ids = AssignStreamIds(renditions);

    uint32_t headerMuxRate = 1;
    for (size_t i = 0; i < renditions.size(); ++i) {
        // Counted first: the sizes and seek points give the busiest stretch for the packs' mux
        // rate, which does not change a pack's size.
        Track track;
        track.ids = ids[i];
        TrackOutput count(nullptr, nullptr, renditions[i].source);
        LayTrack(renditions[i], ids[i], origin_, 1, count, &track.seekPoints);
        track.size = count.Position();
        track.entry = Describe(renditions[i], ids[i], origin_, track.size);
        track.muxRate = MuxRate(track.seekPoints, track.size, track.entry.duration);
        headerMuxRate = std::max(headerMuxRate, track.muxRate);
        tracks_.push_back(std::move(track));
    }
    uint32_t titleDuration = 0;
    for (const Track& track : tracks_) {
        titleDuration = std::max(titleDuration, track.entry.duration);
    }

    // Chapters in time order (stable for equal times).
    std::vector<const ChapterSpec*> chapters;
    for (const ChapterSpec& chapter : options.chapters) {
        if (!(chapter.seconds >= 0) || chapter.seconds * kTicksPerSecond > titleDuration) {
            throw std::runtime_error(
                "chapter \"" + chapter.title + "\" at " + std::to_string(chapter.seconds) +
                " s lies outside the title (" +
                std::to_string(titleDuration / double(kTicksPerSecond)) + " s)");
        }
        if (chapter.image.size() > kMaxImageSize) {
            throw std::runtime_error("chapter \"" + chapter.title + "\": image above 16 MiB");
        }
        chapters.push_back(&chapter);
    }
    std::stable_sort(
        chapters.begin(), chapters.end(),
        [](const ChapterSpec* a, const ChapterSpec* b) { return a->seconds < b->seconds; });

    // Entries with every value in place but the positions, whose sizes do not depend on them.
    auto entriesAt = [this](const std::vector<uint64_t>& offsets) {
        std::vector<Mpeg2PsIndexEntry> entries;
        for (size_t i = 0; i < tracks_.size(); ++i) {
            Mpeg2PsIndexEntry entry = tracks_[i].entry;
            entry.offset = offsets[i];
            entry.size = tracks_[i].size;
            for (Mpeg2PsIndexEntry::SeekPoint point : tracks_[i].seekPoints) {
                point.position += offsets[i];
                entry.seekPoints.push_back(point);
            }
            entries.push_back(entry);
        }
        return entries;
    };
    auto chapterBlocksAt = [&chapters](const std::vector<std::pair<uint64_t, uint32_t>>& ranges) {
        std::vector<std::vector<uint8_t>> blocks;
        for (size_t i = 0; i < chapters.size(); ++i) {
            std::vector<uint8_t> block;
            const uint32_t ticks =
                static_cast<uint32_t>(std::llround(chapters[i]->seconds * kTicksPerSecond));
            if (!Mpeg2PsMetadataBlocks::WriteChapter(ticks, chapters[i]->title, ranges[i].first,
                                                     ranges[i].second, block)) {
                throw std::runtime_error("chapter \"" + chapters[i]->title +
                                         "\" cannot be written");
            }
            blocks.push_back(block);
        }
        return blocks;
    };
    const uint64_t headerSize =
        Header(renditions, ids, entriesAt(std::vector<uint64_t>(tracks_.size(), 0)),
               chapterBlocksAt(std::vector<std::pair<uint64_t, uint32_t>>(chapters.size())),
               headerMuxRate, options)
            .size();

    std::vector<uint64_t> offsets;
    uint64_t position = headerSize;
    for (const Track& track : tracks_) {
        offsets.push_back(position);
        position += track.size;
    }
    const uint64_t endCode = position;
    const uint64_t region = endCode + 4;

    std::vector<std::pair<uint64_t, uint32_t>> ranges;
    for (size_t i = 0; i < chapters.size(); ++i) {
        const uint64_t start = region + thumbnails_.size();
        if (!chapters[i]->image.empty()) {
            std::vector<uint8_t> block;
            if (!Mpeg2PsMetadataBlocks::WriteThumbnail(static_cast<uint32_t>(i), chapters[i]->image,
                                                       block)) {
                throw std::runtime_error("thumbnail of chapter \"" + chapters[i]->title +
                                         "\" cannot be written");
            }
            Mpeg2PsPack pack(0);
            pack.SetMuxRate(headerMuxRate);
            for (const auto& pes : MakeRecordPackets(Format::kStreamIdMetadata, block)) {
                pack.AddPes(pes);
            }
            if (!pack.AppendTo(thumbnails_)) {
                throw std::runtime_error("thumbnail pack cannot be written");
            }
        }
        ranges.push_back({start, static_cast<uint32_t>(region + thumbnails_.size() - start)});
    }

    header_ = Header(renditions, ids, entriesAt(offsets), chapterBlocksAt(ranges), headerMuxRate,
                     options, &indexDigest_);
    if (header_.size() != headerSize) {
        throw std::runtime_error("internal error: the header section changed size");
    }

    layout_.headerSize = headerSize;
    layout_.endCodePosition = endCode;
    layout_.thumbnailRegion = region;
    layout_.size = region + thumbnails_.size();
    for (size_t i = 0; i < tracks_.size(); ++i) {
        TrackLayout t;
        t.offset = offsets[i];
        t.size = tracks_[i].size;
        t.duration = tracks_[i].entry.duration;
        t.bitRate = tracks_[i].entry.bitRate;
        for (const auto& point : tracks_[i].seekPoints) {
            t.seekPoints.push_back({point.time, point.position + offsets[i]});
        }
        layout_.tracks.push_back(t);
    }
    outputSize_ = layout_.size;
    if (options.truncate) {
        if (options.truncateSize >= layout_.size) {
            throw std::runtime_error("cannot truncate to " + std::to_string(options.truncateSize) +
                                     " bytes: the title has only " + std::to_string(layout_.size));
        }
        outputSize_ = options.truncateSize;
    }
}

TitleWriter::~TitleWriter() = default;

void TitleWriter::Write(const std::vector<SampleSource*>& sources, ByteSink& sink,
                        const std::function<void(uint64_t)>& progress) const {
    if (sources.size() != renditions_.size()) {
        throw std::runtime_error("internal error: a source for every rendition is needed");
    }
    LimitedSink out(sink, outputSize_, progress);
    out.Write(header_.data(), header_.size());
    for (size_t i = 0; i < tracks_.size(); ++i) {
        TrackOutput track(sources[i], &out, renditions_[i].source);
        LayTrack(renditions_[i], tracks_[i].ids, origin_, tracks_[i].muxRate, track, nullptr);
        if (track.Position() != tracks_[i].size) {
            throw std::runtime_error("internal error: " + renditions_[i].source +
                                     ": the track came out at " + std::to_string(track.Position()) +
                                     " bytes, not " + std::to_string(tracks_[i].size));
        }
        // Stop reading once a truncated title is complete.
        if (out.Written() >= outputSize_) {
            return;
        }
    }
    const uint8_t end[4] = {0x00, 0x00, 0x01, Format::kStartCodeProgramEnd};
    out.Write(end, sizeof end);
    out.Write(thumbnails_.data(), thumbnails_.size());
}

}  // namespace SvTools
