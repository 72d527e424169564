// The two readings of an input: the sample table and the bytes, checked against a clip whose
// every byte and time the test wrote itself.
#include <gtest/gtest.h>

#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <unistd.h>

#include "tests/support/Fixtures.h"
#include "tests/support/MediaFileTestSupport.h"
#include "tests/support/TemporaryDirectory.h"
#include "tests/support/HandMadeClip.h"
#include "tools/mktitle/RenditionReader.h"
#include "tools/mktitle/TitleInput.h"
#include "tools/mktitle/TitleWriter.h"

namespace {

using SvGolden::Bytes;
using SvGolden::HandMade;
using SvTestSupport::Fixtures;
using SvTestSupport::WriteWholeFile;

// Keeps what it is given.
class VectorSink : public SvTools::ByteSink {
public:
    void Write(const uint8_t* data, size_t size) override {
        bytes.insert(bytes.end(), data, data + size);
    }
    Bytes bytes;
};

class RenditionReaderTest : public ::testing::Test {
protected:
    void SetUp() override {
        path_ = tmp_.File("reader.ts");
        video_ = SvGolden::VideoUnits();
        audio_ = SvGolden::AudioFrames();
        WriteWholeFile(path_, SvGolden::MakeTransportStream(video_, audio_));
    }

    SvTestSupport::TemporaryDirectory tmp_{"reader"};
    std::string path_;
    std::vector<HandMade> video_;
    std::vector<HandMade> audio_;
};

TEST_F(RenditionReaderTest, TableAndBytesAreTheHandMadeSamples) {
    const SvTools::Rendition rendition = SvTools::ReadRendition(path_);
    EXPECT_TRUE(rendition.warnings.empty());
    // The stream parameters from the hand-written SPS and ADTS headers.
    EXPECT_EQ(320u, rendition.video.width);
    EXPECT_EQ(240u, rendition.video.height);
    EXPECT_EQ(66, rendition.video.profile);
    EXPECT_EQ(3600u, rendition.video.frameDuration);
    EXPECT_EQ(48000u, rendition.audio.sampleRate);
    EXPECT_EQ(2u, rendition.audio.channels);
    EXPECT_EQ(1920u, rendition.audio.frameDuration);

    const auto check = [](const std::vector<SvTools::Sample>& table,
                          const std::vector<HandMade>& made, const char* kind) {
        ASSERT_EQ(made.size(), table.size()) << kind;
        for (size_t i = 0; i < made.size(); ++i) {
            EXPECT_EQ(made[i].pts, table[i].pts) << kind << " " << i;
            EXPECT_EQ(made[i].dts, table[i].dts) << kind << " " << i;
            EXPECT_EQ(made[i].key, table[i].key) << kind << " " << i;
            EXPECT_EQ(made[i].bytes.size(), table[i].size) << kind << " " << i;
        }
    };
    check(rendition.video.samples, video_, "video");
    // Two frames share each audio PES: the second is timed one frame after the PES's PTS.
    check(rendition.audio.samples, audio_, "audio");

    // The second reading gives each kind's bytes in order, whichever kind is asked for first.
    SvTools::RenditionReader reader(rendition);
    for (size_t i = 0; i < audio_.size(); ++i) {
        EXPECT_TRUE(audio_[i].bytes == reader.Next(false)) << "audio " << i;
    }
    for (size_t i = 0; i < video_.size(); ++i) {
        EXPECT_TRUE(video_[i].bytes == reader.Next(true)) << "video " << i;
    }
    EXPECT_THROW(reader.Next(true), std::runtime_error);
}

TEST_F(RenditionReaderTest, AFileThatChangedBetweenTheReadingsIsAnError) {
    const std::vector<SvTools::Rendition> renditions = {SvTools::ReadRendition(path_)};
    const SvTools::TitleWriter writer(renditions, SvTools::TitleOptions());
    {
        // The same file read twice gives the planned number of bytes.
        SvTools::RenditionReader reader(renditions[0]);
        VectorSink sink;
        writer.Write({&reader}, sink);
        EXPECT_EQ(writer.Layout().size, sink.bytes.size());
    }
    // Writing the title from the file as it is now fails with the reason.
    auto expectRefused = [&](const std::string& reason) {
        SvTools::RenditionReader reader(renditions[0]);
        VectorSink sink;
        try {
            writer.Write({&reader}, sink);
            ADD_FAILURE() << "written, though the file " << reason;
        } catch (const std::runtime_error& error) {
            EXPECT_NE(std::string::npos, std::string(error.what()).find(reason)) << error.what();
        }
    };
    // One picture grew: its bytes no longer fit the layout.
    std::vector<HandMade> video = video_;
    video[3].bytes.push_back(0x80);
    WriteWholeFile(path_, SvGolden::MakeTransportStream(video, audio_));
    expectRefused("did the file change");
    // The file lost its second half.
    video.resize(9);
    WriteWholeFile(path_, SvGolden::MakeTransportStream(video, {}));
    expectRefused("ends before its samples");
}

}  // namespace
