// Damaged titles through the demultiplexer: every stretch the parser skips is one warning that
// says where it lies, and no fixture title, read whole, gives a warning at all. Where the damage
// lies is worked out from the title's own packet layout (DamagedTitle.h), not by the parser.

#include <gtest/gtest.h>

#include <boost/make_shared.hpp>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "SVLibrary/Types/SVStatus.h"
#include "engine/core/ComponentStack.h"
#include "engine/core/Session.h"
#include "engine/demux/Mpeg2PsDemux.h"
#include "engine/input/FileClient.h"
#include "tests/support/MediaFileTestSupport.h"
#include "tests/support/DamagedTitle.h"
#include "tests/support/ErrorRecorder.h"
#include "tests/support/Fixtures.h"
#include "tests/support/Mpeg2PsDemuxTestSupport.h"
#include "tests/support/TemporaryDirectory.h"
#include "tests/support/ChainBuilder.h"

namespace SarvelonMediaKit {
namespace {

using SvTestSupport::DamagedTitle;
using SvTestSupport::ErrorRecorder;
using SvTestSupport::Fixtures;
using SvTestSupport::TemporaryDirectory;
typedef std::vector<uint8_t> Bytes;

using SvTestSupport::ReadFileBytes;
using SvTestSupport::WriteWholeFile;

std::string Skipped(uint64_t position, uint64_t count) {
    return "Damaged data: " + std::to_string(count) + " bytes skipped at byte " +
           std::to_string(position);
}

// Reads the title through file client -> demultiplexer -> recording multiplexer on a running
// session, to the end of the stream; returns the demultiplexer's warnings.
std::vector<ErrorRecorder::Report> ReadThrough(const std::string& path) {
    ErrorRecorder errors;
    demuxtest::EventRecorder events;
    boost::shared_ptr<Session> session = Session::Create();
    session->SetCapacity(ByteAmount(16u << 20));
    boost::shared_ptr<Component> source = CreateFileClient(session.get(), nullptr);
    source->SetName("file://" + path, true);
    boost::shared_ptr<Mpeg2PsDemux> demux = boost::make_shared<Mpeg2PsDemux>(session.get());
    boost::shared_ptr<demuxtest::RecordingMux> mux =
        boost::make_shared<demuxtest::RecordingMux>(session.get());
    ComponentStack stack = SvTestSupport::BuildChain(StackIdMain, {mux, demux, source});
    session->SetComponentStack(stack);
    demux->ErrorInfoSource::AddMonitor(&errors);
    demux->StreamInfoSource::AddMonitor(&events);
    stack.Link();
    session->PreLoad(MediaTime(15000000));
    session->StartPump(1000);
    session->SetPullAmount(ByteAmount(1u << 20));
    session->Start();
    EXPECT_TRUE(events.WaitForPreload(20000)) << path;
    EXPECT_TRUE(mux->WaitForMarker(MemoryMarkerTypeEndOfStream, 60000)) << path;
    session->Stop(true);
    EXPECT_TRUE(errors.Errors().empty()) << path << ": " << errors.Errors().front().second;
    return errors.Warnings();
}

struct NamedTitle {
    const char* name;
    std::string path;
};

std::vector<NamedTitle> EveryFixtureTitle() {
    const std::string smil = Fixtures::SmilTitle();
    const std::string folder = smil.substr(0, smil.rfind('/') + 1);
    return {
        {"short", Fixtures::ShortTitle()},
        {"no stream map", Fixtures::MakeTitle("demux-nomap.svm",
                                              {Fixtures::ShortClip(), "{out}", "--no-stream-map"})},
        {"multi-rate", Fixtures::MultiRateTitle()},
        {"adaptive", Fixtures::AdaptiveTitle()},
        {"E-AC-3", Fixtures::Eac3Title()},
        {"two minutes", Fixtures::HlsTitle()},
        {"uneven groups", Fixtures::UnevenGopTitle()},
        {"joined clips", Fixtures::JoinedTitle()},
        {"separate audio", Fixtures::SeparateAudioTitle()},
        {"video only", Fixtures::VideoOnlyTitle()},
        {"two languages", Fixtures::TwoLanguageTitle()},
        {"audio only", Fixtures::LanguageAudioTitle("eng")},
        {"trick", Fixtures::TrickTitle()},
        {"trick with audio", Fixtures::TrickAudioTitle()},
        {"chapters", Fixtures::ChapterTitle()},
        {"manifest video", folder + "video.svm"},
        {"manifest audio en", folder + "audio-en.svm"},
        {"manifest audio de", folder + "audio-de.svm"},
    };
}

// Every fixture title reads without a warning; the same title with the header of a media packet
// in its second half overwritten by random bytes gives one warning, from that packet's start to
// the next packet; and a title large enough for it, with 64 KiB zeroed from a packet start near
// its middle, one warning from that start to the first packet after the zeros.
TEST(Mpeg2PsDemuxDamageTest, EachDamagedStretchIsOneWarningWhereItLiesAndCleanTitlesGiveNone) {
    TemporaryDirectory dir("demux-damage");
    std::mt19937 generator(20240611);
    for (const NamedTitle& title : EveryFixtureTitle()) {
        SCOPED_TRACE(title.name);
        EXPECT_TRUE(ReadThrough(title.path).empty());

        const Bytes clean = ReadFileBytes(title.path);
        const DamagedTitle random = SvTestSupport::WithRandomPacketHeader(clean, generator);
        ASSERT_NE(0u, random.count);
        WriteWholeFile(dir.File("random.svm"), random.bytes);
        EXPECT_EQ((std::vector<ErrorRecorder::Report>{
                      {SVStatusParserError, Skipped(random.position, random.count)}}),
                  ReadThrough(dir.File("random.svm")));

        if (clean.size() < 160000) continue;
        const DamagedTitle zeroed = SvTestSupport::WithZeroedMiddle(clean);
        ASSERT_NE(0u, zeroed.count);
        WriteWholeFile(dir.File("zeros.svm"), zeroed.bytes);
        EXPECT_EQ((std::vector<ErrorRecorder::Report>{
                      {SVStatusParserError, Skipped(zeroed.position, zeroed.count)}}),
                  ReadThrough(dir.File("zeros.svm")));
    }
}

}  // namespace
}  // namespace SarvelonMediaKit
