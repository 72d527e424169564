// A chosen audio track on a chain that carries sound only, as the sound of a multi-file title
// is fetched: the index of an audio track records no group length and its entries sit on audio
// frames, not on whole seconds. Expectations are worked out from the tables built here.
#include <boost/make_shared.hpp>
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "engine/core/ComponentStack.h"
#include "engine/core/MemoryTracker.h"
#include "engine/core/Session.h"
#include "engine/seek/MediaSeeker.h"
#include "engine/seek/MediaSeekerTestSupport.h"
#include "tests/support/ChainBuilder.h"

namespace SarvelonMediaKit {
namespace {

const uint32_t kAudioTicks = 48000;  // an audio timescale: one tick per sample at 48 kHz
// An entry on the first AAC frame (1024 samples) at or after each second: frame 47 starts at
// 48128 ticks, frame 94 at 96256, ... so entry k sits at 47 * 1024 * k ticks (1.002667 s apart).
const uint32_t kEntryTicks = 47 * 1024;
const uint32_t kRate = 9000;  // bytes per second of media

// 19 entries of an audio-only track of `seconds`, its bytes spread evenly from `offset`.
boost::shared_ptr<MediaTrack> SoundTrack(uint32_t id, uint64_t offset) {
    boost::shared_ptr<MediaTrack> track = boost::make_shared<MediaTrack>();
    track->SetId(TrackId(id));
    track->SetAudio(true);
    MediaTrackIndex& index = track->GetIndex();
    index.SetTimescale(kAudioTicks);
    index.SetOffset(offset);
    index.SetSize(uint64_t(kRate) * 20);
    index.SetDuration(20 * kAudioTicks);
    index.SetAdaptationInterval(0);  // what an audio index records
    EXPECT_TRUE(index.Reserve(19));
    for (uint32_t k = 0; k < 19; ++k) {
        EXPECT_TRUE(index.AddEntry(k * kEntryTicks,
                                   offset + uint64_t(kRate) * k * kEntryTicks / kAudioTicks));
    }
    return track;
}

// The whole file loaded at once; hands on what is pulled.
class WholeFile : public Component {
public:
    explicit WholeFile(Session* session) : Component(session) {}
    using Component::DoSeek;  // the time seek stays as the base has it
    std::string GetTypeName() const override { return "WholeFile"; }
    void DoPullData(ByteAmount& amount) override {
        uint64_t n = end - read;
        if (amount < n) n = amount.Get();
        read += n;
        if (n != 0) DoSend(MemoryChunk(uint32_t(n), 0, 0));
    }
    ByteAmount DoGetBufferedBytes() override { return ByteAmount(uint32_t(end - read)); }
    bool KnowCurrentLoadedFilePosition() override { return true; }
    BytePosition DoCurrentLoadedFilePosition() override { return BytePosition(end); }
    void DoSeek(BytePosition start, BytePosition stop, bool) override {
        seeks.push_back(start.Get());
        read = start.Get();
        end = stop.Get();
    }
    uint64_t read = 0, end = 0;
    std::vector<uint64_t> seeks;
};

TEST(MediaSeekerAudioSwitchTest, AChosenLanguageSwitchesAtTheEntryAfterThePlayedTime) {
    boost::shared_ptr<Session> session = Session::Create();
    const boost::shared_ptr<StreamWords> sink = boost::make_shared<StreamWords>(false);
    const boost::shared_ptr<MediaSeeker> seeker = boost::make_shared<MediaSeeker>(session.get());
    const boost::shared_ptr<WholeFile> source = boost::make_shared<WholeFile>(session.get());
    seeker->SetMemoryTracker(
        boost::make_shared<MemoryTracker>(boost::weak_ptr<Session>(), ByteAmount(512u << 10)));
    ComponentStack stack = SvTestSupport::BuildChain(StackIdMain, {sink, seeker, source});
    session->SetComponentStack(stack);
    stack.Link();
    // Track 1 ("en") from byte 0, track 2 ("de") from byte 200000, each in a file of its own.
    StreamInfoMonitor::TrackMap tracks;
    tracks[TrackId(1)] = SoundTrack(1, 0);
    tracks[TrackId(2)] = SoundTrack(2, 200000);
    seeker->OnMediaTracks(tracks, true);
    ASSERT_TRUE(seeker->StartSelectedTrack());
    ASSERT_EQ(std::vector<uint64_t>({0}), source->seeks);
    ASSERT_EQ(180000u, source->end) << "the whole of track 1 is loaded";

    // Played up to entry 7 (7.018667 s, byte 9000 * 7 * 47 * 1024 / 48000 = 63168), with
    // 2000 bytes past it handed on already.
    seeker->PullData(ByteAmount(65168));
    const uint64_t entry7 = uint64_t(7) * kEntryTicks * 1000000 / kAudioTicks;
    seeker->MediaTimeAvailable(1, MediaTime(0), MediaTime(entry7));
    seeker->SelectTrack(TrackId(2));
    sink->words.clear();
    seeker->Adapt();

    // The switch point is entry 8 (8.021333 s): byte 9000 * 8 * 48128 / 48000 = 72192 of
    // track 1, byte 272192 of track 2. The 7024 bytes of track 1 up to it go first.
    ASSERT_EQ(2u, seeker->GetCurrentTrack()->GetId().Get()) << "the switch is not left owed";
    EXPECT_EQ(std::vector<uint64_t>({0, 272192}), source->seeks);
    for (int i = 0; i < 10 && seeker->GetMemoryCache(); ++i) seeker->PullData(ByteAmount(1u << 20));
    // Then track 2 from its switch point to its end: 200000 + 180000 - 272192 bytes.
    EXPECT_EQ(std::vector<std::string>({"change 2 2", "data 7024", "change 2 5", "data 107808"}),
              sink->words);
    session->Stop(true);
}

}  // namespace
}  // namespace SarvelonMediaKit
