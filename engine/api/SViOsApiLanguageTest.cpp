// Switching the sound of a multi-file title to another language while it plays: the title is
// started through the bridge and served as HLS on a loopback port, the other language's track
// is selected through the session the bridge's handle names, and the segments served afterwards
// are read by the tools' independent transport-stream reader. Their AAC frames are compared
// byte for byte with the frames of the clip each language was made from.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "SVLibrary/TypedValue/SVDictionary.h"
#include "engine/api/SVMediaTransformer.h"
#include "engine/api/SVMediaTransformerSession.h"
#include "engine/api/SViOsApi.h"
#include "engine/api/SViOsApiState.h"
#include "engine/api/SViOsApiTestFixture.h"
#include "engine/api/SViOsApiTestSupport.h"
#include "engine/api/Transformer.h"
#include "engine/api/TransformerTestSupport.h"
#include "engine/container/TrackInfoKeys.h"
#include "engine/core/Session.h"
#include "engine/mux/Mux.h"
#include "engine/seek/MediaSeeker.h"
#include "engine/serve/ListeningPort.h"
#include "tests/support/Fixtures.h"
#include "tests/support/LoopbackHttpGet.h"
#include "tests/support/ThreadTestSupport.h"
#include "tests/support/UnusedPort.h"
#include "common/TsReader.h"
#include "tests/support/TestLabels.h"
#include "tests/support/MediaFileTestSupport.h"

