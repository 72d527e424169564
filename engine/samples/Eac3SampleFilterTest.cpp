// The E-AC-3 filters: the HD-DVD private data taken off and put in front.
#include <gtest/gtest.h>

#include <boost/make_shared.hpp>

#include "engine/samples/Eac3HdDvdToRawSampleFilter.h"
#include "engine/samples/Eac3RawToHdDvdSampleFilter.h"
#include "engine/samples/SampleFilterTestSupport.h"

namespace SarvelonMediaKit {
namespace {

using namespace filtertest;

const Bytes kFrame = {0x0B, 0x77, 0x00, 0x3F, 0x24, 0x00};  // E-AC-3 syncword and header start

TEST(Eac3HdDvdToRawSampleFilterTest, RemovesThePrivateData) {
    struct Case {
        const char* name;
        std::vector<Bytes> chunks;
        bool kept;
    };
    const Case cases[] = {
        // sub-stream id 0xC3, one frame header, first access unit pointer 1
        {"sub-stream 3", {Concat({{0xC3, 0x01, 0x00, 0x01}, kFrame})}, true},
        {"sub-stream 0", {Concat({{0xC0, 0x01, 0x00, 0x01}, kFrame})}, true},
        {"across chunks", {{0xCF, 0x01}, Concat({{0x00, 0x01}, kFrame})}, true},
        {"two frame headers", {Concat({{0xC0, 0x02, 0x00, 0x01}, kFrame})}, false},
        {"not a sub-stream id", {Concat({{0xB0, 0x01, 0x00, 0x01}, kFrame})}, false},
        {"other access unit pointer", {Concat({{0xC0, 0x01, 0x00, 0x02}, kFrame})}, false},
        {"shorter than the private data", {{0xC0, 0x01, 0x00}}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        boost::shared_ptr<SampleStream> stream =
            MakeStream(SampleMediaTypeAudio, SampleFormatEac3HdDvd);
        stream->AddFilter(boost::make_shared<Eac3HdDvdToRawSampleFilter>(stream));
        EXPECT_EQ(SampleFormatEac3, stream->GetCurrentFormat());
        Push(*stream, c.chunks, 3000);
        const std::vector<Sample> out = Drain(*stream);
        EXPECT_EQ(c.kept ? 0u : 1u, stream->GetDroppedSamples());
        if (!c.kept) {
            EXPECT_TRUE(out.empty());
            continue;
        }
        ASSERT_EQ(1u, out.size());
        EXPECT_EQ(kFrame, PayloadOf(out[0]));
        EXPECT_EQ(uint32_t(SampleFormatEac3), out[0].GetFormat());
        EXPECT_EQ(3000u, out[0].GetDecodeTime());
    }
}

TEST(Eac3RawToHdDvdSampleFilterTest, PutsThePrivateDataInFront) {
    struct Case {
        uint8_t subStream;
        uint8_t id;  // first byte expected
    };
    for (const Case& c : {Case{0, 0xC0}, Case{2, 0xC2}, Case{0x1F, 0xCF}}) {
        SCOPED_TRACE(int(c.subStream));
        boost::shared_ptr<SampleStream> stream = MakeStream(SampleMediaTypeAudio, SampleFormatEac3);
        stream->AddFilter(boost::make_shared<Eac3RawToHdDvdSampleFilter>(stream, c.subStream));
        EXPECT_EQ(SampleFormatEac3HdDvd, stream->GetCurrentFormat());
        Push(*stream, {kFrame});
        const std::vector<Sample> out = Drain(*stream);
        ASSERT_EQ(1u, out.size());
        // sub-stream id, one frame header, first access unit pointer 1, then the frame
        EXPECT_EQ(Concat({{c.id, 0x01, 0x00, 0x01}, kFrame}), PayloadOf(out[0]));
        EXPECT_EQ(uint32_t(SampleFormatEac3HdDvd), out[0].GetFormat());
    }
}

TEST(Eac3RawToHdDvdSampleFilterTest, DropsEmptySamplesAndSamplesWithoutHeadroom) {
    boost::shared_ptr<SampleStream> tight =
        MakeStream(SampleMediaTypeAudio, SampleFormatEac3, nullptr, 3);
    tight->AddFilter(boost::make_shared<Eac3RawToHdDvdSampleFilter>(tight, 0));
    Push(*tight, {kFrame});
    Push(*tight, {{}});
    EXPECT_TRUE(tight->IsEmpty());
    // The frame is counted; the empty sample had nothing to lose.
    EXPECT_EQ(1u, tight->GetDroppedSamples());
}

TEST(Eac3SampleFilterTest, RoundTripGivesTheFrameBack) {
    boost::shared_ptr<SampleStream> stream = MakeStream(SampleMediaTypeAudio, SampleFormatEac3);
    stream->AddFilter(boost::make_shared<Eac3RawToHdDvdSampleFilter>(stream, 5));
    stream->AddFilter(boost::make_shared<Eac3HdDvdToRawSampleFilter>(stream));
    Push(*stream, {kFrame});
    const std::vector<Sample> out = Drain(*stream);
    ASSERT_EQ(1u, out.size());
    EXPECT_EQ(kFrame, PayloadOf(out[0]));
}

}  // namespace
}  // namespace SarvelonMediaKit
