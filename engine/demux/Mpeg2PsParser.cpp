#include "engine/demux/Mpeg2PsParser.h"

#include <boost/bind/bind.hpp>

#include <algorithm>
#include <cstring>

#include "SVLibrary/Output/DebugPrint.h"
#include "SVLibrary/Util/ByteOrder.h"
#include "engine/container/Mpeg2PsFormat.h"
#include "engine/container/Mpeg2PsIndexEntryReader.h"
#include "engine/container/Mpeg2PsPack.h"
#include "engine/container/Mpeg2PsPes.h"
#include "engine/container/Mpeg2PsPsm.h"
#include "engine/container/Mpeg2PsSystemHeader.h"
#include "engine/container/TrackInfoKeys.h"

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

const uint64_t kNoScr = ~uint64_t(0);
const uint64_t kTimestampMask = (uint64_t(1) << 33) - 1;
const uint64_t kSystemClock = 27000000;
// The longest stretch that trick play fills with copies of one key frame (or with silent
// audio): the largest distance between two seek points of the container, about 186 s. A jump
// of the input clock beyond it (a damaged or discontinuous stream) is crossed with one copy,
// as in write-once mode, instead of writing the whole gap.
const uint64_t kMaxFillGap = uint64_t(Mpeg2PsFormat::kSeekRecordDeltaMax) * 300;

// ISO/IEC 14496-3 sampling_frequency_index table.
const uint32_t kAacFrequencies[13] = {96000, 88200, 64000, 48000, 44100, 32000, 24000,
                                      22050, 16000, 12000, 11025, 8000,  7350};

// Silent raw data blocks by channel configuration.
const uint8_t kSilentMono[] = {0x00, 0xD0, 0x00, 0x07};
const uint8_t kSilentStereo[] = {0x21, 0x0B, 0xD0, 0x00, 0x7E, 0x00, 0x00, 0x3F, 0x01, 0xC0};
const uint8_t kSilent51[] = {0x01, 0x18, 0x20, 0x01, 0x08, 0x80, 0x23, 0x04, 0x60, 0x23,
                             0x10, 0x04, 0x60, 0x8C, 0x0C, 0x23, 0x04, 0x00, 0xE0};

// An MPEG-4 descriptor length (ISO/IEC 14496-1 expandable size, at most four bytes) at *p,
// which must stay before end. False when it runs out of bytes.
bool ReadDescriptorLength(const uint8_t*& p, const uint8_t* end, uint32_t& length) {
    length = 0;
    for (int i = 0; i < 4; ++i) {
        if (p >= end) {
            return false;
        }
        const uint8_t b = *p++;
        length = (length << 7) | (b & 0x7F);
        if ((b & 0x80) == 0) {
            return true;
        }
    }
    return false;
}

// Ticks (90 kHz) to microseconds, truncated.
uint64_t TicksToMicroseconds(uint64_t ticks) {
    return static_cast<uint64_t>(static_cast<double>(ticks) / 0.09);
}

MemoryChunk ChunkOf(const uint8_t* bytes, uint32_t size) {
    MemoryChunk chunk(size, 0, 0);
    if (size != 0) {
        std::memcpy(chunk.Data(0), bytes, size);
    }
    return chunk;
}

MemoryChunk ChunkOf(const std::vector<uint8_t>& bytes) {
    return ChunkOf(bytes.data(), static_cast<uint32_t>(bytes.size()));
}

}  // namespace

Mpeg2PsParser::Mpeg2PsParser(bool demultiplexing)
    : demultiplexing_(demultiplexing),
      state_(kZero1),
      resyncing_(false),
      counter_(0),
      awaitingFirstPack_(true),
      insertStreamMap_(!demultiplexing),
      resumeOffset_(0),
      data_(nullptr),
      size_(0),
      pack0Before_(0),
      audioStreamId_(0),
      audioStreamType_(0),
      videoStreamId_(0),
      indexMagicSeen_(false),
      indexComplete_(false),
      longestDuration_(0),
      scr_(0),
      scrBase_(0),
      scrExtension_(0),
      streamId_(0),
      packetLeft_(0),
      flags1_(0),
      flags2_(0),
      headerLeft_(0),
      timestamp_(0),
      pts_(0),
      dts_(0),
      metadataDropRest_(false),
      write_(nullptr),
      end_(nullptr),
      copyInProgress_(false),
      trickPlayMagnitude_(0),
      trickPlayStarted_(false),
      trickPlayFlags_(0),
      origin_(0),
      outputClock_(0),
      lastInputScr_(kNoScr),
      accumulatedOffset_(0),
      audioFrameLength_(1024),
      audioFrequency_(0),
      audioClock_(0) {}

Mpeg2PsParser::~Mpeg2PsParser() {}

// ---------------------------------------------------------------------------------------------
// Main loop

Mpeg2PsParser::Result Mpeg2PsParser::Parse(MemoryChunk chunk, bool resume) {
    chunk_ = chunk;
    data_ = chunk.Size() != 0 ? chunk.Data(0) : nullptr;
    size_ = chunk.Size();
    pack0Before_ = pack0Map_ ? pack0Map_->bytes.Size() : 0;
    // The pack-0 map only needs the bytes up to the first media packet.
    const bool keepForPack0 = pack0Map_ && !indexComplete_;

    uint32_t pos = 0;
    if (resume) {
        pos = std::min(resumeOffset_, size_);
        resumeOffset_ = 0;
    }
    while (pos < size_) {
        const Result result = Step(pos);
        if (result != ResultOk) {
            chunk_ = MemoryChunk();
            data_ = nullptr;
            return result;
        }
    }

    if (keepForPack0) {
        pack0Map_->bytes.Append(chunk_);
    }
    Result result = ResultOk;
    if (!demultiplexing_ && !IsTrickPlay() && size_ != 0) {
        result = OnOutputChunk(chunk_);
    }
    chunk_ = MemoryChunk();
    data_ = nullptr;
    return result;
}

uint32_t Mpeg2PsParser::Position(uint32_t offsetInChunk) const {
    return pack0Before_ + offsetInChunk;
}

