#include "tools/mktitle/TitleWriter.h"

#include <boost/make_shared.hpp>

#include <algorithm>
#include <cmath>
#include <set>
#include <stdexcept>

#include "engine/container/Mpeg2PsFormat.h"
#include "engine/container/Mpeg2PsIndexEntry.h"
#include "engine/container/Mpeg2PsMetadataBlocks.h"
#include "engine/container/Mpeg2PsPack.h"
#include "engine/container/Mpeg2PsRecordPackets.h"
#include "engine/codecs/Aac.h"
#include "engine/codecs/Eac3.h"
#include "engine/codecs/MediaTiming.h"

namespace SvTools {

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

struct StreamIds {
    uint8_t video = Format::kStreamIdVideoFirst;
    uint8_t audio = 0;
    uint8_t audioType = 0;
};

// One rendition's media, laid out from its first pack on.
struct BuiltTrack {
    std::vector<uint8_t> bytes;
    std::vector<Mpeg2PsIndexEntry::SeekPoint> seekPoints;  // positions relative to the track
    Mpeg2PsIndexEntry entry;                               // without offset, size, seek points
    uint32_t muxRate = 1;
};

uint32_t Ticks(uint64_t time, uint64_t origin, const std::string& source) {
    const uint64_t ticks = time - origin;
    if (ticks > 0xFFFFFFFFu) {
        throw std::runtime_error(source + ": longer than 13 hours, beyond the 32-bit tick count");
    }
    return static_cast<uint32_t>(ticks);
}

// Appends one access unit as PES packets of its own: the first carries the timestamps (the DTS
// only when it differs) and, for a key frame or audio frame, data alignment; the others carry
// the rest of the bytes.
void AddAccessUnit(Mpeg2PsPack& pack, const AccessUnit& unit, uint8_t streamId, bool prefix,
                   uint64_t origin) {
    size_t offset = 0;
    bool first = true;
    while (first || offset < unit.data.size()) {
        boost::shared_ptr<Mpeg2PsPes> pes = boost::make_shared<Mpeg2PsPes>();
        pes->SetStreamId(streamId);
        if (first) {
            pes->SetPts((unit.pts - origin) & kTimestampMask);
            if (unit.dts != unit.pts) {
                pes->SetDts((unit.dts - origin) & kTimestampMask);
            }
            pes->SetDataAlignment(unit.key);
            if (prefix) {
                pes->AddData(kEac3PrefixBytes, sizeof kEac3PrefixBytes, true);
            }
        }
        const size_t room = static_cast<size_t>(std::max<int32_t>(pes->GetFreeSpace(), 0));
        const size_t take = std::min(room, unit.data.size() - offset);
        if (take > 0) {
            pes->AddData(unit.data.data() + offset, static_cast<uint32_t>(take), false);
        }
        offset += take;
        pack.AddPes(pes);
        first = false;
    }
}

uint32_t PeakAudioRate(const std::vector<AccessUnit>& units) {
    uint64_t peak = 0, window = 0;
    size_t begin = 0;
    for (size_t end = 0; end < units.size(); ++end) {
        window += units[end].data.size();
        while (units[end].pts - units[begin].pts >= kTicksPerSecond) {
            window -= units[begin].data.size();
            ++begin;
        }
        peak = std::max(peak, window);
    }
    return static_cast<uint32_t>(std::min<uint64_t>(peak * 8, 0xFFFFFFFFu));
}

BuiltTrack BuildTrack(const Rendition& rendition, const StreamIds& ids, uint64_t origin,
                      uint32_t muxRate) {
    const std::vector<AccessUnit>& video = rendition.video.units;
    const std::vector<AccessUnit>& audio = rendition.audio.units;
    const bool prefix = rendition.audio.codec == AudioCodec::Eac3;
    BuiltTrack track;
    track.muxRate = muxRate;
    std::unique_ptr<Mpeg2PsPack> pack;
    uint64_t packTime = 0;
    auto flush = [&]() {
        if (pack && !pack->AppendTo(track.bytes)) {
            throw std::runtime_error(rendition.source + ": a pack could not be written");
        }
        pack.reset();
    };
    auto open = [&](uint64_t time) {
        flush();
        const uint32_t ticks = Ticks(time, origin, rendition.source);
        track.seekPoints.push_back({ticks, track.bytes.size()});
        pack.reset(new Mpeg2PsPack(0));
        // The clock reference of a pack is its first decode time; never 0, which readers take
        // for the header pack.
        pack->SetScr(std::max<uint64_t>(TicksToClock(ticks), 1));
        pack->SetMuxRate(muxRate);
        packTime = time;
    };
    size_t v = 0, a = 0;
    // Audio before the first key frame has no pack to go into.
    while (!video.empty() && a < audio.size() && audio[a].pts < video[0].dts) {
        ++a;
    }
    while (v < video.size() || a < audio.size()) {
        const bool takeVideo =
            v < video.size() && (a >= audio.size() || video[v].dts <= audio[a].pts);
        if (takeVideo) {
            if (video[v].key || !pack) {
                open(video[v].dts);
            }
            AddAccessUnit(*pack, video[v], ids.video, false, origin);
            ++v;
        } else {
            if (video.empty() && (!pack || audio[a].pts >= packTime + kAudioOnlyPackInterval)) {
                open(audio[a].pts);
            }
            AddAccessUnit(*pack, audio[a], ids.audio, prefix, origin);
            ++a;
        }
    }
    flush();
    return track;
}

// Bytes per second of the busiest stretch between two seek points, in units of 50 bytes/s.
uint32_t MuxRate(const BuiltTrack& track, uint32_t duration) {
    uint64_t peak = 0;
    for (size_t i = 0; i < track.seekPoints.size(); ++i) {
        const uint64_t end =
            i + 1 < track.seekPoints.size() ? track.seekPoints[i + 1].position : track.bytes.size();
        const uint64_t endTime =
            i + 1 < track.seekPoints.size() ? track.seekPoints[i + 1].time : duration;
        const uint64_t span = std::max<uint64_t>(endTime - track.seekPoints[i].time, 1);
        peak = std::max(peak, (end - track.seekPoints[i].position) * kTicksPerSecond / span);
    }
    const uint64_t rate = (peak + 49) / 50;
    return static_cast<uint32_t>(std::min<uint64_t>(std::max<uint64_t>(rate, 1), 0x3FFFFF));
}

void Describe(const Rendition& rendition, const StreamIds& ids, uint64_t origin,
              BuiltTrack& track) {
    Mpeg2PsIndexEntry& entry = track.entry;
    uint64_t end = origin;
    uint64_t videoBytes = 0, audioBytes = 0;
    const VideoStream& video = rendition.video;
    const AudioStream& audio = rendition.audio;
    for (const AccessUnit& unit : video.units) {
        end = std::max(end, unit.pts + video.frameDuration);
        videoBytes += unit.data.size();
    }
    for (const AccessUnit& unit : audio.units) {
        end = std::max(end, unit.pts + audio.frameDuration);
        audioBytes += unit.data.size();
    }
    entry.duration = Ticks(end, origin, rendition.source);
    entry.bitRate = DeriveBitRate(track.bytes.size(), entry.duration);
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
        v.bitRate = DeriveBitRate(videoBytes, uint64_t{video.frameDuration} * video.units.size());
        v.mpegStreamId = ids.video;
        v.mpegStreamType = Format::kStreamTypeH264;
        v.avcDecoderConfigurationRecord = video.avcConfiguration;
        entry.video = v;
        std::vector<uint64_t> keyTimes;
        for (const AccessUnit& unit : video.units) {
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
        a.bitRate = DeriveBitRate(audioBytes, uint64_t{audio.frameDuration} * audio.units.size());
        a.mpegStreamId = ids.audio;
        a.mpegStreamType = ids.audioType;
        a.identifier = rendition.language;
        if (audio.codec == AudioCodec::Aac) {
            a.format = kAudioFormatAac;
            const uint32_t buffer = std::max<uint64_t>(
                uint64_t{768} * std::max<uint32_t>(audio.channels, 1), audio.maxFrameSize);
            a.esDescriptor =
                BuildAudioEsDescriptor(ids.audio, audio.audioSpecificConfig, buffer,
                                       std::max(PeakAudioRate(audio.units), a.bitRate), a.bitRate);
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
}

std::vector<StreamIds> AssignStreamIds(const std::vector<Rendition>& renditions) {
    bool anyVideo = false;
    for (const Rendition& rendition : renditions) {
        anyVideo = anyVideo || rendition.video.present;
    }
    // AAC of renditions with video is stream 0xC0; an audio-only rendition next to video ones
    // gets a stream of its own (0xC1 on), so that it can be played beside them. E-AC-3 is
    // always private stream 1.
    std::vector<StreamIds> ids;
    uint8_t nextAlternate = Format::kStreamIdAudioFirst + 1;
    for (const Rendition& rendition : renditions) {
        StreamIds id;
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
                            const std::vector<StreamIds>& ids,
                            const std::vector<Mpeg2PsIndexEntry>& entries,
                            const std::vector<std::vector<uint8_t>>& chapterBlocks,
                            uint32_t muxRate, const TitleOptions& options) {
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
    for (size_t i = 0; i < entries.size(); ++i) {
        std::vector<uint8_t> bytes;
        std::string error;
        if (!entries[i].Write(options.indexVersion, bytes, &error)) {
            throw std::runtime_error(renditions[i].source + ": index entry: " + error);
        }
        if (options.badMagic && i == 0) {
            bytes[3] = 'x';
        }
        for (const auto& pes :
             MakeRecordPackets(Format::kStreamIdPrivateStream2, bytes, options.indexPacketSize)) {
            pack.AddPes(pes);
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

std::vector<uint8_t> BuildTitle(const std::vector<Rendition>& renditions,
                                const TitleOptions& options, TitleLayout* layout) {
    if (renditions.empty()) {
        throw std::runtime_error("no input");
    }
    if (options.indexVersion > Format::kIndexEntryVersionMax) {
        throw std::runtime_error("index entry version " + std::to_string(options.indexVersion) +
                                 " does not exist (0 to 4)");
    }
    bool haveOrigin = false;
    uint64_t origin = 0;
    for (const Rendition& rendition : renditions) {
        if (rendition.video.units.empty() && rendition.audio.units.empty()) {
            throw std::runtime_error(rendition.source + ": no media to write");
        }
        for (const std::vector<AccessUnit>* units :
             {&rendition.video.units, &rendition.audio.units}) {
            if (!units->empty()) {
                const uint64_t first = units->front().dts;
                origin = haveOrigin ? std::min(origin, first) : first;
                haveOrigin = true;
            }
        }
    }
    const std::vector<StreamIds> ids = AssignStreamIds(renditions);

    std::vector<BuiltTrack> tracks;
    uint32_t headerMuxRate = 1;
    for (size_t i = 0; i < renditions.size(); ++i) {
        // Laid out twice: the first pass measures the busiest stretch for the packs' mux rate.
        BuiltTrack measure = BuildTrack(renditions[i], ids[i], origin, 1);
        Describe(renditions[i], ids[i], origin, measure);
        const uint32_t muxRate = MuxRate(measure, measure.entry.duration);
        BuiltTrack track = BuildTrack(renditions[i], ids[i], origin, muxRate);
        track.entry = measure.entry;
        headerMuxRate = std::max(headerMuxRate, muxRate);
        tracks.push_back(std::move(track));
    }
    uint32_t titleDuration = 0;
    for (const BuiltTrack& track : tracks) {
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
    auto entriesAt = [&tracks](const std::vector<uint64_t>& offsets) {
        std::vector<Mpeg2PsIndexEntry> entries;
        for (size_t i = 0; i < tracks.size(); ++i) {
            Mpeg2PsIndexEntry entry = tracks[i].entry;
            entry.offset = offsets[i];
            entry.size = tracks[i].bytes.size();
            for (Mpeg2PsIndexEntry::SeekPoint point : tracks[i].seekPoints) {
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
    const std::vector<uint8_t> draft =
        Header(renditions, ids, entriesAt(std::vector<uint64_t>(tracks.size(), 0)),
               chapterBlocksAt(std::vector<std::pair<uint64_t, uint32_t>>(chapters.size())),
               headerMuxRate, options);

    std::vector<uint64_t> offsets;
    uint64_t position = draft.size();
    for (const BuiltTrack& track : tracks) {
        offsets.push_back(position);
        position += track.bytes.size();
    }
    const uint64_t endCode = position;
    const uint64_t region = endCode + 4;

    std::vector<uint8_t> thumbnails;
    std::vector<std::pair<uint64_t, uint32_t>> ranges;
    for (size_t i = 0; i < chapters.size(); ++i) {
        const uint64_t start = region + thumbnails.size();
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
            if (!pack.AppendTo(thumbnails)) {
                throw std::runtime_error("thumbnail pack cannot be written");
            }
        }
        ranges.push_back({start, static_cast<uint32_t>(region + thumbnails.size() - start)});
    }

    std::vector<uint8_t> title = Header(renditions, ids, entriesAt(offsets),
                                        chapterBlocksAt(ranges), headerMuxRate, options);
    if (title.size() != draft.size()) {
        throw std::runtime_error("internal error: the header section changed size");
    }
    for (const BuiltTrack& track : tracks) {
        title.insert(title.end(), track.bytes.begin(), track.bytes.end());
    }
    const uint8_t end[4] = {0x00, 0x00, 0x01, Format::kStartCodeProgramEnd};
    title.insert(title.end(), end, end + 4);
    title.insert(title.end(), thumbnails.begin(), thumbnails.end());

    if (layout) {
        layout->headerSize = draft.size();
        layout->endCodePosition = endCode;
        layout->thumbnailRegion = region;
        layout->size = title.size();
        layout->tracks.clear();
        for (size_t i = 0; i < tracks.size(); ++i) {
            TrackLayout t;
            t.offset = offsets[i];
            t.size = tracks[i].bytes.size();
            t.duration = tracks[i].entry.duration;
            t.bitRate = tracks[i].entry.bitRate;
            for (const auto& point : tracks[i].seekPoints) {
                t.seekPoints.push_back({point.time, point.position + offsets[i]});
            }
            layout->tracks.push_back(t);
        }
    }
    if (options.truncate) {
        if (options.truncateSize >= title.size()) {
            throw std::runtime_error("cannot truncate to " + std::to_string(options.truncateSize) +
                                     " bytes: the title has only " + std::to_string(title.size()));
        }
        title.resize(options.truncateSize);
    }
    return title;
}

}  // namespace SvTools
