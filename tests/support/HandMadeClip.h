#ifndef TESTS_SUPPORT_HANDMADECLIP_H
#define TESTS_SUPPORT_HANDMADECLIP_H

// A short clip of hand-made H.264 and AAC in a transport stream, every byte and time of it
// known to the test: two GOPs of eight pictures with B pictures, and 30 ADTS frames.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "tests/support/HandMadeStreams.h"
#include "tests/support/TsTestWriter.h"

namespace SvGolden {

// A sample the test made, with its times on the input's 90 kHz line.
struct HandMade {
    uint64_t pts = 0;
    uint64_t dts = 0;
    bool key = false;
    Bytes bytes;
};

inline constexpr uint64_t kStart =
    126000;  // the first decode time, 1.4 s as ffmpeg starts its streams
inline constexpr uint64_t kFrame = 3600;       // 25 frames a second
inline constexpr uint64_t kAudioFrame = 1920;  // 1024 samples at 48 kHz
inline constexpr size_t kGop = 8;

// Two GOPs in decode order I P B B P B B P, B pictures shown before the P they follow, so that
// decode and presentation times differ. The first IDR is above 64 KiB: it spans several PES
// packets in the title.
inline std::vector<HandMade> VideoUnits() {
    // Display index of each picture of a GOP in decode order, and its slice type.
    const size_t display[kGop] = {0, 3, 1, 2, 6, 4, 5, 7};
    const uint32_t sliceType[kGop] = {7, 5, 6, 6, 5, 6, 6, 5};  // I, P, B (all slices alike)
    std::vector<HandMade> units;
    for (size_t gop = 0; gop < 2; ++gop) {
        for (size_t i = 0; i < kGop; ++i) {
            const size_t d = gop * kGop + i;
            HandMade unit;
            unit.dts = kStart + kFrame * d;
            unit.pts = kStart + kFrame * (gop * kGop + display[i] + 1);
            unit.key = i == 0;
            const size_t size =
                i == 0 ? (gop == 0 ? 70000 : 30000) : (i % 3 == 1 ? 3000 : 700) + 37 * d;
            if (unit.key) {
                const Bytes sps = SvGolden::Sps(), pps = SvGolden::Pps();
                unit.bytes.insert(unit.bytes.end(), sps.begin(), sps.end());
                unit.bytes.insert(unit.bytes.end(), pps.begin(), pps.end());
            }
            const Bytes slice = SvGolden::Slice(unit.key, sliceType[i], static_cast<uint32_t>(i),
                                                static_cast<uint32_t>(2 * display[i] % 16), size,
                                                static_cast<uint32_t>(d));
            unit.bytes.insert(unit.bytes.end(), slice.begin(), slice.end());
            units.push_back(unit);
        }
    }
    return units;
}

// 0.64 s of ADTS frames from the first video decode time on.
inline std::vector<HandMade> AudioFrames() {
    std::vector<HandMade> frames;
    for (size_t i = 0; i < 30; ++i) {
        HandMade frame;
        frame.pts = frame.dts = kStart + kAudioFrame * i;
        frame.key = true;
        frame.bytes = SvGolden::AdtsFrame(180 + 13 * (i % 7), static_cast<uint32_t>(1000 + i));
        frames.push_back(frame);
    }
    return frames;
}

// The transport stream: the tables, then the PES packets in time order; audio goes two frames
// to a PES (timed by the first), as encoders often do.
inline Bytes MakeTransportStream(const std::vector<HandMade>& video,
                                 const std::vector<HandMade>& audio) {
    TsTestWriter ts;
    ts.Tables();
    size_t v = 0, a = 0;
    while (v < video.size() || a < audio.size()) {
        if (v < video.size() && (a >= audio.size() || video[v].dts <= audio[a].pts)) {
            ts.Pes(TsTestWriter::kVideoPid, 0xE0, video[v].pts, video[v].dts, video[v].key,
                   video[v].bytes);
            ++v;
        } else {
            Bytes pair = audio[a].bytes;
            if (a + 1 < audio.size()) {
                pair.insert(pair.end(), audio[a + 1].bytes.begin(), audio[a + 1].bytes.end());
            }
            ts.Pes(TsTestWriter::kAudioPid, 0xC0, audio[a].pts, audio[a].pts, false, pair);
            a += 2;
        }
    }
    return ts.Stream();
}

}  // namespace SvGolden

#endif
