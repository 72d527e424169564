#include "engine/demux/Mpeg2PsHeaderSectionReader.h"

#include <boost/bind/bind.hpp>

#include "SVLibrary/Util/ByteOrder.h"
#include "engine/container/Mpeg2PsFormat.h"

namespace SarvelonMediaKit {

Mpeg2PsHeaderSectionReader::Mpeg2PsHeaderSectionReader(Mpeg2PsParserListener& listener)
    : listener_(listener),
      indexMagicSeen_(false),
      indexComplete_(false),
      longestDuration_(0),
      metadataDropRest_(false) {}

Mpeg2PsHeaderSectionReader::~Mpeg2PsHeaderSectionReader() {}

void Mpeg2PsHeaderSectionReader::SetHashEnabled(bool enabled) {
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

Mpeg2PsHeaderSectionReader::Pack0Map& Mpeg2PsHeaderSectionReader::CreatePack0Map() {
    if (!pack0Map_) {
        pack0Map_.reset(new Pack0Map);
    }
    return *pack0Map_;
}

void Mpeg2PsHeaderSectionReader::HeaderPacketStarts(bool isMetadata, uint32_t start) {
    if (pack0Map_) {
        Pack0Map::MetaDataInfo item;
        item.start = start;
        item.isMetadata = isMetadata;
        pack0Map_->metadataItems.push_back(item);
    }
}

Mpeg2PsHeaderSectionReader::Result Mpeg2PsHeaderSectionReader::MediaPacketStarts(uint32_t start) {
    if (indexComplete_) {
        return ResultOk;
    }
    if (pack0Map_) {
        pack0Map_->firstMediaPes = start;
    }
    return Complete();
}

Mpeg2PsHeaderSectionReader::Result Mpeg2PsHeaderSectionReader::Complete() {
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
    return listener_.MetadataComplete();
}

Mpeg2PsHeaderSectionReader::Result Mpeg2PsHeaderSectionReader::AddIndexBytes(const uint8_t* bytes,
                                                                             uint32_t n) {
    if (indexComplete_) {
        return ResultOk;  // after the header section the payload is dropped
    }
    if (indexBuffer_.size() + n > kCollectorLimit) {
        indexBuffer_.clear();
        return ResultEntryTooLarge;
    }
    indexBuffer_.insert(indexBuffer_.end(), bytes, bytes + n);
    if (!indexMagicSeen_ && indexBuffer_.size() >= 4 &&
        SV::ReadBigEndian32(indexBuffer_.data()) == Mpeg2PsFormat::kIndexMagic) {
        indexMagicSeen_ = true;
    }
    return ResultOk;
}

Mpeg2PsHeaderSectionReader::Result Mpeg2PsHeaderSectionReader::IndexPacketDone(
    const std::vector<Mpeg2PsPsm::EsMapEntry>& esMap, uint32_t end) {
    if (indexBuffer_.empty()) {
        return ResultOk;
    }
    if (indexComplete_) {
        indexBuffer_.clear();
        return ResultOk;
    }
    boost::shared_ptr<MediaTrack> track;
    Result result = Mpeg2PsIndexEntryReader::ParseIndexEntry(indexBuffer_, hash_.get(), esMap,
                                                             longestDuration_, track);
    if (result == ResultOk) {
        result = listener_.OnNewTrack(track);
    }
    if (result == ResultEntryIncomplete) {
        result = ResultOk;  // the entry continues in the next private stream 2 packet
    }
    return result != ResultOk ? result : EndItem(end);
}

void Mpeg2PsHeaderSectionReader::StartMetadataPacket(bool aligned) {
    if (aligned) {
        metadataCollector_.clear();
    }
    metadataDropRest_ = false;
}

Mpeg2PsHeaderSectionReader::Result Mpeg2PsHeaderSectionReader::AddMetadataBytes(
    const uint8_t* bytes, uint32_t n) {
    if (metadataDropRest_) {
        return ResultOk;
    }
    metadataCollector_.insert(metadataCollector_.end(), bytes, bytes + n);
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
    // The reader's result is not acted on: a chapter table that fails leaves the chapters
    // read before it in place and parsing goes on.
    ReadMetadataBlock(block);
    return ResultOk;
}

Mpeg2PsHeaderSectionReader::Result Mpeg2PsHeaderSectionReader::MetadataPacketDone(uint32_t end) {
    return EndItem(end);
}

Mpeg2PsHeaderSectionReader::Result Mpeg2PsHeaderSectionReader::ReadMetadataBlock(
    const Mpeg2PsMetadata& block) {
    // The blocks of a table go back to the block reader itself (no nested-block handler).
    return metadataReader_.ParseMetadataBlock(
        block, chapters_,
        boost::bind(&Mpeg2PsParserListener::OnThumbnail, &listener_, boost::placeholders::_1,
                    boost::placeholders::_2),
        Mpeg2PsMetadataBlockReader::BlockHandler());
}

Mpeg2PsHeaderSectionReader::Result Mpeg2PsHeaderSectionReader::EndItem(uint32_t end) {
    if (!pack0Map_) {
        return ResultOk;
    }
    if (pack0Map_->metadataItems.empty()) {
        return ResultNoMetadataItem;
    }
    pack0Map_->metadataItems.back().end = end;
    return ResultOk;
}

}  // namespace SarvelonMediaKit
