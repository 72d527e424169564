// The file output of a title's first rendition alone (FileOutputOptions::firstRenditionOnly):
// what it writes is checked against the clips the titles were made from, as ffprobe counts them.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "engine/api/Transformer.h"
#include "engine/api/TransformerTestSupport.h"
#include "engine/core/Session.h"
#include "engine/seek/FirstRenditionCut.h"
#include "engine/serve/BatchedFileServer.h"
#include "engine/serve/FrameCountTestSupport.h"
#include "tests/support/Fixtures.h"
#include "tests/support/TemporaryDirectory.h"
#include "tests/support/TestLabels.h"

namespace SarvelonMediaKit {
namespace {

using SvTestSupport::ChainTypes;
using SvTestSupport::Fixtures;
using SvTestSupport::TemporaryDirectory;

SV_SUITE_LABEL(TransformerFirstRendition, e2e);

using SvTestSupport::kNoPosition;
// A run of the small fixtures takes well under a second; this only keeps a fault from hanging.
const auto kRunLimit = std::chrono::seconds(60);

FileOutputOptions FirstRenditionOnly() {
    FileOutputOptions options;
    options.firstRenditionOnly = true;
    return options;
}

// Runs the output until the session stops by itself (the sink's completion or an error).
// False when it has not stopped within the limit.
bool RunToTheEnd(Transformer& transformer) {
    transformer.Transform(kNoPosition, TrickPlayRate(0), true);
    const auto deadline = std::chrono::steady_clock::now() + kRunLimit;
    while (!transformer.GetSession()->WaitForStop(100)) {
        if (std::chrono::steady_clock::now() > deadline) return false;
    }
    transformer.Stop();
    return true;
}

// The packet counts of the streams that carry any, whatever order the container lists them
// in. (The program of a title with a separate audio rendition still announces that stream.)
std::vector<size_t> Counts(const std::string& media) {
    std::vector<size_t> counts;
    for (const auto& stream : test::ProbeCounts(media, false)) {
        if (stream.second != 0) counts.push_back(stream.second);
    }
    std::sort(counts.begin(), counts.end());
    return counts;
}

// Of three renditions only the first is written, and of a title with a separate audio rendition
// only the pictures: no second chain joins the first.
TEST(TransformerFirstRendition, OnlyTheFirstRenditionIsWritten) {
    const struct {
        std::string title;
        std::string clip;  // what the first rendition was made from
    } cases[] = {{Fixtures::MultiRateTitle(), Fixtures::MultiRateClips()[0]},
                 {Fixtures::SeparateAudioTitle(), Fixtures::VideoOnlyClip()}};
    TemporaryDirectory dir("tfirst");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.title);
        const std::string output = dir.File("out.ts");
        Transformer transformer(c.title, MediaFormatMpeg2Ts, OutputKindFile, output,
                                FirstRenditionOnly());
        ASSERT_EQ(SVStatusSuccess, transformer.GetStatus());
        ASSERT_TRUE(RunToTheEnd(transformer));
        EXPECT_EQ(SVStatusSuccess, transformer.GetStatus()) << transformer.GetErrorText();
        ASSERT_NE(nullptr, transformer.GetBatchedFileServer());
        EXPECT_TRUE(transformer.GetBatchedFileServer()->IsComplete());
        ASSERT_NE(nullptr, transformer.GetFirstRenditionCut());
        EXPECT_TRUE(transformer.GetFirstRenditionCut()->Ended());
        const std::vector<size_t> expected = Counts(c.clip);
        ASSERT_FALSE(expected.empty());
        EXPECT_EQ(expected, Counts(output));
    }
}

// The title is read as one of the engine's container whatever its name says, and a program
// stream is multiplexed anew rather than copied: the chain is the same for either output.
TEST(TransformerFirstRendition, AnyNameIsReadAsTheContainerAndBothOutputsAreMultiplexed) {
    TemporaryDirectory dir("tfirstname");
    const std::string title = dir.File("title.bin");
    ASSERT_EQ(0, SvTestSupport::RunProgram({"cp", Fixtures::ShortTitle(), title}));
    {
        // Without the option the name decides, and says nothing the engine reads.
        Transformer plain(title, MediaFormatMpeg2Ts, OutputKindFile, dir.File("plain.ts"));
        EXPECT_EQ(SVStatusUnsupported, plain.GetStatus());
    }
    const struct {
        MediaFormat format;
        std::string output;
        std::string mux;
    } outputs[] = {{MediaFormatMpeg2Ts, "out.ts", "Mpeg2TsMux"},
                   {MediaFormatMpeg2Ps, "out.mpg", "Mpeg2PsMux"}};
    const std::vector<size_t> expected = Counts(Fixtures::ShortClip());
    ASSERT_FALSE(expected.empty());
    for (const auto& o : outputs) {
        SCOPED_TRACE(o.output);
        Transformer transformer(title, o.format, OutputKindFile, dir.File(o.output),
                                FirstRenditionOnly());
        ASSERT_EQ(SVStatusSuccess, transformer.GetStatus());
        Session& session = *transformer.GetSession();
        session.PausePump();
        const std::vector<std::string> types = ChainTypes(transformer);
        session.ResumePump();
        const std::vector<std::string> chain = {"SarvelonMediaKit::BatchedFileServer", o.mux,
                                                "Mpeg2PsDemux",
                                                "SarvelonMediaKit::FirstRenditionCut"};
        ASSERT_GE(types.size(), chain.size() + 1);
        EXPECT_EQ(chain, std::vector<std::string>(types.begin(), types.begin() + chain.size()));
        ASSERT_TRUE(RunToTheEnd(transformer));
        EXPECT_EQ(SVStatusSuccess, transformer.GetStatus()) << transformer.GetErrorText();
        EXPECT_EQ(expected, Counts(dir.File(o.output)));
    }
}

}  // namespace
}  // namespace SarvelonMediaKit