bool Mpeg2PsParser::InIdSetA(uint8_t id) const {
    return id == F::kStreamIdProgramStreamMap || id == F::kStreamIdPadding ||
           id == F::kStreamIdPrivateStream2 || id == F::kStreamIdEcm || id == F::kStreamIdMetadata;
}

Mpeg2PsParser::Result Mpeg2PsParser::LoseSync(uint32_t pos) {
    if (!resyncing_) {
        const Result result = ShouldResync(data_ + pos, size_ - pos);
        if (result != ResultOk) {
            return result;
        }
        resyncing_ = true;
    }
    return ResultOk;
}

Mpeg2PsParser::Result Mpeg2PsParser::Step(uint32_t& pos) {
    const uint8_t b = data_[pos];
    const uint32_t left = size_ - pos;
    Result result = ResultOk;

    switch (state_) {
        // ---- Start-code prefix 00 00 01 (more zeros allowed) ----
        case kZero1:
            if (b == 0x00) {
                state_ = kZero2;
            } else if ((result = LoseSync(pos)) != ResultOk) {
                return result;
            }
            ++pos;
            return ResultOk;
        case kZero2:
            if (b == 0x00) {
                state_ = kOne;
            } else {
                if ((result = LoseSync(pos)) != ResultOk) {
                    return result;
                }
                state_ = kZero1;
            }
            ++pos;
            return ResultOk;
        case kOne:
            if (b == 0x01) {
                state_ = kStartCodeId;
            } else if (b != 0x00) {
                if ((result = LoseSync(pos)) != ResultOk) {
                    return result;
                }
                state_ = kZero1;
            }
            ++pos;
            return ResultOk;
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
            scr_ = scrBase_ * F::kScrPerTick + scrExtension_;
            break;
        case kMux10:
        case kMux11:
        case kMux12: break;
        case kStuffingLength:
            counter_ = b & 7;
            ++pos;
            state_ = kStuffing;
            return counter_ == 0 ? PackStuffingDone(pos) : ResultOk;
        case kStuffing: {
            const uint32_t n = std::min(left, counter_);
            pos += n;
            counter_ -= n;
            return counter_ == 0 ? PackStuffingDone(pos) : ResultOk;
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
            return ResultOk;
        case kSystemBody: {
            const uint32_t n = std::min(left, counter_);
            systemHeader_.insert(systemHeader_.end(), data_ + pos, data_ + pos + n);
            pos += n;
            counter_ -= n;
            if (counter_ == 0) {
                state_ = kZero1;
            }
            return ResultOk;
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
            return ResultOk;
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
                return ResultOk;
            }
            if (state_ == kPesFlags2) {
                flags2_ = b;
                state_ = kPesHeaderLength;
                return ResultOk;
            }
            headerLeft_ = b;
            if (flags2_ & 0x80) {
                state_ = kPts0;
                return ResultOk;
            }
            state_ = kPesHeaderRest;
            return headerLeft_ == 0 ? PesHeaderDone(pos) : ResultOk;
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
            return headerLeft_ == 0 ? PesHeaderDone(pos) : ResultOk;
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
            if ((result = PayloadBytes(bytes, n)) != ResultOk) {
                return result;
            }
            return packetLeft_ == 0 ? PayloadDone(pos) : ResultOk;
        }

        case kProgramEnd: return ProgramEnd(pos);

        default:
            // No such state: take the byte and do nothing.
            ++pos;
            return ResultOk;
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
                return ResultOk;
            }
            dts_ = pts_;
            TimestampRead(false);
            state_ = kPesHeaderRest;
            return headerLeft_ == 0 ? PesHeaderDone(pos) : ResultOk;
        }
        if (state_ == kDts4) {
            dts_ = timestamp_;
            TimestampRead(true);
            state_ = kPesHeaderRest;
            return headerLeft_ == 0 ? PesHeaderDone(pos) : ResultOk;
        }
    }
    ++state_;
    return ResultOk;
}

void Mpeg2PsParser::TimestampRead(bool hasDts) {
    if (IsTrickPlay()) {
        return;
    }
    uint32_t kind = 0;
    if (streamId_ == audioStreamId_) {
        kind = 1;
    } else if (streamId_ == videoStreamId_) {
        kind = 2;
    }
    const uint32_t timestamp = static_cast<uint32_t>(hasDts ? dts_ : pts_);
    const uint32_t scrBase = (kind == 0 && hasDts) ? 0 : static_cast<uint32_t>(scrBase_);
    OnTimestamp(kind, timestamp, scrBase);
}

// ---------------------------------------------------------------------------------------------
// Start codes, packs, program end

Mpeg2PsParser::Result Mpeg2PsParser::StartCode(uint32_t& pos) {
    const uint8_t id = data_[pos];
    const uint32_t left = size_ - pos;
    Result result = ResultOk;

    if (id == F::kStartCodeProgramEnd || id == F::kStartCodeSystemHeader) {
        if (resyncing_) {
            DebugPrint(id == F::kStartCodeProgramEnd
                           ? "Mpeg2PsParser::Parse: found sync point at program end\n"
                           : "Mpeg2PsParser::Parse: found sync point at system header\n");
            resyncing_ = false;
            copyInProgress_ = false;
            awaitingFirstPack_ = false;
        }
        if (awaitingFirstPack_ && (result = ShouldResync(data_ + pos, left)) != ResultOk) {
            return result;
        }
        if (id == F::kStartCodeProgramEnd) {
            state_ = kProgramEnd;  // the end code byte is taken there
            return ResultOk;
        }
        systemHeader_.assign({0x00, 0x00, 0x01, F::kStartCodeSystemHeader});
        ++pos;
        state_ = kSystemLengthHigh;
        return ResultOk;
    }

    if (id == F::kStartCodePack) {
        if (resyncing_) {
            DebugPrint("Mpeg2PsParser::Parse: found sync point at pack header\n");
            resyncing_ = false;
        }
        copyInProgress_ = false;
        if (awaitingFirstPack_ && pack0Map_) {
            const uint32_t position = Position(pos);
            pack0Map_->packStart = position >= 3 ? position - 3 : 0;
        }
        awaitingFirstPack_ = false;
        ++pos;
        state_ = kPack4;
        return ResultOk;
    }

    // A PES packet.
    if (resyncing_) {
        bool known = InIdSetA(id);
        for (const PSM::EsMapEntry& entry : esMap_) {
            known = known || entry.elementary_stream_id == id;
        }
        if (!known) {
            // Look at the id byte again as a possible first zero.
            state_ = kZero1;
            return ResultOk;
        }
        DebugPrint("Mpeg2PsParser::Parse: found sync point at PES header with stream id 0x%02x\n",
                   id);
        resyncing_ = false;
        copyInProgress_ = false;
        awaitingFirstPack_ = false;
    }
    if (awaitingFirstPack_ && (result = ShouldResync(data_ + pos, left)) != ResultOk) {
        return result;
    }
    state_ = kPesStreamId;
    return ResultOk;
}

