#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/Fixtures.h"
#include "common/TsReader.h"

namespace SvTools {
namespace {

using Bytes = std::vector<uint8_t>;

// Builds transport packets the way a multiplexer would, so that the reader can be checked
// against streams whose every field is known.
struct TsOptions {
    bool randomAccess = false;
    bool discontinuity = false;
    bool withPcr = false;
    uint64_t pcrBase = 0;
    uint16_t pcrExtension = 0;
};

class TsBuilder {
public:
    // Splits payload into packets of pid; the first carries payload_unit_start_indicator and
    // the adaptation field asked for; the last is padded with adaptation-field stuffing.
    void Add(uint16_t pid, const Bytes& payload, const TsOptions& options = TsOptions()) {
        size_t offset = 0;
        bool first = true;
        do {
            Bytes adaptation;
            if (first && (options.randomAccess || options.discontinuity || options.withPcr)) {
                uint8_t flags = 0;
                flags |= options.discontinuity ? 0x80 : 0;
                flags |= options.randomAccess ? 0x40 : 0;
                flags |= options.withPcr ? 0x10 : 0;
                adaptation.push_back(flags);
                if (options.withPcr) {
                    const uint64_t b = options.pcrBase;
                    adaptation.push_back(static_cast<uint8_t>(b >> 25));
                    adaptation.push_back(static_cast<uint8_t>(b >> 17));
                    adaptation.push_back(static_cast<uint8_t>(b >> 9));
                    adaptation.push_back(static_cast<uint8_t>(b >> 1));
                    adaptation.push_back(
                        static_cast<uint8_t>(((b & 1) << 7) | 0x7E | (options.pcrExtension >> 8)));
                    adaptation.push_back(static_cast<uint8_t>(options.pcrExtension));
                }
            }
            bool haveAdaptation = !adaptation.empty();
            const size_t room = 184 - (haveAdaptation ? 1 + adaptation.size() : 0);
            const size_t take = std::min(room, payload.size() - offset);
            if (take < room) {
                // Fill the packet through the adaptation field: a lone length byte of 0 when one
                // byte is missing, else a flags byte and 0xFF stuffing.
                const size_t need = 184 - take;
                if (!haveAdaptation && need >= 2) {
                    adaptation.push_back(0x00);
                }
                haveAdaptation = true;
                while (1 + adaptation.size() < need) {
                    adaptation.push_back(0xFF);
                }
            }
            Bytes packet = {
                0x47, static_cast<uint8_t>((first ? 0x40 : 0) | (pid >> 8)),
                static_cast<uint8_t>(pid),
                static_cast<uint8_t>((haveAdaptation ? 0x30 : 0x10) | (counters_[pid]++ & 0x0F))};
            if (haveAdaptation) {
                packet.push_back(static_cast<uint8_t>(adaptation.size()));
                packet.insert(packet.end(), adaptation.begin(), adaptation.end());
            }
            packet.insert(packet.end(), payload.begin() + static_cast<std::ptrdiff_t>(offset),
                          payload.begin() + static_cast<std::ptrdiff_t>(offset + take));
            EXPECT_EQ(188u, packet.size());
            bytes.insert(bytes.end(), packet.begin(), packet.end());
            offset += take;
            first = false;
        } while (offset < payload.size());
    }

    void AddSection(uint16_t pid, Bytes section) {
        const uint32_t crc = Crc32Mpeg2(section.data(), section.size());
        for (int shift = 24; shift >= 0; shift -= 8) {
            section.push_back(static_cast<uint8_t>(crc >> shift));
        }
        section.insert(section.begin(), 0x00);  // pointer_field
        Add(pid, section);
    }

    void AddTables() {
        // PAT: program 1 -> PMT PID 0x1000.
        AddSection(0, {0x00, 0xB0, 13, 0x00, 0x01, 0xC1, 0x00, 0x00, 0x00, 0x01, 0xF0, 0x00});
        // PMT: PCR PID 0x100; H.264 on 0x100, ADTS AAC on 0x101 with a 2-byte descriptor.
        AddSection(0x1000,
                   {0x02, 0xB0, 25,   0x00, 0x01, 0xC1, 0x00, 0x00, 0xE1, 0x00, 0xF0, 0x00,
                    0x1B, 0xE1, 0x00, 0xF0, 0x00, 0x0F, 0xE1, 0x01, 0xF0, 0x02, 0x0A, 0x00});
    }

