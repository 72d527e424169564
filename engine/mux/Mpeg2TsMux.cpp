#include "engine/mux/Mpeg2TsMux.h"

#include <boost/make_shared.hpp>

#include <algorithm>
#include <cstring>

#include "SVLibrary/Util/ByteOrder.h"
#include "engine/core/Crc32.h"
#include "engine/samples/AdtsAddSampleFilter.h"
#include "engine/samples/AdtsSynchronizeSampleFilter.h"
#include "engine/samples/Eac3HdDvdToRawSampleFilter.h"
#include "engine/samples/H264SampleFilterFillerRemove.h"
#include "engine/samples/LengthToStartCodeH264SampleFilter.h"
#include "engine/samples/MergeSampleFilter.h"

namespace SarvelonMediaKit {

namespace {

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

// PTS or DTS in the 5-byte form of a PES header: 4-bit prefix, 33 bits with marker bits.
void PutTimestamp(uint8_t* p, uint8_t prefix, uint64_t ts) {
    ts &= 0x1FFFFFFFFull;
    p[0] = static_cast<uint8_t>((prefix << 4) | ((ts >> 29) & 0x0E) | 0x01);
    p[1] = static_cast<uint8_t>(ts >> 22);
    p[2] = static_cast<uint8_t>(((ts >> 14) & 0xFE) | 0x01);
    p[3] = static_cast<uint8_t>(ts >> 7);
    p[4] = static_cast<uint8_t>(((ts << 1) & 0xFE) | 0x01);
}

// PCR in the 6 bytes of an adaptation field: 33-bit base, six reserved bits, 9-bit extension.
void PutPcr(uint8_t* p, uint64_t pcr) {
    const uint64_t base = (pcr / 300) & 0x1FFFFFFFFull;
    const uint32_t extension = static_cast<uint32_t>(pcr % 300);
    p[0] = static_cast<uint8_t>(base >> 25);
    p[1] = static_cast<uint8_t>(base >> 17);
    p[2] = static_cast<uint8_t>(base >> 9);
    p[3] = static_cast<uint8_t>(base >> 1);
    p[4] = static_cast<uint8_t>(((base & 1) << 7) | 0x7E | ((extension >> 8) & 1));
    p[5] = static_cast<uint8_t>(extension);
}

// Copies n bytes from the cursor on (the caller knows they are there) and moves past them.
void CopyPayload(MemoryChunkList::Cursor& cursor, uint8_t* out, uint32_t n) {
    while (n > 0 && !cursor.IsAtEnd()) {
        const uint32_t take = std::min(n, cursor.BytesLeftInChunk());
        std::memcpy(out, cursor.Data(), take);
        cursor.Advance(take);
        out += take;
        n -= take;
    }
}

}  // namespace

Mpeg2TsMux::Mpeg2TsMux(Session* session)
    : Mux(session),
      removeFillerData_(false),
      psiPending_(true),
      firstDts_(0),
      timestampOffset_(0),
      trickPlay_(false),
      patCounter_(0),
      pmtCounter_(0),
      videoCounter_(0),
      audioCounter_(0),
      pmtVersion_(0),
      mergeCount_(0) {
    // The ADTS header that a filter may put in front of a raw AAC frame.
    sampleHeadroom_ = 7;
}

Mpeg2TsMux::~Mpeg2TsMux() {}

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
    if (mergeAudio && mergeCount_ != 0) {
        stream->AddFilter(boost::make_shared<MergeSampleFilter>(stream, mergeCount_, 0));
    }
}

uint64_t Mpeg2TsMux::ToTicks(MediaTime microseconds) {
    return static_cast<uint64_t>(static_cast<double>(microseconds.Get() + 5) * 0.09);
}

