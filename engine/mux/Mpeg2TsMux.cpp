#include "engine/mux/Mpeg2TsMux.h"

#include <boost/make_shared.hpp>

#include "SVLibrary/Util/ByteOrder.h"
#include "engine/codecs/Aac.h"
#include "engine/core/Crc32.h"
#include "engine/samples/AdtsAddSampleFilter.h"
#include "engine/samples/AdtsSynchronizeSampleFilter.h"
#include "engine/samples/Eac3HdDvdToRawSampleFilter.h"
#include "engine/samples/H264SampleFilterFillerRemove.h"
#include "engine/samples/LengthToStartCodeH264SampleFilter.h"
#include "engine/mux/IodDescriptor.h"
#include "engine/mux/StreamTypes.h"

namespace SarvelonMediaKit {

namespace {

// 27 MHz clock periods in a microsecond.
constexpr int64_t kClockPeriodsPerMicrosecond =
    kClockPeriodsPerTick * kTicksPerSecond / kMicrosecondsPerSecond;

// ---- PSI (ISO/IEC 13818-1, 2.4.4) ----
constexpr uint8_t kPointerField = 0x00;  // the section starts right after it
constexpr uint8_t kTableIdPmt = 0x02;    // TS_program_map_section
constexpr uint16_t kProgramNumber = 1;   // the one program
// section_syntax_indicator 1, '0', reserved '11', above the 12-bit section_length.
constexpr uint16_t kSectionSyntaxBits = 0xB000;
// reserved '11', version_number (5 bits, shifted by one), current_next_indicator 1.
constexpr uint8_t kCurrentVersionBits = 0xC1;
constexpr uint8_t kVersionMask = 0x1F;
// reserved '111' above a 13-bit PID, reserved '1111' above a 12-bit info length.
constexpr uint16_t kReservedPidBits = 0xE000;
constexpr uint16_t kReservedLengthBits = 0xF000;
constexpr uint32_t kCrcSize = 4;  // CRC_32 at the end of a section
// pointer_field, table_id and the 2 bytes of section_length: where section_length's count
// starts.
constexpr uint32_t kSectionLengthEnd = 4;

void AppendBigEndian16(std::vector<uint8_t>& out, uint16_t value) {
    out.push_back(static_cast<uint8_t>(value >> 8));
    out.push_back(static_cast<uint8_t>(value));
}

void AppendCrc(std::vector<uint8_t>& section) {
    // The CRC covers the section from table_id on: everything after the pointer field.
    const uint32_t crc = Crc32(section.data() + 1, section.size() - 1);
    section.push_back(static_cast<uint8_t>(crc >> 24));
    section.push_back(static_cast<uint8_t>(crc >> 16));
    section.push_back(static_cast<uint8_t>(crc >> 8));
    section.push_back(static_cast<uint8_t>(crc));
}

}  // namespace

Mpeg2TsMux::Mpeg2TsMux(Session* session)
    : Mux(session),
      removeFillerData_(false),
      psiPending_(true),
      firstDts_(0),
      trickPlay_(false),
      // The writer lays out every byte of every packet, so its chunks are not cleared first.
      writer_([this](uint32_t size) { return MakeOutputChunk(size); },
              [this](const MemoryChunk& chunk) { DoSend(chunk); }),
      pmtVersion_(0),
      mergeCount_(0),
      heldPts_(0),
      heldDts_(0),
      heldCount_(0),
      restartAtKeyFrame_(false),
      slabUsed_(0) {
    // Room in front of every sample payload for the ADTS header a filter may put in front of a
    // raw AAC frame.
    sampleHeadroom_ = kAdtsHeaderSize;
}

Mpeg2TsMux::~Mpeg2TsMux() {}

const uint32_t Mpeg2TsMux::kSlabBytes;

MemoryChunk Mpeg2TsMux::MakeOutputChunk(uint32_t size) {
    // A stage that puts bytes around each chunk in place gets chunks with that room; a slice of
    // the slab has none, and would be copied for it.
    if (GetLinkedHeadroom() != 0 || GetLinkedTailroom() != 0 || size > kSlabBytes / 4) {
        return MemoryChunk::Unset(size, GetLinkedHeadroom(), GetLinkedTailroom());
    }
    if (slab_.IsEmpty() || slab_.Size() - slabUsed_ < size) {
        // Not cleared: the writer fills each chunk whole before it goes on.
        slab_ = MemoryChunk::Unset(kSlabBytes, 0, 0);
        slabUsed_ = 0;
    }
    // Cut from bytes no chunk handed on shows, and written through this slice alone before it
    // goes on: a chunk's bytes never change once it has left.
    MemoryChunk chunk = slab_.Slice(slabUsed_, size);
    slabUsed_ += size;
    return chunk;
}

std::string Mpeg2TsMux::GetTypeName() const { return "Mpeg2TsMux"; }

bool Mpeg2TsMux::IsPacketised() const { return true; }

bool Mpeg2TsMux::DoTrickPlay(TrickPlayRate rate, MediaTime time) {
    const bool accepted = Mux::DoTrickPlay(rate, time);
    if (accepted) {
        trickPlay_ = rate != 0;
    }
    return accepted;
}

void Mpeg2TsMux::DoSetPosition(BytePosition position, StackId stackId) {
    Mux::DoSetPosition(position, stackId);
    if (stackId == stackId_ || stackId == StackIdAny) {
        psiPending_ = true;
        // Frames of the old position; what comes next does not continue what went out.
        heldAudio_ = Sample();
        heldCount_ = 0;
        writer_.Restart();
        // Sound from before the first key frame belongs to the group of pictures before it,
        // which a segmenter drops: the counters start again at the key frame too, so that the
        // segment's first packet of every PID says so.
        restartAtKeyFrame_ = true;
    }
}

void Mpeg2TsMux::OnSampleStreamAdded(const boost::shared_ptr<SampleStream>& stream) {
    if (!stream) {
        return;
    }
    // Every stream leaves the chain as what a transport stream carries: ADTS AAC, raw E-AC-3,
    // H.264 with start codes.
    const uint32_t format = stream->GetCurrentFormat();
    bool mergeAudio = false;
    switch (format) {
        case SampleFormatAacRaw:
            stream->AddFilter(boost::make_shared<AdtsAddSampleFilter>(stream, SampleFormatAacRaw,
                                                                      SampleFormatAacAdts));
            mergeAudio = true;
            break;
        case SampleFormatAacAdts:
            stream->AddFilter(boost::make_shared<AdtsSynchronizeSampleFilter>(
                stream, SampleFormatAacAdts, SampleFormatAacAdts));
            mergeAudio = true;
            break;
        case SampleFormatEac3HdDvd:
            stream->AddFilter(boost::make_shared<Eac3HdDvdToRawSampleFilter>(stream));
            mergeAudio = true;
            break;
        case SampleFormatH264AnnexB:
            if (removeFillerData_) {
                stream->AddFilter(boost::make_shared<H264SampleFilterFillerRemove>(stream));
            }
            break;
        case SampleFormatH264Length:
            // Filler units are found by their length fields, so before the conversion.
            if (removeFillerData_) {
                stream->AddFilter(boost::make_shared<H264SampleFilterFillerRemove>(stream));
            }
            stream->AddFilter(boost::make_shared<LengthToStartCodeH264SampleFilter>(stream));
            break;
        default: break;
    }
    if (mergeAudio && mergeCount_ > 1) {
        joined_.insert(stream->GetStreamRef().Get());
    }
}

void Mpeg2TsMux::OnSampleStreamRemoved(const boost::shared_ptr<SampleStream>& stream) {
    if (stream) {
        joined_.erase(stream->GetStreamRef().Get());
    }
}

void Mpeg2TsMux::DoProcessSample(Sample& sample) {
    const uint32_t type = sample.GetType();
    if (type != SampleMediaTypeAudio && type != SampleMediaTypeVideo) {
        return;
    }
    const Timestamps stamped = StampSample(sample, psiPending_, kMinimumFirstDts);
    const uint64_t dts = stamped.dts;
    const uint64_t pts = stamped.pts;
    if (psiPending_) {
        firstDts_ = stamped.first;
        BuildPsi();
        psiPending_ = false;
    }
    // 0.2 s ahead of the decode time; a sample timed before the clock's start (an audio
    // frame ahead of the first picture) gets the start rather than a wrapped value.
    const uint64_t clock = TicksToClock(dts);
    const uint64_t pcr = clock >= kPcrLead ? clock - kPcrLead : 0;

    if (type == SampleMediaTypeVideo) {
        if (sample.IsKeyFrame()) {
            // The audio frames before the key frame belong to the group of pictures that ends
            // here; then the marker, the tables a decoder needs to join the stream here, and
            // the picture.
            WriteHeldAudio();
            if (restartAtKeyFrame_) {
                writer_.Restart();
                restartAtKeyFrame_ = false;
            }
            SendGopStart(pcr);
            writer_.WriteSection(kPatPid, pat_);
            writer_.WriteSection(kPmtPid, pmt_);
        }
        writer_.WritePes(kVideoPid, kVideoStreamId, pts, dts, pcr, sample.GetPayload());
        return;
    }
    if (joined_.count(sample.GetStreamRef().Get()) == 0) {
        WriteAudio(sample, pts, dts);
        return;
    }
    if (heldCount_ == 0) {
        // Timed by its first frame; the bytes are shared, not copied.
        heldAudio_ = sample;
        heldPts_ = pts;
        heldDts_ = dts;
    } else {
        heldAudio_.GetPayload().AppendChunks(sample.GetPayload());
    }
    if (++heldCount_ >= mergeCount_) {
        WriteHeldAudio();
    }
}

void Mpeg2TsMux::WriteAudio(Sample& sample, uint64_t pts, uint64_t dts) {
    const uint32_t format = sample.GetFormat();
    const uint8_t streamId = (format == SampleFormatEac3 || format == SampleFormatPesPrivate)
                                 ? kPrivateStream1
                                 : kAudioStreamId;
    writer_.WritePes(kAudioPid, streamId, pts, dts, TsPacketWriter::kNoPcr, sample.GetPayload());
}

void Mpeg2TsMux::WriteHeldAudio() {
    if (heldCount_ == 0) {
        return;
    }
    // Taken out first: writing sends bytes on, and nothing sent may find it held still.
    Sample held = heldAudio_;
    heldAudio_ = Sample();
    heldCount_ = 0;
    WriteAudio(held, heldPts_, heldDts_);
}

bool Mpeg2TsMux::DoProcessMemoryMarker(const boost::shared_ptr<MemoryMarker>& marker) {
    // The multiplexer lets out every queued sample first; the marker goes on after the return.
    const bool passOn = Mux::DoProcessMemoryMarker(marker);
    if (passOn && marker && marker->GetType() == MemoryMarkerTypeEndOfStream) {
        WriteHeldAudio();
    }
    return passOn;
}

void Mpeg2TsMux::SendGopStart(uint64_t pcr) {
    if (pcr == TsPacketWriter::kNoPcr) {
        return;
    }
    // The marker's time is the output clock's in microseconds (a signed 64-bit division).
    const int64_t microseconds = static_cast<int64_t>(pcr) / kClockPeriodsPerMicrosecond;
    DoSend(
        MemoryChunk(boost::make_shared<MemoryMarkerGopStart>(static_cast<uint64_t>(microseconds))));
}

void Mpeg2TsMux::BuildPsi() {
    const uint32_t videoFormat = GetStreamFormat(SampleMediaTypeVideo);
    const uint32_t audioFormat = trickPlay_ ? 0 : GetStreamFormat(SampleMediaTypeAudio);

    if (pat_.empty()) {
        const uint8_t pat[] = {
            0x00,        // pointer_field
            0x00,        // table_id: program_association_section
            0xB0, 0x0D,  // section_syntax_indicator, '0', reserved, section_length 13
            0x00, 0x00,  // transport_stream_id
            0xC1,        // reserved, version 0, current_next_indicator
            0x00, 0x00,  // section_number, last_section_number
            0x00, 0x01,  // program_number 1
            0xE0, 0x20,  // reserved, program_map_PID 0x0020
        };
        pat_.assign(pat, pat + sizeof pat);
        AppendCrc(pat_);
    }

    // The decoder configuration ahead of the first frame, for players that want it.
    const uint8_t* config = nullptr;
    uint32_t n = 0;
    if (audioFormat != SampleFormatAacAdts ||
        !GetStreamInfo(StreamInfoKindAudioSpecificConfig, &config, &n)) {
        config = nullptr;
    }
    const std::vector<uint8_t> descriptor = MakeAacIodDescriptor(config, n, kAudioPid);

    std::vector<uint8_t> pmt;
    pmt.push_back(kPointerField);
    pmt.push_back(kTableIdPmt);
    AppendBigEndian16(pmt, kSectionSyntaxBits);  // section_length goes here once known
    AppendBigEndian16(pmt, kProgramNumber);
    pmt.push_back(static_cast<uint8_t>(kCurrentVersionBits | ((pmtVersion_ & kVersionMask) << 1)));
    ++pmtVersion_;
    pmt.push_back(0x00);                                   // section_number
    pmt.push_back(0x00);                                   // last_section_number
    AppendBigEndian16(pmt, kReservedPidBits | kVideoPid);  // PCR_PID
    AppendBigEndian16(pmt, static_cast<uint16_t>(kReservedLengthBits | descriptor.size()));
    pmt.insert(pmt.end(), descriptor.begin(), descriptor.end());
    if (videoFormat == SampleFormatH264AnnexB) {
        pmt.push_back(kStreamTypeH264);
        AppendBigEndian16(pmt, kReservedPidBits | kVideoPid);
        AppendBigEndian16(pmt, kReservedLengthBits);  // ES_info_length 0
    }
    uint8_t audioType = 0;
    switch (audioFormat) {
        case SampleFormatAacAdts: audioType = kStreamTypeAdtsAac; break;
        case SampleFormatEac3: audioType = kStreamTypeEac3; break;
        case SampleFormatPesPrivate: audioType = kStreamTypePrivatePes; break;
        default: break;
    }
    if (audioType != 0) {
        pmt.push_back(audioType);
        AppendBigEndian16(pmt, kReservedPidBits | kAudioPid);
        AppendBigEndian16(pmt, kReservedLengthBits);  // ES_info_length 0
    }
    // section_length counts the bytes after it up to the end of the CRC still to come.
    const size_t sectionLength = pmt.size() + kCrcSize - kSectionLengthEnd;
    SV::WriteBigEndian16(static_cast<uint16_t>(kSectionSyntaxBits | sectionLength),
                         &pmt[kSectionLengthEnd - 2]);
    AppendCrc(pmt);
    pmt_.swap(pmt);
}

}  // namespace SarvelonMediaKit
