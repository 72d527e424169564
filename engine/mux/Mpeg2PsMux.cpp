#include "engine/mux/Mpeg2PsMux.h"

#include <boost/make_shared.hpp>

#include <algorithm>
#include <limits>
#include <vector>

#include "SVLibrary/Output/DebugPrint.h"
#include "engine/codecs/Aac.h"
#include "engine/codecs/MediaTiming.h"
#include "engine/container/Mpeg2PsPes.h"
#include "engine/container/Mpeg2PsPsm.h"
#include "engine/container/Mpeg2PsSystemHeader.h"
#include "engine/core/Session.h"
#include "engine/samples/AdtsAddSampleFilter.h"
#include "engine/samples/Eac3HdDvdToRawSampleFilter.h"
#include "engine/samples/Eac3RawToHdDvdSampleFilter.h"
#include "engine/samples/LengthToStartCodeH264SampleFilter.h"
#include "engine/mux/IodDescriptor.h"
#include "engine/mux/StreamTypes.h"

namespace SarvelonMediaKit {

namespace {

// ---- System header (ISO/IEC 13818-1, 2.5.3.5) ----
// rate_bound in units of 50 bytes a second: about 0.9 Mbit/s, what the packs of one title
// announce as their ceiling.
constexpr uint32_t kRateBound = 2291;
// P-STD_buffer_size_bound: the map in units of 1024 bytes, video in units of 1024 bytes
// (244 KiB), audio in units of 128 bytes (9600 bytes).
constexpr uint16_t kMapBufferBound = 1;
constexpr uint16_t kVideoBufferBound = 244;
constexpr uint16_t kAudioBufferBound = 75;

// ---- Program end ----
const uint8_t kProgramEndCode[] = {0x00, 0x00, 0x01, 0xB9};  // MPEG_program_end_code

bool IsPrivateAudio(uint32_t format) {
    return format == SampleFormatEac3HdDvd || format == SampleFormatPesPrivate;
}

}  // namespace

Mpeg2PsMux::Mpeg2PsMux(Session* session)
    : Mux(session),
      pack_(0),
      packStartTime_(0),
      bytesSinceVideo_(0),
      bothStreams_(false),
      firstSamplePending_(true),
      firstTime_(0),
      trickPlay_(false),
      eac3ToHdDvd_(true),
      dvdMode_(0) {
    // Room in front of every sample payload for the header a filter puts in front of a frame
    // (ADTS, 7 bytes; HD-DVD private data, 4 bytes).
    sampleHeadroom_ = kAdtsHeaderSize;
}

Mpeg2PsMux::~Mpeg2PsMux() {}

std::string Mpeg2PsMux::GetTypeName() const { return "Mpeg2PsMux"; }

bool Mpeg2PsMux::WritesPacks() const { return true; }

bool Mpeg2PsMux::DoProcessMemoryMarker(const boost::shared_ptr<MemoryMarker>& marker) {
    // The base first lets out every queued sample; it may hold an end back while another
    // chain still runs, and then lets it through here again once all have ended.
    if (!Mux::DoProcessMemoryMarker(marker)) {
        return false;
    }
    if (marker && marker->GetType() == MemoryMarkerTypeEndOfStream) {
        const uint32_t size = pack_.GetSize(false);
        if (size > pack_.GetHeaderSize()) {
            DebugPrint("Mpeg2PsMux::DoProcessMemoryMarker: flushing %lu bytes at end of stream.\n",
                       static_cast<unsigned long>(size));
            WriteCurrentPack(packStartTime_ + kLastPackDuration);
        }
        DoSend(MemoryChunk::CopyOf(kProgramEndCode, sizeof kProgramEndCode));
    }
    return true;
}

bool Mpeg2PsMux::DoTrickPlay(TrickPlayRate rate, MediaTime time) {
    const bool accepted = Mux::DoTrickPlay(rate, time);
    if (accepted) {
        trickPlay_ = rate != 0;
    }
    return accepted;
}

void Mpeg2PsMux::DoSetPosition(BytePosition position, StackId stackId) {
    Mux::DoSetPosition(position, stackId);
    if (stackId == stackId_ || stackId == StackIdAny) {
        firstSamplePending_ = true;
        // Packets from before the reposition belong to no pack that will be written: an end
        // of stream before the next sample must not send them.
        ClearPack();
        bytesSinceVideo_ = 0;
    }
}

void Mpeg2PsMux::OnSampleStreamAdded(const boost::shared_ptr<SampleStream>& stream) {
    if (!stream) {
        return;
    }
    switch (stream->GetCurrentFormat()) {
        case SampleFormatAacRaw:
            stream->AddFilter(boost::make_shared<AdtsAddSampleFilter>(stream, SampleFormatAacRaw,
                                                                      SampleFormatAacAdts));
            break;
        case SampleFormatEac3:
            if (eac3ToHdDvd_) {
                stream->AddFilter(boost::make_shared<Eac3RawToHdDvdSampleFilter>(stream, 0));
            }
            break;
        case SampleFormatEac3HdDvd:
            if (!eac3ToHdDvd_) {
                stream->AddFilter(boost::make_shared<Eac3HdDvdToRawSampleFilter>(stream));
            }
            break;
        case SampleFormatH264Length:
            stream->AddFilter(boost::make_shared<LengthToStartCodeH264SampleFilter>(stream));
            break;
        case SampleFormatAacAdts:
        case SampleFormatPesPrivate:
        case SampleFormatH264AnnexB: break;
        default: return;  // nothing a program stream here carries
    }
    Mux::OnSampleStreamAdded(stream);
}

void Mpeg2PsMux::DoProcessSample(Sample& sample) {
    Trace("Mpeg2PsMux::DoProcessSample");
    const uint32_t type = sample.GetType();
    if (type != SampleMediaTypeAudio && type != SampleMediaTypeVideo) {
        return;
    }
    const Timestamps stamped = StampSample(sample, firstSamplePending_, kMinimumFirstDts);
    const uint64_t dts = stamped.dts;
    const uint64_t pts = stamped.pts;

    if (firstSamplePending_) {
        // Compared with timestamps that carry the offset.
        firstTime_ = stamped.first + GetTimestampOffset();
        MakeFirstPack(firstTime_ - kScrLeadTicks);
        firstSamplePending_ = false;
    } else {
        bool close = false;
        if (dts > firstTime_) {
            // Audio joins the pack of the picture before it while both kinds run; any other
            // sample opens a pack of its own.
            close = !bothStreams_ || trickPlay_ || type == SampleMediaTypeVideo;
        }
        if (bytesSinceVideo_ > kPackContentBound) {
            close = true;
        }
        if (close) {
            const uint64_t start = dts > kScrLeadTicks ? dts - kScrLeadTicks : 0;
            // A pack never starts before the one it follows.
            WriteCurrentPack(std::max(start, packStartTime_));
        }
    }

    uint8_t streamId = kVideoStreamId;
    if (type == SampleMediaTypeAudio) {
        streamId = IsPrivateAudio(sample.GetFormat()) ? kPrivateStream1 : kAudioStreamId;
    }
    const size_t packetsBefore = pack_.GetPes().size();
    bool first = true;
    boost::shared_ptr<Mpeg2PsPes> pes;
    for (const MemoryChunk& chunk : sample.GetPayload().GetChunks()) {
        const uint8_t* bytes = chunk.Data();
        uint32_t left = chunk.Size();
        if (left != 0) {
            borrowed_.push_back(chunk);
        }
        while (left > 0) {
            if (!pes || pes->GetFreeSpace() <= 0) {
                pes = boost::make_shared<Mpeg2PsPes>();
                pes->SetStreamId(streamId);
                if (first) {
                    pes->SetPts(pts);
                    if (dts != pts) {
                        pes->SetDts(dts);
                    }
                    first = false;
                }
                pack_.AddPes(pes);
            }
            const uint32_t n = std::min<uint32_t>(left, static_cast<uint32_t>(pes->GetFreeSpace()));
            pes->AddData(bytes, n, false);  // borrowed: see borrowed_
            bytes += n;
            left -= n;
        }
    }
    if (type == SampleMediaTypeVideo) {
        bytesSinceVideo_ = 0;
    } else {
        const std::vector<boost::shared_ptr<Mpeg2PsPes>>& packets = pack_.GetPes();
        for (size_t i = packetsBefore; i < packets.size(); ++i) {
            if (packets[i]) bytesSinceVideo_ += packets[i]->GetSize();
        }
    }
}

void Mpeg2PsMux::MakeFirstPack(uint64_t startTime) {
    Trace("Mpeg2PsMux::MakeFirstPack");
    const uint32_t videoFormat = GetStreamFormat(SampleMediaTypeVideo);
    const uint32_t audioFormat = trickPlay_ ? 0 : GetStreamFormat(SampleMediaTypeAudio);
    bothStreams_ = videoFormat != 0 && audioFormat != 0;
    ClearPack();
    bytesSinceVideo_ = 0;

    boost::shared_ptr<Mpeg2PsSystemHeader> header = boost::make_shared<Mpeg2PsSystemHeader>();
    header->AddStreamBound(kMapStreamId, false, kMapBufferBound);
    if (videoFormat != 0) {
        header->AddStreamBound(kVideoStreamId, false, kVideoBufferBound);
        header->SetVideoBound(1);
    }
    if (audioFormat != 0) {
        header->AddStreamBound(IsPrivateAudio(audioFormat) ? kPrivateStream1 : kAudioStreamId, true,
                               kAudioBufferBound);
        header->SetAudioBound(1);
    }
    header->SetRateBound(kRateBound);
    header->SetFixedFlag(false);
    header->SetCspsFlag(false);
    header->SetSystemAudioLockFlag(true);
    header->SetSystemVideoLockFlag(true);
    header->SetPacketRateRestrictionFlag(false);
    pack_.SetSystemHeader(header);

    boost::shared_ptr<Mpeg2PsPsm> psm = boost::make_shared<Mpeg2PsPsm>();
    psm->SetCurrentNextIndicator(true);
    psm->SetVersion(0);
    switch (audioFormat) {
        case SampleFormatAacAdts: {
            psm->AddEsInfo(kAudioStreamId, kStreamTypeAdtsAac);
            const uint8_t* config = nullptr;
            uint32_t n = 0;
            if (!GetStreamInfo(StreamInfoKindAudioSpecificConfig, &config, &n)) config = nullptr;
            const std::vector<uint8_t> iod = MakeAacIodDescriptor(config, n, kAudioStreamId);
            if (!iod.empty()) {
                psm->AddProgramStreamInfo(iod.data(), static_cast<uint16_t>(iod.size()));
            }
            break;
        }
        case SampleFormatEac3HdDvd: psm->AddEsInfo(kPrivateStream1, kStreamTypeEac3); break;
        case SampleFormatPesPrivate: psm->AddEsInfo(kPrivateStream1, kStreamTypePrivatePes); break;
        default: break;
    }
    if (videoFormat == SampleFormatH264AnnexB) {
        psm->AddEsInfo(kVideoStreamId, kStreamTypeH264);
    }
    pack_.SetPsm(psm);
    packStartTime_ = startTime;
}

uint32_t Mpeg2PsMux::MuxRate(uint64_t size, int64_t duration) {
    if (duration <= 0) {
        duration = kDefaultPackDuration;
    }
    // size x 90000 / (duration x 50), in units of 50 bytes a second; a pack that lasts so long
    // that the product would overflow carries next to nothing a second.
    const uint64_t perTick = kTicksPerSecond / 50;  // 1800
    uint64_t rate = 0;
    if (size <= std::numeric_limits<uint64_t>::max() / perTick) {
        rate = size * perTick / static_cast<uint64_t>(duration);
    } else {
        rate = kMuxRateMax;
    }
    return static_cast<uint32_t>(std::min<uint64_t>(std::max<uint64_t>(rate, 1), kMuxRateMax));
}

void Mpeg2PsMux::WriteCurrentPack(uint64_t nextStart) {
    Trace("+Mpeg2PsMux::WriteCurrentPack");
    pack_.SetScr(TicksToClock(packStartTime_));
    const int64_t duration = static_cast<int64_t>(nextStart - packStartTime_);
    const uint32_t size = pack_.GetSize(true);
    pack_.SetMuxRate(MuxRate(size, duration));
    // Not cleared: the pack lays out every byte of it, and a pack that cannot be written is
    // dropped, never sent.
    MemoryChunk chunk = MemoryChunk::Unset(size, GetLinkedHeadroom(), GetLinkedTailroom());
    if (pack_.Write(chunk.Data(), chunk.Size()) == size) {
        DoSend(chunk);
    } else {
        // The records refuse only lengths their fields cannot hold, which the packets made
        // here never reach.
        DebugPrint("Mpeg2PsMux::WriteCurrentPack: a pack of %u bytes could not be written\n", size);
    }
    ClearPack();
    bytesSinceVideo_ = 0;
    packStartTime_ = nextStart;
    Trace("-Mpeg2PsMux::WriteCurrentPack");
}

void Mpeg2PsMux::ClearPack() {
    pack_ = Mpeg2PsPack(0);
    borrowed_.clear();
}

}  // namespace SarvelonMediaKit