Mpeg2PsParser::Result Mpeg2PsParser::PackStuffingDone(uint32_t& pos) {
    state_ = kZero1;
    if (insertStreamMap_ && !IsTrickPlay()) {
        // Only the first pack after a Reset decides: one that starts the file (SCR 0) is
        // followed by the title's own system header and map.
        if (scr_ != 0) {
            InsertStreamMap(pos);
        }
        insertStreamMap_ = false;
    }
    return ResultOk;
}

void Mpeg2PsParser::BuildStreamMap(Mpeg2PsPsm& psm, uint8_t version, bool onlyVideo,
                                   bool withSilentAudio) const {
    psm.SetCurrentNextIndicator(true);
    psm.SetVersion(version);
    if (!programStreamInfo_.empty()) {
        psm.AddProgramStreamInfo(programStreamInfo_.data(),
                                 static_cast<uint16_t>(programStreamInfo_.size()));
    }
    for (const PSM::EsMapEntry& entry : esMap_) {
        if (onlyVideo && entry.elementary_stream_id != videoStreamId_) {
            continue;
        }
        psm.AddEsInfo(entry.elementary_stream_id, entry.stream_type);
        if (!entry.descriptors.empty()) {
            psm.AddEsDescriptor(entry.elementary_stream_id, entry.descriptors.data(),
                                static_cast<uint16_t>(entry.descriptors.size()));
        }
        if (onlyVideo) {
            break;
        }
    }
    if (withSilentAudio) {
        psm.AddEsInfo(audioStreamId_, audioStreamType_);
    }
}

void Mpeg2PsParser::InsertStreamMap(uint32_t& pos) {
    Mpeg2PsPsm psm;
    BuildStreamMap(psm, 0, false, false);
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
    pos += n;  // the inserted bytes are not parsed
}

Mpeg2PsParser::Result Mpeg2PsParser::ProgramEnd(uint32_t& pos) {
    state_ = kZero1;
    Result result = ResultOk;
    if (!indexComplete_ && (result = CompleteIndex()) != ResultOk) {
        return result;
    }

    if (!demultiplexing_ && !IsTrickPlay()) {
        if (!StopAtProgramEnd()) {
            ++pos;
            return ResultOk;
        }
        // Hand on everything up to the end code; what follows it is neither parsed nor
        // passed on. The cut is a copy, so the caller's chunk keeps its length.
        result = OnOutputChunk(ChunkOf(data_, pos + 1));
        return result != ResultOk ? result : ResultProgramEnd;
    }

    if (IsTrickPlay()) {
        const uint64_t step = FrameStepTicks();
        pts_ = (pts_ + step) & kTimestampMask;
        scr_ += step * F::kScrPerTick;
        dts_ = pts_;
    }
    if ((result = ClosePendingSample()) != ResultOk) {
        return result;
    }
    if (!demultiplexing_) {
        const uint8_t endCode[4] = {0x00, 0x00, 0x01, F::kStartCodeProgramEnd};
        if ((result = OnOutputChunk(ChunkOf(endCode, 4))) != ResultOk) {
            return result;
        }
    }
    if (StopAtProgramEnd()) {
        return ResultProgramEnd;
    }
    ++pos;
    return ResultOk;
}

Mpeg2PsParser::Result Mpeg2PsParser::CompleteIndex() {
    if (hash_) {
        digest_.assign(SV::kSha256DigestLength, 0);
        const int ok = SV::Sha256Final(digest_.data(), hash_.get());
        hash_.reset();
        if (ok != 1) {
            digest_.clear();
            return ResultHashFailed;
        }
    }
    indexComplete_ = true;
    return MetadataComplete();
}

void Mpeg2PsParser::SetHashEnabled(bool enabled) {
    if (!enabled) {
        hash_.reset();
        return;
    }
    if (!hash_) {
        hash_.reset(new SV::Sha256Context);
        if (SV::Sha256Init(hash_.get()) != 1) {
            hash_.reset();
        }
    }
}

Mpeg2PsParser::Pack0Map& Mpeg2PsParser::CreatePack0Map() {
    if (!pack0Map_) {
        pack0Map_.reset(new Pack0Map);
    }
    return *pack0Map_;
}

void Mpeg2PsParser::Reset(bool synced) {
    state_ = kZero1;
    awaitingFirstPack_ = !synced;
    insertStreamMap_ = !demultiplexing_;
    trickPlayStarted_ = false;
    sample_ = Sample();
    copyInProgress_ = false;
    write_ = nullptr;
    end_ = nullptr;
    privateStream2_.clear();
    psmCollector_.clear();
    OnReset();
    pts_ = 0;
    dts_ = 0;
}

// ---------------------------------------------------------------------------------------------
// PES packets and payloads

Mpeg2PsParser::Result Mpeg2PsParser::PesStreamId(uint32_t idOffset) {
    const uint8_t id = streamId_;
    const uint32_t idPosition = Position(idOffset);
    const uint32_t start = idPosition >= 3 ? idPosition - 3 : 0;
    if (!InIdSetA(id)) {
        if (!indexComplete_) {
            if (pack0Map_) {
                pack0Map_->firstMediaPes = start;
            }
            const Result result = CompleteIndex();
            if (result != ResultOk) {
                return result;
            }
        }
    } else if (pack0Map_ && (id == F::kStreamIdPrivateStream2 || id == F::kStreamIdMetadata)) {
        Pack0Map::MetaDataInfo item;
        item.start = start;
        item.isMetadata = id == F::kStreamIdMetadata;
        pack0Map_->metadataItems.push_back(item);
    }
    return ResultOk;
}

