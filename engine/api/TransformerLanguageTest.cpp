// A title with two languages in one file: the pictures with their own sound in "eng" (track 1)
// and an audio-only rendition in "fra" (track 2), read by a chain of its own. Written to a
// transport stream, one audio stream must carry one language: the title's first unless the
// other was chosen. The oracle is each language's source clip, read by the tools' independent
// transport-stream reader: the output's audio frames must be the chosen clip's, every one, in
// order and byte for byte.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "engine/api/Transformer.h"
#include "engine/api/TransformerTestSupport.h"
#include "engine/core/Session.h"
#include "engine/mux/Mux.h"
#include "tests/support/Fixtures.h"
#include "tests/support/TemporaryDirectory.h"
#include "tests/support/ThreadTestSupport.h"
#include "common/TsReader.h"
#include "tests/support/TestLabels.h"
#include "tests/support/MediaFileTestSupport.h"

namespace SarvelonMediaKit {
namespace {

using SvTestSupport::AdtsFrames;
using SvTestSupport::ReadWholeFile;

using SvTestSupport::FindInChain;
using SvTestSupport::Fixtures;
using SvTestSupport::TemporaryDirectory;

using SvTestSupport::kNoPosition;
const uint16_t kVideoPid = 0x21;  // the transport-stream multiplexer's fixed PIDs
const uint16_t kAudioPid = 0x22;

struct Streams {
    size_t pictures = 0;
    std::vector<std::string> audio;
    std::vector<uint64_t> audioDts;
};

// audioPid 0: every PES with an MPEG audio stream id (an ffmpeg-made clip).
Streams ReadTransportStream(const std::string& path, uint16_t audioPid) {
    const std::string bytes = ReadWholeFile(path);
    SvTools::TsReader reader;
    reader.Feed(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    reader.Finish();
    Streams streams;
    std::vector<uint8_t> es;
    for (const SvTools::TsPes& pes : reader.Pes()) {
        const bool audio = audioPid != 0 ? pes.pid == audioPid : (pes.streamId & 0xE0) == 0xC0;
        if (audio) {
            es.insert(es.end(), pes.payload.begin(), pes.payload.end());
            if (pes.hasPts) streams.audioDts.push_back(pes.dts);
        }
        if ((audioPid != 0 ? pes.pid == kVideoPid : (pes.streamId & 0xF0) == 0xE0)) {
            ++streams.pictures;
        }
    }
    streams.audio = AdtsFrames(es);
    return streams;
}

class TransformerLanguagePlayerTest : public ::testing::Test {
protected:
    void SetUp() override {
        eng = ReadTransportStream(Fixtures::ShortClip(), 0);
        fra = ReadTransportStream(Fixtures::SineAudioClip(Fixtures::kSmilSecondFrequency), 0);
        ASSERT_GE(eng.audio.size(), 186u) << "4 s of AAC at 48 kHz, 1024 samples a frame";
        ASSERT_GE(fra.audio.size(), 186u);
        ASSERT_NE(eng.audio.front(), fra.audio.front()) << "the languages sound different";
    }

    // Runs the title into a transport stream, choosing track `select` first when not 0, and
    // reads the output back once every picture and at least `frames` audio frames are in it.
    Streams Play(uint32_t select, size_t frames) {
        Transformer transformer(Fixtures::TwoLanguageTitle(), MediaFormatMpeg2Ts, OutputKindFile,
                                output);
        EXPECT_EQ(SVStatusSuccess, transformer.PreLoad());
        Session& session = *transformer.GetSession();
        session.PausePump();
        Mux* mux = FindInChain<Mux>(transformer);
        const bool twoChains = mux != nullptr && mux->GetDemuxes().size() == 2;
        session.ResumePump();
        EXPECT_TRUE(twoChains) << "the audio rendition is read by a chain of its own";
        if (select != 0) {
            EXPECT_EQ(SVStatusSuccess, transformer.SelectTrack(TrackId(select), true));
            // The choice reaches the multiplexer as a task; playback starts after it.
            EXPECT_TRUE(SvTestSupport::WaitUntil([&]() {
                session.PausePump();
                const bool chosen = mux->GetAudioSource() == mux->GetDemuxes().back();
                session.ResumePump();
                return chosen;
            }));
        }
        EXPECT_EQ(SVStatusSuccess, transformer.Transform(kNoPosition, TrickPlayRate(0), true));
        EXPECT_TRUE(SvTestSupport::WaitUntil(
            [&]() {
                const Streams written = ReadTransportStream(output, kAudioPid);
                return written.pictures == Fixtures::kShortClipFrames &&
                       written.audio.size() >= frames;
            },
            30000));
        EXPECT_EQ(SVStatusSuccess, transformer.Stop());
        return ReadTransportStream(output, kAudioPid);
    }

    TemporaryDirectory dir{"tlanguage"};
    const std::string output = dir.File("out.ts");
    Streams eng;
    Streams fra;
};

SV_SUITE_LABEL(TransformerLanguagePlayerTest, e2e);  // checked with outside clients
TEST_F(TransformerLanguagePlayerTest, TheTitlesFirstLanguageIsHeardAlone) {
    const Streams written = Play(0, eng.audio.size());
    EXPECT_EQ(Fixtures::kShortClipFrames, written.pictures);
    EXPECT_EQ(eng.audio.size(), written.audio.size()) << "one language, not both interleaved";
    EXPECT_TRUE(eng.audio == written.audio) << "the first language's frames, unchanged";
    for (size_t i = 1; i < written.audioDts.size(); ++i) {
        ASSERT_LT(written.audioDts[i - 1], written.audioDts[i]) << "audio PES " << i;
    }
}

TEST_F(TransformerLanguagePlayerTest, ChoosingTheAudioRenditionPlaysItsLanguage) {
    const Streams written = Play(2, fra.audio.size());
    EXPECT_EQ(Fixtures::kShortClipFrames, written.pictures);
    EXPECT_EQ(fra.audio.size(), written.audio.size());
    EXPECT_TRUE(fra.audio == written.audio) << "the second language's frames, unchanged";
    for (size_t i = 1; i < written.audioDts.size(); ++i) {
        ASSERT_LT(written.audioDts[i - 1], written.audioDts[i]) << "audio PES " << i;
    }
}

}  // namespace
}  // namespace SarvelonMediaKit