void Mpeg2TsMux::DoProcessSample(Sample& sample) {
    const uint32_t type = sample.GetType();
    if (type != SampleMediaTypeAudio && type != SampleMediaTypeVideo) {
        return;
    }
    const uint64_t decodeTime = sample.GetDecodeTime();
    uint64_t dts = ToTicks(decodeTime) + timestampOffset_;
    uint64_t pts = ToTicks(decodeTime + sample.GetPresentationOffset().Get()) + timestampOffset_;
    if (psiPending_) {
        firstDts_ = static_cast<uint32_t>(static_cast<uint64_t>(decodeTime * 0.09));
        if (firstDts_ < kMinimumFirstDts && timestampOffset_ == 0) {
            // Only the first time: once set, the offset is already in the values above, and
            // adding it again would put this sample 0.2 s after the ones that follow.
            timestampOffset_ = kMinimumFirstDts;
            dts += kMinimumFirstDts;
            pts += kMinimumFirstDts;
        }
        BuildPsi();
        psiPending_ = false;
    }
    // 0.2 s ahead of the decode time; a sample timed before the clock's start (an audio
    // frame ahead of the first picture) gets the start rather than a wrapped value.
    const uint64_t pcr = dts * 300 >= kPcrLead ? dts * 300 - kPcrLead : 0;

    if (type == SampleMediaTypeVideo) {
        if (sample.IsKeyFrame()) {
            WriteSection(pat_, kPatPid, patCounter_, pcr);
            WriteSection(pmt_, kPmtPid, pmtCounter_, kNoPcr);
        }
        WritePackets(sample.GetPayload(), kVideoPid, videoCounter_, pcr, true, kVideoStreamId, pts,
                     dts);
    } else {
        const uint32_t format = sample.GetFormat();
        const uint8_t streamId = (format == SampleFormatEac3 || format == SampleFormatPesPrivate)
                                     ? kPrivateStream1
                                     : kAudioStreamId;
        WritePackets(sample.GetPayload(), kAudioPid, audioCounter_, kNoPcr, true, streamId, pts,
                     dts);
    }
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

    // An MPEG-4 initial object descriptor carrying the AAC AudioSpecificConfig, for players
    // that want the decoder configuration ahead of the first frame. A configuration too long
    // for the descriptors' one-byte lengths is left out, as a missing one is.
    std::vector<uint8_t> descriptor;
    const uint8_t* config = nullptr;
    uint32_t n = 0;
    if (audioFormat == SampleFormatAacAdts &&
        GetStreamInfo(StreamInfoKindAudioSpecificConfig, &config, &n) && config != nullptr &&
        n >= 2 && n <= 255 - 33) {
        const uint8_t head[] = {
            0x1D, static_cast<uint8_t>(n + 33),  // IOD_descriptor
            0x10,                                // Scope_of_IOD_label
            0x01,                                // IOD_label
            0x02, static_cast<uint8_t>(n + 29),  // InitialObjectDescriptor
            0x00, 0x4F,                          // ObjectDescriptorID 1, no URL, no inline PL
            0xFF, 0xFF,
            0xFE, 0xFE,
            0xFF,                                // OD, scene, audio, visual, graphics PL
            0x03, static_cast<uint8_t>(n + 20),  // ES_Descriptor
            0x00, 0x22,                          // ES_ID: the audio PID
            0x10,                                // no flags, streamPriority 16
            0x04, static_cast<uint8_t>(n + 15),  // DecoderConfigDescriptor
            0x40,                                // objectTypeIndication: ISO/IEC 14496-3 audio
            0x15,                                // streamType audio, upStream 0, reserved 1
            0xFF, 0xFF,
            0xFF,  // bufferSizeDB
            0xFF, 0xFF,
            0xFF, 0xFF,  // maxBitrate
            0xFF, 0xFF,
            0xFF, 0xFF,                     // avgBitrate
            0x05, static_cast<uint8_t>(n),  // DecoderSpecificInfo
        };
        descriptor.assign(head, head + sizeof head);
        descriptor.insert(descriptor.end(), config, config + n);
    }

    std::vector<uint8_t> pmt;
    pmt.push_back(0x00);  // pointer_field
    pmt.push_back(0x02);  // table_id: TS_program_map_section
    pmt.push_back(0xB0);  // section_length goes here once known
    pmt.push_back(0x00);
    AppendBigEndian16(pmt, 0x0001);  // program_number 1
    pmt.push_back(static_cast<uint8_t>(0xC1 | ((pmtVersion_ & 0x1F) << 1)));
    ++pmtVersion_;
    pmt.push_back(0x00);                         // section_number
    pmt.push_back(0x00);                         // last_section_number
    AppendBigEndian16(pmt, 0xE000 | kVideoPid);  // PCR_PID
    AppendBigEndian16(pmt, static_cast<uint16_t>(0xF000 | descriptor.size()));
    pmt.insert(pmt.end(), descriptor.begin(), descriptor.end());
    if (videoFormat == SampleFormatH264AnnexB) {
        pmt.push_back(0x1B);  // H.264
        AppendBigEndian16(pmt, 0xE000 | kVideoPid);
        AppendBigEndian16(pmt, 0xF000);
    }
    uint8_t audioType = 0;
    switch (audioFormat) {
        case SampleFormatAacAdts: audioType = 0x0F; break;
        case SampleFormatEac3: audioType = 0x87; break;
        case SampleFormatPesPrivate: audioType = 0x06; break;
        default: break;
    }
    if (audioType != 0) {
        pmt.push_back(audioType);
        AppendBigEndian16(pmt, 0xE000 | kAudioPid);
        AppendBigEndian16(pmt, 0xF000);
    }
    // section_length counts the bytes after it up to the end of the CRC: the 4 bytes of the
    // CRC still to come make up for pointer_field, table_id and the length field itself.
    SV::WriteBigEndian16(static_cast<uint16_t>(0xB000 | pmt.size()), &pmt[2]);
    AppendCrc(pmt);
    pmt_.swap(pmt);
}

