// A title made from elementary streams written by hand, so that the whole chain (mktitle,
// titledump, svremux) can be pinned byte for byte whatever ffmpeg version is installed.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/support/Fixtures.h"
#include "tests/support/MediaFileTestSupport.h"
#include "tests/support/TemporaryDirectory.h"
#include "common/TsReader.h"
#include "tests/support/HandMadeClip.h"

namespace {

using SvGolden::Bytes;
using SvGolden::HandMade;
using SvGolden::kStart;
using SvTestSupport::Fixtures;
using SvTestSupport::RunProgram;
using SvTestSupport::WriteWholeFile;

std::string Sha256(const std::string& path) {
    std::string out;
    EXPECT_EQ(0, RunProgram({"sha256sum", path}, &out)) << out;
    return out.substr(0, 64);
}

class GoldenTitle : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = tmp_.Path();
        video_ = SvGolden::VideoUnits();
        audio_ = SvGolden::AudioFrames();
        source_ = dir_ + "/handmade.ts";
        ASSERT_TRUE(WriteWholeFile(source_, SvGolden::MakeTransportStream(video_, audio_)))
            << source_;
    }

    SvTestSupport::TemporaryDirectory tmp_{"golden"};
    std::string dir_;
    std::string source_;
    std::vector<HandMade> video_;
    std::vector<HandMade> audio_;
};

// The values below were pinned once and checked apart from the tools that made them, with
// ffprobe 5.1 (-show_packets -show_data on the hand-made input and on the svremux output): the
// output carries the same 16 video and 30 audio packets, byte for byte, every time moved back
// by 108000 ticks (the first decode time, 126000, lands at 18000), key flags on both IDRs; the
// 127918 video and 6715 audio bytes of the report are the sums ffprobe gives for the input, the
// 0.68 s duration is the last presentation time (16 frames after the first decode time) plus a
// frame, and the second seek point lies 8 frames (28800 ticks) in. The live checks below read the
// output with the tools' own transport-stream reader, which shares no code with the engine.
const char kInputSha256[] = "5404c90d896ec53e822a9de8c4129b29522c63292bd0fef2515f16363c6a63fa";
const char kTitleSha256[] = "c0fc67681056585d8de3617336388927e0af67f200b4899602519beb827c25b0";
const char kRemuxSha256[] = "c40173e22f190c4585a46b4f91ddb5f6ef70de21bbc75fcceca5691aea749987";
// svremux --ps of the same title, pinned from the program-stream multiplexer before its packets
// borrowed the samples' bytes; ffprobe 5.1 reads 16 video packets of 127918 bytes and 30 audio
// packets of 6715 bytes from it, the sums of the hand-made input above.
const char kProgramSha256[] = "7867916331e1d1861085dad4bef92dc5cb49eb5f242f9114820a26f795b789c7";
const char kReport[] =
    "tracks: 1\n"
    "track 1: video audio\n"
    "  TrackInfoKey_AVCDecoderConfigurationRecord = 33 bytes 0142c01effe100126742c01ef40a0fd8...\n"
    "  TrackInfoKey_AdaptationInterval = 0.32\n"
    "  TrackInfoKey_AudioBitRate = 83938\n"
    "  TrackInfoKey_AudioEsDescriptor = 27 bytes 031900c00004114015000600000147e2...\n"
    "  TrackInfoKey_AudioFormat = 1\n"
    "  TrackInfoKey_AudioMpegStreamId = 192\n"
    "  TrackInfoKey_AudioMpegStreamType = 15\n"
    "  TrackInfoKey_AudioNumChannels = 2\n"
    "  TrackInfoKey_AudioProfile = 2\n"
    "  TrackInfoKey_AudioSampleFrequency = 48000\n"
    "  TrackInfoKey_AudioSampleSize = 16\n"
    "  TrackInfoKey_BitRate = 1592400\n"
    "  TrackInfoKey_Duration = 680000\n"
    "  TrackInfoKey_Offset = 370\n"
    "  TrackInfoKey_Size = 135354\n"
    "  TrackInfoKey_Version = 0\n"
    "  TrackInfoKey_VideoBitRate = 1598975\n"
    "  TrackInfoKey_VideoFormat = 1\n"
    "  TrackInfoKey_VideoFrameRate = 25\n"
    "  TrackInfoKey_VideoHeight = 240\n"
    "  TrackInfoKey_VideoLevel = 30\n"
    "  TrackInfoKey_VideoMpegStreamId = 224\n"
    "  TrackInfoKey_VideoMpegStreamType = 27\n"
    "  TrackInfoKey_VideoPixelHeight = 1\n"
    "  TrackInfoKey_VideoPixelWidth = 1\n"
    "  TrackInfoKey_VideoProfile = 66\n"
    "  TrackInfoKey_VideoWidth = 320\n"
    "  seek table: 2 entries\n"
    "    seek 0: time 0 ticks (0.000 s), position 370\n"
    "    seek 1: time 28800 ticks (0.320 s), position 87009\n"
    "chapters: 0\n"
    "streams: 2\n"
    "stream 0xe0: video, stream type 0x1b, 16 samples (2 key), 127918 bytes, first decode time "
    "0 us, last decode time 600000 us\n"
    "stream 0xc0: audio, stream type 0x0f, 30 samples (30 key), 6715 bytes, first decode time "
    "0 us, last decode time 618666 us\n"
    "result: 12 (program end)\n";
