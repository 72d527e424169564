#include "engine/container/Mpeg2PsPsm.h"

#include <algorithm>
#include <cstring>

#include "SVLibrary/Util/ByteOrder.h"
#include "engine/codecs/ByteReader.h"
#include "engine/container/Mpeg2PsFormat.h"
#include "engine/core/Crc32.h"

namespace SarvelonMediaKit {

namespace {

// Descriptor tags of ISO/IEC 13818-1 (IOD_descriptor) and ISO/IEC 14496-1 (the rest).
const uint8_t kTagIodDescriptor = 0x1D;
const uint8_t kTagInitialObjectDescriptor = 0x02;
const uint8_t kTagEsDescriptor = 0x03;
const uint8_t kTagDecoderConfigDescriptor = 0x04;
const uint8_t kTagDecoderSpecificInfo = 0x05;

// An MPEG-4 descriptor length (ISO/IEC 14496-1 expandable size, at most four bytes). False when
// the bytes run out or a fourth byte still says more follow.
bool ReadDescriptorLength(ByteReader& reader, uint32_t& length) {
    length = 0;
    for (int i = 0; i < 4; ++i) {
        const uint8_t b = reader.U8();
        if (reader.Failed()) {
            return false;
        }
        length = (length << 7) | (b & 0x7F);
        if ((b & 0x80) == 0) {
            return true;
        }
    }
    return false;
}

// A descriptor's tag and length; body reads its bytes. False when the tag differs, the length
// does not read or the body runs past the reader's bytes.
bool ReadDescriptor(ByteReader& reader, uint8_t tag, ByteReader& body) {
    uint32_t length = 0;
    const uint8_t found = reader.U8();
    if (reader.Failed() || found != tag || !ReadDescriptorLength(reader, length)) {
        return false;
    }
    body = reader.Sub(length);
    return !body.Failed();
}

// The ES_Descriptor of the stream esId among the descriptors after the fixed fields of an
// InitialObjectDescriptor. A descriptor whose length does not read or fit ends the search.
bool FindInObjectDescriptor(ByteReader& od, uint8_t esId, const uint8_t*& es, uint32_t& size) {
    while (od.Left() > 0) {
        const uint8_t* const start = od.Current();
        const uint8_t tag = od.U8();
        uint32_t length = 0;
        if (!ReadDescriptorLength(od, length)) {
            return false;
        }
        ByteReader body = od.Sub(length);
        if (body.Failed()) {
            return false;
        }
        if (tag == kTagEsDescriptor && length >= 2 && body.U16() == esId) {
            es = start;
            size = static_cast<uint32_t>(od.Current() - start);
            return true;
        }
    }
    return false;
}

}  // namespace

Mpeg2PsPsm::Mpeg2PsPsm() : currentNextIndicator_(1), version_(0) {}

Mpeg2PsResult Mpeg2PsPsm::Read(const uint8_t* payload, uint32_t size) {
    ByteReader reader(payload, size);
    const uint8_t flags = reader.U8();  // current_next_indicator, reserved, version
    reader.Skip(1);                     // reserved, marker_bit
    const uint16_t infoLength = reader.U16();
    const uint8_t* info = reader.Bytes(infoLength);
    const uint16_t mapLength = reader.U16();
    ByteReader map = reader.Sub(mapLength);
    reader.Skip(4);  // CRC_32
    if (reader.Failed()) {
        return Mpeg2PsResult::BadStreamMap;
    }

    std::vector<EsMapEntry> entries;
    while (map.Left() > 0) {
        // stream_type, elementary_stream_id, elementary_stream_info_length, descriptors: an
        // entry whose fields or descriptors run past the map's end makes the map unusable.
        EsMapEntry entry;
        entry.stream_type = map.U8();
        entry.elementary_stream_id = map.U8();
        const uint16_t descriptorLength = map.U16();
        const uint8_t* descriptors = map.Bytes(descriptorLength);
        if (map.Failed()) {
            return Mpeg2PsResult::BadStreamMap;
        }
        entry.descriptors.assign(descriptors, descriptors + descriptorLength);
        entries.push_back(std::move(entry));
    }

    currentNextIndicator_ = flags >> 7;
    version_ = flags & 0x1F;
    programStreamInfo_.assign(info, info + infoLength);
    elementaryStreams_ = std::move(entries);
    return Mpeg2PsResult::Ok;
}

void Mpeg2PsPsm::AddProgramStreamInfo(const uint8_t* bytes, uint16_t length) {
    programStreamInfo_.insert(programStreamInfo_.end(), bytes, bytes + length);
}

void Mpeg2PsPsm::AddEsInfo(uint8_t elementaryStreamId, uint8_t streamType) {
    EsMapEntry entry;
    entry.elementary_stream_id = elementaryStreamId;
    entry.stream_type = streamType;
    elementaryStreams_.push_back(entry);
}

void Mpeg2PsPsm::AddEsDescriptor(uint8_t elementaryStreamId, const uint8_t* bytes,
                                 uint16_t length) {
    for (EsMapEntry& entry : elementaryStreams_) {
        if (entry.elementary_stream_id == elementaryStreamId) {
            entry.descriptors.insert(entry.descriptors.end(), bytes, bytes + length);
            return;
        }
    }
}

void Mpeg2PsPsm::FindPlayedStreams(uint8_t& audioId, uint8_t& audioType, uint8_t& videoId) const {
    namespace F = Mpeg2PsFormat;
    for (const EsMapEntry& entry : elementaryStreams_) {
        const uint8_t id = entry.elementary_stream_id;
        if ((id & 0xE0) == 0xC0) {
            audioId = id;
            audioType = entry.stream_type;
        } else if ((id & 0xF0) == 0xE0) {
            videoId = id;
        } else if (id == F::kStreamIdPrivateStream1 &&
                   (entry.stream_type == F::kStreamTypeEac3 ||
                    entry.stream_type == F::kStreamTypePrivateData)) {
            audioId = id;
            audioType = entry.stream_type;
        }
    }
}

uint32_t Mpeg2PsPsm::GetSize() const {
    uint64_t size = Mpeg2PsFormat::kProgramStreamMapFixedSize + programStreamInfo_.size();
    for (const EsMapEntry& entry : elementaryStreams_) size += 4 + entry.descriptors.size();
    return size > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(size);
}

uint32_t Mpeg2PsPsm::Write(uint8_t* out, uint32_t capacity) const {
    const uint32_t size = GetSize();
    if (size > capacity) return 0;
    // Descriptors are appended in pieces, so a length can outgrow its 16-bit field; such a map
    // is refused rather than written with lengths that do not match its bytes.
    if (size - 6 > 0xFFFF) return 0;
    const uint32_t infoLength = static_cast<uint32_t>(programStreamInfo_.size());

    out[0] = 0x00;  // packet_start_code_prefix
    out[1] = 0x00;
    out[2] = 0x01;
    out[3] = Mpeg2PsFormat::kStreamIdProgramStreamMap;  // map_stream_id 0xBC
    SV::WriteBigEndian16(size - 6, out + 4);            // program_stream_map_length
    out[6] = static_cast<uint8_t>((currentNextIndicator_ ? 0x80 : 0) | 0x60 |
                                  (version_ & 0x1F));  // current_next, reserved, version
    out[7] = 0xFF;                                     // reserved, marker_bit
    SV::WriteBigEndian16(infoLength, out + 8);         // program_stream_info_length
    uint32_t p = 10;
    if (infoLength) std::memcpy(out + p, programStreamInfo_.data(), infoLength);
    p += infoLength;
    SV::WriteBigEndian16(size - 16 - infoLength, out + p);  // elementary_stream_map_length
    p += 2;
    for (const EsMapEntry& entry : elementaryStreams_) {
        const uint32_t length = static_cast<uint32_t>(entry.descriptors.size());
        out[p] = entry.stream_type;
        out[p + 1] = entry.elementary_stream_id;
        SV::WriteBigEndian16(length, out + p + 2);  // elementary_stream_info_length
        if (length) std::memcpy(out + p + 4, entry.descriptors.data(), length);
        p += 4 + length;
    }
    SV::WriteBigEndian32(Crc32(out, p), out + p);  // CRC_32 over everything before it
    return p + 4;
}

bool Mpeg2PsPsm::FindEsDescriptor(uint8_t esId, const uint8_t*& es, uint32_t& size) const {
    ByteReader info(programStreamInfo_.data(), programStreamInfo_.size());
    while (info.Left() >= 2) {
        const uint8_t tag = info.U8();
        const uint8_t length = info.U8();
        ByteReader body = info.Sub(length);
        if (body.Failed()) {
            return false;  // a descriptor longer than the info ends the search
        }
        // IOD_descriptor: Scope_of_IOD_label, IOD_label, then the InitialObjectDescriptor.
        if (tag != kTagIodDescriptor || length < 16) {
            continue;
        }
        body.Skip(2);
        if (body.U8() != kTagInitialObjectDescriptor) {
            continue;
        }
        uint32_t odLength = 0;
        if (!ReadDescriptorLength(body, odLength)) {
            continue;
        }
        // An object descriptor longer than its IOD_descriptor is cut to it.
        ByteReader od = body.Sub(std::min<size_t>(odLength, body.Left()));
        od.Skip(1);  // ObjectDescriptorID (high bits)
        const uint8_t flags = od.U8();
        if (flags & 0x20) {  // URL_Flag: URLlength and URLstring
            od.Skip(od.U8());
        }
        od.Skip(5);  // the profile and level indications
        if (od.Failed()) {
            continue;
        }
        if (FindInObjectDescriptor(od, esId, es, size)) {
            return true;
        }
    }
    return false;
}

bool Mpeg2PsPsm::ReadDecoderSpecificInfo(const uint8_t* es, uint32_t size, uint8_t esId,
                                         std::vector<uint8_t>& info) {
    // ES_Descriptor (ISO/IEC 14496-1, 7.2.6.5).
    ByteReader reader(es, size);
    ByteReader descriptor(nullptr, 0);
    if (!ReadDescriptor(reader, kTagEsDescriptor, descriptor)) {
        return false;
    }
    const uint16_t id = descriptor.U16();
    const uint8_t flags = descriptor.U8();
    if (descriptor.Failed() || id != esId) {
        return false;
    }
    if (flags & 0x80) {  // streamDependenceFlag: dependsOn_ES_ID
        descriptor.Skip(2);
    }
    if (flags & 0x40) {  // URL_Flag: URLlength and URLstring
        descriptor.Skip(descriptor.U8());
    }
    if (flags & 0x20) {  // OCRstreamFlag: OCR_ES_Id
        descriptor.Skip(2);
    }
    // DecoderConfigDescriptor: 13 bytes of fixed fields, then the DecoderSpecificInfo.
    ByteReader config(nullptr, 0);
    if (!ReadDescriptor(descriptor, kTagDecoderConfigDescriptor, config) || !config.Skip(13)) {
        return false;
    }
    ByteReader specific(nullptr, 0);
    if (!ReadDescriptor(config, kTagDecoderSpecificInfo, specific)) {
        return false;
    }
    const size_t length = specific.Left();
    const uint8_t* bytes = specific.Bytes(length);
    info.assign(bytes, bytes + length);
    return true;
}

}  // namespace SarvelonMediaKit