Mpeg2PsParser::Result Mpeg2PsParser::PesHeaderDone(uint32_t pos) {
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
            // An aligned packet starts a new block, an unaligned one continues it.
            if (flags1_ & 0x04) {
                metadataCollector_.clear();
            }
            metadataDropRest_ = false;
            state_ = kPayloadMedia;
            break;
        default:
            state_ = kPayloadMedia;
            if (demultiplexing_ || IsTrickPlay()) {
                const Result result = AddPesPayloadToSample();
                if (result != ResultOk) {
                    return result;
                }
            }
            break;
    }
    if (packetLeft_ == 0) {
        state_ = kZero1;
        return PayloadDone(pos);
    }
    return ResultOk;
}

Mpeg2PsParser::Result Mpeg2PsParser::PayloadBytes(const uint8_t* bytes, uint32_t n) {
    switch (streamId_) {
        case F::kStreamIdProgramStreamMap:
            psmCollector_.insert(psmCollector_.end(), bytes, bytes + n);
            return ResultOk;
        case F::kStreamIdPrivateStream2:
            if (indexComplete_) {
                return ResultOk;  // after the header section the payload is dropped
            }
            if (privateStream2_.size() + n > kCollectorLimit) {
                privateStream2_.clear();
                return ResultEntryTooLarge;
            }
            privateStream2_.insert(privateStream2_.end(), bytes, bytes + n);
            if (!indexMagicSeen_ && privateStream2_.size() >= 4 &&
                SV::ReadBigEndian32(privateStream2_.data()) == F::kIndexMagic) {
                indexMagicSeen_ = true;
            }
            return ResultOk;
        case F::kStreamIdEcm:
        case F::kStreamIdPadding: return ResultOk;
        case F::kStreamIdMetadata:
            if (metadataDropRest_) {
                return ResultOk;
            }
            metadataCollector_.insert(metadataCollector_.end(), bytes, bytes + n);
            return MetadataBytesAdded();
        default:
            if (copyInProgress_ && write_ != nullptr) {
                const uint32_t m = std::min<uint32_t>(n, static_cast<uint32_t>(end_ - write_));
                std::memcpy(write_, bytes, m);
                write_ += m;
            }
            return ResultOk;
    }
}

Mpeg2PsParser::Result Mpeg2PsParser::MetadataBytesAdded() {
    if (metadataCollector_.size() < 4) {
        return ResultOk;
    }
    const uint32_t length = SV::ReadBigEndian32(metadataCollector_.data());
    if (length > kCollectorLimit) {
        // A block this large is refused rather than gathered.
        metadataCollector_.clear();
        metadataDropRest_ = true;
        return ResultBadMetadata;
    }
    if (length > metadataCollector_.size()) {
        return ResultOk;  // more in the next 0xF1 packets
    }
    Mpeg2PsMetadata block(1);
    size_t consumed = 0;
    const bool ok = block.Read(metadataCollector_.data(), length, consumed);
    // The bytes after the block go with it: those collected and the rest of this packet,
    // however the packet was cut into chunks.
    metadataCollector_.clear();
    metadataDropRest_ = true;
    if (!ok) {
        return ResultBadMetadata;
    }
    // The handler's result is not acted on: a chapter table that fails leaves the chapters
    // read before it in place and parsing goes on.
    ParseMetadataBlock(block);
    return ResultOk;
}

Mpeg2PsParser::Result Mpeg2PsParser::EndMetadataItem(uint32_t pos) {
    if (!pack0Map_) {
        return ResultOk;
    }
    if (pack0Map_->metadataItems.empty()) {
        return ResultNoMetadataItem;
    }
    pack0Map_->metadataItems.back().end = Position(pos);
    return ResultOk;
}

Mpeg2PsParser::Result Mpeg2PsParser::PayloadDone(uint32_t pos) {
    Result result = ResultOk;
    switch (streamId_) {
        case F::kStreamIdProgramStreamMap:
            // Only the first map of a stream is read; later ones are collected and dropped.
            if (!psmCollector_.empty() && esMap_.empty()) {
                result = ParseProgramStreamMap();
            }
            psmCollector_.clear();
            return result;
        case F::kStreamIdPrivateStream2:
            if (privateStream2_.empty()) {
                return ResultOk;
            }
            if (indexComplete_) {
                privateStream2_.clear();
                return ResultOk;
            }
            result = ParseIndexEntry();
            if (result == ResultEntryIncomplete) {
                result = ResultOk;  // the entry continues in the next private stream 2 packet
            }
            if (result != ResultOk) {
                return result;
            }
            return EndMetadataItem(pos);
        case F::kStreamIdMetadata: return EndMetadataItem(pos);
        default: return ResultOk;
    }
}

// ---------------------------------------------------------------------------------------------
// Program stream map

Mpeg2PsParser::Result Mpeg2PsParser::ParseProgramStreamMap() {
    return ReadProgramStreamMap(psmCollector_.data(), static_cast<uint32_t>(psmCollector_.size()));
}

