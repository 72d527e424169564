#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "engine/api/Transformer.h"
#include "engine/api/TransformerTestSupport.h"
#include "engine/core/Session.h"
#include "engine/mux/Mpeg2PsMux.h"
#include "engine/serve/FrameCountTestSupport.h"
#include "tests/support/Fixtures.h"
#include "tests/support/ProbePackets.h"
#include "tests/support/TemporaryDirectory.h"
#include "tests/support/ThreadTestSupport.h"
#include "tests/support/TestLabels.h"

namespace SarvelonMediaKit {
namespace {

using SvTestSupport::ChainTypes;
using SvTestSupport::FindInChain;
using SvTestSupport::Fixtures;
using SvTestSupport::TemporaryDirectory;

typedef std::vector<std::string> Strings;

using SvTestSupport::kNoPosition;

// A chain that copies its title unchanged has no multiplexer; a separate audio rendition needs
// one for its branch to join the pictures, so the preload puts a program-stream multiplexer
// between the demultiplexer and the output.
TEST(TransformerPsMux, TheAudioBranchOfAChainWithoutMultiplexerGetsOne) {
    TemporaryDirectory dir("tpsmux");
    const std::string output = dir.File("out.mpg");
    Transformer transformer(Fixtures::SeparateAudioTitle(), MediaFormatNone, OutputKindFile,
                            output);
    ASSERT_EQ(SVStatusSuccess, transformer.GetStatus());
    EXPECT_EQ(nullptr, FindInChain<Mux>(transformer)) << "none before the preload";
    ASSERT_EQ(SVStatusSuccess, transformer.PreLoad());
    Session& session = *transformer.GetSession();
    session.PausePump();
    const Strings types = ChainTypes(transformer);
    session.ResumePump();
    ASSERT_GE(types.size(), 3u);
    EXPECT_EQ("SarvelonMediaKit::FileServer", types[0]);
    EXPECT_EQ("Mpeg2PsMux", types[1]) << "right behind the output";
    EXPECT_EQ("Mpeg2PsDemux", types[2]) << "in front of the main demultiplexer";
    session.PausePump();
    Mpeg2PsMux* mux = FindInChain<Mpeg2PsMux>(transformer);
    ASSERT_NE(nullptr, mux);
    EXPECT_EQ(2u, mux->GetDemuxes().size()) << "it reads both chains";
    EXPECT_EQ(0, mux->GetDvdMode());
    session.ResumePump();
    EXPECT_EQ(SVStatusSuccess, transformer.Stop());
}

SV_SUITE_LABEL(TransformerPsMuxPlayerTest, e2e);  // checked with outside clients
// The program stream written by that multiplexer, read back by ffprobe: every picture of the
// video clip and every audio frame of the separate audio clip.
TEST(TransformerPsMuxPlayerTest, TheProgramStreamCarriesThePicturesAndTheBranchAudio) {
    TemporaryDirectory dir("tpsmuxout");
    const std::string output = dir.File("out.mpg");
    const std::map<int, size_t> audio = test::ProbeCounts(Fixtures::AudioOnlyClip(), false);
    ASSERT_EQ(1u, audio.size());
    // Stream indexes in the output follow the order ffprobe finds them; compare the counts.
    std::vector<size_t> expected = {Fixtures::kShortClipFrames, audio.begin()->second};
    std::sort(expected.begin(), expected.end());
    ASSERT_NE(expected[0], expected[1]) << "the counts tell the streams apart";
    const auto counts = [&]() {
        std::vector<size_t> got;
        for (const auto& stream : test::ProbeCounts(output, false)) got.push_back(stream.second);
        std::sort(got.begin(), got.end());
        return got;
    };
    {
        Transformer transformer(Fixtures::SeparateAudioTitle(), MediaFormatNone, OutputKindFile,
                                output);
        ASSERT_EQ(SVStatusSuccess, transformer.PreLoad());
        ASSERT_EQ(SVStatusSuccess, transformer.Transform(kNoPosition, TrickPlayRate(0), true));
        EXPECT_TRUE(SvTestSupport::WaitUntil([&]() { return counts() == expected; }, 30000));
        EXPECT_EQ(SVStatusSuccess, transformer.Stop());
    }
    EXPECT_EQ(expected, counts());
    // The program end code closes it.
    std::ifstream file(output, std::ios::binary);
    const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(file)),
                                     std::istreambuf_iterator<char>());
    ASSERT_GE(bytes.size(), 4u);
    EXPECT_EQ((std::vector<uint8_t>{0x00, 0x00, 0x01, 0xB9}),
              std::vector<uint8_t>(bytes.end() - 4, bytes.end()));
    // Every stream's decode times increase, as ffprobe reads them.
    std::map<std::string, long long> last;
    for (SvTestSupport::PacketFields& packet :
         SvTestSupport::ProbePackets(output, "stream_index,dts")) {
        const long long dts = std::stoll(packet["dts"]);
        const std::string& stream = packet["stream_index"];
        if (last.count(stream) != 0) {
            EXPECT_LT(last[stream], dts) << "stream " << stream;
        }
        last[stream] = dts;
    }
    EXPECT_EQ(2u, last.size());
    // Decoded to the end without an error: a video and an audio stream.
    std::string decoded;
    ASSERT_EQ(0, SvTestSupport::RunProgram({"ffmpeg", "-nostdin", "-v", "error", "-xerror", "-i",
                                            output, "-map", "0", "-f", "framecrc", "-"},
                                           &decoded))
        << decoded;
    EXPECT_EQ(2u, test::FramesPerStream(decoded).size());
}

}  // namespace
}  // namespace SarvelonMediaKit
