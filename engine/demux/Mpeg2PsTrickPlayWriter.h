#ifndef ENGINE_DEMUX_MPEG2PSTRICKPLAYWRITER_H
#define ENGINE_DEMUX_MPEG2PSTRICKPLAYWRITER_H

#include <boost/shared_ptr.hpp>

#include <cstdint>
#include <vector>

#include "engine/container/MediaTrack.h"
#include "engine/container/Mpeg2PsPsm.h"
#include "engine/core/MemoryChunk.h"
#include "engine/demux/Mpeg2PsParserListener.h"
#include "engine/samples/Sample.h"
#include "engine/samples/SampleReceiver.h"

namespace SarvelonMediaKit {

// Trick play of a program-stream parser: the key frames of the selected video stream are
// written again at normal speed, so that a player sees an ordinary stream that moves through
// the title rate times faster. Each key frame is repeated, one frame step apart, until the
// output clock (27 MHz) reaches the input clock divided by the rate; the audio stream may be
// filled with silent AAC frames meanwhile.
//
// In pass-through mode the copies go out as packs of their own (the first after a reset with a
// system header and a map of the video stream, and the silent audio when there is any) through
// the listener's OnOutputChunk; in demultiplexing mode they go downstream as samples and the
// silent frames through the listener's OnSample. Each written copy is reported through
// OnTimestamp. Owned and driven by its parser, on the parser's thread.
class Mpeg2PsTrickPlayWriter {
public:
    // Flags.
    enum : uint32_t {
        WriteOnce = 1,    // write each key frame once; the clock jumps to the target
        SilentAudio = 2,  // fill the audio stream with silent AAC frames
    };

    // What the writer needs of the stream being read, as the parser has it at the call.
    struct Input {
        const Mpeg2PsPsm& streamMap;                 // the map read from the stream
        const boost::shared_ptr<MediaTrack>& track;  // the selected track
        uint8_t videoStreamId;
        uint8_t audioStreamId;
        uint8_t audioStreamType;
        uint8_t streamId;  // of the current PES packet
        uint64_t scr;      // of the current pack, 27 MHz
        uint64_t pts;      // of the current PES packet, 90 kHz
    };

    // downstream: the receiver whose next receiver takes the copies in demultiplexing mode.
    Mpeg2PsTrickPlayWriter(Mpeg2PsParserListener& listener, SampleReceiver& downstream,
                           bool demultiplexing);
    Mpeg2PsTrickPlayWriter(const Mpeg2PsTrickPlayWriter&) = delete;
    Mpeg2PsTrickPlayWriter& operator=(const Mpeg2PsTrickPlayWriter&) = delete;

    // Changes the rate (its magnitude counts; 0 = normal play) and returns it, or 0 when the
    // magnitude is unchanged and restart is false. restart begins anew at the next key frame;
    // otherwise the clocks carry on so that the output stays continuous.
    int16_t SetRate(int16_t rate, bool restart);
    void SetFlags(uint32_t flags) { flags_ = flags; }
    bool IsActive() const { return magnitude_ != 0; }
    bool IsStarted() const { return started_; }
    // The parser was reset: the next key frame starts trick play again.
    void Reset() { started_ = false; }

    // Starts at the first video payload: the output clock from the current pack's SCR; the
    // silent frame from audioConfig (the audio stream's AudioSpecificConfig, empty when none).
    Mpeg2PsResult Start(const Input& input, const std::vector<uint8_t>& audioConfig);

    // Writes a completed sample: a key frame as often as the output clock needs, anything else
    // not at all. insertStreamMap: the next pack carries the system header and the map; cleared
    // once it was written.
    Mpeg2PsResult Write(const Sample& sample, const Input& input, bool& insertStreamMap);

    // Times the last picture of a stream, which no later pack closes: from the clocks of the
    // pack and packet that started it (scr 27 MHz, pts 90 kHz), as if the next picture came one
    // output frame step later, so that Write gives it its own frame.
    void TimeLastPicture(Input& input, uint64_t scr, uint64_t pts) const;

    // The frame step of the track in 90 kHz ticks; a fixed one when the track has none.
    static uint32_t FrameStepTicks(const boost::shared_ptr<MediaTrack>& track);

private:
    Mpeg2PsResult PrepareSilentAudio(const Input& input, const std::vector<uint8_t>& config);
    Mpeg2PsResult WritePack(const Sample& sample, const Input& input, uint64_t pts, uint64_t step,
                            std::vector<MemoryChunk>& packets, uint64_t& muxRate,
                            bool& insertStreamMap);
    Mpeg2PsResult WriteSilentAudio(const Input& input, int64_t ptsBase);

    Mpeg2PsParserListener& listener_;
    SampleReceiver& downstream_;
    const bool demultiplexing_;

    uint16_t magnitude_;
    bool started_;
    uint32_t flags_;
    // Clocks, 27 MHz: where trick play began in the input, how far the output has got, the
    // input clock of the last written key frame, and what earlier rates added to the output.
    uint64_t origin_;
    uint64_t outputClock_;
    uint64_t lastInputScr_;
    uint64_t accumulatedOffset_;
    // Silent audio: samples per frame, sampling rate, samples written, one ADTS frame.
    uint32_t audioFrameLength_;
    uint32_t audioFrequency_;
    uint64_t audioClock_;
    std::vector<uint8_t> silentFrame_;
};

}  // namespace SarvelonMediaKit

#endif