Mpeg2PsParser::Result Mpeg2PsParser::ReadProgramStreamMap(const uint8_t* d, uint32_t n) {
    // d[0..1]: current_next_indicator, version; d[2..3]: program_stream_info_length.
    if (n < 4) {
        return ResultBadStreamMap;
    }
    const uint32_t infoLength = SV::ReadBigEndian16(d + 2);
    // The info and the map length after it must lie in the collected bytes.
    if (4 + infoLength + 2 > n) {
        return ResultBadStreamMap;
    }
    const uint32_t mapLength = SV::ReadBigEndian16(d + 4 + infoLength);
    uint32_t p = 6 + infoLength;
    const uint32_t mapEnd = p + mapLength;
    // The map must leave room for the four CRC_32 bytes.
    if (mapEnd > n - 4) {
        return ResultBadStreamMap;
    }

    std::vector<PSM::EsMapEntry> entries;
    while (p < mapEnd) {
        // stream_type, elementary_stream_id, elementary_stream_info_length, descriptors: an
        // entry whose fields or descriptors run past the map's end makes the map unusable.
        if (mapEnd - p < 4) {
            return ResultBadStreamMap;
        }
        PSM::EsMapEntry entry;
        entry.stream_type = d[p];
        entry.elementary_stream_id = d[p + 1];
        const uint32_t descriptorLength = SV::ReadBigEndian16(d + p + 2);
        if (descriptorLength > mapEnd - p - 4) {
            return ResultBadStreamMap;
        }
        entry.descriptors.assign(d + p + 4, d + p + 4 + descriptorLength);
        entries.push_back(std::move(entry));
        p += 4 + descriptorLength;
    }

    programStreamInfo_.assign(d + 4, d + 4 + infoLength);
    esMap_ = std::move(entries);
    for (const PSM::EsMapEntry& entry : esMap_) {
        const uint8_t id = entry.elementary_stream_id;
        if ((id & 0xE0) == 0xC0) {
            audioStreamId_ = id;
            audioStreamType_ = entry.stream_type;
        } else if ((id & 0xF0) == 0xE0) {
            videoStreamId_ = id;
        } else if (id == F::kStreamIdPrivateStream1 &&
                   (entry.stream_type == F::kStreamTypeEac3 ||
                    entry.stream_type == F::kStreamTypePrivateData)) {
            audioStreamId_ = id;
            audioStreamType_ = entry.stream_type;
        }
    }
    return ResultOk;
}

// ---------------------------------------------------------------------------------------------
// Samples

Sample Mpeg2PsParser::CreateSample(uint8_t streamId, uint32_t /*payloadLength*/) {
    Sample sample;
    if (streamId == audioStreamId_) {
        sample.SetType(1);
    } else if (streamId == videoStreamId_) {
        sample.SetType(2);
    }
    return sample;
}

Mpeg2PsParser::Result Mpeg2PsParser::AddPesPayloadToSample() {
    if (IsTrickPlay()) {
        if ((streamId_ & 0xF0) != 0xE0) {
            copyInProgress_ = false;
            return ResultOk;
        }
        if (!trickPlayStarted_) {
            return StartTrickPlay();
        }
    }
    if (write_ != end_) {
        // The previous packet ended before its sample was filled: it is replaced.
        return StartSample();
    }
    if (flags2_ & 0x80) {
        const Result result = ClosePendingSample();
        if (result != ResultOk) {
            return result;
        }
        return StartSample();
    }
    // A continuation of the open sample.
    if (copyInProgress_ && packetLeft_ != 0 && !sample_.GetPayload().GetChunks().empty()) {
        MemoryChunk& chunk = sample_.GetPayload().AddChunk(packetLeft_);
        write_ = chunk.Data(0);
        end_ = write_ + packetLeft_;
    } else {
        copyInProgress_ = false;
    }
    return ResultOk;
}

Mpeg2PsParser::Result Mpeg2PsParser::ClosePendingSample() {
    if (write_ != end_ || sample_.GetPayload().IsEmpty()) {
        return ResultOk;
    }
    // Taken out first, so a stop in the handler cannot hand the same sample on twice.
    Sample finished = sample_;
    sample_ = Sample();
    write_ = nullptr;
    end_ = nullptr;
    copyInProgress_ = false;
    if (demultiplexing_) {
        return OnSample(finished);
    }
    return RepacketiseSample(finished);
}

Mpeg2PsParser::Result Mpeg2PsParser::StartSample() {
    if (packetLeft_ == 0) {
        sample_ = Sample();
        write_ = nullptr;
        end_ = nullptr;
        return ResultOk;
    }
    uint64_t offset = 0;
    if (selectedTrack_) {
        const double seconds = selectedTrack_->GetTimingOffset();
        if (seconds > 0 && seconds < 1.0e12) {
            offset = static_cast<uint64_t>(seconds * 1000000.0);
        }
    }
    sample_ = CreateSample(streamId_, packetLeft_);
    if (flags2_ & 0x40) {
        sample_.SetDecodeTime(MediaTime(TicksToMicroseconds(dts_) + offset));
        // A DTS after its PTS is malformed; the sample then gets no presentation offset.
        sample_.SetPresentationOffset(
            MediaTime(pts_ >= dts_ ? TicksToMicroseconds(pts_ - dts_) : 0));
    } else {
        sample_.SetDecodeTime(MediaTime(TicksToMicroseconds(pts_) + offset));
        sample_.SetPresentationOffset(MediaTime(0));
    }
    // In this container an aligned PES packet starts a random-access unit.
    sample_.SetDataAlignment((flags1_ & 0x04) != 0);
    sample_.SetScramblingControl((flags1_ >> 4) & 3);

    MemoryChunkList& payload = sample_.GetPayload();
    MemoryChunk* chunk = nullptr;
    if (payload.GetChunks().size() == 1 && payload.Back().Size() == packetLeft_) {
        chunk = &payload.Back();  // a derived CreateSample already sized it
    } else {
        chunk = &payload.AddChunk(packetLeft_);
    }
    write_ = chunk->Data(0);
    end_ = write_ + packetLeft_;
    copyInProgress_ = true;
    return ResultOk;
}

void Mpeg2PsParser::DoReceiveSample(Sample& sample) {
    if (IsTrickPlay()) {
        RepacketiseSample(sample);
        return;
    }
    SendSampleDownstream(sample);
}

// ---------------------------------------------------------------------------------------------
// Trick play

int16_t Mpeg2PsParser::SetTrickPlayRate(int16_t rate, bool restart) {
    const uint16_t magnitude = static_cast<uint16_t>(rate < 0 ? -static_cast<int32_t>(rate) : rate);
    if (magnitude == trickPlayMagnitude_ && !restart) {
        return 0;
    }
    if (restart) {
        trickPlayStarted_ = false;
        lastInputScr_ = kNoScr;
        accumulatedOffset_ = 0;
    } else if (lastInputScr_ != kNoScr) {
        accumulatedOffset_ += outputClock_ - lastInputScr_;
        origin_ = outputClock_ = lastInputScr_;
        lastInputScr_ = kNoScr;
    }
    trickPlayMagnitude_ = magnitude;
    return rate;
}

