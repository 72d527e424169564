// Damaged titles through the demultiplexer: every stretch the parser skips is one warning that
// says where it lies, and no fixture title, read whole, gives a warning at all. Where the damage
// lies is worked out from the title's own packet layout, walked here without the parser.

#include <gtest/gtest.h>

#include <boost/make_shared.hpp>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "SVLibrary/Types/SVStatus.h"
#include "engine/core/ComponentStack.h"
#include "engine/core/Session.h"
#include "engine/demux/Mpeg2PsDemux.h"
#include "engine/input/FileClient.h"
#include "tests/support/ErrorRecorder.h"
#include "tests/support/Fixtures.h"
#include "tests/support/Mpeg2PsDemuxTestSupport.h"
#include "tests/support/TemporaryDirectory.h"

namespace SarvelonMediaKit {
namespace {

using SvTestSupport::ErrorRecorder;
using SvTestSupport::Fixtures;
using SvTestSupport::TemporaryDirectory;
typedef std::vector<uint8_t> Bytes;

Bytes ReadBytes(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

void WriteBytes(const std::string& path, const Bytes& bytes) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
}

// Where each packet of a program stream starts, then the stream's size: a pack is 14 bytes plus
// its stuffing (low 3 bits of byte 13), the end code 4 bytes, anything else 6 bytes plus its
// 16-bit length (bytes 4-5). A clean title is nothing but packets back to back.
std::vector<uint64_t> PacketStarts(const Bytes& b) {
    std::vector<uint64_t> starts;
    size_t at = 0;
    while (at + 6 <= b.size() || (at + 4 <= b.size() && b[at + 3] == 0xB9)) {
        if (b[at] != 0 || b[at + 1] != 0 || b[at + 2] != 1) {
            ADD_FAILURE() << "no packet starts at " << at;
            break;
        }
        starts.push_back(at);
        const uint8_t id = b[at + 3];
        if (id == 0xB9) {
            at += 4;
        } else if (id == 0xBA) {
            at += 14 + (b[at + 13] & 7);
        } else {
            at += 6 + ((size_t(b[at + 4]) << 8) | b[at + 5]);
        }
    }
    EXPECT_EQ(b.size(), at) << "the packets do not fill the title";
    starts.push_back(b.size());
    return starts;
}

uint64_t FirstStartFrom(const std::vector<uint64_t>& starts, uint64_t position) {
    for (uint64_t start : starts) {
        if (start >= position) return start;
    }
    return starts.back();
}

// The codes a parser that lost sync takes up again at: the end code, a pack, a system header,
// the map, padding, private stream 2, streams 0xF0 and 0xF1, and every stream the title has.
std::set<uint8_t> SyncIds(const Bytes& title, const std::vector<uint64_t>& starts) {
    std::set<uint8_t> ids{0xB9, 0xBA, 0xBB, 0xBC, 0xBE, 0xBF, 0xF0, 0xF1};
    for (size_t i = 0; i + 1 < starts.size(); ++i) ids.insert(title[starts[i] + 3]);
    return ids;
}

// Whether 00 00 01 and a sync id start anywhere in [from, to): media bytes may hold one by
// chance, and a parser that lost sync would take it for a packet.
bool HoldsSyncPoint(const Bytes& b, uint64_t from, uint64_t to, const std::set<uint8_t>& ids) {
    for (uint64_t i = from; i + 3 < to && i + 3 < b.size(); ++i) {
        if (b[i] == 0 && b[i + 1] == 0 && b[i + 2] == 1 && ids.count(b[i + 3])) return true;
    }
    return false;
}

// A stretch skipped up to the packet at next ends at the zeros just before it: they are taken
// as part of its start code.
uint64_t StretchEnd(const Bytes& b, uint64_t start, uint64_t next) {
    while (next > start + 1 && b[next - 1] == 0) --next;
    return next;
}

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
    ComponentStack stack(StackIdMain);
    stack.AddComponent(mux);
    stack.AddComponent(demux);
    stack.AddComponent(source);
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
    std::mt19937 random(20240611);
    for (const NamedTitle& title : EveryFixtureTitle()) {
        SCOPED_TRACE(title.name);
        EXPECT_TRUE(ReadThrough(title.path).empty());

        const Bytes clean = ReadBytes(title.path);
        const std::vector<uint64_t> starts = PacketStarts(clean);
        ASSERT_GE(starts.size(), 4u);

        // A few random bytes over the start code and length of a video or audio packet from
        // the middle on: the first such place where no sync point lies by chance in what the
        // parser must skip, up to the next packet.
        const std::set<uint8_t> ids = SyncIds(clean, starts);
        Bytes damaged;
        uint64_t packet = 0;
        uint64_t next = 0;
        for (size_t i = 0; i + 1 < starts.size() && packet == 0; ++i) {
            const uint8_t id = clean[starts[i] + 3];
            if (starts[i] < clean.size() / 2 || ((id & 0xE0) != 0xC0 && (id & 0xF0) != 0xE0)) {
                continue;
            }
            damaged = clean;
            for (int k = 0; k < 6; ++k) damaged[starts[i] + k] = static_cast<uint8_t>(random());
            if (damaged[starts[i]] != 0 &&
                !HoldsSyncPoint(damaged, starts[i], starts[i + 1], ids)) {
                packet = starts[i];
                next = StretchEnd(damaged, packet, starts[i + 1]);
            }
        }
        ASSERT_NE(0u, packet);
        WriteBytes(dir.File("random.svm"), damaged);
        EXPECT_EQ((std::vector<ErrorRecorder::Report>{
                      {SVStatusParserError, Skipped(packet, next - packet)}}),
                  ReadThrough(dir.File("random.svm")));

        // 64 KiB of zeros from a packet start near the middle, followed by a byte that makes
        // no start code with them: the first such place with no sync point by chance between
        // the zeros' end and the next packet.
        if (clean.size() < 160000) continue;
        uint64_t zeros = 0;
        uint64_t after = 0;
        for (uint64_t start : starts) {
            if (start < clean.size() / 2 - 32768 || start + 65536 >= clean.size()) continue;
            damaged = clean;
            std::fill(damaged.begin() + start, damaged.begin() + start + 65536, 0);
            const uint64_t end = start + 65536;
            const uint64_t following = FirstStartFrom(starts, end);
            if (following != end && damaged[end] != 1 &&
                !HoldsSyncPoint(damaged, end - 2, following, ids)) {
                zeros = start;
                after = StretchEnd(damaged, zeros, following);
                break;
            }
        }
        ASSERT_NE(0u, zeros);
        WriteBytes(dir.File("zeros.svm"), damaged);
        EXPECT_EQ((std::vector<ErrorRecorder::Report>{
                      {SVStatusParserError, Skipped(zeros, after - zeros)}}),
                  ReadThrough(dir.File("zeros.svm")));
    }
}

}  // namespace
}  // namespace SarvelonMediaKit
