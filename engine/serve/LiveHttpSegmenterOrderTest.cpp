// What a segment holds must not depend on what was asked for before it. The two-minute title
// (2 s groups of pictures) is served by the whole chain; segments fetched in an order that
// makes the chain seek away and back are compared, PES by PES, with the same segments fetched
// straight through on a chain of their own. Read by the tools' independent transport-stream
// reader.

#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/Fixtures.h"
#include "tests/support/HlsTestChain.h"
#include "tests/support/LoopbackHttpGet.h"
#include "common/TsReader.h"

namespace SarvelonMediaKit {
namespace {

using SvTestSupport::Fixtures;
using SvTestSupport::HlsTestChain;
using SvTestSupport::HttpAnswer;
using SvTestSupport::HttpGet;

const uint16_t kAudioPid = 0x22;

// One PES as a player sees it.
struct PesView {
    uint16_t pid = 0;
    uint64_t pts = 0;
    uint64_t dts = 0;
    std::vector<uint8_t> payload;
    bool operator==(const PesView& other) const {
        return pid == other.pid && pts == other.pts && dts == other.dts && payload == other.payload;
    }
};

struct StreamView {
    std::vector<PesView> pes;
    size_t continuityErrors = 0;
    // The PIDs whose first packet carries the discontinuity_indicator.
    std::set<uint16_t> flagged;
};

StreamView Read(const std::string& bytes) {
    StreamView view;
    SvTools::TsReader reader;
    reader.Feed(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    reader.Finish();
    view.continuityErrors = reader.ContinuityErrors().size();
    std::set<uint16_t> seen;
    for (size_t at = 0; at + 188 <= bytes.size(); at += 188) {
        const uint8_t* p = reinterpret_cast<const uint8_t*>(bytes.data()) + at;
        const uint16_t pid = static_cast<uint16_t>(((p[1] & 0x1F) << 8) | p[2]);
        if (!seen.insert(pid).second) continue;
        // adaptation_field_control with a field, a field of at least the flags byte, and
        // its discontinuity_indicator.
        if ((p[3] & 0x20) != 0 && p[4] > 0 && (p[5] & 0x80) != 0) view.flagged.insert(pid);
    }
    for (const SvTools::TsPes& pes : reader.Pes()) {
        PesView one;
        one.pid = pes.pid;
        one.pts = pes.pts;
        one.dts = pes.dts;
        one.payload = pes.payload;
        view.pes.push_back(one);
    }
    return view;
}

std::string FetchSegment(HlsTestChain& chain, uint32_t number) {
    const HttpAnswer answer = HttpGet(chain.Port(), std::to_string(number) + ".ts");
    EXPECT_EQ(200, answer.status) << number;
    EXPECT_TRUE(answer.complete) << number;
    return answer.body;
}

// The time of every audio frame of a segment, with the segment's number: a PES holds whole
// ADTS frames (the 13-bit frame_length in header bytes 3 to 5), each 1024 samples at 48 kHz,
// 1920 ticks after the one before it.
void CollectAudio(const StreamView& view, uint32_t number,
                  std::vector<std::pair<uint64_t, uint32_t>>& into) {
    for (const PesView& pes : view.pes) {
        if (pes.pid != kAudioPid) continue;
        const std::vector<uint8_t>& b = pes.payload;
        uint64_t time = pes.pts;
        for (size_t at = 0; at + 7 <= b.size();) {
            ASSERT_EQ(0xFF, b[at]) << "segment " << number;
            const size_t length = ((b[at + 3] & 0x03) << 11) | (b[at + 4] << 3) | (b[at + 5] >> 5);
            ASSERT_GE(length, 7u);
            into.push_back(std::make_pair(time, number));
            time += 1920;
            at += length;
        }
    }
}

TEST(LiveHttpSegmenterOrderTest, AFarRequestInBetweenChangesNoSegmentAfterIt) {
    const std::string title = Fixtures::HlsTitle();
    std::vector<std::string> straight;
    {
        HlsTestChain chain(title);
        chain.Start();
        ASSERT_EQ(200, HttpGet(chain.Port(), chain.PlaylistName()).status);
        for (uint32_t k = 0; k < 20; ++k) straight.push_back(FetchSegment(chain, k));
        ASSERT_EQ(0u, chain.Client().SeekCount());  // a straight read indeed
    }
    std::vector<std::string> jumped;
    std::string far;
    {
        HlsTestChain chain(title);
        chain.Start();
        ASSERT_EQ(200, HttpGet(chain.Port(), chain.PlaylistName()).status);
        for (uint32_t k = 0; k < 10; ++k) jumped.push_back(FetchSegment(chain, k));
        far = FetchSegment(chain, 50);
        for (uint32_t k = 10; k < 20; ++k) jumped.push_back(FetchSegment(chain, k));
        // Away to 50 and back to 11: 10 was cut whole before the playback moved (the one
        // finished segment ahead) and is served as it was cut.
        ASSERT_EQ(2u, chain.Client().SeekCount());
    }

    std::vector<std::pair<uint64_t, uint32_t>> audio;
    for (uint32_t k = 0; k < 20; ++k) {
        const StreamView a = Read(straight[k]);
        const StreamView b = Read(jumped[k]);
        ASSERT_FALSE(a.pes.empty()) << k;
        // The same PES packets with the same times, in the same order.
        EXPECT_EQ(a.pes.size(), b.pes.size()) << k;
        EXPECT_TRUE(a.pes == b.pes) << "segment " << k << " differs from the straight read";
        EXPECT_EQ(0u, b.continuityErrors) << k;
        CollectAudio(b, k, audio);
    }
    // No audio frame in two segments: the frames' times, in the order the player got them,
    // rise.
    for (size_t i = 1; i < audio.size(); ++i) {
        EXPECT_LT(audio[i - 1].first, audio[i].first)
            << "segments " << audio[i - 1].second << " and " << audio[i].second;
    }

    // Segment 11 does not continue 10 as the player got it (50 came in between): its first
    // packets say so, and 10 and 11 read as one stream show no lost packet. Segment 50 says the
    // same; 10 continues 9 and 12 continues 11, and they say nothing.
    const std::set<uint16_t> all = {0x0000, 0x0020, 0x0021, kAudioPid};
    EXPECT_EQ(all, Read(jumped[11]).flagged);
    EXPECT_EQ(all, Read(far).flagged);
    EXPECT_TRUE(Read(jumped[10]).flagged.empty());
    EXPECT_TRUE(Read(jumped[12]).flagged.empty());
    EXPECT_TRUE(Read(straight[11]).flagged.empty());
    EXPECT_EQ(0u, Read(jumped[9] + jumped[10] + jumped[11]).continuityErrors);
    EXPECT_EQ(0u, Read(jumped[10] + far + jumped[11]).continuityErrors);
}

}  // namespace
}  // namespace SarvelonMediaKit