uint32_t Mpeg2PsParser::FrameStepTicks() const {
    uint32_t step = selectedTrack_ ? selectedTrack_->GetIndex().GetFrameDuration() : 0;
    // A track without a frame duration would never move the output clock on.
    return step != 0 ? step : F::kVersion0FrameDuration;
}

Mpeg2PsParser::Result Mpeg2PsParser::StartTrickPlay() {
    if (!selectedTrack_) {
        return ResultNoSelectedTrack;
    }
    origin_ = outputClock_ = scr_;
    if (trickPlayFlags_ & TrickPlaySilentAudio) {
        const Result result = PrepareSilentAudio();
        if (result != ResultOk) {
            return result;
        }
    }
    trickPlayStarted_ = true;
    return StartSample();
}

Mpeg2PsParser::Result Mpeg2PsParser::PrepareSilentAudio() {
    if (audioStreamType_ != F::kStreamTypeAacAdts) {
        return ResultUnsupportedAudio;
    }
    std::vector<uint8_t> config;
    if (!GetAudioDecoderConfig(audioStreamId_, config) || config.size() < 2) {
        return ResultUnsupportedAudio;
    }
    const uint32_t objectType = config[0] >> 3;
    const uint32_t channels = (config[1] >> 3) & 15;
    const uint32_t frequencyIndex = ((config[0] << 1) | (config[1] >> 7)) & 15;
    const uint8_t* block = nullptr;
    uint32_t blockSize = 0;
    if (channels == 1) {
        block = kSilentMono;
        blockSize = sizeof(kSilentMono);
    } else if (channels == 2) {
        block = kSilentStereo;
        blockSize = sizeof(kSilentStereo);
    } else if (channels == 6) {
        block = kSilent51;
        blockSize = sizeof(kSilent51);
    }
    if (objectType != 2 || block == nullptr || frequencyIndex >= 13) {
        return ResultUnsupportedAudio;
    }
    audioFrequency_ = kAacFrequencies[frequencyIndex];
    audioClock_ = outputClock_ * audioFrequency_ / kSystemClock;
    audioFrameLength_ = 1024;

    // ADTS header (ISO/IEC 13818-7), no CRC.
    const uint32_t frameLength = 7 + blockSize;
    const uint32_t fullness = 0x7FF;
    const uint32_t profile = objectType - 1;
    silentFrame_.assign(7, 0);
    silentFrame_[0] = 0xFF;  // syncword
    silentFrame_[1] = 0xF1;  // ID 0, layer 0, no CRC
    silentFrame_[2] = static_cast<uint8_t>((profile << 6) | (frequencyIndex << 2) |
                                           (channels >> 2));                      // private bit 0
    silentFrame_[3] = static_cast<uint8_t>(((channels & 3) << 6) | 0x20 | 0x10 |  // orig, home
                                           ((frameLength >> 11) & 3));
    silentFrame_[4] = static_cast<uint8_t>(frameLength >> 3);
    silentFrame_[5] = static_cast<uint8_t>(((frameLength & 7) << 5) | (fullness >> 6));
    silentFrame_[6] = static_cast<uint8_t>((fullness & 0x3F) << 2);  // one raw data block
    silentFrame_.insert(silentFrame_.end(), block, block + blockSize);
    return ResultOk;
}

bool Mpeg2PsParser::FindEsDescriptor(uint8_t audioId, const uint8_t*& es, uint32_t& size) const {
    const uint8_t* p = programStreamInfo_.data();
    const uint8_t* const end = p + programStreamInfo_.size();
    while (end - p >= 2) {
        const uint8_t tag = p[0];
        const uint32_t length = p[1];
        const uint8_t* body = p + 2;
        if (static_cast<uint32_t>(end - body) < length) {
            return false;
        }
        const uint8_t* const descriptorEnd = body + length;
        p = descriptorEnd;
        // IOD_descriptor (ISO/IEC 13818-1, 2.6.40): scope, label, then the
        // InitialObjectDescriptor (ISO/IEC 14496-1) whose tag is 0x02.
        if (tag != 0x1D || length < 16 || body[2] != 0x02) {
            continue;
        }
        const uint8_t* q = body + 3;
        uint32_t iodLength = 0;
        if (!ReadDescriptorLength(q, descriptorEnd, iodLength)) {
            continue;
        }
        const uint8_t* const iodEnd =
            static_cast<uint32_t>(descriptorEnd - q) < iodLength ? descriptorEnd : q + iodLength;
        if (iodEnd - q < 2) {
            continue;
        }
        const bool urlFlag = (q[1] & 0x20) != 0;
        q += 2;
        if (urlFlag) {
            if (q >= iodEnd || static_cast<uint32_t>(iodEnd - q - 1) < *q) {
                continue;
            }
            q += 1 + *q;
        }
        if (iodEnd - q < 5) {
            continue;
        }
        q += 5;  // the profile and level indications
        while (q < iodEnd) {
            const uint8_t* const start = q;
            const uint8_t innerTag = *q++;
            uint32_t innerLength = 0;
            if (!ReadDescriptorLength(q, iodEnd, innerLength) ||
                static_cast<uint32_t>(iodEnd - q) < innerLength) {
                break;
            }
            if (innerTag == 0x03 && innerLength >= 2 && SV::ReadBigEndian16(q) == audioId) {
                es = start;
                size = static_cast<uint32_t>(q + innerLength - start);
                return true;
            }
            q += innerLength;
        }
    }
    return false;
}

