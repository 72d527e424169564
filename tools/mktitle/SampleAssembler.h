#ifndef TOOLS_MKTITLE_SAMPLEASSEMBLER_H
#define TOOLS_MKTITLE_SAMPLEASSEMBLER_H

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "common/TsReader.h"
#include "tools/mktitle/TitleInput.h"

namespace SvTools {

// Forms the samples of one rendition from its PES packets, in the order the file carries them:
// video access units one per PES (a PES without a PTS continues the previous unit, units before
// the first key frame are dropped) and audio frames cut from the audio PES payloads (an E-AC-3
// unit is an independent frame with the dependent frames after it). Only one unfinished sample
// is held at a time, so memory stays bounded however long the input is; each finished sample
// goes to the handler with its bytes. The same assembler serves the first reading (the sample
// table and the stream parameters) and the second one (the bytes), so both see the same
// samples.
class SampleAssembler {
public:
    // The handler may take the bytes away (move from them).
    using Handler = std::function<void(bool video, const Sample& sample, std::vector<uint8_t>&)>;

    // A PID of 0x1FFF takes no stream of that kind. audio describes the audio codec; its stream
    // parameters are filled in from the first frame.
    SampleAssembler(const std::string& source, uint16_t videoPid, uint16_t audioPid,
                    AudioStream& audio, Handler handler);

    void Add(TsPes& pes);
    // Hands out the samples still open; Add may not be called afterwards.
    void Finish();

    // The first SPS and PPS found in the first PES of a kept access unit; empty when none.
    const std::vector<uint8_t>& Sps() const { return sps_; }
    const std::vector<uint8_t>& Pps() const { return pps_; }
    size_t DroppedVideo() const { return droppedVideo_; }

    // An access unit above this is refused: no real picture is that large, and a stream of
    // PES packets without timestamps must not grow one without bound.
    static const size_t kMaxAccessUnitSize = 64 * 1024 * 1024;

private:
    void AddVideo(TsPes& pes, uint64_t dts, uint64_t pts);
    void AddAudio(const TsPes& pes, uint64_t pts);
    void FinishVideo();
    void FinishAudio();

    std::string source_;
    uint16_t videoPid_;
    uint16_t audioPid_;
    AudioStream& audio_;
    Handler handler_;

    bool haveReference_ = false;
    uint64_t reference_ = 0;

    bool videoOpen_ = false;
    Sample video_;
    std::vector<uint8_t> videoBytes_;
    std::vector<uint8_t> sps_;
    std::vector<uint8_t> pps_;
    size_t droppedVideo_ = 0;

    bool audioStarted_ = false;  // a frame was cut: later PES without a PTS continue it
    bool audioOpen_ = false;
    Sample audioSample_;
    std::vector<uint8_t> audioBytes_;
    std::vector<uint8_t> pending_;  // audio bytes not yet cut into frames
    uint64_t nextPts_ = 0;
};

}  // namespace SvTools

#endif