namespace {

using SvTestSupport::AdtsFrames;
using SvTestSupport::ReadWholeFile;

using namespace BridgeTestSupport;
using SarvelonMediaKit::SViOsApiState;
using SarvelonMediaKit::SVMediaTransformerSession;
using SarvelonMediaKit::TrackId;
using SvTestSupport::Fixtures;
using SvTestSupport::HttpAnswer;
using SvTestSupport::HttpGet;

const int kFirstHz = 440;   // "en"
const int kSecondHz = 880;  // "de"
// A 20 s title cut into 2 s groups: ten segments.
const uint32_t kSegments = 10;

using Frames = std::set<std::string>;

// The audio frames and video decode times of a transport stream, as the independent reader
// finds them. audioPid 0 takes every PES whose stream id is an MPEG audio one.
struct StreamView {
    std::vector<std::string> audio;
    std::vector<uint64_t> videoDts;
};

StreamView ReadStream(const std::string& bytes, uint16_t audioPid) {
    SvTools::TsReader reader;
    reader.Feed(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    reader.Finish();
    StreamView view;
    std::vector<uint8_t> es;
    for (const SvTools::TsPes& pes : reader.Pes()) {
        const bool audio = audioPid != 0 ? pes.pid == audioPid : (pes.streamId & 0xE0) == 0xC0;
        if (audio) es.insert(es.end(), pes.payload.begin(), pes.payload.end());
        if (pes.pid == kVideoPid && pes.hasPts) view.videoDts.push_back(pes.dts);
    }
    view.audio = AdtsFrames(es);
    return view;
}

// 20 s of a sine of the given frequency, and 20 s of pictures, as the title maker's input.
std::string LongSine(int hz) { return Fixtures::SineAudioClip(hz, 20); }
std::string LongPictures() { return Fixtures::LongPicturesClip(); }

// Which language's clip every frame of a segment comes from: 1 all "en", 2 all "de", 0 mixed
// or unknown (a segment that straddles the switch), -1 no audio at all.
int LanguageOf(const std::vector<std::string>& frames, const Frames& first, const Frames& second) {
    if (frames.empty()) return -1;
    size_t inFirst = 0, inSecond = 0;
    for (const std::string& frame : frames) {
        const bool a = first.count(frame) != 0;
        const bool b = second.count(frame) != 0;
        if (a && !b) ++inFirst;
        if (b && !a) ++inSecond;
    }
    if (inFirst == frames.size()) return 1;
    if (inSecond == frames.size()) return 2;
    return 0;
}

class SViOsApiLanguageTest : public SViOsApiTestFixture {};

SV_SUITE_LABEL(SViOsApiLanguageTest, e2e);  // checked with outside clients
TEST_F(SViOsApiLanguageTest, SelectingTheOtherLanguageChangesTheServedSound) {
    const std::string folder = Fixtures::MakeSmilFolder(
        "smil-language-20s", {"--lang", "en", "--lang", "en", "--lang", "de", LongPictures(),
                              LongSine(kFirstHz), LongSine(kSecondHz)});
    // The frames of each language as its source clip holds them: the oracle.
    const StreamView en = ReadStream(ReadWholeFile(LongSine(kFirstHz)), 0);
    const StreamView de = ReadStream(ReadWholeFile(LongSine(kSecondHz)), 0);
    ASSERT_GT(en.audio.size(), 100u);
    ASSERT_GT(de.audio.size(), 100u);
    const Frames enFrames(en.audio.begin(), en.audio.end());
    const Frames deFrames(de.audio.begin(), de.audio.end());

    std::string url;
    const uint16_t port = PlayFromRoot(folder, "title.smil", &url);
    ASSERT_NE(0, port);
    const HttpAnswer list = AwaitPlaylist(port, url);
    ASSERT_EQ(200, list.status);
    ASSERT_NE(std::string::npos, list.body.find(std::to_string(kSegments - 1) + ".ts\n"))
        << list.body;

    std::vector<uint64_t> videoDts;
    // The first group plays the first language.
    const HttpAnswer first = HttpGet(port, "0.ts");
    ASSERT_EQ(200, first.status);
    const StreamView before = ReadStream(first.body, kAudioPid);
    ASSERT_EQ(1, LanguageOf(before.audio, enFrames, deFrames)) << "the first language plays";
    videoDts.insert(videoDts.end(), before.videoDts.begin(), before.videoDts.end());

    // The C interface's view of the tracks names the second language's track.
    const boost::shared_ptr<SVMediaTransformerSession> session =
        SVMediaTransformerSession::Find(SViOsApiState::Instance().GetSession());
    ASSERT_TRUE(session);
    std::vector<SV::SVTypedValue> tracks;
    ASSERT_EQ(200u, SV_QueryAllTracks(session.get(), &tracks));
    uint32_t german = 0;
    for (const SV::SVTypedValue& value : tracks) {
        const SV::SVDictionary* track = nullptr;
        ASSERT_TRUE(value.GetDictionary(track) && track);
        const std::string* language = nullptr;
        uint32_t id = 0;
        if (track->GetString(SarvelonMediaKit::TrackInfoKey_AudioIdentifier, language) &&
            *language == "de" &&
            track->GetValue(SarvelonMediaKit::TrackInfoKey_VideoFormat) == nullptr &&
            track->GetUnsignedInt(SarvelonMediaKit::TrackInfoKey_Id, id)) {
            german = id;
        }
    }
    ASSERT_NE(0u, german) << "no audio track in \"de\"";
    const boost::shared_ptr<SarvelonMediaKit::Transformer> transformer = session->GetTransformer();
    ASSERT_TRUE(transformer);
    // The sound's chain is the multiplexer's side branch; its seeker makes the switch.
    SarvelonMediaKit::Session& running = *transformer->GetSession();
    running.PausePump();
    SarvelonMediaKit::Mux* mux = SvTestSupport::FindInChain<SarvelonMediaKit::Mux>(*transformer);
    SarvelonMediaKit::MediaSeeker* soundSeeker = nullptr;
    if (mux != nullptr && mux->GetDemuxes().size() == 2) {
        auto* stage = dynamic_cast<SarvelonMediaKit::Component*>(mux->GetDemuxes().back());
        while (stage != nullptr && soundSeeker == nullptr) {
            soundSeeker = dynamic_cast<SarvelonMediaKit::MediaSeeker*>(stage);
            stage = stage->GetSource().get();
        }
    }
    running.ResumePump();
    ASSERT_NE(nullptr, soundSeeker) << "the sound is read by a chain of its own, with a seeker";
    ASSERT_EQ(200u, transformer->SelectTrack(TrackId(german), true));
    // The seeker makes the switch at its next adaptation step, which the session runs once a
    // second; what is requested after that is cut from the new language.
    ASSERT_TRUE(SvTestSupport::WaitUntil([&] {
        running.PausePump();
        const boost::shared_ptr<SarvelonMediaKit::MediaTrack> current =
            soundSeeker->GetCurrentTrack();
        const bool switched = current && current->GetId() == TrackId(german);
        running.ResumePump();
        return switched;
    })) << "the sound's chain never switched to the second language";

    // Groups cut before the switch go out as they were; once the second language is heard it
    // stays, and it is heard well before the end.
    std::vector<int> languages;
    for (uint32_t n = 1; n < kSegments; ++n) {
        const HttpAnswer segment = HttpGet(port, std::to_string(n) + ".ts");
        ASSERT_EQ(200, segment.status) << n;
        const StreamView view = ReadStream(segment.body, kAudioPid);
        languages.push_back(LanguageOf(view.audio, enFrames, deFrames));
        videoDts.insert(videoDts.end(), view.videoDts.begin(), view.videoDts.end());
    }
    // The segment the switch falls in holds each language's sound of its own time: the first
    // up to the switch point, the second from there (its audio runs from its key frame's
    // decode time, the switch point lies at the key frame's presentation time).
    size_t switched = languages.size();
    for (size_t i = 0; i < languages.size(); ++i) {
        if (languages[i] == 2 || languages[i] == 0) {
            switched = i;
            break;
        }
    }
    ASSERT_LT(switched, size_t(4)) << "the second language is heard within three groups";
    for (size_t i = 0; i < switched; ++i) {
        EXPECT_EQ(1, languages[i]) << "segment " << i + 1 << " before the switch";
    }
    for (size_t i = switched + 1; i < languages.size(); ++i) {
        EXPECT_EQ(2, languages[i]) << "segment " << i + 1 << " after the switch";
    }

    // The pictures go on: 20 s of them, decode times never going back.
    EXPECT_EQ(500u, videoDts.size());
    for (size_t i = 1; i < videoDts.size(); ++i) {
        ASSERT_GT(videoDts[i], videoDts[i - 1]) << "picture " << i;
    }
    EXPECT_EQ(0, SV_Stop());
}

}  // namespace