bool Mpeg2PsParser::GetAudioDecoderConfig(uint8_t audioId, std::vector<uint8_t>& config) const {
    const uint8_t* es = nullptr;
    uint32_t size = 0;
    if (!FindEsDescriptor(audioId, es, size)) {
        const SV::SVDataBlob* blob = nullptr;
        if (!selectedTrack_ ||
            !selectedTrack_->GetInfo().GetDataBlob(TrackInfoKey_AudioEsDescriptor, blob) ||
            blob == nullptr || blob->empty()) {
            return false;
        }
        es = blob->data();
        size = static_cast<uint32_t>(blob->size());
    }

    // ES_Descriptor (ISO/IEC 14496-1, 7.2.6.5), every field checked against its bytes.
    const uint8_t* p = es;
    const uint8_t* end = es + size;
    uint32_t length = 0;
    if (p >= end || *p++ != 0x03 || !ReadDescriptorLength(p, end, length) ||
        static_cast<uint32_t>(end - p) < length) {
        return false;
    }
    end = p + length;
    if (end - p < 3 || SV::ReadBigEndian16(p) != audioId) {
        return false;
    }
    const uint8_t flags = p[2];
    p += 3;
    if (flags & 0x80) {  // streamDependenceFlag: dependsOn_ES_ID
        p += 2;
    }
    if (flags & 0x40) {  // URL_Flag: URLlength and URLstring
        if (p >= end) {
            return false;
        }
        p += 1 + *p;
    }
    if (flags & 0x20) {  // OCRstreamFlag: OCR_ES_Id
        p += 2;
    }
    if (p >= end || *p++ != 0x04 || !ReadDescriptorLength(p, end, length) ||
        static_cast<uint32_t>(end - p) < length) {
        return false;
    }
    // DecoderConfigDescriptor: 13 bytes of fixed fields, then the DecoderSpecificInfo.
    const uint8_t* const configEnd = p + length;
    if (configEnd - p < 13) {
        return false;
    }
    p += 13;
    if (p >= configEnd || *p++ != 0x05 || !ReadDescriptorLength(p, configEnd, length) ||
        static_cast<uint32_t>(configEnd - p) < length) {
        return false;
    }
    config.assign(p, p + length);
    return true;
}

Mpeg2PsParser::Result Mpeg2PsParser::RepacketiseSample(Sample& sample) {
    if (!sample.IsKeyFrame()) {
        return ResultOk;
    }
    if (!selectedTrack_) {
        return ResultNoSelectedTrack;
    }
    const uint64_t step = uint64_t(F::kScrPerTick) * FrameStepTicks();
    const uint64_t packScr = scr_;
    const uint64_t target =
        packScr > origin_ ? origin_ + (packScr - origin_) / trickPlayMagnitude_ : origin_;
    const int64_t ptsBase = static_cast<int64_t>(pts_) - static_cast<int64_t>(packScr / 300);

    std::vector<MemoryChunk> packets;  // built once per sample
    uint64_t muxRate = 0;
    const bool once = (trickPlayFlags_ & TrickPlayWriteOnce) != 0 ||
                      (outputClock_ < target && target - outputClock_ > kMaxFillGap);
    while (outputClock_ < target) {
        const uint64_t pts =
            static_cast<uint64_t>(static_cast<int64_t>((outputClock_ + accumulatedOffset_) / 300) +
                                  ptsBase) &
            kTimestampMask;
        Result result = ResultOk;
        if (!demultiplexing_) {
            result = WriteTrickPlayPack(sample, pts, step, packets, muxRate);
            if (result != ResultOk) {
                return result;
            }
        } else {
            Sample copy = sample;
            copy.SetDecodeTime(MediaTime(TicksToMicroseconds(pts)));
            SendSampleDownstream(copy);
        }

        // Where in the title the output stands, for the position display.
        uint64_t position = (origin_ + (outputClock_ - origin_) * trickPlayMagnitude_) / 300;
        const uint64_t limit = selectedTrack_->GetIndex().GetDuration();
        position = std::min(position, limit);
        if (selectedTrack_->GetTrickPlayRate() < 0) {
            position = limit - position;  // a track recorded backwards
        }
        OnTimestamp(2, static_cast<uint32_t>(pts), static_cast<uint32_t>(position));

        if (once) {
            outputClock_ += (target - outputClock_ + step - 1) / step * step;
        } else {
            outputClock_ += step;
        }
        if (trickPlayFlags_ & TrickPlaySilentAudio) {
            result = WriteSilentAudio(ptsBase);
            if (result != ResultOk) {
                return result;
            }
        }
        lastInputScr_ = packScr;
    }
    return ResultOk;
}

Mpeg2PsParser::Result Mpeg2PsParser::WriteTrickPlayPack(Sample& sample, uint64_t pts, uint64_t step,
                                                        std::vector<MemoryChunk>& packets,
                                                        uint64_t& muxRate) {
    const uint8_t streamId = videoStreamId_ != 0 ? videoStreamId_ : streamId_;
    if (packets.empty()) {
        // One PES packet per payload chunk (a chunk too large for one packet is cut).
        bool first = true;
        for (const MemoryChunk& chunk : sample.GetPayload().GetChunks()) {
            uint32_t offset = 0;
            const uint32_t total = chunk.Size();
            while (offset < total || (first && total == 0)) {
                Mpeg2PsPes pes;
                pes.SetStreamId(streamId);
                if (first) {
                    pes.SetPts(pts);
                    pes.SetDataAlignment(true);
                }
                const uint32_t n = std::min<uint32_t>(
                    total - offset, static_cast<uint32_t>(std::max(pes.GetFreeSpace(), 0)));
                pes.AddData(chunk.Data(offset), n, false);
                std::vector<uint8_t> bytes;
                if (!pes.AppendTo(bytes)) {
                    return ResultOk;
                }
                packets.push_back(ChunkOf(bytes));
                offset += n;
                first = false;
            }
        }
        if (packets.empty()) {
            return ResultOk;
        }
        const uint64_t payloadBytes = sample.GetPayload().Size();
        muxRate = (payloadBytes * kSystemClock / step) / 50;
    } else {
        // A later copy: the first packet gets the new PTS in a buffer of its own, so the
        // packets handed on before keep theirs.
        const MemoryChunk& previous = packets.front();
        MemoryChunk fresh = ChunkOf(previous.Data(0), previous.Size());
        uint8_t* t = fresh.Data(0) + 9;  // after start code, id, length, flags, header length
        t[0] = static_cast<uint8_t>(0x21 | ((pts >> 29) & 0x0E));
        t[1] = static_cast<uint8_t>(pts >> 22);
        t[2] = static_cast<uint8_t>(((pts >> 14) & 0xFE) | 1);
        t[3] = static_cast<uint8_t>(pts >> 7);
        t[4] = static_cast<uint8_t>(((pts << 1) & 0xFE) | 1);
        packets.front() = fresh;
    }

    Mpeg2PsPack pack;
    pack.SetScr(outputClock_ + accumulatedOffset_);
    pack.SetMuxRate(static_cast<uint32_t>(muxRate));
    if (insertStreamMap_) {
        // The first pack after a Reset tells the consumer what the stream holds.
        const bool silent = (trickPlayFlags_ & TrickPlaySilentAudio) != 0;
        boost::shared_ptr<Mpeg2PsSystemHeader> header(new Mpeg2PsSystemHeader);
        header->SetRateBound(static_cast<uint32_t>(2 * muxRate));
        header->SetAudioBound(silent ? 1 : 0);
        header->SetVideoBound(1);
        header->SetFixedFlag(false);
        header->SetCspsFlag(false);
        header->SetSystemAudioLockFlag(true);
        header->SetSystemVideoLockFlag(true);
        header->SetPacketRateRestrictionFlag(false);
        header->AddStreamBound(F::kStreamIdProgramStreamMap, false, 0);
        header->AddStreamBound(streamId, true,
                               static_cast<uint16_t>(((muxRate * 250) % (1u << 26)) / 1024));
        if (silent) {
            header->AddStreamBound(audioStreamId_, false, 0);
        }
        boost::shared_ptr<Mpeg2PsPsm> psm(new Mpeg2PsPsm);
        BuildStreamMap(*psm, 1, true, silent);
        pack.SetSystemHeader(header);
        pack.SetPsm(psm);
        insertStreamMap_ = false;
    }
    std::vector<uint8_t> packBytes;
    if (!pack.AppendTo(packBytes)) {
        return ResultOk;
    }
    Result result = OnOutputChunk(ChunkOf(packBytes));
    for (size_t i = 0; result == ResultOk && i < packets.size(); ++i) {
        result = OnOutputChunk(packets[i]);
    }
    return result;
}