// Where svremux puts the first decode time.
const uint64_t kRemuxShift = kStart - 18000;

TEST_F(GoldenTitle, WholeChainPinned) {
    EXPECT_EQ(kInputSha256, Sha256(source_)) << "the hand-made input itself changed";
    const std::string title = dir_ + "/handmade.svm";
    std::string out;
    ASSERT_EQ(0, RunProgram({Fixtures::MktitlePath(), source_, "-o", title}, &out)) << out;
    EXPECT_EQ(kTitleSha256, Sha256(title));
    std::string report;
    ASSERT_EQ(0, RunProgram({SV_TITLEDUMP_PATH, title}, &report)) << report;
    EXPECT_EQ(kReport, report);
    const std::string remuxed = dir_ + "/remuxed.ts";
    ASSERT_EQ(0, RunProgram({SV_SVREMUX_PATH, title, "-o", remuxed}, &out)) << out;
    EXPECT_EQ(kRemuxSha256, Sha256(remuxed));
    const std::string program = dir_ + "/remuxed.mpg";
    ASSERT_EQ(0, RunProgram({SV_SVREMUX_PATH, "--ps", title, "-o", program}, &out)) << out;
    EXPECT_EQ(kProgramSha256, Sha256(program));

    // The output carries the hand-made access units and frames as they were, one PES each,
    // every time moved by the same amount.
    SvTools::TsReader reader = SvTools::TsReader::ReadFile(remuxed);
    ASSERT_FALSE(reader.Programs().empty());
    uint16_t videoPid = 0x1FFF, audioPid = 0x1FFF;
    for (const SvTools::TsStreamInfo& stream : reader.Programs()[0].streams) {
        if (stream.streamType == 0x1B) videoPid = stream.pid;
        if (stream.streamType == 0x0F) audioPid = stream.pid;
    }
    std::vector<const SvTools::TsPes*> video, audio;
    for (const SvTools::TsPes& pes : reader.Pes()) {
        if (pes.pid == videoPid) video.push_back(&pes);
        if (pes.pid == audioPid) audio.push_back(&pes);
    }
    EXPECT_TRUE(reader.ContinuityErrors().empty());
    ASSERT_EQ(video_.size(), video.size());
    for (size_t i = 0; i < video.size(); ++i) {
        EXPECT_TRUE(video_[i].bytes == video[i]->payload) << "video unit " << i;
        EXPECT_EQ(video_[i].pts - kRemuxShift, video[i]->pts) << "video unit " << i;
        EXPECT_EQ(video_[i].dts - kRemuxShift, video[i]->dts) << "video unit " << i;
    }
    ASSERT_EQ(audio_.size(), audio.size());
    for (size_t i = 0; i < audio.size(); ++i) {
        EXPECT_TRUE(audio_[i].bytes == audio[i]->payload) << "audio frame " << i;
        EXPECT_EQ(audio_[i].pts - kRemuxShift, audio[i]->pts) << "audio frame " << i;
    }
}

}  // namespace