    Bytes bytes;
    uint8_t counters_[0x2000] = {};
};

Bytes Timestamp(uint8_t prefix, uint64_t t) {
    return {static_cast<uint8_t>((prefix << 4) | ((t >> 29) & 0x0E) | 1),
            static_cast<uint8_t>(t >> 22), static_cast<uint8_t>(((t >> 14) & 0xFE) | 1),
            static_cast<uint8_t>(t >> 7), static_cast<uint8_t>(((t << 1) & 0xFE) | 1)};
}

Bytes Pes(uint8_t streamId, const Bytes& payload, bool pts, uint64_t ptsValue, bool dts,
          uint64_t dtsValue, bool aligned, bool withLength) {
    Bytes header;
    if (pts) {
        Bytes t = Timestamp(dts ? 3 : 2, ptsValue);
        header.insert(header.end(), t.begin(), t.end());
    }
    if (dts) {
        Bytes t = Timestamp(1, dtsValue);
        header.insert(header.end(), t.begin(), t.end());
    }
    const size_t length = withLength ? 3 + header.size() + payload.size() : 0;
    Bytes pes = {0x00,
                 0x00,
                 0x01,
                 streamId,
                 static_cast<uint8_t>(length >> 8),
                 static_cast<uint8_t>(length),
                 static_cast<uint8_t>(aligned ? 0x84 : 0x80),
                 static_cast<uint8_t>((pts ? 0x80 : 0) | (dts ? 0x40 : 0)),
                 static_cast<uint8_t>(header.size())};
    pes.insert(pes.end(), header.begin(), header.end());
    pes.insert(pes.end(), payload.begin(), payload.end());
    return pes;
}

Bytes Pattern(size_t size, uint8_t seed) {
    Bytes out(size);
    for (size_t i = 0; i < size; ++i) {
        out[i] = static_cast<uint8_t>(seed + i * 7);
    }
    return out;
}

TEST(TsReader, Crc32Mpeg2CheckValue) {
    const std::string check = "123456789";
    EXPECT_EQ(0x0376E6E7u, Crc32Mpeg2(reinterpret_cast<const uint8_t*>(check.data()), 9));
}

TEST(TsReader, ReadsTablesAndReassemblesPes) {
    TsBuilder ts;
    ts.AddTables();
    const uint64_t bigPts = (uint64_t{1} << 33) - 2;  // the largest values survive intact
    TsOptions key;
    key.randomAccess = true;
    key.withPcr = true;
    key.pcrBase = 0x1ABCDEF01ull;
    key.pcrExtension = 299;
    ts.Add(0x100, Pes(0xE0, Pattern(500, 1), true, bigPts, true, 126000, true, false), key);
    ts.Add(0x101, Pes(0xC0, Pattern(300, 2), true, 127920, false, 0, true, true));
    ts.Add(0x100, Pes(0xE0, Pattern(40, 3), true, 133200, true, 129600, false, false));

    // The same stream whole and cut into 1-, 7- and 200-byte pieces reads the same.
    for (size_t piece : {ts.bytes.size(), size_t{1}, size_t{7}, size_t{200}}) {
        TsReader reader;
        for (size_t i = 0; i < ts.bytes.size(); i += piece) {
            reader.Feed(ts.bytes.data() + i, std::min(piece, ts.bytes.size() - i));
        }
        reader.Finish();
        ASSERT_EQ(1u, reader.Programs().size()) << piece;
        const TsProgram& program = reader.Programs()[0];
        EXPECT_TRUE(program.mapSeen);
        EXPECT_EQ(0x100, program.pcrPid);
        ASSERT_EQ(2u, program.streams.size());
        EXPECT_EQ(0x1B, program.streams[0].streamType);
        EXPECT_EQ(Bytes({0x0A, 0x00}), program.streams[1].descriptors);

        std::vector<TsPes>& pes = reader.Pes();
        ASSERT_EQ(3u, pes.size()) << piece;
        // The audio PES has a length and completes before the second video PES starts.
        EXPECT_EQ(0x101, pes[0].pid);
        EXPECT_EQ(0x0F, pes[0].streamType);
        EXPECT_EQ(Pattern(300, 2), pes[0].payload);
        EXPECT_TRUE(pes[0].hasPts);
        EXPECT_FALSE(pes[0].hasDts);
        EXPECT_EQ(127920u, pes[0].dts);

        EXPECT_EQ(0x100, pes[1].pid);
        EXPECT_EQ(0xE0, pes[1].streamId);
        EXPECT_EQ(bigPts, pes[1].pts);
        EXPECT_EQ(126000u, pes[1].dts);
        EXPECT_TRUE(pes[1].randomAccess);
        EXPECT_TRUE(pes[1].dataAlignment);
        EXPECT_EQ(Pattern(500, 1), pes[1].payload);
        EXPECT_FALSE(pes[2].randomAccess);
        EXPECT_FALSE(pes[2].dataAlignment);
        EXPECT_EQ(Pattern(40, 3), pes[2].payload);

        ASSERT_EQ(1u, reader.Pcrs().size());
        EXPECT_EQ(0x1ABCDEF01ull * 300 + 299, reader.Pcrs()[0].pcr);
        EXPECT_TRUE(reader.ContinuityErrors().empty());
        EXPECT_EQ(0u, reader.SkippedBytes() + reader.SectionErrors() + reader.PesErrors());
    }
}

TEST(TsReader, ReportsContinuityErrorsButToleratesOneDuplicate) {
    TsBuilder ts;
    ts.AddTables();
    ts.Add(0x100, Pes(0xE0, Pattern(600, 1), true, 1000, false, 0, true, false));  // cc 0 to 3
    const Bytes& b = ts.bytes;
    auto packet = [&b](size_t index) {  // index 0 and 1 are PAT and PMT
        return Bytes(b.begin() + static_cast<std::ptrdiff_t>(index * 188),
                     b.begin() + static_cast<std::ptrdiff_t>((index + 1) * 188));
    };
    Bytes damaged;
    for (size_t index : {0, 1, 2, 3, 3, 5}) {  // cc 0, 1, 1 again (allowed), then 3: 2 is lost
        const Bytes p = packet(index);
        damaged.insert(damaged.end(), p.begin(), p.end());
    }
    TsBuilder more;
    more.counters_[0x100] = 9;  // a jump that the discontinuity indicator announces: no error
    TsOptions discontinuity;
    discontinuity.discontinuity = true;
    more.Add(0x100, Pes(0xE0, Pattern(10, 1), true, 2000, false, 0, true, false), discontinuity);
    more.counters_[0x100] = 14;  // expected 10: an error
    more.Add(0x100, Pes(0xE0, Pattern(10, 1), true, 3000, false, 0, true, false));
    damaged.insert(damaged.end(), more.bytes.begin(), more.bytes.end());

    TsReader reader;
    reader.Feed(damaged.data(), damaged.size());
    reader.Finish();
    ASSERT_EQ(2u, reader.ContinuityErrors().size());
    EXPECT_EQ(0x100, reader.ContinuityErrors()[0].pid);
    EXPECT_EQ(2, reader.ContinuityErrors()[0].expected);
    EXPECT_EQ(3, reader.ContinuityErrors()[0].found);
    EXPECT_EQ(5u, reader.ContinuityErrors()[0].packet);
    EXPECT_EQ(10, reader.ContinuityErrors()[1].expected);
    EXPECT_EQ(14, reader.ContinuityErrors()[1].found);
    EXPECT_EQ(3u, reader.Pes().size());
    EXPECT_TRUE(reader.Pes()[1].discontinuity);
}

TEST(TsReader, CountsDamageAndKeepsGoing) {
    TsBuilder ts;
    ts.AddTables();
    ts.bytes[2 * 188 - 1] ^= 0x01;  // the PMT's CRC no longer matches
    TsBuilder pes;
    // A PES that announces 1000 payload bytes but stops after 100.
    Bytes cut = Pes(0xC0, Pattern(1000, 4), true, 90000, false, 0, true, true);
    cut.resize(9 + 5 + 100);
    pes.Add(0x101, cut);
    pes.Add(0x101, Pes(0xC0, Pattern(50, 5), true, 91920, false, 0, true, true));
    Bytes bytes = {0x12, 0x34, 0x00};  // garbage before the first sync byte
    bytes.insert(bytes.end(), ts.bytes.begin(), ts.bytes.end());
    bytes.insert(bytes.end(), pes.bytes.begin(), pes.bytes.end());
    bytes.push_back(0x47);  // a lone sync byte at the end: an incomplete packet

    TsReader reader;
    reader.Feed(bytes.data(), bytes.size());
    reader.Finish();
    EXPECT_EQ(1u, reader.SectionErrors());
    ASSERT_EQ(1u, reader.Programs().size());
    EXPECT_FALSE(reader.Programs()[0].mapSeen);
    EXPECT_EQ(3u + 1u, reader.SkippedBytes());
    ASSERT_EQ(2u, reader.Pes().size());
    EXPECT_TRUE(reader.Pes()[0].truncated);
    EXPECT_EQ(100u, reader.Pes()[0].payload.size());
    EXPECT_FALSE(reader.Pes()[1].truncated);
    EXPECT_EQ(0, reader.Pes()[1].streamType);  // no map: the type is unknown
}

// A clip made by ffmpeg: one PES per video frame, key frames every 50 frames marked random
// access, timestamps that step by one frame.
TEST(TsReader, ReadsAnFfmpegClip) {
    const std::string clip = SvTestSupport::Fixtures::ShortClip();
    TsReader reader = TsReader::ReadFile(clip);
    ASSERT_EQ(1u, reader.Programs().size());
    const TsProgram& program = reader.Programs()[0];
    ASSERT_EQ(2u, program.streams.size());
    EXPECT_EQ(0x1B, program.streams[0].streamType);
    EXPECT_EQ(0x0F, program.streams[1].streamType);
    size_t video = 0, keys = 0;
    uint64_t audioBytes = 0;
    for (const TsPes& pes : reader.Pes()) {
        if (pes.streamType == 0x1B) {
            if (pes.randomAccess) {
                EXPECT_EQ(0u, video % 50) << "key frame at frame " << video;
                ++keys;
            }
            ++video;
        } else {
            audioBytes += pes.payload.size();
        }
    }
    EXPECT_EQ(SvTestSupport::Fixtures::kShortClipFrames, video);
    EXPECT_EQ((video + 49) / 50, keys);
    EXPECT_GT(audioBytes, 0u);
    EXPECT_TRUE(reader.ContinuityErrors().empty());
    EXPECT_FALSE(reader.Pcrs().empty());
    EXPECT_EQ(0u, reader.SectionErrors() + reader.PesErrors() + reader.SkippedBytes());
}

}  // namespace
}  // namespace SvTools