void Mpeg2TsMux::WriteSection(const std::vector<uint8_t>& section, uint16_t pid, uint8_t& counter,
                              uint64_t pcr) {
    MemoryChunkList scratch(0, 0);
    scratch.Append(section.data(), static_cast<uint32_t>(section.size()));
    WritePackets(scratch, pid, counter, pcr, false, 0, 0, 0);
}

void Mpeg2TsMux::WritePackets(MemoryChunkList& payload, uint16_t pid, uint8_t& counter,
                              uint64_t pcr, bool pesHeader, uint8_t streamId, uint64_t pts,
                              uint64_t dts) {
    if (pid == kPatPid) {
        // A new group of pictures starts with this PAT; its time is the output clock's, in
        // microseconds.
        if (pcr != kNoPcr) {
            const int64_t microseconds = static_cast<int64_t>(pcr) / 27;
            DoSend(MemoryChunk(
                boost::make_shared<MemoryMarkerGopStart>(static_cast<uint64_t>(microseconds))));
        }
        pcr = kNoPcr;
    }
    uint32_t adaptation = pcr != kNoPcr ? 8 : 0;
    const uint32_t header = pesHeader ? (pts != dts ? 19 : 14) : 0;
    const uint64_t size = payload.Size();
    uint64_t packets = (adaptation + header + size + 183) / 184;
    if (packets == 0) {
        return;
    }
    MemoryChunkList::Cursor cursor(payload);
    uint64_t left = size;

    uint32_t inChunk = static_cast<uint32_t>(std::min<uint64_t>(packets, kMaxPacketsPerChunk));
    MemoryChunk chunk = CreateMemoryChunk(inChunk * kPacketSize, 0, 0);
    uint8_t* p = chunk.Data(0);
    uint32_t written = 0;

    // First packet: payload_unit_start_indicator, then the adaptation field and the PES header.
    p[0] = 0x47;
    SV::WriteBigEndian16(static_cast<uint16_t>(pid | 0x4000), p + 1);
    if (adaptation + header + size < 184) {
        adaptation = static_cast<uint32_t>(184 - (header + size));
    }
    p[3] = static_cast<uint8_t>((adaptation > 0 ? 0x30 : 0x10) | (counter & 0x0F));
    ++counter;
    uint8_t* q = p + 4;
    if (adaptation > 0) {
        q[0] = static_cast<uint8_t>(adaptation - 1);  // adaptation_field_length
        if (adaptation > 1) {
            uint32_t used = 2;
            if (pcr != kNoPcr) {
                q[1] = 0x10;  // PCR_flag
                PutPcr(q + 2, pcr);
                used += 6;
            } else {
                q[1] = 0x00;
            }
            std::memset(q + used, 0xFF, adaptation - used);
        }
        q += adaptation;
    }
    if (pesHeader) {
        q[0] = 0x00;
        q[1] = 0x00;
        q[2] = 0x01;
        q[3] = streamId;
        const uint64_t length = header + size - 6;
        SV::WriteBigEndian16(length <= 0xFFFF ? static_cast<uint16_t>(length) : 0, q + 4);
        q[6] = 0x83;  // '10', not scrambled, priority 0, no alignment, copyright, original
        if (pts == dts) {
            q[7] = 0x80;  // PTS only
            q[8] = 5;
            PutTimestamp(q + 9, 0x2, pts);
        } else {
            q[7] = 0xC0;  // PTS and DTS
            q[8] = 10;
            PutTimestamp(q + 9, 0x3, pts);
            PutTimestamp(q + 14, 0x1, dts);
        }
        q += header;
    }
    uint32_t room = static_cast<uint32_t>(p + kPacketSize - q);
    uint32_t take = static_cast<uint32_t>(std::min<uint64_t>(room, left));
    CopyPayload(cursor, q, take);
    left -= take;
    ++written;

    for (uint64_t packet = 1; packet < packets; ++packet) {
        if (written == inChunk) {
            DoSend(chunk);
            inChunk =
                static_cast<uint32_t>(std::min<uint64_t>(packets - packet, kMaxPacketsPerChunk));
            chunk = CreateMemoryChunk(inChunk * kPacketSize, 0, 0);
            written = 0;
        }
        p = chunk.Data(written * kPacketSize);
        p[0] = 0x47;
        SV::WriteBigEndian16(pid, p + 1);
        const uint32_t k = static_cast<uint32_t>(std::min<uint64_t>(left, 184));
        q = p + 4;
        if (k < 184) {
            p[3] = static_cast<uint8_t>(0x30 | (counter & 0x0F));
            const uint32_t length = 183 - k;
            q[0] = static_cast<uint8_t>(length);
            if (length > 0) {
                q[1] = 0x00;
                std::memset(q + 2, 0xFF, length - 1);
            }
            q += 1 + length;
        } else {
            p[3] = static_cast<uint8_t>(0x10 | (counter & 0x0F));
        }
        ++counter;
        CopyPayload(cursor, q, k);
        left -= k;
        ++written;
    }
    DoSend(chunk);
}

}  // namespace SarvelonMediaKit
