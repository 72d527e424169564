// Feeds arbitrary bytes to the program-stream parser in both modes, whole and in pieces whose
// sizes come from the first input byte, and checks that the pieces change nothing: the same
// samples (sizes, times, key flags, bytes), tracks, chapters and result in demultiplexing
// mode, the same bytes handed on in pass-through mode, and the same trick-play output (rate
// and flags from the first byte too). Whatever the input, the parser must neither crash nor
// hold more than its collectors' caps, nor write without bound.
//
// Every input is parsed eight times, byte by byte in its state machine, so its length sets the
// speed: only the first kMaxInput bytes are used. No seeds are committed: scripts/fuzz makes them
// at fuzz time (make_seeds, into build-fuzz/seeds/) with ffmpeg and the title maker of the same
// build. Besides the head and tail of a larger title they are whole small titles of one to three
// kilobytes (a few 16x16 frames with AAC or E-AC-3: chapters with a thumbnail; no stream map with
// version-2 index entries; two tracks with split version-0 entries; a bad index magic; video only
// with B-frames), each behind its piece-size byte, so every state from the index to the program
// end is reached in a short input.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "engine/demux/Mpeg2PsParser.h"
#include "engine/demux/Mpeg2PsParserListener.h"
#include "engine/container/TrackInfoKeys.h"
#include "engine/samples/Sample.h"

namespace {

using namespace SarvelonMediaKit;

// A parser that is its own listener and logs what it reports.
class FuzzParser : public Mpeg2PsParserListener, public Mpeg2PsParser {
public:
    explicit FuzzParser(bool demultiplexing) : Mpeg2PsParser(*this, demultiplexing) {}

    // Trick play at that rate over a track of 25 frames per second whose ES descriptor says
    // AAC LC, 48 kHz, stereo (unless the stream map's own descriptor says otherwise).
    void StartTrickPlay(int16_t rate, uint32_t flags) {
        boost::shared_ptr<MediaTrack> track(new MediaTrack);
        track->GetIndex().SetFrameDuration(3600);
        track->GetIndex().SetDuration(90000 * 60);
        const std::vector<uint8_t> es{0x03, 0x19, 0x00, 0xC0, 0x00, 0x04, 0x11, 0x40, 0x15,
                                      0,    0,    0,    0,    0,    0,    0,    0,    0,
                                      0,    0,    0x05, 0x02, 0x11, 0x90, 0x06, 0x01, 0x02};
        track->GetInfo().SetValue(TrackInfoKey_AudioEsDescriptor, SV::SVTypedValue(es));
        SetSelectedTrack(track);
        GetTrickPlay().SetFlags(flags);
        GetTrickPlay().SetRate(rate, true);
    }

    std::string log;
    std::vector<uint8_t> output;

