// A fixture clip taken apart by the fake demultiplexer, put together again by Mpeg2TsMux and
// written by FileServer on a running session: outside tools must accept the file and the
// access units must come out as they went in.

#include <gtest/gtest.h>

#include <boost/make_shared.hpp>

#include <algorithm>
#include <string>
#include <vector>

#include "engine/core/Session.h"
#include "engine/core/ComponentStack.h"
#include "engine/mux/Mpeg2TsMux.h"
#include "engine/serve/FileServer.h"
#include "tests/support/FakeDemux.h"
#include "tests/support/Fixtures.h"
#include "tests/support/TemporaryDirectory.h"
#include "common/TsReader.h"
#include "tests/support/TestLabels.h"
#include "tests/support/ChainBuilder.h"

namespace SarvelonMediaKit {
namespace {

using SvTestSupport::FakeDemux;
using SvTestSupport::Fixtures;
using SvTestSupport::RunProgram;
using SvTestSupport::TemporaryDirectory;

struct Elementary {
    std::vector<SvTools::TsPes> video;
    std::vector<uint8_t> audio;  // the audio bytes in order, however they were cut
    size_t audioPes = 0;
};

Elementary Split(SvTools::TsReader& reader) {
    Elementary out;
    for (SvTools::TsPes& pes : reader.Pes()) {
        if (pes.streamType == 0x1B) {
            out.video.push_back(pes);
        } else if (pes.streamType == 0x0F || pes.streamType == 0x87) {
            out.audio.insert(out.audio.end(), pes.payload.begin(), pes.payload.end());
            ++out.audioPes;
        }
    }
    return out;
}

// ADTS frames in a run of whole frames.
size_t AdtsFrames(const std::vector<uint8_t>& bytes) {
    size_t frames = 0;
    size_t at = 0;
    while (at + 7 <= bytes.size()) {
        const size_t length =
            ((bytes[at + 3] & 0x03) << 11) | (bytes[at + 4] << 3) | (bytes[at + 5] >> 5);
        if (bytes[at] != 0xFF || length < 7) break;
        at += length;
        ++frames;
    }
    return frames;
}

void Remux(const std::string& source, const std::string& out, uint32_t mergeCount,
           bool title = false) {
    boost::shared_ptr<Session> session = Session::Create();
    boost::shared_ptr<FileServer> sink = boost::make_shared<FileServer>(session.get());
    boost::shared_ptr<Mpeg2TsMux> mux = boost::make_shared<Mpeg2TsMux>(session.get());
    boost::shared_ptr<FakeDemux> demux = boost::make_shared<FakeDemux>(session.get());
    if (title) {
        demux->LoadTitle(source);
    } else {
        demux->LoadTransportStream(source);
    }
    demux->SetEndOfStreamAtEnd(true);
    demux->SetEndOfDataAtEnd(true);  // the file sink ends the session there
    mux->SetMergeCount(mergeCount);
    sink->SetName(out, true);
    ASSERT_FALSE(sink->HasFailed());
    ComponentStack stack = SvTestSupport::BuildChain(StackIdMain, {sink, mux, demux});
    session->SetComponentStack(stack);
    session->StartPump(1000);
    session->SetPullAmount(ByteAmount(131072));
    session->Start();
    EXPECT_TRUE(session->WaitForStop(30000)) << "the end of data never reached the sink";
    session->Stop(true);
    EXPECT_FALSE(sink->HasFailed());
}

// The outside tools' verdict on a transport stream: tsinfo reads it, and ffmpeg decodes every
// stream of it without an error.
void ExpectToolsAccept(const std::string& path) {
    std::string report;
    EXPECT_EQ(0, RunProgram({"tsinfo", path}, &report)) << report;
    EXPECT_EQ(0, RunProgram({"ffmpeg", "-nostdin", "-v", "error", "-xerror", "-i", path, "-map",
                             "0", "-f", "null", "-"},
                            &report))
        << report;
}

class Mpeg2TsMuxFixtureTest : public ::testing::TestWithParam<uint32_t> {
protected:
    TemporaryDirectory dir{"tsmux"};
    const std::string out = dir.File("out.ts");
};

SV_TEST_LABEL(Mpeg2TsMuxFixtureTest, TheClipRemuxedIsAcceptedAndKeepsItsAccessUnits,
              e2e);  // checked with outside clients
TEST_P(Mpeg2TsMuxFixtureTest, TheClipRemuxedIsAcceptedAndKeepsItsAccessUnits) {
    const std::string source = Fixtures::ShortClip();
    Remux(source, out, GetParam());

    ExpectToolsAccept(out);

    SvTools::TsReader in = SvTools::TsReader::ReadFile(source);
    SvTools::TsReader got = SvTools::TsReader::ReadFile(out);
    EXPECT_TRUE(got.ContinuityErrors().empty());
    EXPECT_EQ(0u, got.SectionErrors());
    EXPECT_EQ(0u, got.PesErrors());
    EXPECT_EQ(0u, got.SkippedBytes());
    const Elementary before = Split(in);
    const Elementary after = Split(got);
    ASSERT_EQ(before.video.size(), after.video.size());
    for (size_t i = 0; i < before.video.size(); ++i) {
        EXPECT_EQ(before.video[i].payload, after.video[i].payload) << "picture " << i;
        EXPECT_EQ(before.video[i].dts, after.video[i].dts) << "picture " << i;
        EXPECT_EQ(before.video[i].pts, after.video[i].pts) << "picture " << i;
    }
    if (GetParam() == 0) {
        EXPECT_EQ(before.audio, after.audio);
        EXPECT_EQ(AdtsFrames(before.audio), after.audioPes);  // one frame to a PES
    } else {
        // Frames leave in groups that start again at each key frame: a group short at a key
        // frame, or at the end of the input, leaves as it is. Every byte of the audio arrives.
        const size_t frames = AdtsFrames(before.audio);
        EXPECT_EQ(before.audio, after.audio);
        EXPECT_EQ(frames, AdtsFrames(after.audio));
        // The groups worked out from the source: each frame's time from its PES's PTS (1024
        // samples at 48 kHz: 1920 ticks a frame), each stretch from one key frame's DTS to the
        // next (a frame at a key frame's time goes after it).
        std::vector<uint64_t> keys;
        std::vector<uint64_t> times;
        for (const SvTools::TsPes& pes : in.Pes()) {
            if (pes.streamType == 0x1B && pes.randomAccess) keys.push_back(pes.dts);
            if (pes.streamType != 0x0F) continue;
            const size_t n = AdtsFrames(pes.payload);
            for (size_t i = 0; i < n; ++i) times.push_back(pes.pts + i * 1920);
        }
        ASSERT_EQ(Fixtures::kShortClipFrames / 50, keys.size());
        ASSERT_EQ(frames, times.size());
        std::vector<size_t> perStretch(keys.size() + 1, 0);
        for (uint64_t t : times) {
            size_t stretch = 0;
            while (stretch < keys.size() && t >= keys[stretch]) ++stretch;
            ++perStretch[stretch];
        }
        size_t groups = 0;
        for (size_t n : perStretch) groups += (n + GetParam() - 1) / GetParam();
        ASSERT_NE(0u, perStretch[1] % GetParam()) << "the first group of pictures must end short";
        EXPECT_EQ(groups, after.audioPes);
    }
    // One table pair per group of pictures (a key frame every 50 pictures).
    EXPECT_EQ(Fixtures::kShortClipFrames / 50, got.PacketsPerPid().at(0x0000));
    EXPECT_EQ(Fixtures::kShortClipFrames / 50, got.PacketsPerPid().at(0x0020));
}

SV_TEST_LABEL(Mpeg2TsMuxFixtureTest, Eac3TravelsAsStreamType87OnPrivateStream1,
              e2e);  // checked with outside clients
TEST_F(Mpeg2TsMuxFixtureTest, Eac3TravelsAsStreamType87OnPrivateStream1) {
    const std::string source = Fixtures::Eac3Clip();
    Remux(source, out, 4);

    ExpectToolsAccept(out);
    SvTools::TsReader in = SvTools::TsReader::ReadFile(source);
    SvTools::TsReader got = SvTools::TsReader::ReadFile(out);
    ASSERT_EQ(1u, got.Programs().size());
    const SvTools::TsStreamInfo* audio = got.FindStream(0x22);
    ASSERT_NE(nullptr, audio);
    EXPECT_EQ(0x87, audio->streamType);
    EXPECT_TRUE(got.Programs()[0].programInfo.empty());  // no AAC configuration to describe
    const Elementary before = Split(in);
    const Elementary after = Split(got);
    EXPECT_EQ(before.audio, after.audio);  // raw E-AC-3 is neither cut nor merged
    for (const SvTools::TsPes& pes : got.Pes()) {
        if (pes.pid == 0x22) {
            EXPECT_EQ(0xBD, pes.streamId);
        }
    }
}

SV_TEST_LABEL(Mpeg2TsMuxFixtureTest, TitlesFromTheParserRemuxToTheirSourceClips,
              e2e);  // checked with outside clients
// A title read by the program-stream parser: what the engine's own chain will see.
TEST_F(Mpeg2TsMuxFixtureTest, TitlesFromTheParserRemuxToTheirSourceClips) {
    struct Case {
        std::string title;
        std::string clip;
    } cases[] = {{Fixtures::ShortTitle(), Fixtures::ShortClip()},
                 {Fixtures::Eac3Title(), Fixtures::Eac3Clip()}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.title);
        Remux(c.title, out, 0, true);
        ExpectToolsAccept(out);
        SvTools::TsReader in = SvTools::TsReader::ReadFile(c.clip);
        SvTools::TsReader got = SvTools::TsReader::ReadFile(out);
        EXPECT_TRUE(got.ContinuityErrors().empty());
        const Elementary before = Split(in);
        const Elementary after = Split(got);
        ASSERT_EQ(before.video.size(), after.video.size());
        for (size_t i = 0; i < before.video.size(); ++i) {
            EXPECT_EQ(before.video[i].payload, after.video[i].payload) << "picture " << i;
            // Times keep their distances (the title may start its clock elsewhere).
            EXPECT_EQ(before.video[i].pts - before.video[i].dts,
                      after.video[i].pts - after.video[i].dts)
                << "picture " << i;
        }
        EXPECT_EQ(before.audio, after.audio);  // E-AC-3 without its private data again
    }
}

// Without and with four audio frames to a PES, as the HLS output has it.
INSTANTIATE_TEST_SUITE_P(MergeCounts, Mpeg2TsMuxFixtureTest, ::testing::Values(0u, 4u));

}  // namespace
}  // namespace SarvelonMediaKit
