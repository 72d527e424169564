// The title maker run as a program on clips made by ffmpeg; its titles checked with ffmpeg's
// own tools and byte by byte with a program-stream walker of the test's own.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "SVLibrary/Util/ByteOrder.h"
#include "engine/codecs/MediaTiming.h"
#include "engine/container/Mpeg2PsMetadata.h"
#include "tests/support/Fixtures.h"
#include "tools/mktitle/MktitleTestSupport.h"
#include "tests/support/TestLabels.h"
#include "tests/support/MediaFileTestSupport.h"
#include "tests/support/TemporaryDirectory.h"

namespace {

using SvTestSupport::Fixtures;
using SvTestSupport::RunProgram;
using Bytes = std::vector<uint8_t>;

// One record of a program stream: a pack header, a system header, a PES packet or the end code.
struct Record {
    size_t position = 0;
    uint8_t id = 0;      // the byte after 00 00 01
    size_t size = 0;     // whole record
    size_t payload = 0;  // position of the PES payload
    bool aligned = false;
};

// Walks the records from position until the end code (included) or the end of the bytes; fails
// the test on anything that is not a start code where one must be.
std::vector<Record> Walk(const Bytes& b, size_t position = 0, size_t end = SIZE_MAX) {
    std::vector<Record> records;
    end = std::min(end, b.size());
    while (position + 4 <= end) {
        if (b[position] != 0 || b[position + 1] != 0 || b[position + 2] != 1) {
            ADD_FAILURE() << "no start code at " << position;
            break;
        }
        Record r;
        r.position = position;
        r.id = b[position + 3];
        if (r.id == 0xB9) {
            r.size = 4;
        } else if (r.id == 0xBA) {
            if (position + 14 > end) {
                ADD_FAILURE() << "pack header cut at " << position;
                break;
            }
            r.size = 14 + (b[position + 13] & 7);
        } else {
            r.size = 6 + SV::ReadBigEndian16(&b[position + 4]);
            r.payload = position + 6;
            const bool optional = !(r.id == 0xBB || r.id == 0xBC || r.id == 0xBE || r.id == 0xBF ||
                                    r.id == 0xF0 || r.id == 0xF2 || r.id == 0xF8 || r.id == 0xFF);
            if (optional && r.id != 0xBB) {
                r.aligned = (b[position + 6] & 0x04) != 0;
                r.payload = position + 9 + b[position + 8];
            }
        }
        if (position + r.size > end) {
            ADD_FAILURE() << "record 0x" << std::hex << int(r.id) << " runs past the end";
            break;
        }
        records.push_back(r);
        position += r.size;
        if (r.id == 0xB9) {
            break;
        }
    }
    return records;
}

struct IndexEntry {
    Bytes bytes;
    uint32_t version = 0;
    uint64_t offset = 0, size = 0;
    SarvelonMediaKit::Mpeg2PsMetadata tags{0};
    std::vector<std::pair<uint32_t, uint64_t>> seekPoints;  // accumulated
};

// The header section: the index entries gathered from each run of 0xBF packets and the bytes
// of the 0xF1 packets; version-4 entries are decoded.
struct Header {
    std::vector<Record> records;
    std::vector<IndexEntry> entries;
    Bytes metadata;
    size_t bfPackets = 0;
};

Header ReadHeader(const Bytes& b) {
    Header h;
    const std::vector<Record> all = Walk(b);
    bool open = false;  // an entry is being gathered
    for (const Record& r : all) {
        if (r.id == 0xBA && !h.records.empty()) {
            break;  // the first media pack
        }
        h.records.push_back(r);
        if (r.id == 0xBF) {
            ++h.bfPackets;
            if (!open) {
                h.entries.emplace_back();
                open = true;
            }
            Bytes& e = h.entries.back().bytes;
            e.insert(e.end(), b.begin() + r.payload, b.begin() + r.position + r.size);
            // An entry ends with its last seek record; the next packet starts the next entry.
            if (e.size() >= 12) {
                const uint32_t version = SV::ReadBigEndian32(&e[4]);
                static const size_t kCountAt[] = {38, 42, 64, 68};
                if (version == 4) {
                    open = e.size() < 12u + SV::ReadBigEndian32(&e[8]);
                } else if (version < 4 && e.size() >= kCountAt[version] + 4) {
                    open = e.size() <
                           kCountAt[version] + 4 + 6u * SV::ReadBigEndian32(&e[kCountAt[version]]);
                }
            }
        } else if (r.id == 0xF1) {
            h.metadata.insert(h.metadata.end(), b.begin() + r.payload,
                              b.begin() + r.position + r.size);
        }
    }
    for (IndexEntry& e : h.entries) {
        if (e.bytes.size() < 12) {
            ADD_FAILURE() << "index entry of " << e.bytes.size() << " bytes";
            continue;
        }
        e.version = SV::ReadBigEndian32(&e.bytes[4]);
        if (e.version != 4) {
            continue;
        }
        const uint32_t length = SV::ReadBigEndian32(&e.bytes[8]);
        EXPECT_EQ(e.bytes.size(), 12u + length);
        size_t consumed = 0;
        EXPECT_TRUE(e.tags.Read(&e.bytes[12], length, consumed)) << e.tags.GetError();
        EXPECT_TRUE(e.tags.GetUInt64(SarvelonMediaKit::Mpeg2PsFormat::TagOffset, e.offset));
        EXPECT_TRUE(e.tags.GetUInt64(SarvelonMediaKit::Mpeg2PsFormat::TagSize, e.size));
        size_t p = 12 + consumed;
        const uint32_t count = SV::ReadBigEndian32(&e.bytes[p]);
        p += 4;
        EXPECT_EQ(e.bytes.size(), p + 6u * count);
        uint32_t time = 0;
        uint64_t position = e.offset;
        for (uint32_t i = 0; i < count && p + 6 <= e.bytes.size(); ++i, p += 6) {
            time += (uint32_t{e.bytes[p]} << 16) | (e.bytes[p + 1] << 8) | e.bytes[p + 2];
            position += (uint32_t{e.bytes[p + 3]} << 16) | (e.bytes[p + 4] << 8) | e.bytes[p + 5];
            e.seekPoints.push_back({time, position});
        }
    }
    return h;
}

// The checks every well-formed title passes.
void CheckTitle(const Bytes& b, uint8_t firstPesOfPack) {
    ASSERT_GE(b.size(), 14u);
    // It starts with a pack header.
    EXPECT_EQ(Bytes({0x00, 0x00, 0x01, 0xBA}), Bytes(b.begin(), b.begin() + 4));
    const Header h = ReadHeader(b);
    size_t map = SIZE_MAX, firstEntry = SIZE_MAX;
    for (size_t i = 0; i < h.records.size(); ++i) {
        if (h.records[i].id == 0xBC && map == SIZE_MAX) map = i;
        if (h.records[i].id == 0xBF && firstEntry == SIZE_MAX) firstEntry = i;
    }
    // The stream map comes before the first index entry.
    ASSERT_NE(SIZE_MAX, map);
    ASSERT_NE(SIZE_MAX, firstEntry);
    EXPECT_LT(map, firstEntry);
    ASSERT_FALSE(h.entries.empty());
    uint64_t expectedOffset = h.records.back().position + h.records.back().size;
    for (const IndexEntry& e : h.entries) {
        // Each index entry starts with "IDMi".
        EXPECT_EQ(Bytes({'I', 'D', 'M', 'i'}), Bytes(e.bytes.begin(), e.bytes.begin() + 4));
        // Offset + size lies inside the file; the tracks follow each other.
        EXPECT_EQ(expectedOffset, e.offset);
        EXPECT_LE(e.offset + e.size, b.size());
        expectedOffset = e.offset + e.size;
        ASSERT_FALSE(e.seekPoints.empty());
        EXPECT_EQ(e.offset, e.seekPoints[0].second) << "a track starts at its first seek point";
        for (const auto& point : e.seekPoints) {
            // Every seek position holds a pack header whose first PES is a media PES with data
            // alignment set.
            const std::vector<Record> at = Walk(b, point.second, e.offset + e.size);
            ASSERT_GE(at.size(), 2u);
            EXPECT_EQ(0xBA, at[0].id) << "seek position " << point.second;
            EXPECT_EQ(firstPesOfPack, at[1].id) << "seek position " << point.second;
            EXPECT_TRUE(at[1].aligned) << "seek position " << point.second;
        }
        // The track's bytes are whole records.
        const std::vector<Record> track = Walk(b, e.offset, e.offset + e.size);
        ASSERT_FALSE(track.empty());
        EXPECT_EQ(e.offset + e.size, track.back().position + track.back().size);
    }
    // The program end code follows the last track.
    ASSERT_LE(expectedOffset + 4, b.size());
    EXPECT_EQ(Bytes({0x00, 0x00, 0x01, 0xB9}),
              Bytes(b.begin() + expectedOffset, b.begin() + expectedOffset + 4));
}

std::string Output(const std::vector<std::string>& argv, int* status = nullptr) {
    std::string output;
    const int result = RunProgram(argv, &output);
    if (status) *status = result;
    return output;
}

int VideoFrames(const std::string& path) {
    const std::string out =
        Output({"ffprobe", "-v", "error", "-count_frames", "-select_streams", "v", "-show_entries",
                "stream=nb_read_frames", "-of", "csv=p=0", path});
    return std::atoi(out.c_str());
}

std::string ChapterTitle() {
    return Fixtures::MakeTitle("chapters.svm", {Fixtures::LongClip(), "{out}", "--chapter",
                                                "0:Start:" + Fixtures::Thumbnail(0), "--chapter",
                                                "5:Two:" + Fixtures::Thumbnail(1)});
}

// The chapter titles of a title in order, as its chapter table holds them.
std::vector<std::string> ChapterTitles(const std::string& path) {
    using namespace SarvelonMediaKit::Mpeg2PsFormat;
    const Header h = ReadHeader(SvTestSupport::ReadFileBytes(path));
    std::vector<std::string> titles;
    SarvelonMediaKit::Mpeg2PsMetadata table(1);
    size_t consumed = 0;
    Bytes nested;
    if (!table.Read(h.metadata.data(), h.metadata.size(), consumed) ||
        !table.GetBytes(TagTableBlocks, nested)) {
        ADD_FAILURE() << path << " has no chapter table";
        return titles;
    }
    for (size_t p = 0; p < nested.size(); p += consumed) {
        SarvelonMediaKit::Mpeg2PsMetadata chapter(1);
        std::string name;
        if (!chapter.Read(nested.data() + p, nested.size() - p, consumed) || consumed == 0 ||
            !chapter.GetString(TagChapterTitle, name)) {
            ADD_FAILURE() << "a chapter of " << path << " does not read";
            break;
        }
        titles.push_back(name);
    }
    return titles;
}

SV_TEST_LABEL(Mktitle, TitleWithChaptersPlaysInFfmpeg, e2e);  // checked with outside clients
TEST(Mktitle, TitleWithChaptersPlaysInFfmpeg) {
    const std::string source = Fixtures::LongClip();
    const std::string title = ChapterTitle();
    std::string streams = Output(
        {"ffprobe", "-v", "error", "-show_entries", "stream=codec_name,id", "-of", "csv", title});
    EXPECT_NE(std::string::npos, streams.find("stream,h264,0x1e0")) << streams;
    EXPECT_NE(std::string::npos, streams.find("stream,aac,0x1c0")) << streams;
    int status = -1;
    EXPECT_EQ(
        "", Output({"ffmpeg", "-nostdin", "-v", "error", "-i", title, "-f", "null", "-"}, &status));
    EXPECT_EQ(0, status);
    EXPECT_EQ(static_cast<int>(Fixtures::kLongClipFrames), VideoFrames(source));
    EXPECT_EQ(VideoFrames(source), VideoFrames(title));
}

TEST(Mktitle, TitleLayoutByteByByte) {
    const Bytes b = SvTestSupport::ReadFileBytes(ChapterTitle());
    CheckTitle(b, 0xE0);
    const Header h = ReadHeader(b);
    ASSERT_EQ(1u, h.entries.size());
    const IndexEntry& e = h.entries[0];
    // 20 s with a key frame every 2 s: ten seek points, 180000 ticks apart from 0.
    ASSERT_EQ(10u, e.seekPoints.size());
    for (size_t i = 0; i < e.seekPoints.size(); ++i) {
        EXPECT_EQ(180000u * i, e.seekPoints[i].first);
    }
    using namespace SarvelonMediaKit::Mpeg2PsFormat;
    uint16_t width = 0, height = 0;
    uint8_t audioId = 0, videoId = 0;
    std::vector<uint8_t> avc, esDescriptor;
    EXPECT_TRUE(e.tags.GetUInt16(TagVideoWidth, width));
    EXPECT_TRUE(e.tags.GetUInt16(TagVideoHeight, height));
    EXPECT_EQ(640, width);
    EXPECT_EQ(360, height);
    EXPECT_TRUE(e.tags.GetUInt8(TagVideoMpegStreamId, videoId));
    EXPECT_TRUE(e.tags.GetUInt8(TagAudioMpegStreamId, audioId));
    EXPECT_EQ(0xE0, videoId);
    EXPECT_EQ(0xC0, audioId);
    EXPECT_TRUE(e.tags.GetBytes(TagAVCDecoderConfigurationRecord, avc));
    ASSERT_GT(avc.size(), 8u);
    EXPECT_EQ(1, avc[0]);
    EXPECT_TRUE(e.tags.GetBytes(TagAudioEsDescriptor, esDescriptor));
    ASSERT_GT(esDescriptor.size(), 4u);
    EXPECT_EQ(Bytes({0x03}), Bytes(esDescriptor.begin(), esDescriptor.begin() + 1));

    // The chapter table: two chapters whose thumbnail ranges hold packs with the images.
    SarvelonMediaKit::Mpeg2PsMetadata table(1);
    size_t consumed = 0;
    ASSERT_TRUE(table.Read(h.metadata.data(), h.metadata.size(), consumed)) << table.GetError();
    EXPECT_EQ(static_cast<uint32_t>(kBlockKindTable), table.GetVersion());
    Bytes nested;
    ASSERT_TRUE(table.GetBytes(TagTableBlocks, nested));
    size_t p = 0;
    const char* titles[] = {"Start", "Two"};
    const uint32_t times[] = {0, 5 * SarvelonMediaKit::kTicksPerSecond};
    for (int i = 0; i < 2; ++i) {
        SarvelonMediaKit::Mpeg2PsMetadata chapter(1);
        ASSERT_TRUE(chapter.Read(nested.data() + p, nested.size() - p, consumed));
        p += consumed;
        std::string name;
        uint32_t time = 0, size = 0;
        uint64_t position = 0;
        EXPECT_TRUE(chapter.GetString(TagChapterTitle, name));
        EXPECT_EQ(titles[i], name);
        EXPECT_TRUE(chapter.GetUInt32(TagChapterTime, time));
        EXPECT_EQ(times[i], time);
        ASSERT_TRUE(chapter.GetUInt64(TagChapterThumbnailPosition, position));
        ASSERT_TRUE(chapter.GetUInt32(TagChapterThumbnailSize, size));
        ASSERT_LE(position + size, b.size());
        const std::vector<Record> range = Walk(b, position, position + size);
        ASSERT_GE(range.size(), 2u);
        EXPECT_EQ(0xBA, range[0].id);
        Bytes block;
        for (const Record& r : range) {
            if (r.id == 0xF1) {
                block.insert(block.end(), b.begin() + r.payload, b.begin() + r.position + r.size);
            }
        }
        SarvelonMediaKit::Mpeg2PsMetadata thumbnail(1);
        ASSERT_TRUE(thumbnail.Read(block.data(), block.size(), consumed));
        EXPECT_EQ(static_cast<uint32_t>(kBlockKindThumbnail), thumbnail.GetVersion());
        uint32_t index = 99;
        Bytes image;
        EXPECT_TRUE(thumbnail.GetUInt32(TagThumbnailChapterIndex, index));
        EXPECT_EQ(static_cast<uint32_t>(i), index);
        EXPECT_TRUE(thumbnail.GetBytes(TagThumbnailImage, image));
        EXPECT_EQ(SvTestSupport::ReadFileBytes(Fixtures::Thumbnail(i)), image);
    }
}

TEST(Mktitle, MultiRateTitleHasAlignedTracks) {
    const Bytes b = SvTestSupport::ReadFileBytes(Fixtures::MultiRateTitle());
    CheckTitle(b, 0xE0);
    const Header h = ReadHeader(b);
    ASSERT_EQ(3u, h.entries.size());
    uint32_t previousRate = 0;
    for (const IndexEntry& e : h.entries) {
        std::vector<uint32_t> times;
        for (const auto& point : e.seekPoints) times.push_back(point.first);
        std::vector<uint32_t> first;
        for (const auto& point : h.entries[0].seekPoints) first.push_back(point.first);
        EXPECT_EQ(first, times) << "key frames at the same times in every rendition";
        uint32_t rate = 0;
        EXPECT_TRUE(e.tags.GetUInt32(SarvelonMediaKit::Mpeg2PsFormat::TagVideoBitRate, rate));
        EXPECT_GT(rate, previousRate) << "renditions in the order given: 150, 300, 600 kbit/s";
        previousRate = rate;
    }
}

SV_TEST_LABEL(Mktitle, Eac3TitleCarriesPrefixedFrames, e2e);  // checked with outside clients
TEST(Mktitle, Eac3TitleCarriesPrefixedFrames) {
    const Bytes b = SvTestSupport::ReadFileBytes(Fixtures::Eac3Title());
    CheckTitle(b, 0xE0);
    const Header h = ReadHeader(b);
    bool mapped = false;
    for (const Record& r : h.records) {
        if (r.id == 0xBC) {
            // The map's first stream entry after the video: type 0x87 on private stream 1.
            const Bytes map(b.begin() + r.position, b.begin() + r.position + r.size);
            for (size_t i = 12; i + 1 < map.size(); ++i) {
                mapped = mapped || (map[i] == 0x87 && map[i + 1] == 0xBD);
            }
        }
    }
    EXPECT_TRUE(mapped);
    const std::vector<Record> track =
        Walk(b, h.entries[0].offset, h.entries[0].offset + h.entries[0].size);
    size_t frames = 0;
    for (const Record& r : track) {
        if (r.id == 0xBD) {
            ++frames;
            EXPECT_TRUE(r.aligned);
            EXPECT_EQ(Bytes({0xC0, 0x01, 0x00, 0x01, 0x0B, 0x77}),
                      Bytes(b.begin() + r.payload, b.begin() + r.payload + 6));
        }
    }
    // One prefixed PES run per E-AC-3 frame of the source, however the encoder padded it.
    const std::string sourceFrames =
        Output({"ffprobe", "-v", "error", "-select_streams", "a:0", "-count_packets",
                "-show_entries", "stream=nb_read_packets", "-of", "csv=p=0", Fixtures::Eac3Clip()});
    EXPECT_EQ(std::stoul(sourceFrames), frames);
    EXPECT_GE(frames, 125u);  // at least 4 s of 1536-sample frames at 48 kHz
    uint8_t format = 0;
    Bytes dec3;
    EXPECT_TRUE(
        h.entries[0].tags.GetUInt8(SarvelonMediaKit::Mpeg2PsFormat::TagAudioFormat, format));
    EXPECT_EQ(2, format);
    EXPECT_TRUE(
        h.entries[0].tags.GetBytes(SarvelonMediaKit::Mpeg2PsFormat::TagAudioEC3SpecificData, dec3));
    EXPECT_EQ(5u, dec3.size());
    std::string streams = Output({"ffprobe", "-v", "error", "-show_entries", "stream=codec_name",
                                  "-of", "csv", Fixtures::Eac3Title()});
    EXPECT_NE(std::string::npos, streams.find("eac3")) << streams;
}

TEST(Mktitle, AudioOnlyTitleHasAPackPerSecond) {
    const std::string title =
        Fixtures::MakeTitle("audio.svm", {"--lang", "swe", Fixtures::AudioOnlyClip(), "{out}"});
    const Bytes b = SvTestSupport::ReadFileBytes(title);
    CheckTitle(b, 0xC0);
    const Header h = ReadHeader(b);
    ASSERT_EQ(1u, h.entries.size());
    // A seek point at the first audio frame of every second: a frame lasts 1920 ticks.
    const auto& points = h.entries[0].seekPoints;
    EXPECT_GE(points.size(), 4u);
    for (size_t i = 1; i < points.size(); ++i) {
        EXPECT_GE(points[i].first - points[i - 1].first, SarvelonMediaKit::kTicksPerSecond);
        EXPECT_LT(points[i].first - points[i - 1].first, SarvelonMediaKit::kTicksPerSecond + 1920u);
    }
    std::string language;
    EXPECT_TRUE(
        h.entries[0].tags.GetString(SarvelonMediaKit::Mpeg2PsFormat::TagAudioIdentifier, language));
    EXPECT_EQ("swe", language);
    EXPECT_FALSE(h.entries[0].tags.Has(SarvelonMediaKit::Mpeg2PsFormat::TagVideoFormat));
}

TEST(Mktitle, SwitchesForTheReadersErrorTests) {
    const std::string clip = Fixtures::ShortClip();
    const Bytes plain = SvTestSupport::ReadFileBytes(Fixtures::ShortTitle());
    const Header plainHeader = ReadHeader(plain);
    ASSERT_EQ(1u, plainHeader.entries.size());

    const Bytes noMap = SvTestSupport::ReadFileBytes(
        Fixtures::MakeTitle("nomap.svm", {clip, "{out}", "--no-stream-map"}));
    for (const Record& r : ReadHeader(noMap).records) {
        EXPECT_NE(0xBC, r.id);
    }

    const Header badMagic = ReadHeader(SvTestSupport::ReadFileBytes(
        Fixtures::MakeTitle("badmagic.svm", {clip, "{out}", "--bad-magic"})));
    ASSERT_EQ(1u, badMagic.entries.size());
    EXPECT_EQ(Bytes({'I', 'D', 'M', 'x'}),
              Bytes(badMagic.entries[0].bytes.begin(), badMagic.entries[0].bytes.begin() + 4));

    const Bytes split = SvTestSupport::ReadFileBytes(
        Fixtures::MakeTitle("split.svm", {clip, "{out}", "--split-index=64"}));
    const Header splitHeader = ReadHeader(split);
    ASSERT_EQ(1u, splitHeader.entries.size());
    // The same entry, its positions moved by the longer header.
    const IndexEntry& whole = plainHeader.entries[0];
    const IndexEntry& pieces = splitHeader.entries[0];
    EXPECT_EQ(whole.bytes.size(), pieces.bytes.size());
    EXPECT_EQ(whole.size, pieces.size);
    ASSERT_EQ(whole.seekPoints.size(), pieces.seekPoints.size());
    for (size_t i = 0; i < whole.seekPoints.size(); ++i) {
        EXPECT_EQ(whole.seekPoints[i].first, pieces.seekPoints[i].first);
        EXPECT_EQ(whole.seekPoints[i].second - whole.offset,
                  pieces.seekPoints[i].second - pieces.offset);
    }
    EXPECT_GT(splitHeader.bfPackets, 5u);
    for (const Record& r : splitHeader.records) {
        if (r.id == 0xBF) {
            EXPECT_LE(r.size, 64u);
        }
    }

    const Bytes cut = SvTestSupport::ReadFileBytes(
        Fixtures::MakeTitle("truncated.svm", {clip, "{out}", "--truncate", "5000"}));
    EXPECT_EQ(Bytes(plain.begin(), plain.begin() + 5000), cut);

    // Versions 0 to 3: the fixed layouts with the seek count at 38, 42, 64 and 68.
    const size_t countAt[] = {38, 42, 64, 68};
    for (uint32_t version = 0; version < 4; ++version) {
        const Header fixed = ReadHeader(SvTestSupport::ReadFileBytes(
            Fixtures::MakeTitle("v" + std::to_string(version) + ".svm",
                                {clip, "{out}", "--index-version", std::to_string(version)})));
        ASSERT_EQ(1u, fixed.entries.size());
        const Bytes& e = fixed.entries[0].bytes;
        ASSERT_GE(e.size(), countAt[version] + 4);
        EXPECT_EQ(version, SV::ReadBigEndian32(&e[4]));
        EXPECT_EQ(plainHeader.entries[0].offset +
                      (fixed.records.back().position + fixed.records.back().size) -
                      (plainHeader.records.back().position + plainHeader.records.back().size),
                  SV::ReadBigEndian64(&e[8]));
        const uint32_t count = SV::ReadBigEndian32(&e[countAt[version]]);
        EXPECT_EQ(plainHeader.entries[0].seekPoints.size(), count);
        EXPECT_EQ(countAt[version] + 4 + 6u * count, e.size());
    }
}

TEST(Mktitle, BadInputGetsAClearErrorAndNoOutput) {
    const std::string dir = Fixtures::Directory();
    // In a folder of the run's own: an output a failed row left would fail every later run.
    const SvTestSupport::TemporaryDirectory outputs("mktitle-never");
    const std::string out = outputs.File("never.svm");
    const std::string clip = Fixtures::ShortClip();
    // Chapter pictures whose names say one thing and whose bytes another.
    const Bytes jpeg = SvTestSupport::ReadFileBytes(Fixtures::Thumbnail(0));
    ASSERT_GT(jpeg.size(), 600u);
    const SvTestSupport::TemporaryDirectory pictures("mktitle-pictures");
    const auto write = [&pictures](const std::string& name, const Bytes& bytes) {
        std::ofstream(pictures.File(name), std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        return pictures.File(name);
    };
    const std::string text = write("not-a-picture.jpg", Bytes{'h', 'e', 'l', 'l', 'o', '\n'});
    const std::string notes = write("notes", Bytes{'h', 'e', 'l', 'l', 'o', '\n'});
    const std::string jpegAsPng = write("jpeg-named.png", jpeg);
    // The start of the picture: its markers and tables, cut before the frame header.
    const std::string headless = write("headless.jpg", Bytes(jpeg.begin(), jpeg.begin() + 20));
    // A PNG cut in its pixel data: the header reads, the picture does not decode.
    const std::string pngPath =
        Fixtures::Make("thumb-png.png", {"ffmpeg", "-nostdin", "-v", "error", "-y", "-f", "lavfi",
                                         "-i", "testsrc2=size=160x90", "-frames:v", "1", "-c:v",
                                         "png", "-f", "image2", "{out}"});
    const Bytes png = SvTestSupport::ReadFileBytes(pngPath);
    ASSERT_GT(png.size(), 1000u);
    const std::string cutPng = write("cut.png", Bytes(png.begin(), png.begin() + png.size() / 2));
    MktitleTestSupport::ExpectRefused(
        {
            {{}, 2, "usage: mktitle"},
            {{clip}, 2, "no output given"},
            {{clip, out, "--frobnicate"}, 2, "unknown option --frobnicate"},
            {{clip, out, "--chapter", "soon:Title"}, 2, "is not a time in seconds"},
            {{clip, out, "--chapter", "7"}, 2, "--chapter needs SECONDS:TITLE[:IMAGE]"},
            {{clip, out, "--index-version", "5"},
             2,
             "--index-version takes a whole number from 0 to 4"},
            {{dir + "/missing.ts", out}, 1, "cannot open"},
            {{Fixtures::Thumbnail(0), out}, 1, "mktitle: "},
            {{clip, out, "--chapter", "60:Late"}, 1, "lies outside the title"},
            {{clip, out, "--chapter", "1:Pic:" + dir + "/missing.jpg"}, 1, "cannot open"},
            {{clip, out, "--chapter", "1:Pic:" + text},
             1,
             "chapter image " + text + " is not a JPEG picture"},
            {{clip, out, "--chapter", "1:Pic:" + jpegAsPng},
             1,
             "chapter image " + jpegAsPng + " is a JPEG picture, not the PNG its name says"},
            {{clip, out, "--chapter", "1:Pic:" + headless},
             1,
             "chapter image " + headless + " is not a JPEG picture"},
            {{clip, out, "--chapter", "1:Pic:" + cutPng},
             1,
             "chapter image " + cutPng + " does not decode as a PNG picture"},
            {{clip, out, "--truncate", "999999999"}, 1, "cannot truncate"},
            // A last part meant as the image: of a kind the title cannot carry, whether there
            // or not, or naming a file or a folder.
            {{clip, out, "--chapter", "2:Chap:/path/pic.gif"},
             2,
             "--chapter: the image \"/path/pic.gif\" is a .gif picture"},
            {{clip, out, "--chapter",
              "2:Chap:" + jpegAsPng.substr(0, jpegAsPng.size() - 3) + "WebP"},
             2,
             "is a .webp picture"},
            {{clip, out, "--chapter", "2:Chap:" + notes},
             2,
             "--chapter: the image \"" + notes + "\" names a file"},
            {{clip, out, "--chapter", "2:Chap:" + pictures.Path()}, 2, "names a directory"},
        },
        out);
    // The whole PNG is a picture as its name says.
    std::string said;
    const std::string made = dir + "/png-chapter.svm";
    EXPECT_EQ(0, MktitleTestSupport::Mktitle({clip, made, "--chapter", "0:Pic:" + pngPath}, &said))
        << said;
    std::remove(made.c_str());
    // Colons within a title are the title's own, with an image after them or none.
    EXPECT_EQ(0, MktitleTestSupport::Mktitle(
                     {clip, made, "--chapter", "0:Part: two", "--chapter", "1:Ratio 16:9",
                      "--chapter", "2:Note:", "--chapter", "3:A: b:" + Fixtures::Thumbnail(0)},
                     &said))
        << said;
    EXPECT_EQ(std::vector<std::string>({"Part: two", "Ratio 16:9", "Note:", "A: b"}),
              ChapterTitles(made));
    std::remove(made.c_str());
}

}  // namespace

namespace {

TEST(Mktitle, CommandLineForms) {
    int status = -1;
    const std::string help = Output({Fixtures::MktitlePath(), "--help"}, &status);
    EXPECT_EQ(0, status);
    EXPECT_EQ(0u, help.find("usage: mktitle")) << help;
    EXPECT_NE(std::string::npos, help.find("--chapter")) << help;
    const std::string version = Output({Fixtures::MktitlePath(), "--version"}, &status);
    EXPECT_EQ(0, status);
    EXPECT_EQ(0u, version.find("mktitle ")) << version;

    // The output named last, by -o or by --output=: the same title.
    const std::string clip = Fixtures::ShortClip();
    const Bytes positional = SvTestSupport::ReadFileBytes(Fixtures::ShortTitle());
    EXPECT_EQ(positional, SvTestSupport::ReadFileBytes(
                              Fixtures::MakeTitle("short-o.svm", {"-o", "{out}", clip})));
    EXPECT_EQ(positional, SvTestSupport::ReadFileBytes(
                              Fixtures::MakeTitle("short-output.svm", {clip, "--output={out}"})));

    // --lang once names every input's audio; once per input, each in order.
    const std::string audio = Fixtures::AudioOnlyClip();
    const auto languages = [](const std::string& title) {
        std::vector<std::string> found;
        for (const IndexEntry& e : ReadHeader(SvTestSupport::ReadFileBytes(title)).entries) {
            std::string language;
            e.tags.GetString(SarvelonMediaKit::Mpeg2PsFormat::TagAudioIdentifier, language);
            found.push_back(language);
        }
        return found;
    };
    EXPECT_EQ(std::vector<std::string>({"fin", "fin"}),
              languages(Fixtures::MakeTitle("lang1.svm", {"--lang=fin", clip, audio, "{out}"})));
    EXPECT_EQ(std::vector<std::string>({"swe", "eng"}),
              languages(Fixtures::MakeTitle(
                  "lang2.svm", {"--lang", "swe", clip, "--lang", "eng", audio, "{out}"})));
    const std::string out = Fixtures::Directory() + "/never-lang.svm";
    const std::string said = Output(
        {Fixtures::MktitlePath(), "--lang=a", "--lang=b", "--lang=c", clip, audio, out}, &status);
    EXPECT_EQ(2, status);
    EXPECT_NE(std::string::npos, said.find("--lang given 3 times for 2 inputs")) << said;
    EXPECT_NE(0, access(out.c_str(), F_OK));
}

}  // namespace