    // Returns the result that stopped it (Ok when all bytes were taken).
    Mpeg2PsResult Feed(const uint8_t* data, size_t size, size_t piece) {
        for (size_t pos = 0; pos < size;) {
            const size_t n = piece == 0 ? size : std::min(piece, size - pos);
            MemoryChunk chunk(static_cast<uint32_t>(n), 0, 0);
            std::copy(data + pos, data + pos + n, chunk.Data(0));
            pos += n;
            const Mpeg2PsResult result = Parse(chunk, false);
            if (result != Mpeg2PsResult::Ok) {
                log += "result " + std::to_string(Mpeg2PsResultNumber(result)) + "\n";
                return result;
            }
        }
        return Mpeg2PsResult::Ok;
    }

protected:
    Mpeg2PsResult OnSample(Sample& sample) override {
        log += "sample " + std::to_string(sample.GetType()) + " " +
               std::to_string(sample.GetDecodeTime().Get()) + " " +
               std::to_string(sample.GetPresentationOffset().Get()) + " " +
               std::to_string(sample.IsKeyFrame()) + " " +
               std::to_string(sample.GetPayload().Size()) + " ";
        // FNV-1a over the payload stands for its bytes (read through one pointer per chunk:
        // a call per byte would cost more than the parsing).
        uint64_t hash = 0xCBF29CE484222325ull;
        for (const MemoryChunk& chunk : sample.GetPayload().GetChunks()) {
            const uint32_t n = chunk.Size();
            const uint8_t* bytes = n != 0 ? chunk.Data(0) : nullptr;
            for (uint32_t i = 0; i < n; ++i) {
                hash = (hash ^ bytes[i]) * 0x100000001B3ull;
            }
        }
        log += std::to_string(hash) + "\n";
        return Mpeg2PsResult::Ok;
    }
    Mpeg2PsResult OnOutputChunk(const MemoryChunk& chunk) override {
        if (chunk.Size() != 0) {
            output.insert(output.end(), chunk.Data(0), chunk.Data(0) + chunk.Size());
        }
        return Mpeg2PsResult::Ok;
    }
    Mpeg2PsResult OnNewTrack(const boost::shared_ptr<MediaTrack>& track) override {
        log += "track " + std::to_string(track->GetIndex().GetCount()) + " " +
               std::to_string(track->GetIndex().GetDuration()) + "\n";
        return Mpeg2PsResult::Ok;
    }
    void OnTimestamp(SampleMediaType kind, uint32_t timestamp, uint32_t scrBase) override {
        log += "ts " + std::to_string(kind) + " " + std::to_string(timestamp) + " " +
               std::to_string(scrBase) + "\n";
    }
};

void Check(bool ok) {
    if (!ok) {
        std::abort();
    }
}

}  // namespace

// Longer inputs add bytes of states the seeds reach already and only slow every run down.
constexpr size_t kMaxInput = 4096;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) {
        return 0;
    }
    size = std::min(size, kMaxInput);
    const size_t piece = 1 + data[0] % 64;
    ++data;
    --size;

    FuzzParser whole(true);
    FuzzParser cut(true);
    const Mpeg2PsResult wholeResult = whole.Feed(data, size, 0);
    const Mpeg2PsResult cutResult = cut.Feed(data, size, piece);
    Check(wholeResult == cutResult);
    Check(whole.log == cut.log);
    Check(whole.GetHeaderSection().GetChapters().size() ==
          cut.GetHeaderSection().GetChapters().size());
    Check(whole.GetStreamMap().GetEsMap().size() == cut.GetStreamMap().GetEsMap().size());

    // Pass-through: the bytes handed on are the same as long as nothing stopped the parser
    // (a stop drops the rest of the chunk it happened in, and the chunks differ).
    FuzzParser passWhole(false);
    FuzzParser passCut(false);
    const Mpeg2PsResult passWholeResult = passWhole.Feed(data, size, 0);
    const Mpeg2PsResult passCutResult = passCut.Feed(data, size, piece);
    Check(passWholeResult == passCutResult);
    if (passWholeResult == Mpeg2PsResult::Ok || passWholeResult == Mpeg2PsResult::ProgramEnd) {
        Check(passWhole.output == passCut.output);
    }

    // Trick play in both modes.
    const int16_t rate = static_cast<int16_t>(2 + (data[-1] >> 6));
    const uint32_t flags = (data[-1] >> 4) & 3;
    for (bool demultiplexing : {false, true}) {
        FuzzParser trickWhole(demultiplexing);
        FuzzParser trickCut(demultiplexing);
        trickWhole.StartTrickPlay(rate, flags);
        trickCut.StartTrickPlay(rate, flags);
        const Mpeg2PsResult trickWholeResult = trickWhole.Feed(data, size, 0);
        const Mpeg2PsResult trickCutResult = trickCut.Feed(data, size, piece);
        Check(trickWholeResult == trickCutResult);
        Check(trickWhole.log == trickCut.log);
        Check(trickWhole.output == trickCut.output);
    }
    return 0;
}
