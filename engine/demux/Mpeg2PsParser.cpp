#include "engine/demux/Mpeg2PsParser.h"

#include <algorithm>
#include <cstring>

#include "SVLibrary/Output/DebugPrint.h"
#include "engine/codecs/MediaTiming.h"
#include "engine/container/Mpeg2PsFormat.h"
#include "engine/container/TrackInfoKeys.h"
#include "engine/samples/SampleFormat.h"

namespace SarvelonMediaKit {

namespace F = Mpeg2PsFormat;

namespace {

// The machine's states.
enum State : uint32_t {
    kZero1 = 0,
    kZero2 = 1,
    kOne = 2,
    kStartCodeId = 3,
    kPack4 = 4,
    kPack5,
    kPack6,
    kPack7,
    kPack8,
    kPack9,
    kMux10,
    kMux11,
    kMux12,
    kStuffingLength,
    kStuffing = 14,
    kSystemLengthHigh = 15,
    kSystemLengthLow = 16,
    kSystemBody = 17,
    kPesStreamId = 18,
    kPesLengthHigh = 19,
    kPesLengthLow = 20,
    kPesFlags1 = 21,
    kPesFlags2 = 22,
    kPesHeaderLength = 23,
    kPts0 = 24,
    kPts4 = 28,
    kDts0 = 29,
    kDts4 = 33,
    kPesHeaderRest = 34,
    kPayloadDispatch = 35,
    kPayloadMedia = 36,
    kPayloadStreamMap = 37,
    kPayloadEcm = 38,
    kPayloadPrivate2 = 39,
    kPayloadPadding = 40,
    kProgramEnd = 41,
};

}  // namespace

Mpeg2PsParser::Mpeg2PsParser(Mpeg2PsParserListener& listener, bool demultiplexing)
    : listener_(listener),
      demultiplexing_(demultiplexing),
      insertStreamMap_(!demultiplexing),
      samples_(listener, [this](Sample& sample) { return SampleFinished(sample); }),
      header_(listener),
      trickPlay_(listener, *this, demultiplexing) {}

Mpeg2PsParser::~Mpeg2PsParser() {}

// ---------------------------------------------------------------------------------------------
// Main loop

Mpeg2PsResult Mpeg2PsParser::Parse(MemoryChunk chunk, bool resume) {
    chunk_ = chunk;
    data_ = chunk.Size() != 0 ? chunk.Data(0) : nullptr;
    size_ = chunk.Size();
    // The whole chunk counts, however much of it is parsed: a stop leaves the rest unread.
    chunkStart_ = streamPosition_;
    streamPosition_ += chunk.Size();
    inserted_ = 0;
    Pack0Map* const pack0Map = header_.GetPack0Map();
    pack0Before_ = pack0Map ? pack0Map->bytes.Size() : 0;
    // The pack-0 map only needs the bytes up to the first media packet.
    const bool keepForPack0 = pack0Map && !header_.IsIndexComplete();

    uint32_t pos = 0;
    if (resume) {
        pos = std::min(resumeOffset_, size_);
        resumeOffset_ = 0;
    }
    while (pos < size_) {
        const Mpeg2PsResult result = Step(pos);
        if (result != Mpeg2PsResult::Ok) {
            chunk_ = MemoryChunk();
            data_ = nullptr;
            return result;
        }
    }

    if (keepForPack0) {
        pack0Map->bytes.Append(chunk_);
    }
    Mpeg2PsResult result = Mpeg2PsResult::Ok;
    if (!demultiplexing_ && !IsTrickPlay() && size_ != 0) {
        result = listener_.OnOutputChunk(chunk_);
    }
    chunk_ = MemoryChunk();
    data_ = nullptr;
    return result;
}

uint32_t Mpeg2PsParser::Position(uint32_t offsetInChunk) const {
    return pack0Before_ + offsetInChunk;
}

SampleMediaType Mpeg2PsParser::MediaTypeOf(uint8_t streamId) const {
    if (streamId == audioStreamId_) {
        return SampleMediaTypeAudio;
    }
    if (streamId == videoStreamId_) {
        return SampleMediaTypeVideo;
    }
    return SampleMediaTypeNone;
}

bool Mpeg2PsParser::InIdSetA(uint8_t id) const {
    return id == F::kStreamIdProgramStreamMap || id == F::kStreamIdPadding ||
           id == F::kStreamIdPrivateStream2 || id == F::kStreamIdEcm || id == F::kStreamIdMetadata;
}

Mpeg2PsResult Mpeg2PsParser::LoseSync(uint32_t pos, uint64_t stretchStart) {
    if (!resyncing_) {
        const Mpeg2PsResult result = AskToResync(pos);
        if (result != Mpeg2PsResult::Ok) {
            return result;
        }
        resyncing_ = true;
        damageStart_ = stretchStart;
    }
    return Mpeg2PsResult::Ok;
}

void Mpeg2PsParser::SyncFound() {
    resyncing_ = false;
    // Extra zeros before the 00 00 01 are allowed stuffing, not damage.
    TellSkipped(prefixStart_);
}

void Mpeg2PsParser::TellSkipped(uint64_t end) {
    if (end > damageStart_) {
        listener_.OnDataSkipped(damageStart_, end - damageStart_);
    }
    damageStart_ = end;
}

void Mpeg2PsParser::SetStreamPosition(uint64_t position) {
    streamPosition_ = position;
    if (resyncing_) {
        damageStart_ = position;
    }
}

void Mpeg2PsParser::EndOfData() {
    if (resyncing_) {
        TellSkipped(streamPosition_);
    }
}

Mpeg2PsResult Mpeg2PsParser::Step(uint32_t& pos) {
    const uint8_t b = data_[pos];
    const uint32_t left = size_ - pos;
    Mpeg2PsResult result = Mpeg2PsResult::Ok;

    switch (state_) {
        // ---- Start-code prefix 00 00 01 (more zeros allowed) ----
        case kZero1:
            if (b == 0x00) {
                prefixStart_ = StreamPosition(pos);
                state_ = kZero2;
            } else if ((result = LoseSync(pos, StreamPosition(pos))) != Mpeg2PsResult::Ok) {
                return result;
            }
            ++pos;
            return Mpeg2PsResult::Ok;
        case kZero2:
            if (b == 0x00) {
                state_ = kOne;
            } else {
                if ((result = LoseSync(pos, prefixStart_)) != Mpeg2PsResult::Ok) {
                    return result;
                }
                state_ = kZero1;
            }
            ++pos;
            return Mpeg2PsResult::Ok;
        case kOne:
            if (b == 0x01) {
                state_ = kStartCodeId;
            } else if (b != 0x00) {
                if ((result = LoseSync(pos, prefixStart_)) != Mpeg2PsResult::Ok) {
                    return result;
                }
                state_ = kZero1;
            }
            ++pos;
            return Mpeg2PsResult::Ok;
        case kStartCodeId: return StartCode(pos);

        // ---- Pack header (ISO/IEC 13818-1, 2.5.3.3); markers are not checked ----
        case kPack4: scrBase_ = (uint64_t((b >> 3) & 7) << 30) | (uint64_t(b & 3) << 28); break;
        case kPack5: scrBase_ |= uint64_t(b) << 20; break;
        case kPack6: scrBase_ |= (uint64_t(b >> 3) << 15) | (uint64_t(b & 3) << 13); break;
        case kPack7: scrBase_ |= uint64_t(b) << 5; break;
        case kPack8:
            scrBase_ |= uint64_t(b >> 3);
            scrExtension_ = static_cast<uint16_t>((b & 3) << 7);
            break;
        case kPack9:
            scrExtension_ = static_cast<uint16_t>(scrExtension_ | (b >> 1));
            scr_ = TicksToClock(scrBase_) + scrExtension_;
            break;
        case kMux10:
        case kMux11:
        case kMux12: break;
        case kStuffingLength:
            counter_ = b & 7;
            ++pos;
            state_ = kStuffing;
            return counter_ == 0 ? PackStuffingDone(pos) : Mpeg2PsResult::Ok;
        case kStuffing: {
            const uint32_t n = std::min(left, counter_);
            pos += n;
            counter_ -= n;
            return counter_ == 0 ? PackStuffingDone(pos) : Mpeg2PsResult::Ok;
        }

        // ---- System header: kept whole, start code included ----
        case kSystemLengthHigh:
            counter_ = uint32_t(b) << 8;
            systemHeader_.push_back(b);
            break;
        case kSystemLengthLow:
            counter_ |= b;
            systemHeader_.push_back(b);
            systemHeader_.reserve(systemHeader_.size() + counter_);
            ++pos;
            state_ = counter_ == 0 ? kZero1 : kSystemBody;
            return Mpeg2PsResult::Ok;
        case kSystemBody: {
            const uint32_t n = std::min(left, counter_);
            systemHeader_.insert(systemHeader_.end(), data_ + pos, data_ + pos + n);
            pos += n;
            counter_ -= n;
            if (counter_ == 0) {
                state_ = kZero1;
            }
            return Mpeg2PsResult::Ok;
        }

        // ---- PES header ----
        case kPesStreamId:
            streamId_ = b;
            ++pos;
            state_ = kPesLengthHigh;
            return PesStreamId(pos - 1);
        case kPesLengthHigh: packetLeft_ = static_cast<uint16_t>(b << 8); break;
        case kPesLengthLow:
            packetLeft_ = static_cast<uint16_t>(packetLeft_ | b);
            ++pos;
            if (!F::HasOptionalPesHeader(streamId_)) {
                flags1_ = 0;
                flags2_ = 0;
                headerLeft_ = 0;
                return PesHeaderDone(pos);
            }
            state_ = kPesFlags1;
            return Mpeg2PsResult::Ok;
        case kPesFlags1:
        case kPesFlags2:
        case kPesHeaderLength:
            if (packetLeft_ != 0) {
                --packetLeft_;
            }
            ++pos;
            if (state_ == kPesFlags1) {
                flags1_ = b;
                state_ = kPesFlags2;
                return Mpeg2PsResult::Ok;
            }
            if (state_ == kPesFlags2) {
                flags2_ = b;
                state_ = kPesHeaderLength;
                return Mpeg2PsResult::Ok;
            }
            headerLeft_ = b;
            if (flags2_ & 0x80) {
                state_ = kPts0;
                return Mpeg2PsResult::Ok;
            }
            state_ = kPesHeaderRest;
            return headerLeft_ == 0 ? PesHeaderDone(pos) : Mpeg2PsResult::Ok;
        case kPts0:
        case kDts0:
            // Bits 32-30 sit in bits 3-1; the marker bits are shifted out.
            timestamp_ = b & 0x0E;
            break;
        case kPts0 + 1:
        case kPts0 + 2:
        case kPts0 + 3:
        case kPts4:
        case kDts0 + 1:
        case kDts0 + 2:
        case kDts0 + 3:
        case kDts4: {
            const uint32_t index = state_ < kDts0 ? state_ - kPts0 : state_ - kDts0;
            if (index == 1) {
                timestamp_ = (timestamp_ << 7) | b;
            } else if (index == 2) {
                timestamp_ = (timestamp_ << 7) | (b >> 1);
            } else if (index == 3) {
                timestamp_ = (timestamp_ << 8) | b;
            } else {
                timestamp_ = (timestamp_ << 7) | (b >> 1);
            }
            break;
        }
        case kPesHeaderRest: {
            const uint32_t n = std::min<uint32_t>(left, headerLeft_);
            pos += n;
            headerLeft_ = static_cast<uint8_t>(headerLeft_ - n);
            packetLeft_ = static_cast<uint16_t>(packetLeft_ > n ? packetLeft_ - n : 0);
            return headerLeft_ == 0 ? PesHeaderDone(pos) : Mpeg2PsResult::Ok;
        }

        // ---- Payloads ----
        case kPayloadMedia:
        case kPayloadStreamMap:
        case kPayloadEcm:
        case kPayloadPrivate2:
        case kPayloadPadding: {
            const uint32_t n = std::min<uint32_t>(left, packetLeft_);
            const uint8_t* bytes = data_ + pos;
            pos += n;
            packetLeft_ = static_cast<uint16_t>(packetLeft_ - n);
            if (packetLeft_ == 0) {
                state_ =
                    kZero1;  // before the handlers, so a stop leaves the machine between packets
            }
            if ((result = PayloadBytes(bytes, n)) != Mpeg2PsResult::Ok) {
                return result;
            }
            return packetLeft_ == 0 ? PayloadDone(pos) : Mpeg2PsResult::Ok;
        }

        case kProgramEnd: return ProgramEnd(pos);

        default:
            // No such state: take the byte and do nothing.
            ++pos;
            return Mpeg2PsResult::Ok;
    }

    // The one-byte header states that only store their byte.
    ++pos;
    if (state_ >= kPts0 && state_ <= kDts4) {
        headerLeft_ = static_cast<uint8_t>(headerLeft_ != 0 ? headerLeft_ - 1 : 0);
        if (packetLeft_ != 0) {
            --packetLeft_;
        }
        if (state_ == kPts4) {
            pts_ = timestamp_;
            if (flags2_ & 0x40) {
                state_ = kDts0;
                return Mpeg2PsResult::Ok;
            }
            dts_ = pts_;
            TimestampRead(false);
            state_ = kPesHeaderRest;
            return headerLeft_ == 0 ? PesHeaderDone(pos) : Mpeg2PsResult::Ok;
        }
        if (state_ == kDts4) {
            dts_ = timestamp_;
            TimestampRead(true);
            state_ = kPesHeaderRest;
            return headerLeft_ == 0 ? PesHeaderDone(pos) : Mpeg2PsResult::Ok;
        }
    }
    ++state_;
    return Mpeg2PsResult::Ok;
}

void Mpeg2PsParser::TimestampRead(bool hasDts) {
    if (IsTrickPlay()) {
        return;
    }
    const SampleMediaType kind = MediaTypeOf(streamId_);
    const uint32_t timestamp = static_cast<uint32_t>(hasDts ? dts_ : pts_);
    const uint32_t scrBase =
        (kind == SampleMediaTypeNone && hasDts) ? 0 : static_cast<uint32_t>(scrBase_);
    listener_.OnTimestamp(kind, timestamp, scrBase);
}

// ---------------------------------------------------------------------------------------------
// Start codes, packs, program end

Mpeg2PsResult Mpeg2PsParser::StartCode(uint32_t& pos) {
    const uint8_t id = data_[pos];
    Mpeg2PsResult result = Mpeg2PsResult::Ok;

    if (id == F::kStartCodeProgramEnd || id == F::kStartCodeSystemHeader) {
        if (resyncing_) {
            DebugPrint(id == F::kStartCodeProgramEnd
                           ? "Mpeg2PsParser::Parse: found sync point at program end\n"
                           : "Mpeg2PsParser::Parse: found sync point at system header\n");
            SyncFound();
            samples_.StopCopying();
            awaitingFirstPack_ = false;
        }
        if (awaitingFirstPack_ && (result = AskToResync(pos)) != Mpeg2PsResult::Ok) {
            return result;
        }
        if (id == F::kStartCodeProgramEnd) {
            state_ = kProgramEnd;  // the end code byte is taken there
            return Mpeg2PsResult::Ok;
        }
        systemHeader_.assign({0x00, 0x00, 0x01, F::kStartCodeSystemHeader});
        ++pos;
        state_ = kSystemLengthHigh;
        return Mpeg2PsResult::Ok;
    }

    if (id == F::kStartCodePack) {
        if (resyncing_) {
            DebugPrint("Mpeg2PsParser::Parse: found sync point at pack header\n");
            SyncFound();
        }
        samples_.StopCopying();
        if (awaitingFirstPack_ && header_.GetPack0Map()) {
            const uint32_t position = Position(pos);
            header_.GetPack0Map()->packStart = position >= 3 ? position - 3 : 0;
        }
        awaitingFirstPack_ = false;
        ++pos;
        state_ = kPack4;
        return Mpeg2PsResult::Ok;
    }

    if (id < F::kStartCodeProgramEnd) {
        // No packet starts with a code below the program end (a picture's start codes inside
        // a payload do): the bytes from this prefix on are damaged. The id byte is looked at
        // again as a possible first zero.
        state_ = kZero1;
        return LoseSync(pos, prefixStart_);
    }

    // A PES packet.
    if (resyncing_) {
        // The streams the owner named count as the map's do: a title without a map would
        // otherwise skip whole groups of pictures to the next pack.
        bool known = InIdSetA(id) || id == audioStreamId_ || id == videoStreamId_;
        for (const Mpeg2PsPsm::EsMapEntry& entry : streamMap_.GetEsMap()) {
            known = known || entry.elementary_stream_id == id;
        }
        if (!known) {
            // Look at the id byte again as a possible first zero.
            state_ = kZero1;
            return Mpeg2PsResult::Ok;
        }
        DebugPrint("Mpeg2PsParser::Parse: found sync point at PES header with stream id 0x%02x\n",
                   id);
        SyncFound();
        samples_.StopCopying();
        awaitingFirstPack_ = false;
    }
    if (awaitingFirstPack_ && (result = AskToResync(pos)) != Mpeg2PsResult::Ok) {
        return result;
    }
    state_ = kPesStreamId;
    return Mpeg2PsResult::Ok;
}

Mpeg2PsResult Mpeg2PsParser::PackStuffingDone(uint32_t& pos) {
    state_ = kZero1;
    if (insertStreamMap_ && !IsTrickPlay()) {
        // Only the first pack after a Reset decides: one that starts the file (SCR 0) is
        // followed by the title's own system header and map.
        if (scr_ != 0) {
            InsertStreamMap(pos);
        }
        insertStreamMap_ = false;
    }
    return Mpeg2PsResult::Ok;
}

void Mpeg2PsParser::InsertStreamMap(uint32_t& pos) {
    // The stream's own map, as version 0.
    Mpeg2PsPsm psm;
    const std::vector<uint8_t>& info = streamMap_.GetProgramStreamInfo();
    if (!info.empty()) {
        psm.AddProgramStreamInfo(info.data(), static_cast<uint16_t>(info.size()));
    }
    for (const Mpeg2PsPsm::EsMapEntry& entry : streamMap_.GetEsMap()) {
        psm.AddEsInfo(entry.elementary_stream_id, entry.stream_type);
        if (!entry.descriptors.empty()) {
            psm.AddEsDescriptor(entry.elementary_stream_id, entry.descriptors.data(),
                                static_cast<uint16_t>(entry.descriptors.size()));
        }
    }
    std::vector<uint8_t> map(psm.GetSize());
    map.resize(psm.Write(map.data(), static_cast<uint32_t>(map.size())));
    const uint32_t n = static_cast<uint32_t>(systemHeader_.size() + map.size());
    if (n == 0) {
        return;
    }
    // The caller's chunk may be shared further down the chain: the grown one is our own copy.
    MemoryChunk grown(size_ + n, 0, 0);
    uint8_t* out = grown.Data(0);
    std::memcpy(out, data_, pos);
    if (!systemHeader_.empty()) {
        std::memcpy(out + pos, systemHeader_.data(), systemHeader_.size());
    }
    if (!map.empty()) {
        std::memcpy(out + pos + systemHeader_.size(), map.data(), map.size());
    }
    std::memcpy(out + pos + n, data_ + pos, size_ - pos);
    chunk_ = grown;
    data_ = out;
    size_ += n;
    inserted_ += n;
    pos += n;  // the inserted bytes are not parsed
}

Mpeg2PsResult Mpeg2PsParser::ProgramEnd(uint32_t& pos) {
    state_ = kZero1;
    Mpeg2PsResult result = Mpeg2PsResult::Ok;
    if (!header_.IsIndexComplete() && (result = header_.Complete()) != Mpeg2PsResult::Ok) {
        return result;
    }

    if (!demultiplexing_ && !IsTrickPlay()) {
        if (!listener_.StopAtProgramEnd()) {
            ++pos;
            return Mpeg2PsResult::Ok;
        }
        // Hand on everything up to the end code; what follows it is neither parsed nor
        // passed on. The cut is a copy, so the caller's chunk keeps its length.
        result = listener_.OnOutputChunk(MemoryChunk::CopyOf(data_, pos + 1));
        return result != Mpeg2PsResult::Ok ? result : Mpeg2PsResult::ProgramEnd;
    }

    if (IsTrickPlay()) {
        const uint64_t step = Mpeg2PsTrickPlayWriter::FrameStepTicks(selectedTrack_);
        pts_ = (pts_ + step) & kTimestampMask;
        scr_ += TicksToClock(step);
        dts_ = pts_;
    }
    if ((result = samples_.Finish()) != Mpeg2PsResult::Ok) {
        return result;
    }
    if (!demultiplexing_) {
        const uint8_t endCode[4] = {0x00, 0x00, 0x01, F::kStartCodeProgramEnd};
        if ((result = listener_.OnOutputChunk(MemoryChunk::CopyOf(endCode, 4))) !=
            Mpeg2PsResult::Ok) {
            return result;
        }
    }
    if (listener_.StopAtProgramEnd()) {
        return Mpeg2PsResult::ProgramEnd;
    }
    ++pos;
    return Mpeg2PsResult::Ok;
}

void Mpeg2PsParser::Reset(bool synced) {
    if (resyncing_) {
        // The stretch ends here: what comes next lies elsewhere in the title.
        TellSkipped(streamPosition_);
    }
    state_ = kZero1;
    awaitingFirstPack_ = !synced;
    insertStreamMap_ = !demultiplexing_;
    trickPlay_.Reset();
    samples_.Reset();
    header_.Reset();
    psmCollector_.clear();
    listener_.OnReset();
    pts_ = 0;
    dts_ = 0;
}

// ---------------------------------------------------------------------------------------------
// PES packets and payloads

Mpeg2PsResult Mpeg2PsParser::PesStreamId(uint32_t idOffset) {
    const uint8_t id = streamId_;
    const uint32_t idPosition = Position(idOffset);
    const uint32_t start = idPosition >= 3 ? idPosition - 3 : 0;
    if (!InIdSetA(id)) {
        return header_.MediaPacketStarts(start);
    }
    if (id == F::kStreamIdPrivateStream2 || id == F::kStreamIdMetadata) {
        header_.HeaderPacketStarts(id == F::kStreamIdMetadata, start);
    }
    return Mpeg2PsResult::Ok;
}

Mpeg2PsResult Mpeg2PsParser::PesHeaderDone(uint32_t pos) {
    switch (streamId_) {
        case F::kStreamIdProgramStreamMap:
            psmCollector_.clear();
            state_ = kPayloadStreamMap;
            break;
        case F::kStreamIdPadding: state_ = kPayloadPadding; break;
        case F::kStreamIdPrivateStream2:
            // Not emptied: an index entry may span packets.
            state_ = kPayloadPrivate2;
            break;
        case F::kStreamIdEcm: state_ = kPayloadEcm; break;
        case F::kStreamIdMetadata:
            header_.StartMetadataPacket((flags1_ & 0x04) != 0);
            state_ = kPayloadMedia;
            break;
        default:
            state_ = kPayloadMedia;
            if (demultiplexing_ || IsTrickPlay()) {
                const Mpeg2PsResult result = AddPesPayloadToSample();
                if (result != Mpeg2PsResult::Ok) {
                    return result;
                }
            }
            break;
    }
    if (packetLeft_ == 0) {
        state_ = kZero1;
        return PayloadDone(pos);
    }
    return Mpeg2PsResult::Ok;
}

Mpeg2PsResult Mpeg2PsParser::PayloadBytes(const uint8_t* bytes, uint32_t n) {
    switch (streamId_) {
        case F::kStreamIdProgramStreamMap:
            psmCollector_.insert(psmCollector_.end(), bytes, bytes + n);
            return Mpeg2PsResult::Ok;
        case F::kStreamIdPrivateStream2: return header_.AddIndexBytes(bytes, n);
        case F::kStreamIdEcm:
        case F::kStreamIdPadding: return Mpeg2PsResult::Ok;
        case F::kStreamIdMetadata: return header_.AddMetadataBytes(bytes, n);
        default: samples_.Add(&chunk_, bytes, n); return Mpeg2PsResult::Ok;
    }
}

Mpeg2PsResult Mpeg2PsParser::PayloadDone(uint32_t pos) {
    Mpeg2PsResult result = Mpeg2PsResult::Ok;
    switch (streamId_) {
        case F::kStreamIdProgramStreamMap:
            // Only the first map of a stream is read; later ones are collected and dropped.
            if (!psmCollector_.empty() && streamMap_.GetEsMap().empty()) {
                result = ReadStreamMap();
            }
            psmCollector_.clear();
            return result;
        case F::kStreamIdPrivateStream2:
            return header_.IndexPacketDone(streamMap_.GetEsMap(), Position(pos));
        case F::kStreamIdMetadata: return header_.MetadataPacketDone(Position(pos));
        default: return Mpeg2PsResult::Ok;
    }
}

// ---------------------------------------------------------------------------------------------
// Samples and trick play

Mpeg2PsResult Mpeg2PsParser::AddPesPayloadToSample() {
    if (IsTrickPlay()) {
        if ((streamId_ & 0xF0) != 0xE0) {
            samples_.StopCopying();
            return Mpeg2PsResult::Ok;
        }
        if (!trickPlay_.IsStarted()) {
            return StartTrickPlay();
        }
    }
    return samples_.PacketStarts(CurrentPacket());
}

Mpeg2PsResult Mpeg2PsParser::FlushPendingSample() {
    if (!IsTrickPlay()) {
        return AddPesPayloadToSample();
    }
    closingLastPicture_ = true;
    const Mpeg2PsResult result = samples_.Finish();
    closingLastPicture_ = false;
    return result;
}

Mpeg2PsSampleAssembler::Packet Mpeg2PsParser::CurrentPacket() const {
    Mpeg2PsSampleAssembler::Packet packet;
    packet.streamId = streamId_;
    packet.payloadLength = packetLeft_;
    packet.flags1 = flags1_;
    packet.flags2 = flags2_;
    packet.pts = pts_;
    packet.dts = dts_;
    packet.scr = scr_;
    packet.type = MediaTypeOf(streamId_);
    if (selectedTrack_) {
        const double seconds = selectedTrack_->GetTimingOffset();
        if (seconds > 0 && seconds < 1.0e12) {
            packet.timingOffset =
                static_cast<uint64_t>(seconds * static_cast<double>(kMicrosecondsPerSecond));
        }
    }
    return packet;
}

Mpeg2PsResult Mpeg2PsParser::SampleFinished(Sample& sample) {
    if (demultiplexing_) {
        return listener_.OnSample(sample);
    }
    return trickPlay_.Write(sample, TrickPlayInput(), insertStreamMap_);
}

void Mpeg2PsParser::DoReceiveSample(Sample& sample) {
    if (IsTrickPlay()) {
        trickPlay_.Write(sample, TrickPlayInput(), insertStreamMap_);
        return;
    }
    SendSampleDownstream(sample);
}

Mpeg2PsTrickPlayWriter::Input Mpeg2PsParser::TrickPlayInput() const {
    Mpeg2PsTrickPlayWriter::Input input{
        streamMap_,       selectedTrack_, videoStreamId_, audioStreamId_,
        audioStreamType_, streamId_,      scr_,           pts_};
    if (closingLastPicture_) {
        trickPlay_.TimeLastPicture(input, samples_.GetStartScr(), samples_.GetStartPts());
    }
    return input;
}

Mpeg2PsResult Mpeg2PsParser::StartTrickPlay() {
    std::vector<uint8_t> audioConfig;
    GetAudioDecoderConfig(audioStreamId_, audioConfig);
    const Mpeg2PsResult result = trickPlay_.Start(TrickPlayInput(), audioConfig);
    if (result != Mpeg2PsResult::Ok) {
        return result;
    }
    samples_.Start(CurrentPacket());
    return Mpeg2PsResult::Ok;
}

// ---------------------------------------------------------------------------------------------
// Program stream map

Mpeg2PsResult Mpeg2PsParser::ReadStreamMap() {
    const Mpeg2PsResult result =
        streamMap_.Read(psmCollector_.data(), static_cast<uint32_t>(psmCollector_.size()));
    if (result != Mpeg2PsResult::Ok) {
        return result;
    }
    streamMap_.FindPlayedStreams(audioStreamId_, audioStreamType_, videoStreamId_);
    listener_.OnStreamMap(streamMap_);
    return Mpeg2PsResult::Ok;
}

bool Mpeg2PsParser::GetAudioDecoderConfig(uint8_t audioId, std::vector<uint8_t>& config,
                                          const MediaTrack* track) const {
    const uint8_t* es = nullptr;
    uint32_t size = 0;
    if (!streamMap_.FindEsDescriptor(audioId, es, size)) {
        if (track == nullptr) track = selectedTrack_.get();
        const SV::SVDataBlob* blob = nullptr;
        if (track == nullptr ||
            !track->GetInfo().GetDataBlob(TrackInfoKey_AudioEsDescriptor, blob) ||
            blob == nullptr || blob->empty()) {
            return false;
        }
        es = blob->data();
        size = static_cast<uint32_t>(blob->size());
    }
    return Mpeg2PsPsm::ReadDecoderSpecificInfo(es, size, audioId, config);
}

Mpeg2PsResult Mpeg2PsParser::AskToResync(uint32_t pos) {
    DebugPrint("Mpeg2PsParser::ShouldResync\n");
    return listener_.ShouldResync(
        data_ + pos, size_ - pos,
        awaitingFirstPack_ ? Mpeg2PsResult::NoPackFirst : Mpeg2PsResult::Ok);
}

}  // namespace SarvelonMediaKit