Mpeg2PsParser::Result Mpeg2PsParser::WriteSilentAudio(int64_t ptsBase) {
    if (audioFrequency_ == 0 || silentFrame_.empty()) {
        return ResultOk;
    }
    const uint64_t audioTarget =
        (outputClock_ + accumulatedOffset_) * audioFrequency_ / kSystemClock;
    if (audioClock_ < audioTarget &&
        audioTarget - audioClock_ > kMaxFillGap * audioFrequency_ / kSystemClock) {
        audioClock_ = audioTarget - std::min<uint64_t>(audioTarget, audioFrameLength_);
    }
    while (audioClock_ < audioTarget && audioClock_ < (uint64_t(1) << 32)) {
        const uint64_t pts = static_cast<uint64_t>(static_cast<int64_t>(audioClock_ * kSystemClock /
                                                                        audioFrequency_ / 300) +
                                                   ptsBase) &
                             kTimestampMask;
        Result result = ResultOk;
        if (!demultiplexing_) {
            Mpeg2PsPes pes;
            pes.SetStreamId(audioStreamId_);
            pes.SetDataAlignment(true);
            pes.SetPts(pts);
            pes.AddData(silentFrame_.data(), static_cast<uint32_t>(silentFrame_.size()), false);
            std::vector<uint8_t> bytes;
            pes.AppendTo(bytes);
            result = OnOutputChunk(ChunkOf(bytes));
        } else {
            const uint32_t n = static_cast<uint32_t>(silentFrame_.size());
            Sample sample = CreateSample(audioStreamId_, n);
            MemoryChunkList& payload = sample.GetPayload();
            if (payload.GetChunks().size() == 1 && payload.Back().Size() == n) {
                std::memcpy(payload.Back().Data(0), silentFrame_.data(), n);
            } else {
                payload.Append(silentFrame_.data(), n);
            }
            sample.SetDataAlignment(true);
            sample.SetDecodeTime(MediaTime(TicksToMicroseconds(pts)));
            result = OnSample(sample);
        }
        if (result != ResultOk) {
            return result;
        }
        audioClock_ += audioFrameLength_;
    }
    return ResultOk;
}

// ---------------------------------------------------------------------------------------------
// Index entries and metadata blocks

Mpeg2PsParser::Result Mpeg2PsParser::ParseIndexEntry() {
    boost::shared_ptr<MediaTrack> track;
    const Result result = Mpeg2PsIndexEntryReader::ParseIndexEntry(privateStream2_, hash_.get(),
                                                                   esMap_, longestDuration_, track);
    if (result != ResultOk) {
        return result;
    }
    return OnNewTrack(track);
}

Mpeg2PsParser::Result Mpeg2PsParser::ParseMetadataBlock(const Mpeg2PsMetadata& block) {
    // The blocks of a table come back here, so a derived handler sees them too.
    return metadataReader_.ParseMetadataBlock(
        block, chapters_,
        boost::bind(&Mpeg2PsParser::OnThumbnail, this, boost::placeholders::_1,
                    boost::placeholders::_2),
        boost::bind(&Mpeg2PsParser::ParseMetadataBlock, this, boost::placeholders::_1));
}

// ---------------------------------------------------------------------------------------------
// Default virtual operations

void Mpeg2PsParser::OnTimestamp(uint32_t, uint32_t, uint32_t) {}

Mpeg2PsParser::Result Mpeg2PsParser::OnOutputChunk(const MemoryChunk&) { return ResultOk; }

Mpeg2PsParser::Result Mpeg2PsParser::OnSample(const Sample&) { return ResultOk; }

Mpeg2PsParser::Result Mpeg2PsParser::OnNewTrack(const boost::shared_ptr<MediaTrack>&) {
    return ResultOk;
}

Mpeg2PsParser::Result Mpeg2PsParser::OnUnused() { return ResultOk; }

void Mpeg2PsParser::OnReset() {}

Mpeg2PsParser::Result Mpeg2PsParser::ShouldResync(const uint8_t*, uint32_t) {
    DebugPrint("Mpeg2PsParser::ShouldResync\n");
    return awaitingFirstPack_ ? ResultNoPackFirst : ResultOk;
}

bool Mpeg2PsParser::StopAtProgramEnd() { return true; }

void Mpeg2PsParser::OnThumbnail(uint32_t, const std::vector<uint8_t>&) {}

Mpeg2PsParser::Result Mpeg2PsParser::MetadataComplete() { return ResultOk; }

}  // namespace SarvelonMediaKit
